# Hostile inputs: archives that would take long or leave things behind, and a 2 GiB file.
set -euo pipefail
cd "$1"
python3 - <<'PY'
import zipfile
def make(name, entries, method=zipfile.ZIP_DEFLATED):
    with zipfile.ZipFile(name, "w", method) as z:
        for n, data in entries: z.writestr(n, data)
book = [("[Content_Types].xml", "<Types/>"), ("xl/workbook.xml", "<workbook/>" * 20)]
# Far more entries than a workbook has: refused before anything is written.
make("many.xlsx", book + [("e/%d" % i, "") for i in range(8000)], zipfile.ZIP_STORED)
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
