#!/usr/bin/env python3
"""Archives to read, made at test time by tools no one here wrote (Info-ZIP zip, 7z, Python's
zipfile) and, for what no tool writes on purpose, built byte by byte below; with what each should
give, checked here against Debian's unzip, iconv and Python's zipfile where they can say.

    unzip-corpus.py DIR [--big]    writes DIR/*.zip and DIR/expected.json
                                   (--big: a Zip64 archive of an entry past 4 GiB too; slow)

expected.json: { "archives": { FILE: {
    "what": why it is here,
    "code": null (opens, tests and extracts cleanly) or the failure's code; "at": where it shows
            first: "open", "test" (an entry's read and check: its "sha256" is null) or "extract"
            (refused before anything is written),
    "unzipT": Debian unzip -t's exit status over it,
    "comment": the archive's comment (decoded) or absent,
    "entries": [ { "name", "rawName" (hex), "utf8Flag", "unicodePath" (hex of 0x7075's data or null),
                   "nameEncoding", "directory", "sha256" (of the contents, null where unreadable),
                   "size", "method", "encrypted", "symlink", "stamped" (the extended timestamp's
                   or NTFS field's modified time, seconds since 1970, or null),
                   "unsafe": null, a reason, or a list of the reasons allowed },
                 ... ] } } }
"entries" is absent where the archive does not open.
"""
import hashlib, json, os, shutil, struct, subprocess, sys, zipfile, zlib

out = os.path.abspath(sys.argv[1])
big = "--big" in sys.argv[2:]
os.makedirs(out, exist_ok=True)
src = os.path.join(out, "src")
shutil.rmtree(src, ignore_errors=True)
os.makedirs(src)
archives = {}
C = dict(os.environ, LC_ALL="C")
UTF8 = dict(os.environ, LC_ALL="C.UTF-8")


def sha(data):
    return hashlib.sha256(data).hexdigest()


def run(args, cwd, env=UTF8, stdin=None):
    subprocess.run(args, cwd=cwd, env=env, check=True, stdin=stdin, stdout=subprocess.DEVNULL)


