#!/usr/bin/env bash
# Memory-file benchmark: GetMemFileSHA256 of a 1 MiB script array beside the bare cost of the two
# dispatch calls per element that reading a script array takes.
# Usage: bench/memfile/run.sh [BIN_DIR] [BYTES] [ROUNDS]   (BIN_DIR holds tarnwick.OCX)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
bin="${1:-$root/build/win32/bin}"
bytes="${2:-1048576}"; rounds="${3:-3}"
source "$root/tools/wine-env.sh" 2>/dev/null
work="$(mktemp -d /tmp/tarnwick-memfile-bench.XXXXXX)"
trap 'rm -rf "$work"' EXIT

i686-w64-mingw32-g++-posix -O2 -std=c++17 -static -o "$work/memfile_bench.exe" \
    "$root/bench/memfile/memfile_bench.cpp" -lole32 -loleaut32 -luuid
wine regsvr32 /s "$(winepath -w "$bin/tarnwick.OCX")"
wine "$work/memfile_bench.exe" "$bytes" "$rounds" | tr -d '\r'
