# Sample files for the digest suite, with their digests computed by OpenSSL and coreutils, an
# SM2 certificate and the SM3 of its Z value followed by the data (computed independently of
# the engine from the curve's published parameters), and copies of the control beside a
# missing, an incomplete and a failing crypto engine.
set -euo pipefail
fixture="$1"; bin="$2"
cd "$fixture"
python3 -c 'import os,sys; sys.stdout.buffer.write(bytes(range(256)) * 3 + b"digest me\n" * 37)' > sample.bin
: > empty.bin
python3 -c 'import sys; print(",".join(str(b) for b in open("sample.bin","rb").read()))' > sample.bytes

openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out sm2.key 2>/dev/null
openssl req -x509 -new -key sm2.key -sm3 -subj /CN=page -days 1 -out sm2.pem 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out p256.key 2>/dev/null
openssl req -x509 -new -key p256.key -sha256 -subj /CN=page -days 1 -out p256.pem 2>/dev/null
openssl pkey -in sm2.key -pubout -outform DER -out sm2.pub.der 2>/dev/null

python3 - <<'PY'
import subprocess
def sm3(data):
    return subprocess.run(["openssl", "dgst", "-sm3", "-binary"], input=data,
                          capture_output=True, check=True).stdout
def sha256(data):
    return subprocess.run(["sha256sum"], input=data, capture_output=True, check=True).stdout.split()[0].decode().upper()
a  = bytes.fromhex("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC")
b  = bytes.fromhex("28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93")
xg = bytes.fromhex("32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7")
yg = bytes.fromhex("BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0")
point = open("sm2.pub.der", "rb").read()[-65:]
assert point[0] == 4
ident = b"1234567812345678"
z = sm3((len(ident) * 8).to_bytes(2, "big") + ident + a + b + xg + yg + point[1:])
data = open("sample.bin", "rb").read()
def pem_body(name):
    lines = open(name).read().strip().splitlines()
    return "\r\n".join(l for l in lines if not l.startswith("-----"))
with open("expected.txt", "w") as out:
    out.write("sha256=%s\n" % sha256(data))
    out.write("sm3=%s\n" % sm3(data).hex().upper())
    out.write("sm3z=%s\n" % sm3(z + data).hex().upper())
    out.write("sm3empty=%s\n" % sm3(b"").hex().upper())
    out.write("sm3zempty=%s\n" % sm3(z).hex().upper())
    out.write("cert=%s\n" % pem_body("sm2.pem").replace("\r\n", ""))
    out.write("certlines=%s\n" % pem_body("sm2.pem").replace("\r\n", "|"))
    out.write("p256cert=%s\n" % pem_body("p256.pem").replace("\r\n", ""))
PY

# A sparse file past 4 GiB: the digests stream through any size.
truncate -s 4294967297 huge.bin
echo "hugesha256=$(openssl dgst -sha256 -r huge.bin | cut -d' ' -f1 | tr a-f A-F)" >> expected.txt
echo "hugesm3=$(openssl dgst -sm3 -r huge.bin | cut -d' ' -f1 | tr a-f A-F)" >> expected.txt

for variant in noengine noexport initfail; do
  mkdir "$variant"
  cp "$bin/tarnwick.OCX" "$bin/ziptool.dll" "$variant/"
done
# The broken engines of the build's own architecture (OVALON.x86.dll or OVALON.x64.dll).
cp "$bin/../testdata/engine-noexport/"OVALON.x*.dll noexport/
cp "$bin/../testdata/engine-initfail/"OVALON.x*.dll initfail/
