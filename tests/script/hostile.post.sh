# After the suite: the archives the control made from the 2 GiB + 1 byte file and from the file
# at the end of a 300-character path, read back by unzip and Python's zipfile.
set -euo pipefail
cd "$1"
for a in big.zip long.zip; do unzip -tq "$a" >/dev/null || { echo "unzip -t rejects $a"; exit 1; }; done
python3 - <<'PY'
import hashlib, sys, zipfile
long_sha = open("longpath.txt").read().split("\n")[2]
for archive, name, size, sha in (("big.zip", "big.bin", 2147483649, None), ("long.zip", "book.xlsx", None, long_sha)):
    with zipfile.ZipFile(archive) as z:
        entries = z.infolist()
        if [e.filename for e in entries] != [name]:
            sys.exit("%s holds %r, expected [%r]" % (archive, [e.filename for e in entries], name))
        if size is not None and entries[0].file_size != size:
            sys.exit("%s: %s is %d bytes, expected %d" % (archive, name, entries[0].file_size, size))
        digest = hashlib.sha256()
        with z.open(entries[0]) as data:   # reading to the end checks length and CRC
            for block in iter(lambda: data.read(1 << 20), b""):
                if sha is not None: digest.update(block)
        if sha is not None and digest.hexdigest().upper() != sha:
            sys.exit("%s: %s does not hold the file" % (archive, name))
PY
