#!/usr/bin/env bash
# Signing and versions of what ships, on a copy of DIST:
#  - a throw-away code-signing certificate made here with openssl, handed to tools/sign.sh as
#    SIGN_PFX and SIGN_PASSWORD; the six modules, the CAB and both MSI packages signed with it;
#    every one verifies with osslsigncode against that certificate (SHA-256), none verifies
#    against another certificate, and a changed byte breaks a signature;
#  - without SIGN_PFX, sign.sh makes its own test certificate and says so;
#  - every module is of its architecture, exports its plain names, imports nothing but Windows'
#    own DLLs, and carries the company, product and versions of VERSION, which are also the
#    INF's FileVersion and the MSI's Manufacturer and ProductVersion.
# Usage: test-sign.sh DIST
set -uo pipefail
dist="$(cd "$1" && pwd)"
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "test-sign: FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "test-sign: ok: $*"; }
ver() { "$root/tools/version.sh" "$1"; }

# A throw-away code-signing certificate, and an unrelated one.
cert() {  # name
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=tarnwick test $1" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/$1.key" -out "$work/$1.pem" 2>/dev/null &&
  openssl pkcs12 -export -inkey "$work/$1.key" -in "$work/$1.pem" -passout pass:"pw $1" \
    -out "$work/$1.pfx" 2>/dev/null
}
# A verification osslsigncode ran and refused, for the reason its output names (not a file it
# could not read or a tool that failed).
refused() {  # reason-pattern, osslsigncode verify arguments...
  local reason="$1" out; shift
  out="$(osslsigncode verify "$@" 2>&1)" && return 1
  grep -q "Signature verification: failed" <<< "$out" && grep -q "$reason" <<< "$out"
}
cert signer && cert stranger || { echo "test-sign: FAIL: openssl cannot make certificates"; exit 1; }

