#!/usr/bin/env python3
"""What references no one here wrote say about files, for the digest job's tests: MD5, SHA-1 and
SHA-256 from Python's hashlib, SM3 from `openssl dgst -sm3`, CRC-32 from zlib.crc32, CRC-32C and
the two CRC-64s from the CRC catalogue's parameters (a table made from the reflected polynomial,
checked against the catalogue's check values first), and the S3 multipart ETag (MD5 of the parts'
binary MD5s, then -N; of an empty file, its plain MD5).

    digests.py CHUNK [--fast] FILE...   one JSON object per file: { size, digests, chunks, s3Etag }
                                        (CHUNK 0: no chunks; --fast: without CRC-32C and CRC-64s,
                                        for files too large for a table in Python)
"""
import hashlib, json, subprocess, sys, zlib

def table(poly):
    t = []
    for b in range(256):
        c = b
        for _ in range(8):
            c = (c >> 1) ^ poly if c & 1 else c >> 1
        t.append(c)
    return t

CRCS = {  # name: (width, reflected polynomial, catalogue check value of b"123456789")
    "crc32c": (32, 0x82F63B78, 0xE3069283),
    "crc64ecma": (64, 0xC96C5795D7870F42, 0x995DC9BBDF1939FA),
    "crc64nvme": (64, 0x9A6C9329AC4BC9B5, 0xAE8B14860A799888),
}
TABLES = {name: table(poly) for name, (_, poly, _) in CRCS.items()}

def crc(name, data):
    width = CRCS[name][0]
    mask = (1 << width) - 1
    t = TABLES[name]
    c = mask
    for b in data:
        c = t[(c ^ b) & 0xFF] ^ (c >> 8)
    return (c ^ mask).to_bytes(width // 8, "big")

for name, (_, _, check) in CRCS.items():
    assert crc(name, b"123456789") == check.to_bytes(CRCS[name][0] // 8, "big"), name

def sm3(data):
    out = subprocess.run(["openssl", "dgst", "-sm3", "-binary"], input=data, capture_output=True, check=True).stdout
    return out

def digests(data, fast):
    d = {
        "md5": hashlib.md5(data).digest(),
        "sha1": hashlib.sha1(data).digest(),
        "sha256": hashlib.sha256(data).digest(),
        "sm3": sm3(data),
        "crc32": zlib.crc32(data).to_bytes(4, "big"),
    }
    if not fast:
        for name in CRCS:
            d[name] = crc(name, data)
    return d

def main():
    chunk = int(sys.argv[1])
    fast = "--fast" in sys.argv
    for path in [a for a in sys.argv[2:] if a != "--fast"]:
        with open(path, "rb") as f:
            data = f.read()
        out = {"size": len(data), "digests": {k: v.hex() for k, v in digests(data, fast).items()}}
        if chunk:
            parts = [data[i:i + chunk] for i in range(0, len(data), chunk)]
            out["chunks"] = []
            for i, p in enumerate(parts):
                out["chunks"].append({"index": i, "offset": i * chunk, "length": len(p),
                                      "digests": {k: v.hex() for k, v in digests(p, fast).items()}})
            md5s = b"".join(hashlib.md5(p).digest() for p in parts)
            # An empty object is never sent in parts: its ETag is its plain MD5.
            out["s3Etag"] = hashlib.md5(md5s).hexdigest() + "-" + str(len(parts)) if parts else hashlib.md5(data).hexdigest()
        print(json.dumps(out))

main()
