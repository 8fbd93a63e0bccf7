#!/usr/bin/env bash
# Where ziptool.dll's parallel pack spends its time, 32-bit and 64-bit under Wine, beside
# `pigz -6 -p <cores>` on the same file in the same run, on both texts of bench/texts.py.
# ziptool.dll is built with TARNWICK_ZIP_PROFILE (build/win32-profile, build/win64-profile) and
# notes, per pack: the wall time, each thread's CPU time (the calling thread reads and writes,
# the workers deflate), and the wall time of each kind of work (read, write, wait for a worker;
# in the workers CRC, the incompressibility probe, deflate). Each round runs ours and pigz once
# each, in turn; the fastest of the rounds is shown, with that pack's breakdown and pigz's
# user + system CPU time.
# Usage: bench/zip/profile.sh [MIB] [ROUNDS] [TEXTS]   (defaults 256, 5, "text words")
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
mib="${1:-256}"; rounds="${2:-5}"; texts="${3:-text words}"
cores="$(nproc)"
archs=(win32 win64)
declare -A toolchain=([win32]=cmake/mingw-i686.cmake [win64]=cmake/mingw-x86_64.cmake)
for arch in "${archs[@]}"; do
  cmake -S "$root" -B "$root/build/$arch-profile" -DCMAKE_TOOLCHAIN_FILE="$root/${toolchain[$arch]}" \
        -DCMAKE_BUILD_TYPE=Release -DTARNWICK_ZIP_PROFILE=ON >/dev/null
  cmake --build "$root/build/$arch-profile" --target ziptool zip_profile -j "$cores" >/dev/null
done

work="$(mktemp -d /tmp/tarnwick-zip-profile.XXXXXX)"
inwine() {  # ARCH COMMAND...
  local arch="$1"; shift
  TARNWICK_ARCH="$arch" bash -c 'source "$1/tools/wine-env.sh" 2>/dev/null; shift; exec "$@"' _ "$root" "$@"
}
wine_of() { [ "$1" = win64 ] && echo /usr/lib/wine/wine64 || echo wine; }
cleanup() {
  rm -rf "$work"
  for arch in "${archs[@]}"; do inwine "$arch" wineserver -k 2>/dev/null || true; done
}
trap cleanup EXIT
# shellcheck disable=SC2086
python3 "$root/bench/texts.py" "$work" "$mib" $texts
cat "$work"/*.bin >/dev/null
for arch in "${archs[@]}"; do inwine "$arch" wineserver -p 2>/dev/null || true; done
winwork="$(inwine win32 winepath -w "$work")\\"

declare -A best line size pigz_best pigz_cpu
for _ in $(seq "$rounds"); do
  for text in $texts; do
    for arch in "${archs[@]}"; do
      bin="$root/build/$arch-profile/bin"
      rm -f "$work/profile.txt"
      ms=$(TARNWICK_ZIP_PROFILE="$work/profile.txt" inwine "$arch" "$(wine_of "$arch")" "$bin/zip_profile.exe" \
             "$(inwine "$arch" winepath -w "$bin/ziptool.dll")" "$winwork$text.bin" "$winwork" | tr -d '\r')
      if [ -z "${best[$arch:$text]:-}" ] || [ "$ms" -lt "${best[$arch:$text]}" ]; then
        best[$arch:$text]=$ms; line[$arch:$text]="$(cat "$work/profile.txt" 2>/dev/null || echo '(no breakdown)')"
      fi
      unzip -tqq "$work/profile.zip" >/dev/null || { echo "unzip -t refuses the $arch archive of $text" >&2; exit 1; }
      python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' "$work/profile.zip" ||
        { echo "Python's zipfile refuses the $arch archive of $text" >&2; exit 1; }
      size[$arch:$text]=$(stat -c %s "$work/profile.zip")
    done
    s=$(date +%s%N)
    cpu=$( { TIMEFORMAT='%U %S'; time pigz -6 -p "$cores" -c "$work/$text.bin" > "$work/ref.gz"; } 2>&1 )
    e=$(date +%s%N); ms=$(( (e - s) / 1000000 ))
    if [ -z "${pigz_best[$text]:-}" ] || [ "$ms" -lt "${pigz_best[$text]}" ]; then
      pigz_best[$text]=$ms; pigz_cpu[$text]="$(awk '{ printf "%.2f", $1 + $2 }' <<<"$cpu")"
    fi
  done
done

echo "ziptool.dll's parallel pack under Wine, fastest of $rounds interleaved rounds; $cores cores; load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
for text in $texts; do
  (cd "$work" && rm -f ref.zip && zip -6 -q ref.zip "$text.bin")
  zip6=$(stat -c %s "$work/ref.zip")
  echo "$text ($mib MiB): pigz -6 -p $cores ${pigz_best[$text]} ms, ${pigz_cpu[$text]} s CPU; zip -6 archive $zip6 bytes"
  for arch in "${archs[@]}"; do
    printf '  %s %6s ms  ratio %.2f  archive %+.2f%% of zip -6\n    %s\n' "$arch" "${best[$arch:$text]}" \
      "$(python3 -c "import sys; print(int(sys.argv[2]) / int(sys.argv[1]))" "${best[$arch:$text]}" "${pigz_best[$text]}")" \
      "$(python3 -c "import sys; print(100.0 * (int(sys.argv[1]) - int(sys.argv[2])) / int(sys.argv[2]))" "${size[$arch:$text]}" "$zip6")" \
      "${line[$arch:$text]}"
  done
done
