// Reading archives in Node and the command `tarnwick unzip`, over a corpus made at test time by
// tools no one here wrote (unzip-corpus.py: Info-ZIP zip, 7z, Python's zipfile, and hostile
// archives built by hand), with what Debian's unzip, iconv and Python say of each.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { checkEncoding, decodeComment, decodeName } from '../../sdk/unzip/names.js';

const work = mkdtempSync(join(tmpdir(), 'tarnwick-unzip-'));
process.on('exit', () => rmSync(work, { recursive: true, force: true }));
const corpus = join(work, 'corpus');
execFileSync('python3', [fileURLToPath(new URL('../unzip-corpus.py', import.meta.url)), corpus]);
const expected = JSON.parse(readFileSync(join(corpus, 'expected.json'), 'utf8')).archives;
const hex = (s) => (s === null ? null : Uint8Array.from(Buffer.from(s, 'hex')));
const python = (code, ...args) => execFileSync('python3', ['-c', code, ...args], { encoding: 'utf8' });

test('names: every entry of the corpus as Windows shows it, by the rule each one calls for', () => {
  let seen = 0;
  const kinds = new Set();
  for (const [file, archive] of Object.entries(expected)) {
    for (const e of archive.entries || []) {
      const got = decodeName(hex(e.rawName), { utf8Flag: e.utf8Flag, unicodePath: hex(e.unicodePath) });
      assert.deepEqual(got, { name: e.name, nameEncoding: e.nameEncoding }, `${file}: ${e.rawName}`);
      kinds.add(e.nameEncoding);
      seen++;
    }
  }
  assert.ok(seen > 40, `${seen} entries`);
  assert.deepEqual([...kinds].sort(), ['ascii', 'gb18030', 'unicode-path', 'utf-8', 'utf-8-guessed']);
});

test('names: a forced encoding for every entry, cp437 by its table as Python decodes it', () => {
  const high = Uint8Array.from({ length: 128 }, (_, i) => 128 + i);
  assert.deepEqual(decodeName(high, { encoding: 'cp437' }),
    { name: python('import sys; sys.stdout.write(bytes(range(128, 256)).decode("cp437"))'), nameEncoding: 'cp437' });
  // Forced wins over the flag and the Unicode Path field, and is named as the page gave it.
  const gbk = Uint8Array.from([0xd6, 0xd0, 0xce, 0xc4]);
  assert.deepEqual(decodeName(gbk, { utf8Flag: true, encoding: 'GBK' }), { name: '\u4e2d\u6587', nameEncoding: 'GBK' });
  assert.equal(decodeName(gbk, { encoding: 'utf-8' }).name, '\ufffd\ufffd\ufffd\ufffd');
  // Big5 bytes, as Python reads them when told.
  const big5 = Buffer.from('\u7e41\u9ad4\u4e2d\u6587.txt', 'utf8');
  const raw = Buffer.from(python('import sys; sys.stdout.write(sys.argv[1].encode("big5").hex())', big5.toString()), 'hex');
  assert.equal(decodeName(raw, { encoding: 'big5' }).name, '\u7e41\u9ad4\u4e2d\u6587.txt');
  // Guessed, the same bytes read as code page 936 (they are not UTF-8).
  assert.equal(decodeName(raw).nameEncoding, 'gb18030');
});

test('names: a Unicode Path field is used only whole, of version 1, and made for the stored bytes', () => {
  const stored = Buffer.from('old.txt');
  const crc = Number.parseInt(python('import sys, zlib; print(zlib.crc32(sys.argv[1].encode()))', 'old.txt'), 10);
  const field = (version, c, name) => Uint8Array.from([version, c & 255, (c >>> 8) & 255, (c >>> 16) & 255, c >>> 24, ...Buffer.from(name)]);
  assert.deepEqual(decodeName(stored, { unicodePath: field(1, crc, '\u65b0.txt') }), { name: '\u65b0.txt', nameEncoding: 'unicode-path' });
  assert.equal(decodeName(stored, { unicodePath: field(2, crc, '\u65b0.txt') }).name, 'old.txt');
  assert.equal(decodeName(stored, { unicodePath: field(1, crc ^ 1, '\u65b0.txt') }).name, 'old.txt');
  assert.equal(decodeName(stored, { unicodePath: field(1, crc, '').subarray(0, 4) }).name, 'old.txt');
  assert.equal(decodeName(stored, { unicodePath: Uint8Array.from([...field(1, crc, ''), 0xff, 0xfe]) }).name, 'old.txt');
  // The flag comes first.
  assert.deepEqual(decodeName(stored, { utf8Flag: true, unicodePath: field(1, crc, 'x') }), { name: 'old.txt', nameEncoding: 'utf-8' });
});

test('names: comments by the same rules; an unknown label is a RangeError before anything is read', () => {
  const comments = expected['gbk-comment.zip'];
  const gbk = (text) => Buffer.from(python('import sys; sys.stdout.write(sys.argv[1].encode("gbk").hex())', text), 'hex');
  assert.equal(decodeComment(gbk(comments.comment)), comments.comment);
  assert.equal(decodeComment(gbk(comments.entryComments[0])), comments.entryComments[0]);
  assert.equal(decodeComment(Buffer.from(expected['python-utf8.zip'].comment)), expected['python-utf8.zip'].comment);
  assert.equal(decodeComment(Uint8Array.from([0x82]), { encoding: 'cp437' }), '\u00e9');
  assert.equal(decodeComment(Uint8Array.from([0xc3, 0xa9]), { utf8Flag: true }), '\u00e9');
  assert.throws(() => checkEncoding('klingon'), RangeError);
  assert.throws(() => decodeName(Uint8Array.of(0x41), { encoding: 'klingon' }), RangeError);
  assert.throws(() => checkEncoding(936), TypeError);
  for (const label of ['cp437', 'IBM437', 'gbk', 'GB18030', 'big5', 'shift_jis', 'utf-8']) checkEncoding(label);
});
