#!/usr/bin/env bash
# Authenticode-signs Windows files with osslsigncode: SHA-256 digests, and an RFC 3161 timestamp
# when SIGN_TIMESTAMP_URL names a timestamp server (without one a signature is valid only while
# its certificate is).
#   sign.sh --dist DIST   the six modules in DIST/win32 and DIST/win64
#   sign.sh FILE...       the given files (a CAB, an MSI, ...)
#   --keep-signed         (first) leave a file that carries a signature as it is: `make cab` and
#                         `make msi` sign only what is unsigned, so a module signed for release
#                         by `SIGN_PFX=... make sign` is packed with that signature
# The certificate and its key come from SIGN_PFX (a PKCS#12 file) and SIGN_PASSWORD, never from
# the repository. Without SIGN_PFX a throw-away test certificate is made once under
# build/sign/ (tools/make-test-cert.sh) and used; it says so, and nothing trusts it.
# Without --keep-signed a file that is signed already is signed anew (its old signature removed first).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

keep_signed=0
if [ "${1:-}" = "--keep-signed" ]; then keep_signed=1; shift; fi
signed_by() {  # file: the subject of the signer's certificate, if the file carries a signature
  local dir; dir="$(mktemp -d)"  # osslsigncode does not write over an existing file
  if osslsigncode extract-signature -in "$1" -out "$dir/sig" >/dev/null 2>&1; then
    openssl pkcs7 -inform DER -in "$dir/sig" -print_certs -noout 2>/dev/null | sed -n 's/^subject=//p' | head -n 1
    rm -rf "$dir"; return 0
  fi
  rm -rf "$dir"; return 1
}
files=()
if [ "${1:-}" = "--dist" ]; then
  dist="$2"
  files=("$dist"/win32/{tarnwick.OCX,ziptool.dll,OVALON.x86.dll} "$dist"/win64/{tarnwick.OCX,ziptool.dll,OVALON.x64.dll})
else
  files=("$@")
fi
[ ${#files[@]} -gt 0 ] || { echo "usage: sign.sh --dist DIST | sign.sh FILE..." >&2; exit 2; }
for f in "${files[@]}"; do
  [ -f "$f" ] || { echo "sign: $f is missing" >&2; exit 1; }
done
if [ $keep_signed -eq 1 ]; then
  unsigned=()
  for f in "${files[@]}"; do
    if subject="$(signed_by "$f")"; then
      echo "sign: $f keeps its signature (${subject:-signed})"
    else
      unsigned+=("$f")
    fi
  done
  [ ${#unsigned[@]} -gt 0 ] || exit 0
  files=("${unsigned[@]}")
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The password reaches osslsigncode through a private file, not its command line.
umask 077
if [ -n "${SIGN_PFX:-}" ]; then
  [ -f "$SIGN_PFX" ] || { echo "sign: SIGN_PFX=$SIGN_PFX is not a file" >&2; exit 1; }
  pfx="$SIGN_PFX"
  printf '%s' "${SIGN_PASSWORD:-}" > "$work/pass"
  echo "sign: certificate from SIGN_PFX ($pfx)"
else
  testdir="$root/build/sign"
  "$root/tools/make-test-cert.sh" "$testdir" >/dev/null
  pfx="$testdir/test-codesign.pfx"
  cp "$testdir/test-codesign.pass" "$work/pass"
  echo "sign: SIGN_PFX is not set: signing with a THROW-AWAY TEST certificate"
  echo "sign:   $testdir/test-codesign.pem ($(openssl x509 -in "$testdir/test-codesign.pem" -noout -subject))"
  echo "sign:   nothing trusts it; set SIGN_PFX and SIGN_PASSWORD to sign for publishing"
fi
timestamp=()
if [ -n "${SIGN_TIMESTAMP_URL:-}" ]; then
  timestamp=(-ts "$SIGN_TIMESTAMP_URL")
  echo "sign: timestamps from $SIGN_TIMESTAMP_URL"
else
  echo "sign: no timestamp (SIGN_TIMESTAMP_URL is not set)"
fi
product="$("$root/tools/version.sh" PRODUCT)"

# osslsigncode never writes over an existing file, so each file gets a scratch folder of its own
# that starts empty: nothing one file leaves behind can stop the next.
for f in "${files[@]}"; do
  scratch="$(mktemp -d "$work/file.XXXXXX")"
  if osslsigncode extract-signature -in "$f" -out "$scratch/old.sig" >/dev/null 2>&1; then
    if ! osslsigncode remove-signature -in "$f" -out "$scratch/unsigned" > "$scratch/log" 2>&1; then
      cat "$scratch/log" >&2
      echo "sign: removing the old signature of $f failed" >&2
      exit 1
    fi
  else
    cp "$f" "$scratch/unsigned"
  fi
  if ! osslsigncode sign -pkcs12 "$pfx" -readpass "$work/pass" -h sha256 -n "$product" \
         "${timestamp[@]}" -in "$scratch/unsigned" -out "$scratch/signed" > "$scratch/log" 2>&1; then
    cat "$scratch/log" >&2
    echo "sign: signing $f failed" >&2
    exit 1
  fi
  # Keep the file's own mode; replace its contents.
  cat "$scratch/signed" > "$f"
  rm -rf "$scratch"
  echo "sign: $f"
done
