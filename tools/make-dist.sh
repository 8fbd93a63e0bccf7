#!/usr/bin/env bash
# Copies the shipped modules of both builds into DIST/win32 and DIST/win64 (fresh, unsigned
# copies every time: `make sign` signs them there).
#   make-dist.sh WIN32_BUILD WIN64_BUILD DIST
set -euo pipefail
win32="$1"; win64="$2"; dist="$3"
copy() {  # build dir, dist subdir, modules...
  local from="$1/bin" to="$dist/$2"; shift 2
  rm -rf "$to"; mkdir -p "$to"
  for m in "$@"; do
    [ -f "$from/$m" ] || { echo "make-dist: $from/$m was not built" >&2; exit 1; }
    cp "$from/$m" "$to/"
  done
}
copy "$win32" win32 tarnwick.OCX ziptool.dll OVALON.x86.dll
copy "$win64" win64 tarnwick.OCX ziptool.dll OVALON.x64.dll
ls -l "$dist/win32" "$dist/win64"