def unzip_t(path):
    return subprocess.run(["unzip", "-tqq", path], env=UTF8, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode


def put(root, name, data):
    """A file under root whose name is the given bytes (GBK on disk where so written)."""
    path = os.path.join(os.fsencode(root), name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


# ---- reading back what a tool wrote -------------------------------------------------------------
def extra_field(extra, tag):
    i = 0
    while i + 4 <= len(extra):
        t, n = struct.unpack_from("<HH", extra, i)
        if t == tag:
            return extra[i + 4:i + 4 + n]
        i += 4 + n
    return None


def stamped(extra):
    """The modified time (seconds since 1970, UTC) of an extended timestamp (0x5455) or NTFS (0x000a)
    field, or None where neither is there."""
    ut = extra_field(extra, 0x5455)
    if ut is not None and len(ut) >= 5 and ut[0] & 1:
        return struct.unpack_from("<i", ut, 1)[0]
    nt = extra_field(extra, 0x000A)
    if nt is not None and len(nt) >= 32 and struct.unpack_from("<HH", nt, 4) == (1, 24):
        return (struct.unpack_from("<Q", nt, 8)[0] - 116444736000000000) // 10000000
    return None


def raw_name(info):
    # zipfile decodes a name without the flag as cp437, which maps all 256 bytes: this undoes it.
    return info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")


def expected_name(raw, flag, upath):
    """The name Windows shows, by the rule decodeName follows, and which rule gave it."""
    if flag:
        return raw.decode("utf-8"), "utf-8"
    if upath is not None and len(upath) >= 5 and upath[0] == 1 and struct.unpack_from("<I", upath, 1)[0] == zlib.crc32(raw):
        return upath[5:].decode("utf-8"), "unicode-path"
    if all(b < 0x80 for b in raw):
        return raw.decode("ascii"), "ascii"
    try:
        return raw.decode("utf-8"), "utf-8-guessed"
    except UnicodeDecodeError:
        return raw.decode("gb18030"), "gb18030"


def describe(path, contents=True):
    """Each entry as Python's zipfile sees it, with the name decodeName must give."""
    entries = []
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            raw = raw_name(info)
            flag = bool(info.flag_bits & 0x800)
            upath = extra_field(info.extra, 0x7075)
            name, how = expected_name(raw, flag, upath)
            encrypted = bool(info.flag_bits & 1)
            mode = info.external_attr >> 16
            data = None
            if contents and not encrypted and not info.is_dir() and info.compress_type in (0, 8, 9):
                if info.compress_type == 9:
                    data = subprocess.run(["7z", "x", "-so", path, raw_name(info)], capture_output=True, check=True).stdout
                else:
                    try:
                        data = z.read(info)
                    except (zipfile.BadZipFile, zlib.error):
                        data = None  # a bad CRC, data that do not inflate: the entry has no contents to give
            entries.append({
                "name": name, "rawName": raw.hex(), "utf8Flag": flag,
                "unicodePath": upath.hex() if upath is not None else None, "nameEncoding": how,
                "directory": info.is_dir(), "sha256": sha(data) if data is not None else None,
                "size": info.file_size, "method": info.compress_type, "encrypted": encrypted,
                "symlink": (mode & 0o170000) == 0o120000, "unsafe": None, "stamped": stamped(info.extra),
            })
    return entries


def add(file, what, code=None, at=None, entries=None, **more):
    path = os.path.join(out, file)
    record = {"what": what, "code": code, "at": at, "unzipT": unzip_t(path)}
    if entries is None and code is None or at not in (None, "open"):
        entries = describe(path)
    if entries is not None:
        record["entries"] = entries
    record.update(more)
    archives[file] = record
    return record


def names_from_unzip(path):
    """The names Debian's unzip lists under a UTF-8 locale (it honours the flag and 0x7075)."""
    text = subprocess.run(["unzip", "-Z1", path], env=UTF8, capture_output=True, check=True).stdout
    return text.decode("utf-8", "surrogateescape").splitlines()


def names_from_python(path, encoding=None):
    with zipfile.ZipFile(path, metadata_encoding=encoding) as z:
        return z.namelist()


# ---- byte by byte ---------------------------------------------------------------------------------
DOS_TIME = (7 << 11) | (8 << 5) | 5            # 07:08:10
DOS_DATE = ((2024 - 1980) << 9) | (5 << 5) | 6  # 2024-05-06


def deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def entry(name, data=b"", method=8, flag=0, extra=b"", comment=b"", mode=None, **lie):
    """One entry to build; lie: fields written differently from the truth (local_name, crc, size,
    csize, local_crc, local_method)."""
    if isinstance(name, str):
        name = name.encode("utf-8")
    packed = deflate(data) if method == 8 else data
    return dict(name=name, data=data, packed=packed, method=method, flag=flag, extra=extra,
                comment=comment, mode=mode, lie=lie)


def local_header(e):
    lie = e["lie"]
    crc = lie.get("local_crc", lie.get("crc", zlib.crc32(e["data"])))
    name = lie.get("local_name", e["name"])
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, e["flag"], lie.get("local_method", e["method"]), DOS_TIME, DOS_DATE,
                       crc, lie.get("csize", len(e["packed"])), lie.get("size", len(e["data"])),
                       len(name), len(e["extra"])) + name + e["extra"]


def central_header(e, offset):
    lie = e["lie"]
    made_by, attr = (0x0314, e["mode"] << 16) if e["mode"] is not None else (20, 0x10 if e["name"].endswith(b"/") else 0)
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, made_by, 20, e["flag"], e["method"], DOS_TIME, DOS_DATE,
                       lie.get("crc", zlib.crc32(e["data"])), lie.get("csize", len(e["packed"])), lie.get("size", len(e["data"])),
                       len(e["name"]), len(e["extra"]), len(e["comment"]), 0, 0, attr, offset) + e["name"] + e["extra"] + e["comment"]


def end_record(count, cd_size, cd_offset, comment=b"", total=None):
    return struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count if total is None else total, cd_size, cd_offset,
                       len(comment)) + comment


