# Sample files for the file type probe suite.
set -euo pipefail
cd "$1"
printf 'plain text\twith tab\r\nand lines\n\0zero bytes are text too\n' > upper.TXT
printf 'text with a bell \a inside' > bell.txt
: > empty.txt
: > empty.bin
printf 'ABC' > three.bin
printf '0123456789ABCDEFGHIJ' > twenty.bin
mkdir -p Mixed
printf 'x' > Mixed/Case.BIN
python3 - <<'PY'
import zipfile, io
def make(name, entries):
    with zipfile.ZipFile(name, "w", zipfile.ZIP_DEFLATED) as z:
        for n, data in entries: z.writestr(n, data)
make("book.xlsx", [("[Content_Types].xml", "<Types/>"), ("xl/workbook.xml", "<workbook/>" * 20),
                   ("xl/worksheets/sheet1.xml", "<worksheet/>" * 50)])
make("letter.docx", [("[Content_Types].xml", "<Types/>"), ("word/document.xml", "<document/>" * 40)])
make("zip-as.txt", [("a.txt", "hello hello hello hello hello hello hello")])
make("evil.zip", [("../escaped.txt", "x" * 100)])
# Reached as "sub\\..\\a": the last four characters of that path are "..\\a".
import os
os.makedirs("sub", exist_ok=True)
make("a", [("xl/workbook.xml", "<workbook/>" * 20)])
# A zip head in a file of exactly 40 bytes: too small to be unpacked.
open("head40.zip", "wb").write(b"PK\x03\x04" + b"\0" * 36)
PY
