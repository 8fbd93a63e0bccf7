#!/bin/sh
# Seeds for the certificate fuzz target: SM2, prime256v1 and RSA certificates, each as a text
# input (leading byte 0x00, then base64 with line breaks) and as a DER input (leading byte 0x01).
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
cd .. && rm -rf work
