// openZip() in Node: the corpus made at test time by outside tools (unzip-corpus.py) read from a
// path, bytes, a Blob and a server answering range requests, every entry's contents beside what
// the corpus's tools gave; archives past what the classic records hold (Python's zipfile, Zip64);
// streams cut at their declared size; cancel and bad options.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { mkdtempSync, readdirSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { TarnwickError } from '../../sdk/control/contract.js';
import { Tarnwick } from '../../sdk/tarnwick.js';

const work = mkdtempSync(join(tmpdir(), 'tarnwick-openzip-'));
process.on('exit', () => rmSync(work, { recursive: true, force: true }));
const corpus = join(work, 'corpus');
execFileSync('python3', [fileURLToPath(new URL('../unzip-corpus.py', import.meta.url)), corpus]);
const expected = JSON.parse(readFileSync(join(corpus, 'expected.json'), 'utf8')).archives;
const sha = (data) => createHash('sha256').update(data).digest('hex');
const t = await Tarnwick.open();

// Failures the corpus places at opening that this reader finds when the entry is read: the listing
// reads the central directory only, and an entry's local header and declared size are judged
// before its first byte is read.
const AT_READ = new Set(['header-mismatch', 'impossible-size']);

function sameListing(archive, want, file) {
  assert.equal(archive.entries.length, want.entries.length, file);
  archive.entries.forEach((e, i) => {
    const w = want.entries[i];
    const where = `${file}: ${w.name}`;
    assert.equal(e.name, w.name, where);
    assert.equal(Buffer.from(e.rawName).toString('hex'), w.rawName, where);
    assert.equal(e.nameEncoding, w.nameEncoding, where);
    assert.equal(e.directory, w.directory, where);
    assert.equal(e.size, w.size, where);
    assert.equal(e.method, w.method, where);
    assert.equal(e.encrypted, w.encrypted, where);
    assert.equal(e.symlink, w.symlink, where);
    if (Array.isArray(w.unsafe)) assert.ok(w.unsafe.includes(e.unsafe), `${where}: ${e.unsafe}`);
    else assert.equal(e.unsafe, w.unsafe, where);
    assert.ok(Object.isFrozen(e) && e.modified instanceof Date && !Number.isNaN(e.modified.getTime()), where);
  });
}

test('the corpus: listings, contents and verdicts as the outside tools give them', async () => {
  let read = 0;
  for (const [file, want] of Object.entries(expected)) {
    const path = join(corpus, file);
    const codes = [want.code].flat();
    if (want.at === 'open' && !AT_READ.has(want.code)) {
      await assert.rejects(t.openZip(path), (e) => e instanceof TarnwickError && codes.includes(e.code) && /\S/.test(e.message), file);
      continue;
    }
    const archive = await t.openZip(path);
    try {
      if (want.entries) sameListing(archive, want, file);
      if (want.comment !== undefined) assert.equal(archive.comment, want.comment, file);
      if (want.clash) assert.ok(archive.entries.some((e) => want.clash.includes(e.name) && e.unsafe === 'clash'), file);
      // Extraction refuses what the corpus says it refuses, before writing anything.
      if (want.at === 'extract') {
        const target = mkdtempSync(join(work, 'x-'));
        await assert.rejects(archive.extract(target), (e) => e.code === want.code, file);
        assert.deepEqual(readdirSync(target), [], file);
      }
      const verdict = await archive.test();
      const failing = want.code !== null && (want.at === 'test' || AT_READ.has(want.code));
      assert.equal(verdict.ok, !failing, `${file}: ${JSON.stringify(verdict)}`);
      if (failing) assert.ok(verdict.entries.some((r) => !r.ok && codes.includes(r.code)), `${file}: ${JSON.stringify(verdict)}`);
      for (const [i, w] of (want.entries || []).entries()) {
        if (!w.sha256 || w.directory) continue;
        assert.equal(sha(await archive.bytes(archive.entries[i])), w.sha256, `${file}: ${w.name}`);
        read++;
      }
    } finally {
      archive.close();
    }
  }
  assert.ok(read > 30, `${read} entries read`);
});

