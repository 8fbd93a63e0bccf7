#!/usr/bin/env python3
"""Archive helpers for the native zip tests, built on Python's zipfile.

  check ARCHIVE ORIGINAL NAME   verify a one-entry archive we wrote; prints "method=M flags=F"
  foreign OUTDIR                archives written by zipfile, each beside CASE.expected/ (the tree)
  hostile OUTDIR                archives that must be refused; OUTDIR/cases.txt lists
                                "CASE<TAB>expected status"
  seeds OUTDIR                  small archives for the fuzz corpus
  inflate-seeds OUTDIR          deflate streams (zlib) and Deflate64 streams (7z) for the inflater's
                                fuzz corpus, each behind the target's three option bytes
"""
import io
import os
import struct
import sys
import zipfile
import zlib

CHUNK = 1 << 20


def check(archive, original, name):
    with zipfile.ZipFile(archive) as z:
        infos = z.infolist()
        if [i.filename for i in infos] != [name]:
            sys.exit("names %r, expected %r" % ([i.filename for i in infos], [name]))
        bad = z.testzip()
        if bad is not None:
            sys.exit("testzip failed on %r" % bad)
        with z.open(infos[0]) as stored, open(original, "rb") as source:
            while True:
                a, b = stored.read(CHUNK), source.read(CHUNK)
                if a != b:
                    sys.exit("content differs")
                if not a:
                    break
        print("method=%d flags=%d" % (infos[0].compress_type, infos[0].flag_bits))


# ---- archives of other writers -----------------------------------------------------------------

def write_tree(root, files):
    for name, data in files.items():
        path = os.path.join(root, *name.split("/"))
        if name.endswith("/"):
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


class Unseekable(io.RawIOBase):
    """Forces zipfile to stream, i.e. to write data descriptors."""

    def __init__(self, f):
        self.f = f

    def writable(self):
        return True

    def write(self, b):
        return self.f.write(b)


TEXT = b"".join(b"line %d of some text that compresses\n" % i for i in range(2000))


