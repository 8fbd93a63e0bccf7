#!/usr/bin/env python3
"""The shared corpus of the web suites and the cross-check, with what no one here wrote says about
it: digests from sha256sum and `openssl dgst -sm3`, SM2 certificates from the openssl command and
the SM3 of their Z value (from the curve's published parameters) followed by the data.

    fixtures.py DIR    writes the files and DIR/expected.json
"""
import json, os, random, subprocess, sys, zipfile

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
os.chdir(out)
rng = random.Random(12)

def write(name, data):
    with open(name, "wb") as f:
        f.write(data)

# Several chunks of 2 MiB and an odd tail: the streaming path, half random, half text.
write("sample.bin", bytes(rng.getrandbits(8) for _ in range(1 << 20)) * 3 + b"digest me\n" * 80000 + b"tail")
write("empty.bin", b"")
write("hello.txt", b"hello")
write("upper.TXT", b"line one\r\n\tline two\x00\r\n" * 3)
write("bell.txt", b"text with a bell \x07 inside")
write("forty.bin", bytes(range(40)))
write("fortyone.bin", bytes((i * 13) & 255 for i in range(41)))
write("twenty.bin", b"0123456789ABCDEFGHIJ")
write("nul.bin", b"a device name on Windows")
write("noise.bin", bytes(rng.getrandbits(8) for _ in range(70000)))
write("\u8868\u683c.csv", "\u540d\u79f0,\u6570\u91cf\r\n".encode("utf-8") * 50)
with zipfile.ZipFile("book.xlsx", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml", "<Types/>" * 20)
    z.writestr("xl/workbook.xml", "<workbook/>" * 20)
with zipfile.ZipFile("letter.docx", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml", "<Types/>" * 20)
    z.writestr("word/document.xml", "<document/>" * 20)
with zipfile.ZipFile("evil.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("fine.txt", "fine " * 20)
    z.writestr("../escaped.txt", "escaped " * 20)
write("head40.zip", b"PK\x03\x04" + bytes(36))

def run(*cmd, data=None):
    return subprocess.run(cmd, input=data, capture_output=True, check=True).stdout

run("openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:SM2", "-out", "sm2.key")
run("openssl", "req", "-x509", "-new", "-key", "sm2.key", "-sm3", "-subj", "/CN=page", "-days", "1", "-out", "sm2.pem")
run("openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-out", "p256.key")
run("openssl", "req", "-x509", "-new", "-key", "p256.key", "-sha256", "-subj", "/CN=page", "-days", "1", "-out", "p256.pem")
point = run("openssl", "pkey", "-in", "sm2.key", "-pubout", "-outform", "DER")[-65:]
assert point[0] == 4

def sm3(data):
    return run("openssl", "dgst", "-sm3", "-binary", data=data)

def pem_body(name):
    return "".join(l for l in open(name).read().split("\n") if l and not l.startswith("-----"))

a = bytes.fromhex("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC")
b = bytes.fromhex("28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93")
xg = bytes.fromhex("32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7")
yg = bytes.fromhex("BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0")
ident = b"1234567812345678"
z = sm3((len(ident) * 8).to_bytes(2, "big") + ident + a + b + xg + yg + point[1:])

files = sorted(n for n in os.listdir(".") if not n.endswith((".key", ".pem", ".json")))
expected = {"files": files, "cert": pem_body("sm2.pem"), "p256cert": pem_body("p256.pem"),
            "sha256": {}, "sm3": {}, "sm3z": {}, "size": {}}
for name in files:
    data = open(name, "rb").read()
    expected["size"][name] = len(data)
    expected["sha256"][name] = run("sha256sum", name).split()[0].decode().upper()
    expected["sm3"][name] = run("openssl", "dgst", "-sm3", "-r", name).split()[0].decode().upper()
    expected["sm3z"][name] = sm3(z + data).hex().upper()
mem = bytes(i & 255 for i in range(1000))
expected["memSha256"] = run("sha256sum", data=mem).split()[0].decode().upper()
expected["memSm3z"] = sm3(z + mem).hex().upper()
json.dump(expected, open("expected.json", "w"), indent=1)
