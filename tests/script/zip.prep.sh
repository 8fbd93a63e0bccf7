# Sample files for the zip packaging suite.
set -euo pipefail
cd "$1"
head -c 40 /dev/urandom > forty.bin
head -c 41 /dev/urandom > fortyone.bin
python3 -c 'import sys; sys.stdout.write("line of text to pack\n" * 500)' > text.txt
# A scanned document named after its owner, whose name holds a character outside GBK.
python3 - <<'PY'
import hashlib, subprocess
name = "\u738b\u4dae\u8eab\u4efd\u8bc1.txt"
data = ("identity document of \u738b\u4dae\n" * 40).encode("utf-8")
open(name, "wb").write(data)
sm3 = subprocess.run(["openssl", "dgst", "-sm3", "-r", name], capture_output=True, check=True).stdout.split()[0]
with open("rare.txt", "w") as f:
    f.write("%d\n%s\n%s\n" % (len(data), hashlib.sha256(data).hexdigest().upper(), sm3.decode().upper()))
PY
