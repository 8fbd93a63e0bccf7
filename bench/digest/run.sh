#!/usr/bin/env bash
# Prints MB/s of our SHA-256 (SHA-NI and portable paths) beside `openssl dgst -sha256`, and of our
# SM3 (fast path in each form this CPU runs, portable rounds) and the crypto engine's SM3 core
# beside `openssl dgst -sm3` and OpenSSL's EVP_sm3() in the benchmark's own process, with each SM3
# figure's ratio to both, all on the same file (random bytes, read from the page cache). Every
# figure is the best of 3 passes. The digests are printed too, so the runs can be seen to agree.
# Where the i686 cross compiler and Wine are at hand, the same program is also built for 32-bit
# Windows and run under Wine on the same file.
# Then SM3 at the round's floor (sm3_floor.cpp): our SM3 and the crypto engine's SM3HashData (from
# DIST_DIR, default dist/, after make dist) beside libgcrypt's in the same process, in MB/s and
# cycles per round from a clock measured in that process, natively and under Wine in both
# architectures, and `openssl speed -evp sm3` in cycles per round at the native measured clock.
# Usage: bench/digest/run.sh [size-in-MiB] [DIST_DIR]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
mib="${1:-256}"
dist="${2:-$root/dist}"
runs=3
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

sources=("$root/bench/digest/bench_digest.cpp" "$root/src/core/sha256.cpp"
         "$root/src/core/sm3.cpp" "$root/src/core/sm2_z.cpp" "$root/src/core/blockframing.cpp" "$root/src/core/sm2cert.cpp"
         "$root/companions/ovalon/sm3z_core.cpp")
includes=(-I"$root/src/core" -I"$root/companions/ovalon" -I"$root/src/interfaces")
g++ -std=c++17 -O2 -DBENCH_WITH_OPENSSL "${includes[@]}" "${sources[@]}" \
    -lksba -lgcrypt -lgpg-error -lcrypto -o "$work/bench_digest"

file="$work/data.bin"
head -c "$((mib * 1024 * 1024))" /dev/urandom > "$file"
cat "$file" > /dev/null   # into the page cache
bytes=$(stat -c %s "$file")

openssl_pass() {  # $1 = digest name; prints a line shaped like ours: name, MB/s, digest
  local t0 t1 out
  t0=$(date +%s.%N)
  out=$(openssl dgst "-$1" -r "$file")
  t1=$(date +%s.%N)
  awk -v n="$1 openssl dgst" -v b="$bytes" -v a="$t0" -v z="$t1" -v d="${out%% *}" \
    'BEGIN { printf "%-28s %8.0f MB/s  %s\n", n, b / (z - a) / 1e6, d }'
}

best() {  # stdin: the lines of every pass; prints each engine's best line, in first-seen order
  awk '{ key = substr($0, 1, 28); if (!(key in line)) order[n++] = key
         for (i = 2; i <= NF; i++)
           if ($i == "MB/s") {
             v = $(i - 1) + 0
             if (!(key in val) || v > val[key]) { val[key] = v; line[key] = $0 }
             next
           }
         line[key] = $0 }
       END { for (k = 0; k < n; k++) print line[order[k]] }'
}

with_ratio() {  # stdin: lines; sets beside each sm3 figure of ours its ratio to $1 (openssl
               # dgst's MB/s) and to $2 (EVP in-process)
  awk -v dgst="$1" -v evp="$2" '
    /sm3/ && !/openssl/ {
      for (i = 2; i <= NF; i++)
        if ($i == "MB/s") {
          printf "%s  %.2fx dgst  %.2fx EVP\n", $0, $(i - 1) / dgst, $(i - 1) / evp
          next
        }
    }
    { print }'
}

cross=i686-w64-mingw32-g++-posix
i686=""
if command -v "$cross" >/dev/null && command -v wine >/dev/null; then
  if "$cross" -std=c++17 -O2 "${includes[@]}" "${sources[@]}" -static \
       -lksba -lgcrypt -lgpg-error -lws2_32 -o "$work/bench_digest.exe" 2>"$work/cross.log"; then
    source "$root/tools/wine-env.sh"
    i686="$(winepath -w "$file")"
  else
    echo "(i686 build failed: $(head -c 300 "$work/cross.log"))"
  fi
fi

# The passes are interleaved: each round runs every engine of ours once, then openssl once per
# digest, so load elsewhere on the machine falls on all of them alike; each keeps its best round.
for _ in $(seq "$runs"); do
  "$work/bench_digest" "$file" 1 >> "$work/native.txt"
  if [ -n "$i686" ]; then
    wine "$work/bench_digest.exe" "$i686" 1 | tr -d '\r' >> "$work/i686.txt"
  fi
  openssl_pass sha256 >> "$work/native.txt"
  openssl_pass sm3 >> "$work/native.txt"