def build(file, entries, comment=b"", prepend=b"", **end):
    body = bytearray(prepend)
    offsets = []
    for e in entries:
        offsets.append(len(body) - len(prepend) if end.get("plain_prepend") else len(body))
        body += local_header(e) + e["packed"]
    cd = b"".join(central_header(e, o) for e, o in zip(entries, offsets))
    cd_offset = len(body) - (len(prepend) if end.get("plain_prepend") else 0)
    body += cd
    body += end_record(len(entries), end.get("cd_size", len(cd)), end.get("cd_offset", cd_offset), comment, end.get("total"))
    with open(os.path.join(out, file), "wb") as f:
        f.write(body)
    return bytes(body)


def unicode_path(raw, utf8, good=True):
    crc = zlib.crc32(raw) ^ (0 if good else 0x5A5A)
    data = b"\x01" + struct.pack("<I", crc) + utf8.encode("utf-8")
    return struct.pack("<HH", 0x7075, len(data)) + data


# ---- names as Chinese Windows, macOS and Python write them ---------------------------------------
TEXT = "\u540d\u79f0,\u6570\u91cf\r\n".encode("gbk") * 40
GBK_NAMES = ["\u4e2d\u6587\u540d.txt", "\u62a5\u544a/\u4e8c\u3007\u4e8c\u516d\u5e74\u5ea6\u6c47\u603b.csv",
             "\u626b\u63cf\u4ef6/\u8eab\u4efd\u8bc1\uff08\u6b63\u9762\uff09.jpg", "readme.txt"]
gbk_tree = os.path.join(src, "gbk")
for i, n in enumerate(GBK_NAMES):
    put(gbk_tree, n.encode("gbk"), TEXT * (i + 1) + n.encode("gbk"))

run(["zip", "-q", "-r", os.path.join(out, "gbk-infozip.zip"), "."], gbk_tree, env=C)
run(["7z", "a", "-tzip", "-mcp=936", os.path.join(out, "gbk-7z.zip"), "."], gbk_tree, env=C)
for f in ("gbk-infozip.zip", "gbk-7z.zip"):
    r = add(f, "names in code page 936 without the flag, as Chinese Windows tools write them")
    # Python told the code page, and iconv, agree with the rule; and every non-ASCII one is one of ours.
    assert sorted(e["name"] for e in r["entries"]) == sorted(names_from_python(os.path.join(out, f), "cp936")), f
    for e in r["entries"]:
        raw = bytes.fromhex(e["rawName"])
        assert subprocess.run(["iconv", "-f", "CP936", "-t", "UTF-8"], input=raw, capture_output=True, check=True).stdout.decode() == e["name"]
        if e["nameEncoding"] != "ascii":
            assert e["nameEncoding"] == "gb18030" and any(e["name"].rstrip("/").endswith(n.split("/")[0]) or e["name"].endswith(n) for n in GBK_NAMES), e
    assert sum(e["nameEncoding"] == "gb18030" for e in r["entries"]) >= 5