// A server that answers range requests (or, asked so, ignores them), counting the bytes it sent.
async function serve(bytes, { ranges = true } = {}) {
  const served = { bytes: 0, requests: 0 };
  const server = createServer((req, res) => {
    served.requests++;
    const m = /^bytes=(\d+)-(\d+)$/.exec(req.headers.range || '');
    if (!ranges || !m) {
      res.writeHead(200, { 'Content-Length': bytes.length });
      served.bytes += bytes.length;
      return res.end(bytes);
    }
    const first = Number(m[1]), last = Math.min(Number(m[2]), bytes.length - 1);
    res.writeHead(206, { 'Content-Range': `bytes ${first}-${last}/${bytes.length}`, 'Content-Length': last - first + 1 });
    served.bytes += last - first + 1;
    res.end(bytes.subarray(first, last + 1));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const url = `http://127.0.0.1:${server.address().port}/a.zip`;
  return { url, served, close: () => new Promise((resolve) => server.close(resolve)) };
}

test('bytes, a Blob and a URL read as the path does; the URL only for its directory and the asked entry', async () => {
  // A directory small beside its entries: 7z's Deflate64 text and a large random entry beside it.
  const big = join(work, 'parts');
  execFileSync('sh', ['-c', `mkdir -p ${big} && head -c 30000000 /dev/urandom > ${big}/noise.bin && python3 -c "import sys; sys.stdout.write(''.join('line %d of the text\\n' % i for i in range(200000)))" > ${big}/text.txt && cd ${big} && 7z a -tzip -mm=Deflate64 ../parts.zip text.txt noise.bin > /dev/null`]);
  const path = join(work, 'parts.zip');
  const bytes = readFileSync(path);
  const text = readFileSync(join(big, 'text.txt'));
  const fromPath = await t.openZip(path);
  const server = await serve(bytes);
  try {
    for (const source of [bytes, bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length), new Blob([bytes]), { url: server.url }, new URL(server.url)]) {
      const archive = await t.openZip(source);
      assert.deepEqual(archive.entries.map((e) => [e.name, e.size, e.crc32, e.method]), fromPath.entries.map((e) => [e.name, e.size, e.crc32, e.method]));
      const entry = archive.entries.find((e) => e.name === 'text.txt');
      assert.equal(entry.method, 9);
      assert.ok(Buffer.from(await archive.bytes(entry)).equals(text));
      archive.close();
    }
    // The URL sources fetched the directory and the text, not the 30 MB of noise.
    assert.ok(server.served.bytes < 2 * (bytes.length - 30000000) + 16 * 1024 * 1024, `${server.served.bytes} bytes served`);
  } finally {
    fromPath.close();
    await server.close();
  }
  const ignoring = await serve(bytes, { ranges: false });
  try {
    // The default object says so in Chinese, an English one in English.
    await assert.rejects(t.openZip({ url: ignoring.url }), (e) => e.code === 'read-failed' && /\u4e0d\u652f\u6301\u5206\u6bb5\u8bf7\u6c42/.test(e.message));
    const english = await Tarnwick.open({ language: 'en' });
    await assert.rejects(english.openZip({ url: ignoring.url }), (e) => e.code === 'read-failed' && /range requests/.test(e.message));
  } finally {
    await ignoring.close();
  }
});

test('Python\'s zipfile: 70,000 entries need the Zip64 end records; all listed, in order', async () => {
  const path = join(work, 'many.zip');
  execFileSync('python3', ['-c', `
import zipfile, sys
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as z:
    for i in range(70000):
        z.writestr("d%d/f%05d.txt" % (i % 7, i), b"%d" % i)
`, path]);
  const started = Date.now();
  const archive = await t.openZip(path);
  const listed = Date.now() - started;
  assert.equal(archive.entries.length, 70000);
  assert.equal(archive.entries[69999].name, 'd6/f69999.txt');
  assert.equal(new TextDecoder().decode(await archive.bytes(archive.entries[12345])), '12345');
  assert.ok(listed < 20000, `${listed} ms`);
  archive.close();
});

// A stored entry whose data is longer than its records say, and one the stream ends short of.
function storedArchive(data, { declared = data.length, crc } = {}) {
  const script = `
import struct, sys, zlib
data = bytes.fromhex(sys.argv[1]); declared = int(sys.argv[2]); crc = int(sys.argv[3]) if sys.argv[3] != "-" else zlib.crc32(data[:declared])
name = b"x.bin"
local = struct.pack("<IHHHHHIIIHH", 0x04034b50, 20, 0, 0, 0, 0, crc, declared, declared, len(name), 0) + name
central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014b50, 20, 20, 0, 0, 0, 0, crc, declared, declared, len(name), 0, 0, 0, 0, 0, 0) + name
body = local + data
end = struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, 1, 1, len(central), len(body), 0)
sys.stdout.buffer.write(body + central + end)`;
  return execFileSync('python3', ['-c', script, Buffer.from(data).toString('hex'), String(declared), crc === undefined ? '-' : String(crc)]);
}

test('an entry gives its declared bytes and no more; a CRC or size that does not match errors the stream', async () => {
  const data = Buffer.from('0123456789'.repeat(100));
  // Declared 600 of 1000 stored bytes: the rest lies between the entry and the directory.
  const short = await t.openZip(storedArchive(data, { declared: 600 }));
  assert.ok(Buffer.from(await short.bytes(short.entries[0])).equals(data.subarray(0, 600)));
  const badCrc = await t.openZip(storedArchive(data, { crc: 1234 }));
  const reader = badCrc.stream(badCrc.entries[0]).getReader();
  let got = 0;
  const error = await (async () => {
    try {
      for (;;) {
        const { done, value } = await reader.read();
        if (done) return null;
        got += value.length;
      }
    } catch (e) {
      return e;
    }
  })();
  assert.ok(error instanceof TarnwickError && error.code === 'bad-crc', String(error));
  assert.ok(got <= data.length);
  // A deflate stream longer than its declared size: cut at the size, 'bad-size'.
  const path = join(work, 'long.zip');
  execFileSync('python3', ['-c', `
import zipfile, sys, struct
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("long.txt", b"abc" * 100000)
raw = bytearray(open(sys.argv[1], "rb").read())
c = raw.rfind(b"PK\\x01\\x02")
struct.pack_into("<I", raw, c + 24, 250000)   # the central record's size
struct.pack_into("<I", raw, 22, 250000)       # and the local header's, so they agree
open(sys.argv[1], "wb").write(raw)
`, path]);
  // The same stream declared one byte longer than it is, its CRC that of what it holds: 'bad-size'.
  const shortPath = join(work, 'short.zip');
  execFileSync('python3', ['-c', `
import sys, struct
raw = bytearray(open(sys.argv[1], "rb").read())
c = raw.rfind(b"PK\\x01\\x02")
struct.pack_into("<I", raw, c + 24, 300001)
struct.pack_into("<I", raw, 22, 300001)
open(sys.argv[2], "wb").write(raw)
`, path, shortPath]);
  const shortStream = await t.openZip(shortPath);
  await assert.rejects(shortStream.bytes(shortStream.entries[0]), (e) => e.code === 'bad-size');
  shortStream.close();
  const long = await t.openZip(path);
  let delivered = 0;
  await assert.rejects((async () => {
    for await (const piece of long.stream(long.entries[0])) delivered += piece.length;
  })(), (e) => e.code === 'bad-size');
  assert.ok(delivered <= 250000, `${delivered} bytes delivered of 250000 declared`);
  for (const a of [short, badCrc, long]) a.close();
});

test('cancel: an aborted read or test ends with the AbortError, nothing else', async () => {
  const archive = await t.openZip(join(corpus, 'deflate64.zip'));
  const controller = new AbortController();
  const reader = archive.stream(archive.entries[0], { signal: controller.signal }).getReader();
  await reader.read();
  controller.abort();
  await assert.rejects(reader.read(), { name: 'AbortError' });
  const aborted = AbortSignal.abort();
  await assert.rejects(archive.test({ signal: aborted }), { name: 'AbortError' });
  await assert.rejects(t.openZip(join(corpus, 'deflate64.zip'), { signal: aborted }), { name: 'AbortError' });
  archive.close();
});

test('bad options and sources are refused as digest() refuses them', async () => {
  await assert.rejects(t.openZip(join(corpus, 'mixed.zip'), { names: 'no-such-encoding' }), RangeError);
  await assert.rejects(t.openZip(join(corpus, 'mixed.zip'), { names: 5 }), TypeError);
  await assert.rejects(t.openZip(join(corpus, 'mixed.zip'), { signal: {} }), TypeError);
  await assert.rejects(t.openZip(42), TypeError);
  await assert.rejects(t.openZip(join(work, 'missing.zip')), (e) => e.code === 'not-found');
  const forced = await t.openZip(join(corpus, 'mixed.zip'), { names: 'cp437' });
  assert.ok(forced.entries.every((e) => e.nameEncoding === 'cp437'));
  forced.close();
});
