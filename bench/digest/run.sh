#!/usr/bin/env bash
# Prints MB/s of our SHA-256 (SHA-NI and portable paths) beside `openssl dgst -sha256`, and of the
# crypto engine's SM3 core beside `openssl dgst -sm3`, all on the same 256 MiB file (random bytes,
# read from the page cache). The digests are printed too, so the runs can be seen to agree.
# Usage: bench/digest/run.sh [size-in-MiB]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
mib="${1:-256}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

g++ -std=c++17 -O2 -I"$root/src/core" -I"$root/companions/ovalon" \
    "$root/bench/digest/bench_digest.cpp" "$root/src/core/sha256.cpp" \
    "$root/companions/ovalon/sm3z_core.cpp" -lksba -lgcrypt -lgpg-error -o "$work/bench_digest"

file="$work/data.bin"
head -c "$((mib * 1024 * 1024))" /dev/urandom > "$file"
cat "$file" > /dev/null   # into the page cache
bytes=$(stat -c %s "$file")

openssl_rate() {  # $1 = digest name; prints "MB/s  digest"
  local t0 t1 out
  t0=$(date +%s.%N)
  out=$(openssl dgst "-$1" -r "$file")
  t1=$(date +%s.%N)
  awk -v b="$bytes" -v a="$t0" -v z="$t1" -v d="${out%% *}" 'BEGIN { printf "%8.0f MB/s  %s\n", b / (z - a) / 1e6, d }'
}

echo "file: ${mib} MiB of random bytes"
ours="$("$work/bench_digest" "$file")"
grep sha256 <<<"$ours"
printf '%-28s %s\n' "sha256 openssl dgst" "$(openssl_rate sha256)"
grep sm3 <<<"$ours"
printf '%-28s %s\n' "sm3 openssl dgst" "$(openssl_rate sm3)"
