#!/usr/bin/env bash
# Makes a throw-away, self-signed code-signing certificate for test signatures (once; kept while
# it is valid for another day): DIR/test-codesign.{key,pem,pfx} and the PKCS#12 file's random
# password in DIR/test-codesign.pass. Nothing trusts it: it exists so that signing and its
# checks run on any machine. Prints the certificate's path.
#   make-test-cert.sh DIR
set -euo pipefail
dir="$1"
mkdir -p "$dir"
cert="$dir/test-codesign.pem"
if [ -f "$cert" ] && [ -f "$dir/test-codesign.pfx" ] && [ -f "$dir/test-codesign.pass" ] &&
   openssl x509 -in "$cert" -noout -checkend 86400 >/dev/null 2>&1; then
  echo "$cert"; exit 0
fi
umask 077
openssl rand -hex 16 | tr -d "\n" > "$dir/test-codesign.pass"
openssl req -x509 -newkey rsa:3072 -nodes -sha256 -days 30 \
  -subj "/CN=tarnwick TEST code signing (throw-away)/O=$("$(dirname "$0")/version.sh" COMPANY)" \
  -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" \
  -addext "basicConstraints=critical,CA:FALSE" \
  -keyout "$dir/test-codesign.key" -out "$cert" 2>/dev/null
openssl pkcs12 -export -inkey "$dir/test-codesign.key" -in "$cert" \
  -passout "file:$dir/test-codesign.pass" -out "$dir/test-codesign.pfx"
chmod 644 "$cert"
echo "$cert"
