#!/usr/bin/env bash
# Throughput of our zip writer beside `zip -6` on ~100 MB of half random, half text bytes.
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
