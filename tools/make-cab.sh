#!/usr/bin/env bash
# Packs dist/tarnwick.cab for code download: the three modules that `make dist` left in
# dist/win32/ and packaging/tarnwick.inf, flat (no directories), MSZIP-compressed. The INF's
# FileVersion of the control must be the version block of the control being packed.
# Usage: make-cab.sh [DIST_DIR]  (default: dist/ of the work tree)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dist="${1:-$root/dist}"
modules=(tarnwick.OCX ziptool.dll OVALON.x86.dll)
inf="$root/packaging/tarnwick.inf"
cab="$dist/tarnwick.cab"

for m in "${modules[@]}"; do
  [ -f "$dist/win32/$m" ] || { echo "make-cab: $dist/win32/$m is missing (make dist)" >&2; exit 1; }
done

# The fixed file version of the control's version block (VS_FIXEDFILEINFO after its signature).
ocx_version="$(python3 - "$dist/win32/tarnwick.OCX" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))
if at < 0:
    sys.exit("no version block")
ms, ls = struct.unpack_from("<II", data, at + 8)
print("%d,%d,%d,%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
PY
)"
inf_version="$(sed -n '/^\[tarnwick.OCX\]/,/^\[/s/^FileVersion=\([0-9,]*\).*/\1/p' "$inf" | tr -d '\r')"
if [ "$ocx_version" != "$inf_version" ]; then
  echo "make-cab: tarnwick.OCX is version $ocx_version but $inf says $inf_version" >&2
  exit 1
fi

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
for m in "${modules[@]}"; do cp "$dist/win32/$m" "$stage/"; done
cp "$inf" "$stage/tarnwick.inf"
rm -f "$cab"
(cd "$stage" && gcab -c -z -n "$cab" tarnwick.inf "${modules[@]}")
echo "make-cab: $cab (control version $ocx_version)"

"$root/packaging/check-cab.sh" "$cab" "$dist/win32"
