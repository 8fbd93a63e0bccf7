#!/usr/bin/env bash
# Throughput of our zip writer beside `zip -6` on ~100 MB of half random, half text bytes.
# Then deflate alone, one thread, as the zip writer drives it (deflate_builds.c), on 8 MiB of the
# control benchmark's text, through each zlib build: Debian's zlib1g, our build of Debian's zlib
# source (-O3 -DUNALIGNED_OK, -O2 for 32-bit, as CMake builds it into the modules) natively and for Windows under
# Wine in both architectures, and Debian's prebuilt mingw-w64 libz.a; in CPU time, interleaved,
# each beside zlib1g's figure of the same round.
# Usage: bench/zip/run.sh [build-dir]   (an optimised build without sanitizers is made there)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-$root/build/bench-native}"
cmake -S "$root/tests/native" -B "$build" -DCMAKE_BUILD_TYPE=Release -DNATIVE_SANITIZE=OFF >/dev/null
cmake --build "$build" --target zip_bench -j"$(nproc)" >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 - "$work/sample.bin" <<'PY'
import os, sys
half = 50 * 1000 * 1000
words = [b"archive ", b"entry ", b"central ", b"directory ", b"deflate ", b"record\n", b"the ", b"of "]
text = bytearray()
state = 1
while len(text) < half:
    state = (state * 1103515245 + 12345) & 0x7FFFFFFF
    text += words[(state >> 16) % len(words)]
with open(sys.argv[1], "wb") as f:
    f.write(os.urandom(half))
    f.write(text[:half])
PY
size_mb=$(python3 -c "import os,sys; print(os.path.getsize(sys.argv[1]) / 1e6)" "$work/sample.bin")
cat "$work/sample.bin" >/dev/null  # into the page cache for both runs

ours=$("$build/zip/zip_bench" "$work/sample.bin" "$work/ours.zip")
start=$(date +%s.%N)
(cd "$work" && zip -q -6 theirs.zip sample.bin)
end=$(date +%s.%N)
theirs=$(python3 -c "print('%.1f' % ($size_mb / ($end - $start)))")

printf '%-12s %10s %14s\n' "writer" "MB/s" "archive bytes"
printf '%-12s %10s %14s\n' "ours (-6)" "$ours" "$(stat -c %s "$work/ours.zip")"
printf '%-12s %10s %14s\n' "zip -6" "$theirs" "$(stat -c %s "$work/theirs.zip")"

# ---- deflate alone, by zlib build ---------------------------------------------------------------
zsrc="$root/build/third_party/zlib"
if [ ! -f "$zsrc/deflate.c" ]; then
  echo "(no zlib source in $zsrc: make setup unpacks it; deflate by build skipped)"
  exit 0
fi
python3 - "$work/text.bin" <<'PY'
import random, sys
# The control benchmark's text (bench/control/run.sh): a 6,000-word vocabulary, Zipf-like.
r = random.Random(7)
syllables = ["ka", "ro", "mi", "den", "tor", "al", "ves", "qui", "ne", "par", "lo", "stra", "ion", "ent",
             "ble", "ther", "sh", "ou", "an", "el"]
vocabulary = ["".join(r.choice(syllables) for _ in range(r.randint(1, 4))) for _ in range(6000)]
weights = [1.0 / (i + 1) for i in range(len(vocabulary))]
text, size = [], 0
while size < 8 << 20:
    for word in r.choices(vocabulary, weights, k=4096):
        if r.random() < 0.03: word = str(r.randint(0, 99999))
        text.append(word)
        text.append(". " if r.random() < 0.07 else (", " if r.random() < 0.05 else " "))
        if r.random() < 0.01: text.append("\r\n")
        size += len(word) + 2
open(sys.argv[1], "wb").write("".join(text).encode()[:8 << 20])
PY
zfiles=("$zsrc"/{adler32,crc32,deflate,trees,zutil}.c)
zflags=(-O3 -DUNALIGNED_OK -D_REENTRANT -w -I"$zsrc")
prog="$root/bench/zip/deflate_builds.c"
declare -a names=() cmds=()
gcc -O2 "$prog" -lz -o "$work/zlib1g" && { names+=("zlib1g (Debian, native)"); cmds+=("$work/zlib1g"); }
gcc "${zflags[@]}" "$prog" "${zfiles[@]}" -o "$work/ours-native" &&
  { names+=("our zlib build, native"); cmds+=("$work/ours-native"); }
if command -v wine >/dev/null; then
  for arch in win64 win32; do
    cc=x86_64-w64-mingw32-gcc; [ $arch = win32 ] && cc=i686-w64-mingw32-gcc
    command -v $cc >/dev/null || continue
    run="env TARNWICK_ARCH=$arch bash -c 'source \"$root/tools/wine-env.sh\"; exec \"\$TARNWICK_WINE\" \"\$@\"' _"
    archflags=("${zflags[@]}"); [ $arch = win32 ] && archflags+=(-O2)  # as src/CMakeLists.txt builds it
    $cc "${archflags[@]}" "$prog" "${zfiles[@]}" -static -o "$work/ours-$arch.exe" &&
      { names+=("our zlib build, $arch Wine"); cmds+=("$run $work/ours-$arch.exe"); }
    $cc -O2 "$prog" -static -lz -o "$work/deb-$arch.exe" &&
      { names+=("prebuilt mingw libz.a, $arch Wine"); cmds+=("$run $work/deb-$arch.exe"); }
  done
fi
declare -A cpu=() wall=()
for round in 1 2 3; do
  for i in "${!names[@]}"; do
    line="$(eval "${cmds[$i]}" "$work/text.bin" 4 | tr -d '\r')"
    c="$(awk '{ print $1 }' <<<"$line")"; w="$(awk '{ print $4 }' <<<"$line")"
    awk -v a="$c" -v b="${cpu[$i]:-0}" 'BEGIN { exit !(a > b) }' && cpu[$i]=$c
    awk -v a="$w" -v b="${wall[$i]:-0}" 'BEGIN { exit !(a > b) }' && wall[$i]=$w
  done
done
echo "deflate alone, one thread, 8 MiB of text in 1 MiB blocks (best of 3 rounds of 4 runs):"
printf '  %-36s %10s %14s %18s\n' "zlib build" "CPU MB/s" "vs zlib1g" "fastest wall MB/s"
for i in "${!names[@]}"; do
  printf '  %-36s %10s %13.2fx %18s\n' "${names[$i]}" "${cpu[$i]}" \
    "$(awk -v a="${cpu[$i]}" -v b="${cpu[0]}" 'BEGIN { print a / b }')" "${wall[$i]}"
done
