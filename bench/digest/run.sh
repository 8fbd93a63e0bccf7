#!/usr/bin/env bash
# Prints MB/s of our SHA-256 (SHA-NI and portable paths) beside `openssl dgst -sha256`, and of our
# SM3 (fast path in each form this CPU runs, portable rounds) and the crypto engine's SM3 core
# beside `openssl dgst -sm3` and OpenSSL's EVP_sm3() in the benchmark's own process, with each SM3
# figure's ratio to both, all on the same file (random bytes, read from the page cache). Every
# figure is the best of 3 passes. The digests are printed too, so the runs can be seen to agree.
# Where the i686 cross compiler and Wine are at hand, the same program is also built for 32-bit
# Windows and run under Wine on the same file.
# Usage: bench/digest/run.sh [size-in-MiB]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
mib="${1:-256}"
runs=3
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

sources=("$root/bench/digest/bench_digest.cpp" "$root/src/core/sha256.cpp"
         "$root/src/core/sm3.cpp" "$root/src/core/sm2_z.cpp" "$root/src/core/blockframing.cpp" "$root/src/core/sm2cert.cpp"
         "$root/companions/ovalon/sm3z_core.cpp")
includes=(-I"$root/src/core" -I"$root/companions/ovalon")
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
