#!/usr/bin/env bash
# The administrators' MSI packages under Wine, each in a fresh prefix:
#  x64 package (signed), 64-bit prefix: msiexec /i /qn installs both controls; their script suites pass
#    through the 64-bit and the 32-bit cscript; the registry image equals what regsvr32 of the
#    same files writes (HKEY_LOCAL_MACHINE; regsvr32 also allows the control for the current
#    user, a per-machine package for every user); a newer package replaces it (one product left)
#    and an older one is refused; msiexec /x /qn leaves no file and no key of ours.
#  x86 package: refused in the 64-bit prefix; in a 32-bit prefix installed, used, compared and
#    removed the same way.
# Usage: test-msi.sh DIST   (DIST/win32 and DIST/win64 as `make dist` leaves them)
set -uo pipefail
dist="$(cd "$1" && pwd)"
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$root/build/packaging-test"
failures=0
fail() { echo "test-msi: FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "test-msi: ok: $*"; }
image() { python3 "$root/tests/packaging/regimage.py" "$WINEPREFIX" --machine; }
settle() { wineserver -w; }  # the registry files are written when the server ends

rm -rf "$work"; mkdir -p "$work/msi" "$work/msi-next"
version="$("$root/tools/version.sh" PRODUCT_VERSION)"
next="$(echo "$version" | awk -F. '{ printf "%d.%d.%d.%d", $1, $2, $3 + 1, $4 }')"
cp -r "$dist/win32" "$dist/win64" "$work/msi/"
"$root/tools/make-msi.sh" "$work/msi" >/dev/null || { echo "test-msi: FAIL: make-msi"; exit 1; }
cp -r "$dist/win32" "$dist/win64" "$work/msi-next/"
"$root/tools/make-msi.sh" "$work/msi-next" --msi-version "$next" >/dev/null ||
  { echo "test-msi: FAIL: make-msi $next"; exit 1; }
x64="$work/msi/tarnwick-$version-x64.msi"; x86="$work/msi/tarnwick-$version-x86.msi"
x64next="$work/msi-next/tarnwick-$next-x64.msi"
# Installed as shipped: signed (here with sign.sh's throw-away test certificate).
(unset SIGN_PFX SIGN_PASSWORD SIGN_TIMESTAMP_URL; "$root/tools/sign.sh" "$x64" "$x86" "$x64next" >/dev/null) ||
  { echo "test-msi: FAIL: signing the packages"; exit 1; }
product_codes=()
for m in "$x64" "$x86" "$x64next"; do product_codes+=(--product-code "$(msiinfo export "$m" Property | awk '$1 == "ProductCode" { print $2 }')"); done
upgrade_code="$(msiinfo export "$x64" Property | awk '$1 == "UpgradeCode" { print $2 }')"

msiexec_() {  # loader, msiexec arguments...: the exit code of msiexec
  local loader="$1"; shift
  "$loader" msiexec "$@" >/dev/null 2>&1
}
# The package ran and said no (ERROR_INSTALL_FAILURE, 1603, as a launch condition or a refused
# downgrade ends it; Wine hands its low 8 bits to the shell), rather than msiexec failing to run it.
refuses() {  # loader, msiexec arguments...
  local rc=0
  msiexec_ "$@" || rc=$?
  [ $rc -eq $((1603 % 256)) ] || { echo "msiexec $*: exit code $rc"; return 1; }
}

suites() {  # loader label dir: the script suites against the installed control in dir
  local loader="$1" label="$2" dir="$3"
  for suite in basics.js file_size.js; do
    if TARNWICK_REREGISTER=0 TARNWICK_LOADER="$loader" \
         bash "$root/tools/run-script-test.sh" "$root/tests/script/$suite" "$dir" > "$work/suite.out" 2>&1; then
      pass "$suite through $label cscript: $(grep -E '^[0-9]+ passed' "$work/suite.out")"
    else
      fail "$suite through $label cscript against $dir:"; cat "$work/suite.out"
    fi
  done
}

installed_files() {  # dir modules...: the installed files are the packaged ones
  local dir="$1" from="$2"; shift 2
  for m in "$@"; do
    cmp -s "$dir/$m" "$from/$m" || fail "$dir/$m is not the packaged $from/$m"
  done
}

compare_with_regsvr32() {  # msi image file, then regsvr32 runs given as "loader:dir" pairs
  local msi_image="$1"; shift
  for pair in "$@"; do
    local loader="${pair%%:*}" dir="${pair#*:}"
    mkdir -p "$dir"
    "$loader" regsvr32 /s "$(winepath -w "$dir/tarnwick.OCX" 2>/dev/null)" ||
      fail "regsvr32 $dir/tarnwick.OCX"
  done
  settle
  image > "$work/regsvr32.image"
  if diff -u "$work/regsvr32.image" "$msi_image" > "$work/image.diff"; then
    pass "the MSI's registry image is regsvr32's ($(grep -vc ' = ' "$msi_image") keys)"
  else
    fail "the MSI's registry image differs from regsvr32's (- regsvr32, + MSI):"; cat "$work/image.diff"
  fi
}

no_leftovers() {  # dirs...
  settle
  for d in "$@"; do [ ! -e "$d" ] || fail "$d is left: $(ls -A "$d" 2>/dev/null | tr '\n' ' ')"; done
  python3 "$root/tests/packaging/regimage.py" "$WINEPREFIX" --leftovers "${product_codes[@]}" \
    --upgrade-code "$upgrade_code" > "$work/leftovers"
  if [ -s "$work/leftovers" ]; then fail "keys of ours are left:"; cat "$work/leftovers"
  else pass "nothing of ours is left (files, registry)"; fi
}

# ---- x64 package, 64-bit prefix ----
export TARNWICK_ARCH=win64 TARNWICK_WINEPREFIX64="$work/prefix64"
source "$root/tools/wine-env.sh" 2>/dev/null
wine64=/usr/lib/wine/wine64
pf64="$WINEPREFIX/drive_c/Program Files/Tarnwick"; pf32="$WINEPREFIX/drive_c/Program Files (x86)/Tarnwick"
settle
[ -z "$(image)" ] || fail "the fresh prefix already holds keys of ours"

refuses $wine64 /i "$(winepath -w "$x86")" /qn && pass "the x86 package refuses 64-bit Windows" ||
  fail "the x86 package did not refuse 64-bit Windows"
if msiexec_ $wine64 /i "$(winepath -w "$x64")" /qn; then pass "msiexec /i x64 /qn"; else fail "msiexec /i x64 /qn"; fi
installed_files "$pf64" "$dist/win64" tarnwick.OCX ziptool.dll OVALON.x64.dll
installed_files "$pf32" "$dist/win32" tarnwick.OCX ziptool.dll OVALON.x86.dll
installed_files "$pf64" "$root" LICENSE THIRD-PARTY-NOTICES
installed_files "$pf32" "$root" LICENSE THIRD-PARTY-NOTICES
settle
image > "$work/msi.image"
suites $wine64 64-bit "$pf64"
suites wine 32-bit "$pf32"

if msiexec_ $wine64 /i "$(winepath -w "$x64next")" /qn; then pass "msiexec /i of $next over $version"; else fail "msiexec /i of $next"; fi
settle
products="$(grep -c '"DisplayVersion"' <(python3 - "$WINEPREFIX/system.reg" "$upgrade_code" <<'PY'
import re, sys
# Uninstall entries of this product family: keys whose UpgradeCode-related product is ours are
# found by their DisplayName.
text = open(sys.argv[1], encoding="utf-8", errors="replace").read()
for block in text.split("\n\n"):
    if "\\\\Uninstall\\\\{" in block.split("\n")[0] and "tarnwick ActiveX Control" in block:
        print(block)
PY
))"
[ "$products" = 1 ] && pass "one product installed after the upgrade" || fail "$products products installed after the upgrade"
grep -q "\"DisplayVersion\"=\"$next\"" "$WINEPREFIX/system.reg" && pass "and it is $next" || fail "the installed version is not $next"
image > "$work/msi-next.image"
diff -q "$work/msi.image" "$work/msi-next.image" >/dev/null && pass "the upgrade keeps the registration" ||
  { fail "the upgrade changed the registration:"; diff -u "$work/msi.image" "$work/msi-next.image"; }