def foreign(out):
    cases = {
        "py_stored": (zipfile.ZIP_STORED, {"a.txt": TEXT, "empty": b"", "sub/b.bin": os.urandom(5000)}),
        "py_deflated": (zipfile.ZIP_DEFLATED, {"a.txt": TEXT, "dir/": b"", "dir/deep/c.txt": TEXT[:999]}),
        "py_utf8_names": (zipfile.ZIP_DEFLATED, {"\u4e2d\u6587.txt": TEXT, "d\u00e9j\u00e0/\u00fc.bin": b"x" * 100}),
    }
    for case, (method, files) in cases.items():
        with zipfile.ZipFile(os.path.join(out, case + ".zip"), "w", method) as z:
            for name, data in files.items():
                z.writestr(name, data)
        write_tree(os.path.join(out, case + ".expected"), files)

    files = {"stream.txt": TEXT, "two.bin": os.urandom(3000)}
    with open(os.path.join(out, "py_data_descriptor.zip"), "wb") as raw:
        with zipfile.ZipFile(Unseekable(raw), "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in files.items():
                with z.open(name, "w") as entry:
                    entry.write(data)
    write_tree(os.path.join(out, "py_data_descriptor.expected"), files)

    files = {"big.txt": TEXT}
    with zipfile.ZipFile(os.path.join(out, "py_zip64.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        with z.open("big.txt", "w", force_zip64=True) as entry:
            entry.write(TEXT)
    write_tree(os.path.join(out, "py_zip64.expected"), files)

    # Long, highly repetitive entries: zlib still holds output when their input is used up.
    files = {"sheet%d.xml" % n: bytes([65 + n % 26]) * n for n in range(65537, 65937, 20)}
    with zipfile.ZipFile(os.path.join(out, "py_repetitive.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in files.items():
            z.writestr(name, data)
    write_tree(os.path.join(out, "py_repetitive.expected"), files)

    # A name in code page 936 without the UTF-8 flag, as older Windows tools write it.
    gbk = "\u4e2d\u6587.txt".encode("gbk")
    placeholder = b"X" * (len(gbk) - 4) + b".txt"
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(placeholder.decode(), TEXT)
    with open(os.path.join(out, "py_cp936_name.zip"), "wb") as f:
        f.write(buf.getvalue().replace(placeholder, gbk))
    write_tree(os.path.join(out, "py_cp936_name.expected"), {"\u4e2d\u6587.txt": TEXT})


# ---- hostile archives ---------------------------------------------------------------------------

def archive_bytes(entries, method=zipfile.ZIP_DEFLATED):
    """entries: list of (ZipInfo or name, data)."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", method) as z:
        for info, data in entries:
            z.writestr(info, data)
    return bytearray(buf.getvalue())


def central_headers(data):
    pos = data.find(b"PK\x01\x02")
    while pos >= 0:
        yield pos
        n, m, k = struct.unpack_from("<HHH", data, pos + 28)
        pos = data.find(b"PK\x01\x02", pos + 46 + n + m + k)


def patch_entry(data, index, crc=None, size=None, flags=None):
    """Changes CRC, uncompressed size or flags of entry `index` in both its headers."""
    cd = list(central_headers(data))[index]
    local = struct.unpack_from("<I", data, cd + 42)[0]
    for pos, crc_at, size_at in ((cd, 16, 24), (local, 14, 22)):
        if flags is not None:
            struct.pack_into("<H", data, pos + crc_at - 8, flags)
        if crc is not None:
            struct.pack_into("<I", data, pos + crc_at, crc)
        if size is not None:
            struct.pack_into("<I", data, pos + size_at, size)
    return data


def info(name, **fields):
    zi = zipfile.ZipInfo(name, date_time=(2024, 5, 1, 12, 0, 0))
    zi.compress_type = zipfile.ZIP_DEFLATED
    for key, value in fields.items():
        setattr(zi, key, value)
    return zi


def zero_stream(mebibytes):
    """Raw deflate of `mebibytes` MiB of zeros, built from one flushed chunk repeated."""
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    chunk = c.compress(bytes(CHUNK)) + c.flush(zlib.Z_FULL_FLUSH)
    return chunk * mebibytes + b"\x03\x00"


def raw_archive(entries):
    """entries: list of (name bytes, compressed data, declared size, crc); deflated. Entries
    sharing the same data object share one copy of it in the file."""
    out = bytearray()
    offsets = {}
    central = bytearray()
    for name, data, size, crc in entries:
        if id(data) not in offsets:
            offsets[id(data)] = len(out)
            out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, 0, 0x5821, crc, len(data), size, len(name), 0)
            out += name + data
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 8, 0, 0x5821, crc, len(data), size,
                               len(name), 0, 0, 0, 0, 0, offsets[id(data)])
        central += name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central), len(out), 0)
    return bytes(out + central + end)


def hostile(out):
    ok_entry = (info("good.txt"), TEXT)
    cases = {}

    def unsafe(case, name):
        cases[case] = ("unsafe name", archive_bytes([ok_entry, (info(name), b"payload")]))

    for case, name in [
        ("parent", "../evil"), ("abs_slash", "/abs"), ("abs_backslash", "\\abs"), ("drive_relative", "C:x"),
        ("drive_absolute", "C:\\x"), ("backslash_parent", "a\\..\\..\\b"), ("slash_parent", "a/../../b"),
        ("inner_parent", "a/../b"), ("unc", "\\\\server\\share\\x"), ("stream", "file.txt:hidden"),
        ("dot_component", "./a"), ("empty_component", "a//b"), ("device_con", "CON"),
        ("device_nul_ext", "sub/nul.txt"), ("device_com1", "COM1"), ("device_lpt9", "lpt9.log"),
        ("trailing_dot", "name."), ("trailing_space", "dir /x"), ("control_char", "a\x01b"),
        ("question_mark", "what?.txt"),
    ]:
        unsafe(case, name)

    bad_utf8 = archive_bytes([(info("AB.txt"), b"x")])
    cases["invalid_utf8"] = ("unsafe name", bytearray(bytes(bad_utf8).replace(b"AB.txt", b"\xff\xfe.txt")))
    for pos in central_headers(cases["invalid_utf8"][1]):
        struct.pack_into("<H", cases["invalid_utf8"][1], pos + 8, 0x800)

    cases["symlink"] = ("unsupported", archive_bytes(
        [ok_entry, (info("link", create_system=3, external_attr=(0o120777 << 16)), b"../../etc/passwd")]))
    cases["encrypted"] = ("unsupported", patch_entry(archive_bytes([ok_entry, (info("secret"), b"data")]), 1, flags=1))
    cases["bzip2_method"] = ("unsupported", archive_bytes([ok_entry, (info("b", compress_type=zipfile.ZIP_BZIP2), TEXT)]))

    # Failures only found while inflating: the first entry has been written by then.
    cases["bad_crc"] = ("CRC mismatch", patch_entry(archive_bytes([ok_entry, (info("second"), TEXT)]), 1,
                                                    crc=zlib.crc32(TEXT) ^ 1))
    cases["size_lie_smaller"] = ("size mismatch", patch_entry(archive_bytes([ok_entry, (info("s"), TEXT)]), 1,
                                                              size=len(TEXT) - 1))
    cases["size_lie_larger"] = ("size mismatch", patch_entry(archive_bytes([ok_entry, (info("s"), TEXT)]), 1,
                                                             size=len(TEXT) + 1))
    stored = archive_bytes([(info("good.txt", compress_type=zipfile.ZIP_STORED), TEXT)], zipfile.ZIP_STORED)
    cases["stored_size_lie"] = ("size mismatch", patch_entry(stored, 0, size=len(TEXT) // 2))

    cases["too_many_entries"] = ("too many entries", archive_bytes(
        [(info("e%d" % i, compress_type=zipfile.ZIP_STORED), b"") for i in range(65537)], zipfile.ZIP_STORED))

    bomb = zero_stream(1100)  # 1100 MiB of zeros, about 1 MiB compressed
    cases["bomb_honest"] = ("too large", raw_archive([(b"zeros", bomb, 1100 << 20, 0)]))
    cases["bomb_lying"] = ("size mismatch", raw_archive([(b"zeros", bomb, 1 << 20, 0)]))
    third, third_crc = zero_stream(400), zlib.crc32(bytes(400 << 20))
    cases["bomb_three_entries"] = ("too large", raw_archive(
        [(b"z%d" % i, bytearray(third), 400 << 20, third_crc) for i in range(3)]))
    # Entries sharing one local header and its data: the names cannot all match it.
    cases["overlapping_entries"] = ("not an archive", raw_archive(
        [(b"z%d" % i, third, 400 << 20, third_crc) for i in range(3)]))

    whole = archive_bytes([ok_entry, (info("second"), TEXT)])
    cases["truncated_half"] = ("not an archive", whole[: len(whole) // 2])
    cases["truncated_end_record"] = ("not an archive", whole[:-1])
    cases["truncated_stream"] = ("corrupt entry data", raw_archive([(b"cut", zlib.compress(TEXT)[2:40], len(TEXT), 0)]))
    cases["name_mismatch"] = ("not an archive", bytearray(bytes(archive_bytes([(info("aaaa"), TEXT)])).replace(
        b"aaaa", b"bbbb", 1)))
    cases["inflate_garbage"] = ("corrupt entry data", raw_archive([(b"junk", b"\xff" * 64, 10, 0)]))

    with open(os.path.join(out, "cases.txt"), "w") as listing:
        for case, (status, data) in cases.items():
            with open(os.path.join(out, case + ".zip"), "wb") as f:
                f.write(data)
            listing.write("%s\t%s\n" % (case, status))


def seeds(out):
    samples = {
        "deflated": archive_bytes([(info("a/b.txt"), TEXT[:300]), (info("dir/"), b"")]),
        "stored": archive_bytes([(info("s", compress_type=zipfile.ZIP_STORED), b"hello")], zipfile.ZIP_STORED),
        "utf8": archive_bytes([(info("\u4e2d.txt"), b"x" * 50)]),
        "empty": archive_bytes([]),
    }
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        with z.open("z64", "w", force_zip64=True) as entry:
            entry.write(TEXT[:500])
    samples["zip64"] = buf.getvalue()
    for name, data in samples.items():
        with open(os.path.join(out, name + ".zip"), "wb") as f:
            f.write(data)


def inflate_seeds(out):
    import subprocess
    import tempfile
    samples = {}
    for level in (1, 6, 9):
        z = zlib.compressobj(level, zlib.DEFLATED, -15)
        samples["deflate%d" % level] = b"\x00\x40\xff" + z.compress(TEXT[:3000]) + z.flush()
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, "t"), "wb") as f:
            f.write(TEXT[:20000] * 3)
        subprocess.run(["7z", "a", "-tzip", "-mm=Deflate64", "t.zip", "t"], cwd=work, check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(work, "t.zip"), "rb") as f:
            data = f.read()
        name_length, extra_length = struct.unpack("<HH", data[26:30])
        size = struct.unpack("<I", data[18:22])[0]
        start = 30 + name_length + extra_length
        samples["deflate64"] = b"\x01\x40\xff" + data[start:start + size]
    for name, data in samples.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    if command == "check":
        check(*args)
    else:
        os.makedirs(args[0], exist_ok=True)
        {"foreign": foreign, "hostile": hostile, "seeds": seeds, "inflate-seeds": inflate_seeds}[command](args[0])
