"""The benchmarks' texts, the same bytes on every run: texts.py DIR MIB NAME...
  text   sentences of words from a 6,000-word vocabulary with a Zipf-like spread, numbers and
         punctuation; deflate at level 6 leaves about 29 %
  words  lines of 12 words drawn evenly from 5,000 random lowercase words of 2-9 letters; deflate
         at level 6 gets through it nearly three times as fast (zlib on one core: 46 against
         16 MB/s) and leaves about 48 %, so what is not deflate in packing shows more
Each is 8 MiB repeated (deflate sees 32 KiB back) to MIB MiB, as DIR/NAME.bin."""
import os
import random
import sys


def text_chunk():
    r = random.Random(7)
    syllables = ["ka", "ro", "mi", "den", "tor", "al", "ves", "qui", "ne", "par", "lo", "stra", "ion", "ent",
                 "ble", "ther", "sh", "ou", "an", "el"]
    vocabulary = ["".join(r.choice(syllables) for _ in range(r.randint(1, 4))) for _ in range(6000)]
    weights = [1.0 / (i + 1) for i in range(len(vocabulary))]
    text = []
    size = 0
    while size < 8 << 20:
        for word in r.choices(vocabulary, weights, k=4096):
            if r.random() < 0.03: word = str(r.randint(0, 99999))
            text.append(word)
            text.append(". " if r.random() < 0.07 else (", " if r.random() < 0.05 else " "))
            if r.random() < 0.01: text.append("\r\n")
            size += len(word) + 2
    return "".join(text).encode()[:8 << 20]


def words_chunk():
    r = random.Random(44)
    letters = "abcdefghijklmnopqrstuvwxyz"
    words = ["".join(r.choice(letters) for _ in range(r.randint(2, 9))) for _ in range(5000)]
    lines, size = [], 0
    while size < 8 << 20:
        line = " ".join(r.choices(words, k=12)) + "\n"
        lines.append(line)
        size += len(line)
    return "".join(lines).encode()[:8 << 20]


def main():
    directory, mib, names = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    makers = {"text": text_chunk, "words": words_chunk}
    for name in names:
        chunk = makers[name]()
        with open(os.path.join(directory, name + ".bin"), "wb") as f:
            for _ in range(mib // 8): f.write(chunk)


if __name__ == "__main__":
    main()
