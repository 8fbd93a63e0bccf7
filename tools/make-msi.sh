#!/usr/bin/env bash
# Builds the administrators' MSI packages with wixl from the modules in DIST/win32 and
# DIST/win64 (signed by `make sign` when run through `make msi`):
#   DIST/tarnwick-<version>-x64.msi   64-bit Windows: the 64-bit and the 32-bit control
#   DIST/tarnwick-<version>-x86.msi   32-bit Windows: the 32-bit control
# Each architecture's folder also gets LICENSE and THIRD-PARTY-NOTICES.
# The WiX source is written by packaging/msi/make_wxs.py (see there for the layout).
# Usage: make-msi.sh [DIST] [--msi-version V] [--arch x64|x86] [--out FILE]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dist="$root/dist"
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then dist="$1"; shift; fi
dist="$(cd "$dist" && pwd)"
msi_version=""; arches=(x64 x86); out=""
while [ $# -gt 0 ]; do
  case "$1" in
    --msi-version) msi_version="$2"; shift 2 ;;
    --arch) arches=("$2"); shift 2 ;;
    --out) out="$2"; shift 2 ;;
    *) echo "make-msi: unknown argument $1" >&2; exit 2 ;;
  esac
done
version="${msi_version:-$("$root/tools/version.sh" PRODUCT_VERSION)}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for arch in "${arches[@]}"; do
  for m in tarnwick.OCX ziptool.dll OVALON.x86.dll; do
    [ -f "$dist/win32/$m" ] || { echo "make-msi: $dist/win32/$m is missing (make dist)" >&2; exit 1; }
  done
  if [ "$arch" = x64 ]; then
    for m in tarnwick.OCX ziptool.dll OVALON.x64.dll; do
      [ -f "$dist/win64/$m" ] || { echo "make-msi: $dist/win64/$m is missing (make dist)" >&2; exit 1; }
    done
  fi
  msi="${out:-$dist/tarnwick-$version-$arch.msi}"
  python3 "$root/packaging/msi/make_wxs.py" --arch "$arch" --version-file "$root/VERSION" \
    ${msi_version:+--msi-version "$msi_version"} --notices-dir "$(realpath --relative-to="$dist" "$root")" --out "$work/tarnwick-$arch.wxs" --sql-out "$work/tarnwick-$arch.sql"
  rm -f "$msi" "$work/package.msi"
  (cd "$dist" && wixl -a "$arch" -o "$work/package.msi" "$work/tarnwick-$arch.wxs")
  # What wixl cannot author: keys without values, a permanent component.
  while IFS= read -r query; do
    [ -z "$query" ] || msibuild "$work/package.msi" -q "$query"
  done < "$work/tarnwick-$arch.sql"
  mv "$work/package.msi" "$msi"
  echo "make-msi: $msi"
done
