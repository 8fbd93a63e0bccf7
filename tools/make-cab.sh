#!/usr/bin/env bash
# Packs dist/tarnwick.cab for code download: the three 32-bit modules that `make dist` left in
# dist/win32/ (signed by `make sign` when run through `make cab`) and the INF made from
# packaging/tarnwick.inf.in with the version from VERSION, flat (no directories),
# MSZIP-compressed, with LICENSE and THIRD-PARTY-NOTICES beside them (the INF installs only the
# modules). The INF's FileVersion of the control must be the version block of the control being
# packed. `make cab` signs the CAB afterwards (tools/sign.sh).
# Usage: make-cab.sh [DIST_DIR]  (default: dist/ of the work tree)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dist="$(cd "${1:-$root/dist}" && pwd)"
modules=(tarnwick.OCX ziptool.dll OVALON.x86.dll)
cab="$dist/tarnwick.cab"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
inf="$stage/tarnwick.inf"
"$root/tools/version.sh" render "$root/packaging/tarnwick.inf.in" "$inf"

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
  echo "make-cab: tarnwick.OCX is version $ocx_version but VERSION says $inf_version" >&2
  exit 1
fi

for m in "${modules[@]}"; do cp "$dist/win32/$m" "$stage/"; done
cp "$root/LICENSE" "$root/THIRD-PARTY-NOTICES" "$stage/"
rm -f "$cab"
(cd "$stage" && gcab -c -z -n "$cab" tarnwick.inf "${modules[@]}" LICENSE THIRD-PARTY-NOTICES)
echo "make-cab: $cab (control version $ocx_version)"

"$root/packaging/check-cab.sh" "$cab" "$dist/win32"
