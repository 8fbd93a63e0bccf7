#!/usr/bin/env bash
# Builds the WebAssembly module from the portable core: web/sdk/tarnwick.wasm.
#   build.sh [OUT]
# Debian's emscripten, standalone (no JS glue: the SDK instantiates the module itself).
# The module is written under a temporary name and put in place only when the build succeeded;
# a failed build removes the old module too, so nothing stale is tested or shipped.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
core="$root/src/core"
out="${1:-$root/web/sdk/tarnwick.wasm}"
exports=(tw_alloc tw_free tw_sha256_new tw_sha256_update tw_sha256_final tw_sha256_delete
         tw_sm3_new tw_sm3_update tw_sm3_final tw_sm3_delete tw_sm3_begin_z tw_crc32
         tw_plain_text tw_head_hex tw_zip_inspect tw_zip_local_header tw_zip_trailer)
list="$(printf '_%s,' "${exports[@]}")"
export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"
rm -f "$out"
tmp="$(dirname "$out")/.build-$$.wasm"
log="$(mktemp)"
trap 'rm -f "$tmp" "$log"' EXIT
# tw_read_at is the page's import (the SDK provides it); emscripten warns that it is undefined.
if ! em++ -std=c++17 -O3 -msimd128 -fno-exceptions -fno-rtti \
  -sSTANDALONE_WASM --no-entry -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=8MB \
  -sERROR_ON_UNDEFINED_SYMBOLS=0 -sEXPORTED_FUNCTIONS="[${list%,}]" \
  -I"$core" \
  "$here/module.cpp" "$core/sha256.cpp" "$core/sm3.cpp" "$core/sm2_z.cpp" "$core/sm2cert.cpp" \
  "$core/blockframing.cpp" "$core/crc32.cpp" "$core/hex.cpp" "$core/names.cpp" "$core/typeprobe.cpp" \
  "$core/zip/ziprecords.cpp" "$core/zip/zipdirectory.cpp" "$core/zip/entryname.cpp" \
  "$core/zip/zipstatus.cpp" \
  -o "$tmp" > "$log" 2>&1; then
  cat "$log" >&2
  echo "build.sh: the WebAssembly module did not build" >&2
  exit 1
fi
grep -v 'undefined symbol: tw_read_at' "$log" >&2 || true
[ -s "$tmp" ] || { echo "build.sh: em++ left no module" >&2; exit 1; }
mv -f "$tmp" "$out"
