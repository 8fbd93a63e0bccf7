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
# The exports are the functions module.cpp marks EXPORT, each at the start of its line.
mapfile -t exports < <(sed -n 's/^EXPORT [^(]*[^A-Za-z0-9_]\(tw_[A-Za-z0-9_]*\)(.*/\1/p' "$here/module.cpp")
[ "${#exports[@]}" -gt 0 ] || { echo "build.sh: module.cpp marks no exports" >&2; exit 1; }
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
  -I"$core" -I"$root/companions/ovalon" \
  "$here/module.cpp" "$core/sha256.cpp" "$core/sm3.cpp" "$core/sm2_z.cpp" "$core/sm2cert.cpp" \
  "$core/base64.cpp" "$core/blockframing.cpp" "$core/crc32.cpp" "$core/hex.cpp" "$core/names.cpp" "$core/typeprobe.cpp" \
  "$core/zip/ziprecords.cpp" "$core/zip/zipdirectory.cpp" "$core/zip/entryname.cpp" \
  "$core/zip/zipstatus.cpp" "$core/zip/ziparchive.cpp" \
  -o "$tmp" > "$log" 2>&1; then
  cat "$log" >&2
  echo "build.sh: the WebAssembly module did not build" >&2
  exit 1
fi
grep -v 'undefined symbol: tw_read_at' "$log" >&2 || true
[ -s "$tmp" ] || { echo "build.sh: em++ left no module" >&2; exit 1; }
mv -f "$tmp" "$out"
