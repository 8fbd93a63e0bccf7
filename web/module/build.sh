#!/usr/bin/env bash
# Builds the WebAssembly module from the portable core: web/sdk/tarnwick.wasm.
#   build.sh [OUT]            (ALL_O3=1: every source at -O3, the reference bench/weight/run.sh
#                              measures the mixed build against)
# Debian's emscripten, standalone (no JS glue: the SDK instantiates the module itself). The
# digests' kernels, the CRCs, SM2's arithmetic and the inflater are compiled for speed (-O3), everything else
# for size (-Oz; SM2's verification at -Oz ran at 0.36 of its -O3 speed): bench/weight/speed.mjs
# compares the digests' speed of two builds, bench/weight/weight.mjs what a page ships.
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
# The sources are the core's portable list in src/core/CMakeLists.txt, one a line.
mapfile -t sources < <(sed -n '/^set(CORE_PORTABLE_SOURCES/,/^)/s|^ *${CMAKE_CURRENT_LIST_DIR}/\([^ ]*\.cpp\)$|\1|p' "$core/CMakeLists.txt")
[ "${#sources[@]}" -gt 0 ] || { echo "build.sh: src/core/CMakeLists.txt lists no portable sources" >&2; exit 1; }
export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"
fast=" sha256.cpp sm3.cpp md5.cpp sha1.cpp crc32.cpp crcs.cpp blockframing.cpp sm2verify.cpp inflate.cpp "
rm -f "$out"
tmp="$(dirname "$out")/.build-$$.wasm"
log="$(mktemp)"
objects="$(mktemp -d)"
trap 'rm -rf "$tmp" "$log" "$objects"' EXIT
compile() {  # SOURCE OBJECT
  local level=-Oz
  [[ "$fast" == *" $(basename "$1") "* || "${ALL_O3:-}" = 1 ]] && level=-O3
  em++ -std=c++17 "$level" -msimd128 -fno-exceptions -fno-rtti -I"$core" -I"$root/src/interfaces" -c "$1" -o "$2"
}
built=1 n=0
for source in "$here/module.cpp" "${sources[@]/#/$core/}"; do
  n=$((n + 1))
  compile "$source" "$objects/$n-$(basename "${source%.cpp}").o" >> "$log" 2>&1 || { built=0; break; }
done
# tw_read_at is the page's import (the SDK provides it, library.js declares it); any other
# undefined symbol fails the build. The link's pass over the whole (wasm-opt) is -O3, as the kernels'.
if [ "$built" != 1 ] || ! em++ -O3 -msimd128 -fno-exceptions -fno-rtti \
  -sSTANDALONE_WASM --no-entry -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=8MB \
  -sERROR_ON_UNDEFINED_SYMBOLS=1 --js-library "$here/library.js" -sEXPORTED_FUNCTIONS="[${list%,}]" \
  "$objects"/*.o -o "$tmp" >> "$log" 2>&1; then
  cat "$log" >&2
  echo "build.sh: the WebAssembly module did not build" >&2
  exit 1
fi
cat "$log" >&2
[ -s "$tmp" ] || { echo "build.sh: em++ left no module" >&2; exit 1; }
mv -f "$tmp" "$out"
