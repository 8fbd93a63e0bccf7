#!/usr/bin/env bash
# Copies the shipped modules of both builds into DIST/win32 and DIST/win64, where `make sign`
# signs them. A module whose build has not changed since it was copied is left as it is, so a
# signature made there (with the release certificate, say) survives `make cab` and `make msi`;
# a rebuilt module replaces it, unsigned. What was copied is recorded in each build directory.
#   make-dist.sh WIN32_BUILD WIN64_BUILD DIST
set -euo pipefail
win32="$1"; win64="$2"; dist="$3"
copy() {  # build dir, dist subdir, modules...
  local from="$1/bin" record="$1/dist-copied.sha256" to="$dist/$2"; shift 2
  mkdir -p "$to"
  find "$to" -mindepth 1 -maxdepth 1 $(printf '! -name %s ' "$@") -exec rm -rf {} +
  local now="" line
  for m in "$@"; do
    [ -f "$from/$m" ] || { echo "make-dist: $from/$m was not built" >&2; exit 1; }
    line="$(cd "$from" && sha256sum "$m")"
    now+="$line"$'\n'
    if [ -f "$to/$m" ] && [ -f "$record" ] && grep -qxF "$line" "$record"; then
      continue
    fi
    cp "$from/$m" "$to/$m.new" && mv -f "$to/$m.new" "$to/$m"
  done
  printf '%s' "$now" > "$record"
}
copy "$win32" win32 tarnwick.OCX ziptool.dll OVALON.x86.dll
copy "$win64" win64 tarnwick.OCX ziptool.dll OVALON.x64.dll
ls -l "$dist/win32" "$dist/win64"
