#!/usr/bin/env bash
# Prints MB/s of our SHA-256 (SHA-NI and portable paths) beside `openssl dgst -sha256`, and of our
# SM3 (fast path in each form this CPU runs, portable rounds) and the crypto engine's SM3 core
# beside `openssl dgst -sm3`, with each SM3 figure's ratio to openssl's, all on the same file
# (random bytes, read from the page cache). Every figure is the best of 3 passes. The digests are
# printed too, so the runs can be seen to agree. Where the i686 cross compiler and Wine are at
# hand, the same program is also built for 32-bit Windows and run under Wine on the same file.
# Usage: bench/digest/run.sh [size-in-MiB]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
mib="${1:-256}"
runs=3
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

sources=("$root/bench/digest/bench_digest.cpp" "$root/src/core/sha256.cpp"
         "$root/src/core/sm3.cpp" "$root/src/core/sm2_z.cpp"
         "$root/companions/ovalon/sm3z_core.cpp")
includes=(-I"$root/src/core" -I"$root/companions/ovalon")
g++ -std=c++17 -O2 "${includes[@]}" "${sources[@]}" -lksba -lgcrypt -lgpg-error \
    -o "$work/bench_digest"

file="$work/data.bin"
head -c "$((mib * 1024 * 1024))" /dev/urandom > "$file"
cat "$file" > /dev/null   # into the page cache
bytes=$(stat -c %s "$file")

openssl_rate() {  # $1 = digest name; prints "MB/s  digest", the best of $runs passes
  local best=0 t0 t1 out rate
  for _ in $(seq "$runs"); do
    t0=$(date +%s.%N)
    out=$(openssl dgst "-$1" -r "$file")
    t1=$(date +%s.%N)
    rate=$(awk -v b="$bytes" -v a="$t0" -v z="$t1" 'BEGIN { printf "%.0f", b / (z - a) / 1e6 }')
    if [ "$rate" -gt "$best" ]; then best=$rate; fi
  done
  printf '%8d MB/s  %s\n' "$best" "${out%% *}"
}

with_ratio() {  # stdin: lines of ours; $1 = openssl's sm3 MB/s, set beside each sm3 figure
  awk -v ref="$1" '
    /sm3/ { for (i = 2; i <= NF; i++)
              if ($i == "MB/s") { printf "%s  %.2fx openssl\n", $0, $(i - 1) / ref; next } }
    { print }'
}

echo "file: ${mib} MiB of random bytes"
ours="$("$work/bench_digest" "$file" "$runs")"
grep sha256 <<<"$ours"
printf '%-28s %s\n' "sha256 openssl dgst" "$(openssl_rate sha256)"
sm3_openssl="$(openssl_rate sm3)"
grep sm3 <<<"$ours" | with_ratio "${sm3_openssl%% MB/s*}"
printf '%-28s %s\n' "sm3 openssl dgst" "$sm3_openssl"

cross=i686-w64-mingw32-g++-posix
if command -v "$cross" >/dev/null && command -v wine >/dev/null; then
  if "$cross" -std=c++17 -O2 "${includes[@]}" "${sources[@]}" -static \
       -lksba -lgcrypt -lgpg-error -lws2_32 -o "$work/bench_digest.exe" 2>"$work/cross.log"; then
    source "$root/tools/wine-env.sh"
    echo "i686 under Wine (ratios against the native openssl above):"
    wine "$work/bench_digest.exe" "$(winepath -w "$file")" "$runs" | tr -d '\r' |
      sed 's/^/  /' | with_ratio "${sm3_openssl%% MB/s*}"
  else
    echo "(i686 build failed: $(head -c 300 "$work/cross.log"))"
  fi
fi
