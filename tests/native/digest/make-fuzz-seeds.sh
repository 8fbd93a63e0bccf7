#!/bin/sh
# Seeds for the certificate fuzz target: SM2, prime256v1 and RSA certificates, each as a text
# input (leading byte 0x00, then base64 with line breaks) and as a DER input (leading byte 0x01);
# then shapes libksba once lost memory on or warned about (DER inputs): [UNIVERSAL 0] elements,
# alone or after the SM2 certificate's signature, an unused bit in the SM2 key, an RSA modulus
# whose length runs past its key.
set -e
dir=$1
mkdir -p "$dir" "$dir/work"
cd "$dir/work"
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out sm2.key 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out p256.key 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out rsa.key 2>/dev/null
openssl req -x509 -new -key sm2.key -sm3 -subj /CN=t -days 1 -out sm2.pem
openssl req -x509 -new -key p256.key -sha256 -subj /CN=t -days 1 -out p256.pem
openssl req -x509 -new -key rsa.key -sha256 -subj /CN=t -days 1 -out rsa.pem
for n in sm2 p256 rsa; do
  { printf '\000'; grep -v -- ----- $n.pem; } > "../seed-$n-text"
  { printf '\001'; openssl x509 -in $n.pem -outform der; } > "../seed-$n-der"
done
printf '\001\060\000\000\001\202' > ../seed-shape-zero-after
printf '\001\060\005\000\003\063\212\042' > ../seed-shape-zero-inside
python3 - <<'PY'
der = open("../seed-sm2-der", "rb").read()[1:]
assert der[:2] == b"\x30\x82"
inner = der[4:] + b"\x00\x01\x82"
open("../seed-shape-after-signature", "wb").write(b"\x01\x30\x82" + len(inner).to_bytes(2, "big") + inner)
at = der.index(b"\x03\x42\x00\x04")
open("../seed-shape-unused-bit", "wb").write(b"\x01" + der[:at + 2] + b"\x01" + der[at + 3:])
rsa = open("../seed-rsa-der", "rb").read()
at = rsa.index(b"\x02\x81\x81\x00")
open("../seed-shape-rsa-modulus", "wb").write(rsa[:at + 1] + b"\x84" + rsa[at + 2:])
PY
cd .. && rm -rf work
