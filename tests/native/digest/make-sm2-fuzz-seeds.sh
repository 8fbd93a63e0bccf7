#!/bin/sh
# Seeds for the SM2 signature fuzz target: an OpenSSL signature (DER) with its key's SPKI, and the
# same signature with the key as a bare point, each with the split byte between them.
set -e
dir=$1
mkdir -p "$dir" "$dir/work"
cd "$dir/work"
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out sm2.key 2>/dev/null
openssl pkey -in sm2.key -pubout -outform der -out pub.der
printf 'message digest' > msg
openssl pkeyutl -sign -rawin -digest sm3 -inkey sm2.key -in msg -out sig.der
python3 - <<'PY'
sig = open("sig.der", "rb").read()
pub = open("pub.der", "rb").read()
def seed(name, flags, a, b):
    rest = a + b
    size = len(rest) + 2  # the target's sigSize is 1 + (size - 1) * cut / 256
    cut = next(c for c in range(256) if 1 + (size - 1) * c // 256 >= len(a))
    open("../seed-" + name, "wb").write(bytes([flags, cut]) + rest)
seed("der-spki", 0, sig, pub)
seed("der-point", 2, sig, pub[-65:])
seed("raw-point", 3, bytes(64), pub[-65:])
PY
