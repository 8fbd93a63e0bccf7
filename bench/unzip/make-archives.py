# The archives the reading benches open, made by Python's zipfile (no one here wrote it):
#   many.zip  65,536 small stored and deflated entries in 256 folders (only its directory matters)
#   text.zip  1 GiB: entries of 64 MiB of text, deflated at level 6
#   huge.zip  one entry of 4 GiB + 1 byte of zeros, deflated (a few MiB on disk)
# python3 make-archives.py DIR [many|text|huge ...]
import os, random, struct, sys, zipfile, zlib

out = sys.argv[1]
which = set(sys.argv[2:]) or {'many', 'text', 'huge'}
os.makedirs(out, exist_ok=True)

if 'many' in which:
    with zipfile.ZipFile(os.path.join(out, 'many.zip'), 'w') as z:
        for i in range(65536):
            kind = zipfile.ZIP_DEFLATED if i % 2 else zipfile.ZIP_STORED
            z.writestr(zipfile.ZipInfo(f'folder {i % 256}/entry {i}.txt', (2024, 5, 17, 10, 30, 0)),
                       b'entry %d\n' % i, compress_type=kind)

if 'text' in which:
    # 64 MiB of text (lines of 12 words drawn from 5,000 random words), deflated once at level 6
    # and stored as as many entries as make the archive 1 GiB: every entry is inflated and checked.
    r = random.Random(7)
    words = [''.join(r.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(2 + i % 8)) for i in range(5000)]
    text = bytearray()
    while len(text) < 64 << 20:
        text += (' '.join(r.choice(words) for _ in range(12)) + '\n').encode()
    text = bytes(text[:64 << 20])
    packer = zlib.compressobj(6, zlib.DEFLATED, -15)
    data = packer.compress(text) + packer.flush()
    crc = zlib.crc32(text)
    count = -(-(1 << 30) // len(data))
    central = bytearray()
    with open(os.path.join(out, 'text.zip'), 'wb') as f:
        for e in range(count):
            name = b'text %d.txt' % e
            offset = f.tell()
            head = (0x14, 0, 8, 0x5000, 0x58B1, crc, len(data), len(text), len(name), 0)
            f.write(b'PK\3\4' + struct.pack('<HHHHHIIIHH', *head) + name)
            f.write(data)
            central += b'PK\1\2' + struct.pack('<HHHHHHIIIHHHHHII', 0x314, *head, 0, 0, 0, 0, offset) + name
        at = f.tell()
        f.write(central)
        f.write(b'PK\5\6' + struct.pack('<HHHHIIH', 0, 0, count, count, len(central), at, 0))

if 'huge' in which:
    info = zipfile.ZipInfo('zeros.bin', (2024, 5, 17, 10, 30, 0))
    info.compress_type = zipfile.ZIP_DEFLATED
    zero = bytes(1 << 20)
    with zipfile.ZipFile(os.path.join(out, 'huge.zip'), 'w') as z:
        with z.open(info, 'w', force_zip64=True) as w:
            for _ in range(4096):
                w.write(zero)
            w.write(b'\0')