with zipfile.ZipFile(os.path.join(out, "python-utf8.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    z.comment = "\u5f52\u6863\u8bf4\u660e archive comment".encode("utf-8")
    z.writestr("\u6587\u6863/\u62a5\u544a.txt", TEXT)
    info = zipfile.ZipInfo("caf\u00e9 \U0001F600.txt", (2024, 5, 6, 7, 8, 10))
    info.comment = "\u6ce8\u91ca".encode("utf-8")
    z.writestr(info, b"emoji")
    z.writestr("plain.txt", b"ascii")
r = add("python-utf8.zip", "Python's zipfile: the flag set on every non-ASCII name",
        comment="\u5f52\u6863\u8bf4\u660e archive comment", commentFlag=False)
assert [e["name"] for e in r["entries"]] == names_from_python(os.path.join(out, "python-utf8.zip")) == names_from_unzip(os.path.join(out, "python-utf8.zip"))

# macOS's Archive Utility: UTF-8 in decomposed form, no flag.
MAC = ["Re\u0301sume\u0301.txt", "\u8d44\u6599/\u65b0\u5efa\u6587\u4ef6\u5939/", "\u8d44\u6599/\u8bf4\u660e.md"]
build("macos.zip", [entry(n, b"" if n.endswith("/") else n.encode() * 20) for n in MAC])
r = add("macos.zip", "UTF-8 names without the flag, as macOS writes them")
assert [e["name"] for e in r["entries"]] == MAC == names_from_python(os.path.join(out, "macos.zip"), "utf-8")

MIXED = [("\u4e2d\u6587.txt", "gbk", 0), ("\u65e5\u672c\u8a9e.txt", "utf-8", 0), ("\u00fcber.txt", "utf-8", 0x800),
         ("\u6c47\u603b/\u8868.csv", "gbk", 0), ("ascii.txt", "ascii", 0)]
build("mixed.zip", [entry(n.encode(enc), n.encode() * 9, flag=flag) for n, enc, flag in MIXED])
r = add("mixed.zip", "one archive, names of both kinds: no one setting for the archive reads it")
assert [e["name"] for e in r["entries"]] == [n for n, _, _ in MIXED]
assert [e["nameEncoding"] for e in r["entries"]] == ["gb18030", "utf-8-guessed", "utf-8", "gb18030", "ascii"]

# The Unicode Path field: the stored name in code page 936 (what an old reader shows), the field
# with the name in UTF-8; with its CRC right it wins, with it wrong it is ignored.
UP = "\u7edf\u8ba1\u8868.xlsx"
raw_up = UP.encode("gbk")
build("unicode-path.zip", [
    entry(raw_up, b"right crc" * 30, extra=unicode_path(raw_up, "\u65b0\u540d\u5b57.xlsx")),
    entry(b"plain/" + raw_up, b"wrong crc" * 30, extra=unicode_path(b"plain/" + raw_up, "ignored.xlsx", good=False)),
    entry(b"Bad Crc Ascii.txt", b"ascii stored name, field ignored", extra=unicode_path(b"Bad Crc Ascii.txt", "\u5047.txt", good=False)),
])
r = add("unicode-path.zip", "Info-ZIP's Unicode Path field (0x7075): used when its CRC matches the stored name")
assert [(e["name"], e["nameEncoding"]) for e in r["entries"]] == [
    ("\u65b0\u540d\u5b57.xlsx", "unicode-path"), ("plain/" + UP, "gb18030"), ("Bad Crc Ascii.txt", "ascii")]
assert names_from_unzip(os.path.join(out, "unicode-path.zip"))[0] == "\u65b0\u540d\u5b57.xlsx"
assert names_from_unzip(os.path.join(out, "unicode-path.zip"))[2] == "Bad Crc Ascii.txt"

# Comments: the archive's comment in code page 936 without a flag anywhere.
build("gbk-comment.zip", [entry("a.txt", b"a", comment="\u6761\u76ee\u6ce8\u91ca".encode("gbk"))],
      comment="\u538b\u7f29\u5305\u8bf4\u660e".encode("gbk"))
add("gbk-comment.zip", "comments in code page 936", comment="\u538b\u7f29\u5305\u8bf4\u660e",
    entryComments=["\u6761\u76ee\u6ce8\u91ca"])

# ---- methods and layouts -----------------------------------------------------------------------
lines = "".join(f"line {i} of a text that deflates well\n" for i in range(60000)).encode()
with open(os.path.join(src, "text.txt"), "wb") as f:
    f.write(lines)
run(["7z", "a", "-tzip", "-mm=Deflate64", os.path.join(out, "deflate64.zip"), "text.txt"], src)
r = add("deflate64.zip", "Deflate64 (method 9), as 7z writes it")
assert r["entries"][0]["method"] == 9 and r["entries"][0]["sha256"] == sha(lines)

with open(os.path.join(out, "streamed.zip"), "wb") as f:
    subprocess.run("zip -q - text.txt | cat", shell=True, cwd=src, check=True, stdout=f)
r = add("streamed.zip", "written to a pipe: sizes and CRC in data descriptors after the data")
with zipfile.ZipFile(os.path.join(out, "streamed.zip")) as z:
    assert z.infolist()[0].flag_bits & 8

run(["zip", "-q", "-P", "secret", os.path.join(out, "encrypted.zip"), "text.txt"], src)
add("encrypted.zip", "an entry encrypted with a password (zip -P)", code="encrypted", at="test")

nested_inner = os.path.join(src, "inner.zip")
with zipfile.ZipFile(nested_inner, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("deep.txt", b"0" * 100000)
shutil.copy(nested_inner, os.path.join(src, "inner2.zip"))
run(["zip", "-q", os.path.join(out, "nested.zip"), "inner.zip", "inner2.zip"], src)
add("nested.zip", "archives inside an archive (42-style): entries like any other, not opened")

os.symlink("text.txt", os.path.join(src, "link"))
run(["zip", "-q", "-y", os.path.join(out, "symlink.zip"), "link", "text.txt"], src)
r = add("symlink.zip", "a symbolic link stored as a link (zip -y)", code="unsafe-name", at="extract")
r["entries"][0]["unsafe"] = "symlink"
assert r["entries"][0]["symlink"]

stub = b"MZ a self-extractor's code would be here\n" * 50
with open(os.path.join(out, "sfx-adjusted.zip"), "wb") as f:
    f.write(stub + open(os.path.join(out, "gbk-infozip.zip"), "rb").read())
run(["zip", "-q", "-A", os.path.join(out, "sfx-adjusted.zip")], out)
add("sfx-adjusted.zip", "data prepended, offsets adjusted (zip -A), as self-extractors are")
with open(os.path.join(out, "sfx-plain.zip"), "wb") as f:
    f.write(stub + open(os.path.join(out, "gbk-infozip.zip"), "rb").read())
add("sfx-plain.zip", "data prepended, offsets not adjusted: Info-ZIP reads it (with a warning)")

if big:
    huge = os.path.join(src, "huge.bin")
    with open(huge, "wb") as f:
        f.truncate((4 << 30) + 1)  # sparse: takes no room on disk
    run(["zip", "-q", "-1", os.path.join(out, "zip64.zip"), "huge.bin", "text.txt"], src)
    os.unlink(huge)
    # Contents not read back through zipfile (it would hold 4 GiB): the zeros' digest from the
    # shell, the text's from its bytes.
    entries = describe(os.path.join(out, "zip64.zip"), contents=False)
    entries[0]["sha256"] = subprocess.run("head -c 4294967297 /dev/zero | sha256sum", shell=True, capture_output=True,
                                          check=True).stdout.split()[0].decode()
    entries[1]["sha256"] = sha(lines)
    assert [e["size"] for e in entries] == [(4 << 30) + 1, len(lines)]
    add("zip64.zip", "Zip64: an entry of 4 GiB + 1", entries=entries)

# ---- hostile ----------------------------------------------------------------------------------
# Entries whose data overlap: the second entry's local record lies inside the first's stored data
# (a zip bomb's building block), and one whose data run into the central directory.
inner = entry("b.txt", b"B" * 100, method=0)
inner_bytes = local_header(inner) + inner["packed"]
outer = entry("a.txt", inner_bytes, method=0)
first = local_header(outer) + outer["packed"]
cd = central_header(outer, 0) + central_header(inner, len(local_header(outer)))
with open(os.path.join(out, "overlap.zip"), "wb") as f:
    f.write(first + cd + end_record(2, len(cd), len(first)))
add("overlap.zip", "the second entry's bytes inside the first's", code="overlap", at="open")

e = entry("into-cd.txt", b"C" * 50, method=0, csize=50 + 46 + 11, size=50 + 46 + 11, crc=0)
lh = local_header(e) + e["packed"]
cd = central_header(e, 0)
with open(os.path.join(out, "overlap-directory.zip"), "wb") as f:
    f.write(lh + cd + end_record(1, len(cd), len(lh)))
add("overlap-directory.zip", "an entry's data running into the central directory", code="overlap", at="open")

# Listing reads the central directory only: a local header is judged when its entry is read.
build("header-mismatch.zip", [entry("report.txt", b"looks like text", local_name=b"report.exe")])
add("header-mismatch.zip", "the local header names the entry otherwise than the central directory",
    code="header-mismatch", at="test")
build("header-mismatch-crc.zip", [entry("a.txt", b"some data", local_crc=0x12345678)])
r = add("header-mismatch-crc.zip", "the local header's CRC differs from the central directory's", code="header-mismatch", at="test")
r["entries"][0]["sha256"] = None  # zipfile reads it, checking the data against the directory's CRC only

bomb = deflate(b"\0" * 4000)
lying = entry("bomb.bin", b"\0" * 4000)
lying["lie"].update(size=len(bomb) * 1100)
build("impossible-size.zip", [lying])
r = add("impossible-size.zip", "a declared size beyond 1032 times the compressed size", code="impossible-size", at="test")
r["entries"][0]["sha256"] = None  # zipfile gives the 4000 bytes there are, not checking them against the size

build("bad-crc.zip", [entry("good.txt", b"fine" * 100), entry("bad.txt", b"broken" * 100, crc=0xDEADBEEF)])
add("bad-crc.zip", "an entry whose data do not give its CRC", code="bad-crc", at="test")

broken = entry("cut.txt", lines[:20000])
broken["packed"] = broken["packed"][:len(broken["packed"]) // 2] + b"\xff" * (len(broken["packed"]) - len(broken["packed"]) // 2)
build("bad-data.zip", [broken])
add("bad-data.zip", "deflate data that do not inflate", code=["bad-data", "bad-crc", "bad-size"], at="test")

TRAVERSAL = [("../x.txt", "parent"), ("/abs.txt", "absolute"), ("C:\\x.txt", "drive"), ("con.txt", "device-name"),
             ("a/../../b.txt", "parent"), ("bad<name>.txt", "bad-character"), ("dots.", "trailing-dot-or-space"),
             ("a//b.txt", "empty-part"), ("ok.txt", None)]
build("traversal.zip", [entry(n, b"escape") for n, _ in TRAVERSAL])
r = add("traversal.zip", "names that would leave the target folder or that Windows refuses", code="unsafe-name", at="extract")
for e, (_, reason) in zip(r["entries"], TRAVERSAL):
    e["unsafe"] = reason

build("clash.zip", [entry("Readme.TXT", b"one"), entry("dir/a.txt", b"two"), entry("README.txt", b"three")])
r = add("clash.zip", "two names Windows takes for one", code="unsafe-name", at="extract")
r["entries"][0]["unsafe"] = ["clash", None]
r["entries"][2]["unsafe"] = ["clash", None]
r["clash"] = ["Readme.TXT", "README.txt"]

two = [entry("one.txt", b"1"), entry("two.txt", b"2")]
build("count-mismatch.zip", two, total=3)
add("count-mismatch.zip", "the end record counts more entries than the directory holds", code="bad-archive", at="open")
body = build("cd-offset.zip", two, cd_offset=10 ** 6)
add("cd-offset.zip", "the directory's offset past the end of the file", code="bad-archive", at="open")
body = build("cd-size.zip", two, cd_size=5)
add("cd-size.zip", "the directory's size shorter than its records", code="bad-archive", at="open")
good = open(os.path.join(out, "python-utf8.zip"), "rb").read()
with open(os.path.join(out, "truncated.zip"), "wb") as f:
    f.write(good[:len(good) // 2])
add("truncated.zip", "an archive cut in half: no end record", code="not-zip", at="open")
with open(os.path.join(out, "not-zip.zip"), "wb") as f:
    f.write(b"this is a text file, not an archive\n" * 30)
add("not-zip.zip", "no archive at all", code="not-zip", at="open")

shutil.rmtree(src)
with open(os.path.join(out, "expected.json"), "w") as f:
    json.dump({"archives": archives}, f, ensure_ascii=False, indent=1)
