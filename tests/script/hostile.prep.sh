# Hostile inputs: archives that would take long or leave things behind, and a 2 GiB file.
set -euo pipefail
cd "$1"
python3 - <<'PY'
import zipfile
def make(name, entries, method=zipfile.ZIP_DEFLATED):
    with zipfile.ZipFile(name, "w", method) as z:
        for n, data in entries: z.writestr(n, data)
book = [("[Content_Types].xml", "<Types/>"), ("xl/workbook.xml", "<workbook/>" * 20)]
# The probe's bounds: 1,000 entries and 256 MiB unpacked are taken, one more is refused before
# anything is written. Zeros deflate to almost nothing.
make("at1000.xlsx", book + [("e/%d" % i, "") for i in range(998)], zipfile.ZIP_STORED)
make("past1000.xlsx", book + [("e/%d" % i, "") for i in range(999)], zipfile.ZIP_STORED)
def zeros(name, size):
    with zipfile.ZipFile(name, "w", zipfile.ZIP_DEFLATED) as z:
        for n, data in book: z.writestr(n, data)
        size -= sum(len(data) for n, data in book)
        with z.open("xl/zeros.bin", "w") as entry:
            while size > 0:
                entry.write(bytes(min(size, 1 << 20)))
                size -= 1 << 20
zeros("at256m.xlsx", 256 << 20)
zeros("past256m.xlsx", (256 << 20) + 1)
# Entry names the desktop's code page cannot write, and paths deeper than 260 characters.
make("thai.xlsx", book + [("\u0e44\u0e17\u0e22/\u0e2a\u0e27\u0e31\u0e2a\u0e14\u0e35.xml", "<x/>" * 30),
                          ("\U0001f600.bin", "x" * 50)])
deep = "/".join(["d" * 60] * 5)
make("deep.xlsx", book + [(deep + "/sheet.xml", "<s/>" * 30)])
# A bomb under a Thai name: 300 MiB of zeros from a few hundred KiB.
with zipfile.ZipFile("bomb.xlsx", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("xl/workbook.xml", "<workbook/>")
    with z.open("\u0e23\u0e30\u0e40\u0e1a\u0e34\u0e14.bin", "w", force_zip64=True) as entry:
        block = bytes(1 << 20)
        for _ in range(300):
            entry.write(block)
PY
truncate -s 2147483649 big.bin   # sparse: 2 GiB + 1 byte of zeros
# A workbook at the end of a local path of exactly 300 characters (the fixture directory as the
# control sees it is Z: and this directory), with its size and SHA-256.
python3 - <<'PY'
import hashlib, os, shutil
rest = 300 - (len(os.getcwd()) + 2) - len("\\book.xlsx")
parts = []
while rest > 0:
    n = min(rest - 1, 60) if rest > 1 else 0
    if n <= 0: break
    parts.append("p" * n)
    rest -= n + 1
assert rest == 0, rest
os.makedirs(os.path.join(*parts))
shutil.copy("thai.xlsx", os.path.join(*parts, "book.xlsx"))
data = open("thai.xlsx", "rb").read()
with open("longpath.txt", "w") as f:
    f.write("%s\n%d\n%s\n" % ("\\".join(parts + ["book.xlsx"]), len(data), hashlib.sha256(data).hexdigest().upper()))
PY
