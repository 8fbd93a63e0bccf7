#!/usr/bin/env python3
"""Judges an archive the SDK wrote with what no one here wrote: Python's zipfile reads every entry
(CRC checked), decodes each name by its flag (UTF-8 with bit 11, else code page 936) and gives
what it found as JSON: [name, utf8 flag, SHA-256 of the contents or null for a folder] per entry,
the names of the files stored rather than deflated, and whether the archive ends in Zip64 end
records.

    judge.py ARCHIVE
"""
import hashlib, json, sys, zipfile

path = sys.argv[1]
entries, stored = [], []
with zipfile.ZipFile(path) as z:
    for info in z.infolist():
        utf8 = bool(info.flag_bits & 0x800)
        name = info.filename if utf8 else info.orig_filename.encode("cp437").decode("gbk")
        digest = None
        if not info.is_dir():
            h = hashlib.sha256()
            with z.open(info) as f:
                for block in iter(lambda: f.read(1 << 20), b""):
                    h.update(block)
            digest = h.hexdigest()
        entries.append([name, utf8, digest])
        if not info.is_dir() and info.compress_type == zipfile.ZIP_STORED:
            stored.append(name)
with open(path, "rb") as f:
    f.seek(0, 2)
    size = f.tell()
    f.seek(max(0, size - 22 - 20 - 56))
    tail = f.read()
json.dump({"entries": entries, "stored": stored, "zip64End": b"PK\x06\x06" in tail}, sys.stdout)
