#!/usr/bin/env bash
# Builds the deflate workers' module from zlib's source (tools/fetch-zlib.sh unpacks it in
# build/third_party/zlib): web/sdk/tarnwick-deflate.wasm.
#   build-deflate.sh [OUT]
# Without the source (no network when `make setup` ran) it says so and builds nothing; the
# workers then deflate with fflate.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
zlib="$root/build/third_party/zlib"
out="${1:-$root/web/sdk/zip/tarnwick-deflate.wasm}"
if [ ! -f "$zlib/deflate.c" ]; then
  rm -f "$out"
  echo "build-deflate.sh: warning: no zlib source in build/third_party/zlib; the deflate workers will use fflate" >&2
  exit 0
fi
export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"
rm -f "$out"
tmp="$(dirname "$out")/.build-deflate-$$.wasm"
log="$(mktemp)"
trap 'rm -f "$tmp" "$log"' EXIT
exports="_tw_alloc,_tw_free,_tw_deflate_open,_tw_deflate_close,_tw_deflate_bound,_tw_deflate_block"
if ! emcc -O3 -sSTANDALONE_WASM --no-entry -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=5242880 -sTOTAL_STACK=65536 \
  -sERROR_ON_UNDEFINED_SYMBOLS=1 -sEXPORTED_FUNCTIONS="[$exports]" -I"$zlib" \
  "$here/deflate.c" "$zlib/deflate.c" "$zlib/trees.c" "$zlib/zutil.c" "$zlib/adler32.c" "$zlib/crc32.c" \
  -o "$tmp" > "$log" 2>&1; then
  cat "$log" >&2
  echo "build-deflate.sh: the deflate module did not build" >&2
  exit 1
fi
[ -s "$tmp" ] || { echo "build-deflate.sh: emcc left no module" >&2; exit 1; }
mv -f "$tmp" "$out"