done

native="$(best < "$work/native.txt")"
mbs() { grep "^$1" <<<"$native" | awk '{ print $(NF - 2) }'; }
dgst="$(mbs 'sm3 openssl dgst')"
evp="$(mbs 'sm3 openssl EVP')"
echo "file: ${mib} MiB of random bytes, best of ${runs} passes"
grep sha256 <<<"$native"
grep sm3 <<<"$native" | with_ratio "$dgst" "$evp"
if [ -n "$i686" ]; then
  echo "i686 under Wine (ratios against the native openssl figures above):"
  best < "$work/i686.txt" | sed 's/^/  /' | with_ratio "$dgst" "$evp"
fi

# ---- SM3 at the round's floor ----------------------------------------------------------------------
floor_src=("$root/bench/digest/sm3_floor.cpp" "$root/src/core/sm3.cpp" "$root/src/core/blockframing.cpp")
floor_inc=(-I"$root/src/core" -I"$root/companions/ovalon" -I"$root/src/interfaces")
# Built as the modules build the core (CMake's Release: -O3).
g++ -std=c++17 -O3 -DBENCH_WITH_OPENSSL "${floor_inc[@]}" "${floor_src[@]}" -lgcrypt -lgpg-error -lcrypto \
    -o "$work/sm3_floor"
declare -A floor_exe=() floor_dll=()
for arch in win64 win32; do
  if [ "$arch" = win64 ]; then cc=x86_64-w64-mingw32-g++-posix; dll=OVALON.x64.dll; else cc="$cross"; dll=OVALON.x86.dll; fi
  command -v "$cc" >/dev/null && command -v wine >/dev/null || continue
  if "$cc" -std=c++17 -O3 "${floor_inc[@]}" "${floor_src[@]}" -static -lgcrypt -lgpg-error -lws2_32 \
       -o "$work/sm3_floor_$arch.exe" 2>"$work/cross.log"; then
    floor_exe[$arch]="$work/sm3_floor_$arch.exe"
    [ -f "$dist/$arch/$dll" ] && floor_dll[$arch]="$dist/$arch/$dll"
  else
    echo "($arch sm3_floor build failed: $(head -c 300 "$work/cross.log"))"
  fi
done
speed_sm3() {  # MB/s of `openssl speed -evp sm3` on 16 KiB blocks, wall-clock
  openssl speed -elapsed -seconds 2 -bytes 16384 -evp sm3 2>/dev/null |
    awk '$1 == "sm3" { sub(/k$/, "", $2); printf "%.0f\n", $2 * 1000 / 1e6 }'
}
speed_best=0
keep_speed() { local v; v="$(speed_sm3)"; [ "${v:-0}" -gt "$speed_best" ] && speed_best="$v"; return 0; }
echo "SM3 at the round's floor (1 MiB calls, fastest of 300 each, interleaved in one process):"
keep_speed
echo "native x86-64:"
"$work/sm3_floor" --passes 300 | tee "$work/floor_native.txt" | grep -v '^clock-hz' | sed 's/^/  /'
for arch in win64 win32; do
  [ -n "${floor_exe[$arch]:-}" ] || continue
  keep_speed
  args=(--passes 300)
  [ -n "${floor_dll[$arch]:-}" ] && args+=(--engine-dll "$(TARNWICK_ARCH=$arch bash -c 'source "$1/tools/wine-env.sh"; winepath -w "$2"' _ "$root" "${floor_dll[$arch]}")")
  [ "$arch" = win64 ] && echo "x86-64 under Wine:" || echo "i686 under Wine:"
  [ -n "${floor_dll[$arch]:-}" ] || echo "  (no engine DLL in $dist/$arch: make dist for the SM3HashData line)"
  TARNWICK_ARCH=$arch bash -c 'source "$1/tools/wine-env.sh"; shift; exec "$TARNWICK_WINE" "$@"' _ "$root" \
      "${floor_exe[$arch]}" "${args[@]}" | tr -d '\r' | grep -v '^clock-hz' | sed 's/^/  /'
done
keep_speed
hz="$(awk '/^clock-hz/ { print $2 }' "$work/floor_native.txt")"
awk -v mbs="$speed_best" -v hz="$hz" 'BEGIN {
  printf "openssl speed -evp sm3 (16 KiB blocks, best of 3): %.0f MB/s  %.2f cycles/round at the native clock\n",
         mbs, hz / (mbs * 1e6) }'