refuses $wine64 /i "$(winepath -w "$x64")" /qn && pass "the older package is refused while the newer one is installed" ||
  fail "the older package was not refused over the newer"
suites $wine64 64-bit "$pf64"

if msiexec_ $wine64 /x "$(winepath -w "$x64next")" /qn; then pass "msiexec /x /qn"; else fail "msiexec /x /qn"; fi
no_leftovers "$pf64" "$pf32"
mkdir -p "$pf64" "$pf32"
cp "$dist"/win64/* "$pf64/"; cp "$dist"/win32/* "$pf32/"
compare_with_regsvr32 "$work/msi.image" "$wine64:$pf64" "wine:$pf32"
wineserver -k 2>/dev/null; wineserver -w 2>/dev/null

# ---- x86 package, 32-bit prefix ----
export TARNWICK_ARCH=win32 TARNWICK_WINEPREFIX="$work/prefix32"
source "$root/tools/wine-env.sh" 2>/dev/null
pf="$WINEPREFIX/drive_c/Program Files/Tarnwick"
settle
if msiexec_ wine /i "$(winepath -w "$x86")" /qn; then pass "msiexec /i x86 /qn (32-bit Windows)"; else fail "msiexec /i x86 /qn"; fi
installed_files "$pf" "$dist/win32" tarnwick.OCX ziptool.dll OVALON.x86.dll
installed_files "$pf" "$root" LICENSE THIRD-PARTY-NOTICES
settle
image > "$work/msi32.image"
suites wine 32-bit "$pf"
if msiexec_ wine /x "$(winepath -w "$x86")" /qn; then pass "msiexec /x x86 /qn"; else fail "msiexec /x x86 /qn"; fi
no_leftovers "$pf"
mkdir -p "$pf"; cp "$dist"/win32/* "$pf/"
compare_with_regsvr32 "$work/msi32.image" "wine:$pf"
wineserver -k 2>/dev/null; wineserver -w 2>/dev/null

if [ $failures -ne 0 ]; then echo "test-msi: $failures failure(s)"; exit 1; fi
rm -rf "$work"
echo "test-msi: all checks passed"