mkdir -p "$work/dist"
cp -r "$dist/win32" "$dist/win64" "$work/dist/"
export SIGN_PFX="$work/signer.pfx" SIGN_PASSWORD="pw signer"
unset SIGN_TIMESTAMP_URL
"$root/tools/sign.sh" --dist "$work/dist" > "$work/sign.log" 2>&1 || { cat "$work/sign.log"; fail "sign.sh --dist"; }
grep -q "certificate from SIGN_PFX" "$work/sign.log" && pass "sign.sh takes SIGN_PFX" || fail "sign.sh did not say where its certificate came from"
grep -q "no timestamp" "$work/sign.log" && pass "and says it adds no timestamp without SIGN_TIMESTAMP_URL" || fail "no word about the timestamp"
"$root/tools/make-cab.sh" "$work/dist" > "$work/cab.log" 2>&1 || { cat "$work/cab.log"; fail "make-cab.sh"; }
"$root/tools/make-msi.sh" "$work/dist" > "$work/msi.log" 2>&1 || { cat "$work/msi.log"; fail "make-msi.sh"; }
"$root/tools/sign.sh" "$work/dist/tarnwick.cab" "$work/dist"/*.msi > "$work/sign2.log" 2>&1 ||
  { cat "$work/sign2.log"; fail "sign.sh of the CAB and the MSI packages"; }
"$root/packaging/check-cab.sh" "$work/dist/tarnwick.cab" "$work/dist/win32" >/dev/null 2>&1 &&
  pass "the signed CAB still holds exactly the signed modules and the INF" || fail "check-cab of the signed CAB"

signed=("$work/dist"/win32/{tarnwick.OCX,ziptool.dll,OVALON.x86.dll} "$work/dist"/win64/{tarnwick.OCX,ziptool.dll,OVALON.x64.dll}
        "$work/dist/tarnwick.cab" "$work/dist"/*.msi)
[ ${#signed[@]} -eq 9 ] || fail "expected 6 modules, a CAB and 2 MSI packages, found ${#signed[@]} files"
for f in "${signed[@]}"; do
  name="${f#$work/dist/}"
  out="$(osslsigncode verify -CAfile "$work/signer.pem" -in "$f" 2>&1)"
  if [ $? -eq 0 ] && grep -q "Signature verification: ok" <<< "$out" &&
     grep -q "Message digest algorithm *: SHA256" <<< "$out"; then
    pass "$name: SHA-256 signature verifies against the signing certificate"
  else
    fail "$name does not verify:"; echo "$out" | tail -n 8
  fi
  refused "PKCS7_verify error" -CAfile "$work/stranger.pem" -in "$f" ||
    fail "$name: verifying against an unrelated certificate did not fail on the certificate"
done
# A changed byte in the code breaks the signature.
cp "$work/dist/win64/ziptool.dll" "$work/changed.dll"
printf '\x90' | dd of="$work/changed.dll" bs=1 seek=4096 conv=notrunc status=none
refused "MISMATCH" -CAfile "$work/signer.pem" -in "$work/changed.dll" &&
  pass "a changed module no longer verifies: its digest differs" || fail "a changed module is not refused for its digest"
# Signing twice replaces the signature rather than failing or nesting.
"$root/tools/sign.sh" "$work/changed.dll" >/dev/null 2>&1 &&
  osslsigncode verify -CAfile "$work/signer.pem" -in "$work/changed.dll" >/dev/null 2>&1 &&
  pass "a signed file is signed anew" || fail "re-signing a signed file"

# Packing after a release signing keeps the release signatures: make-dist leaves an unchanged
# module as it is, and `sign.sh --keep-signed` (make cab, make msi) signs only what is unsigned,
# here with its test certificate.
mkdir -p "$work/build32/bin" "$work/build64/bin" "$work/keep"
cp "$dist"/win32/* "$work/build32/bin/"; cp "$dist"/win64/* "$work/build64/bin/"
"$root/tools/make-dist.sh" "$work/build32" "$work/build64" "$work/keep" >/dev/null
(export SIGN_PFX SIGN_PASSWORD; "$root/tools/sign.sh" --dist "$work/keep") >/dev/null 2>&1 || fail "signing the kept dist"
printf 'rebuilt' >> "$work/build64/bin/ziptool.dll"
"$root/tools/make-dist.sh" "$work/build32" "$work/build64" "$work/keep" >/dev/null
(unset SIGN_PFX SIGN_PASSWORD; "$root/tools/sign.sh" --keep-signed --dist "$work/keep") > "$work/keep.log" 2>&1 ||
  { cat "$work/keep.log"; fail "sign.sh --keep-signed"; }
for m in win32/tarnwick.OCX win32/OVALON.x86.dll win64/tarnwick.OCX; do
  osslsigncode verify -CAfile "$work/signer.pem" -in "$work/keep/$m" >/dev/null 2>&1 &&
    pass "$m keeps the release signature through make-dist and --keep-signed" ||
    fail "$m lost its release signature"
done
osslsigncode verify -CAfile "$work/signer.pem" -in "$work/keep/win64/ziptool.dll" >/dev/null 2>&1 &&
  fail "a rebuilt module kept the signature of its old build"
osslsigncode verify -CAfile "$root/build/sign/test-codesign.pem" -in "$work/keep/win64/ziptool.dll" >/dev/null 2>&1 &&
  grep -q "THROW-AWAY TEST certificate" "$work/keep.log" &&
  pass "the rebuilt, unsigned module is signed with the test certificate, loudly" ||
  fail "the rebuilt module was not signed with the announced test certificate"

# Without SIGN_PFX: a test certificate of sign.sh's own, announced.
cp "$dist/win32/ziptool.dll" "$work/own.dll"
(unset SIGN_PFX SIGN_PASSWORD; "$root/tools/sign.sh" "$work/own.dll") > "$work/own.log" 2>&1 || { cat "$work/own.log"; fail "sign.sh without SIGN_PFX"; }
grep -q "THROW-AWAY TEST certificate" "$work/own.log" && pass "without SIGN_PFX sign.sh says it uses a throw-away test certificate" ||
  fail "sign.sh without SIGN_PFX did not say so"
osslsigncode verify -CAfile "$root/build/sign/test-codesign.pem" -in "$work/own.dll" >/dev/null 2>&1 &&
  pass "and that signature verifies against build/sign/test-codesign.pem" || fail "the test-certificate signature does not verify"

# The publisher's sequence: modules test-signed by `make test` or `make cab`, then the release
# signing run twice in a row. Every module must end up with the release signature alone.
mkdir -p "$work/publish"
cp -r "$dist/win32" "$dist/win64" "$work/publish/"
(unset SIGN_PFX SIGN_PASSWORD; "$root/tools/sign.sh" --dist "$work/publish") > "$work/publish.log" 2>&1 ||
  { cat "$work/publish.log"; fail "test-signing the six modules"; }
for round in 1 2; do
  "$root/tools/sign.sh" --dist "$work/publish" > "$work/publish.log" 2>&1 ||
    { cat "$work/publish.log"; fail "release signing over signed modules, round $round"; }
done
before=$failures
for m in win32/tarnwick.OCX win32/ziptool.dll win32/OVALON.x86.dll win64/tarnwick.OCX win64/ziptool.dll win64/OVALON.x64.dll; do
  osslsigncode verify -CAfile "$work/signer.pem" -in "$work/publish/$m" >/dev/null 2>&1 ||
    fail "$m does not verify against the release certificate after signing test-signed modules twice"
  osslsigncode verify -CAfile "$root/build/sign/test-codesign.pem" -in "$work/publish/$m" >/dev/null 2>&1 &&
    fail "$m still verifies against the test certificate"
done
[ $failures -eq $before ] && pass "test-signed modules signed for release twice: all six carry the release signature only"

# The modules themselves.
check_module() {  # file machine exports...
  local f="$1" machine="$2"; shift 2
  python3 "$root/tests/packaging/peinfo.py" "$f" > "$work/pe.json" || { fail "$f is no PE module"; return; }
  python3 - "$work/pe.json" "$machine" "$(ver FILE_VERSION)" "$(ver PRODUCT_VERSION)" "$(ver COMPANY)" \
      "$(ver PRODUCT)" "$(basename "$f")" "$@" <<'PY' || fail "$f: see above"
import json, sys
info = json.load(open(sys.argv[1]))
machine, file_version, product_version, company, product, name = sys.argv[2:8]
exports = sorted(sys.argv[8:])
problems = []
if info["machine"] != machine:
    problems.append("machine %s, expected %s" % (info["machine"], machine))
if sorted(info["exports"]) != exports:
    problems.append("exports %s, expected %s" % (info["exports"], exports))
v = info["version"] or {}
strings = v.get("strings", {})
want = {"CompanyName": company, "ProductName": product, "FileVersion": file_version,
        "ProductVersion": product_version, "OriginalFilename": name}
for key, value in want.items():
    if strings.get(key) != value:
        problems.append("%s is %r, expected %r" % (key, strings.get(key), value))
if v.get("fixed") != {"file": file_version, "product": product_version}:
    problems.append("fixed version %s" % v.get("fixed"))
for p in problems:
    print("  " + p)
sys.exit(1 if problems else 0)
PY
  local objdump=i686-w64-mingw32-objdump
  [ "$machine" = amd64 ] && objdump=x86_64-w64-mingw32-objdump
  local imports
  imports="$($objdump -p "$f" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')"
  if grep -qE 'libgcc|libstdc|libwinpthread|libz|libgcrypt|libksba|libgpg' <<< "$imports"; then
    fail "$f imports $imports"
  fi
}
# The names each module's .def exports, undecorated, for either architecture.
def_exports() { sed -n '/^EXPORTS/,$p' "$root/$1" | sed -e 's/;.*//' -e '/^EXPORTS/d' | awk 'NF { print $1 }'; }
mapfile -t control_exports < <(def_exports src/resources/tarnwick.def)
mapfile -t zip_exports < <(def_exports companions/ziptool/ziptool.def)
# The engine's exports are the entry point list of its header, one "X(name, bytes, ..." line each.
mapfile -t engine_exports < <(sed -n 's/^X(\([A-Za-z_0-9]*\), [0-9]*,.*/\1/p' "$root/src/interfaces/ovalon.h")
[ ${#engine_exports[@]} -ge 33 ] || fail "src/interfaces/ovalon.h lists only ${#engine_exports[@]} entry points"
before=$failures
for arch in win32:i386:OVALON.x86.dll win64:amd64:OVALON.x64.dll; do
  IFS=: read -r sub machine engine <<< "$arch"
  check_module "$dist/$sub/tarnwick.OCX" "$machine" "${control_exports[@]}"
  check_module "$dist/$sub/ziptool.dll" "$machine" "${zip_exports[@]}"
  check_module "$dist/$sub/$engine" "$machine" "${engine_exports[@]}"
done
[ $failures -eq $before ] && pass "the six modules: architecture, plain exports, Windows imports only, VERSION's company, product and versions"

# The INF and the MSI packages name the same version and publisher.
cabinf="$(mktemp -d)"; cabextract -q -d "$cabinf" -F tarnwick.inf "$work/dist/tarnwick.cab" >/dev/null 2>&1
grep -q "^FileVersion=$(ver FILE_VERSION_COMMAS)" "$cabinf/tarnwick.inf" && pass "the CAB's INF names FileVersion $(ver FILE_VERSION_COMMAS)" ||
  fail "the CAB's INF does not name FileVersion $(ver FILE_VERSION_COMMAS)"
rm -rf "$cabinf"
for msi in "$work/dist"/*.msi; do
  props="$(msiinfo export "$msi" Property)"
  grep -qP "^ProductVersion\t$(ver PRODUCT_VERSION)\r?$" <<< "$props" &&
    grep -qP "^Manufacturer\t$(ver COMPANY)\r?$" <<< "$props" &&
    pass "$(basename "$msi"): ProductVersion $(ver PRODUCT_VERSION), Manufacturer $(ver COMPANY)" ||
    fail "$(basename "$msi") properties: $(grep -E '^(ProductVersion|Manufacturer)' <<< "$props" | tr '\t\n' '= ')"
done
# Pages and documents that quote the codebase version quote this one.
for doc in demo/page.html packaging/README.md README.md; do
  [ -f "$root/$doc" ] || continue
  stale="$(grep -o 'tarnwick.cab#version=[0-9,]*' "$root/$doc" | grep -v "#version=$(ver FILE_VERSION_COMMAS)\$")"
  [ -z "$stale" ] || fail "$doc quotes $stale"
done

if [ $failures -ne 0 ]; then echo "test-sign: $failures failure(s)"; exit 1; fi
echo "test-sign: all checks passed"
