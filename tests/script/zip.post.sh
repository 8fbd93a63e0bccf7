# After the suite: archives the control made from names outside GBK, read back by Python's
# zipfile and unzip. The suite copied them into the fixture directory.
set -euo pipefail
cd "$1"
python3 - <<'PY'
import sys, zipfile
expected = {"rare-local.zip": "\u738b\u4dae\u8eab\u4efd\u8bc1.txt", "rare-mem.zip": "\u738b\u4dae.txt",
            "gbk-mem.zip": "\u738b\u4f1f.txt"}
for archive, name in expected.items():
    with zipfile.ZipFile(archive) as z:
        info = z.infolist()[0]
        utf8 = bool(info.flag_bits & 0x800)
        # zipfile decodes unflagged names as cp437: such names were stored in code page 936.
        stored = info.filename if utf8 else info.filename.encode("cp437").decode("gbk")
        if stored != name or z.testzip() is not None:
            sys.exit("%s holds %r (flagged %s), expected %r" % (archive, stored, utf8, name))
        if utf8 != (name != "\u738b\u4f1f.txt"):
            sys.exit("%s: UTF-8 flag %s for %r" % (archive, utf8, name))
PY
for a in rare-local.zip rare-mem.zip gbk-mem.zip; do unzip -tq "$a" >/dev/null || { echo "unzip -t rejects $a"; exit 1; }; done
