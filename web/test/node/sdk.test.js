// The SDK in Node 20 (for servers that re-check what a page computed): the same module, run
// in-process, on the shared corpus, with the same expectations as in the browser.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync, openAsBlob } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { Tarnwick } from '../../sdk/tarnwick.js';
import { ReadFailure, blobChunks, blobSlices } from '../../sdk/engine/reading.js';
import { createHash, randomBytes } from 'node:crypto';
import { calls } from '../corpus.mjs';

const work = mkdtempSync(join(tmpdir(), 'tarnwick-node-'));
execFileSync('python3', [fileURLToPath(new URL('../fixtures.py', import.meta.url)), work]);
const expected = JSON.parse(readFileSync(join(work, 'expected.json'), 'utf8'));
process.on('exit', () => rmSync(work, { recursive: true, force: true }));

async function picked(name) {
  return new File([await openAsBlob(join(work, name))], name);
}

test('the corpus calls give the control\'s results and texts', async () => {
  const t = await Tarnwick.open();
  for (const [method, args, check] of calls(expected)) {
    const real = await Promise.all(args.map((a) => (a && typeof a === 'object' && 'file' in a ? picked(a.file) : a)));
    let result = await t[method](...real);
    if (result instanceof Blob) {
      const path = join(work, result.name);
      writeFileSync(path, Buffer.from(await result.arrayBuffer()));
      assert.equal(spawnSync('unzip', ['-tq', path]).status, 0, `${method}: unzip -t`);
      result = { archive: result.name };
    }
    const verdict = check(result, await t.GetLastErrorInfo());
    assert.equal(verdict, true, `${method}(${JSON.stringify(args).slice(0, 60)}) gave ${JSON.stringify(result)}`);
  }
});

test('a certificate is refused with the crypto engine\'s status, the digest left empty', async () => {
  const t = await Tarnwick.open();
  const data = new Uint8Array([1, 2, 3]);
  const der = Buffer.from(expected.cert, 'base64');
  const offCurve = Buffer.from(der);
  offCurve[offCurve.indexOf(Buffer.from([0x03, 0x42, 0x00, 0x04])) + 67] ^= 1;  // last byte of y
  const cases = [
    ['', 0x2001], [' \r\n', 0x2001], ['MIIB*garbage', 0x2002], ['aGVsbG8gd29ybGQ=', 0x2003],
    [expected.cert.slice(0, 200), 0x2003], [expected.p256cert, 0x2004],
    [offCurve.toString('base64'), 0x2005], [expected.cert, 0],
  ];
  for (const [cert, status] of cases) {
    const hex = await t.GetMemFileSM3(data, 1, cert);
    assert.equal(t.lastEngineStatus, status, JSON.stringify(cert.slice(0, 20)));
    assert.equal(hex === '', status !== 0);
  }
});

test('progress reaches the total and an aborted call rejects without touching the text', async () => {
  const t = await Tarnwick.open();
  const file = await picked('sample.bin');
  const seen = [];
  await t.GetLocalFileSHA256(file, { onProgress: (done, total) => seen.push([done, total]) });
  assert.deepEqual(seen.at(-1), [file.size, file.size]);
  await t.GetLocalFileSize('');
  const controller = new AbortController();
  const call = t.GetLocalFileSM3(file, 0, '', {
    signal: controller.signal,
    onProgress: () => controller.abort(),
  });
  await assert.rejects(call, { name: 'AbortError' });
  assert.equal(await t.GetLastErrorInfo(), '\u6587\u4ef6\u8def\u5f84\u4e3a\u7a7a');
});

// Up to 13 blocks: the module hashes groups of four blocks, expanding the next group's schedule
// while it runs the current group's rounds, so this takes one, two and three groups in a call.
test('SHA-256 and SM3 of every length up to 13 blocks, in one piece and split, equal OpenSSL\'s', async () => {
  const { createHash } = await import('node:crypto');
  const { Engine } = await import('../../sdk/engine/engine.js');
  const engine = await Engine.load(readFileSync(fileURLToPath(new URL('../../sdk/tarnwick.wasm', import.meta.url))));
  const data = new Uint8Array(13 * 64 + 1).map((_, i) => (i * 151 + 7) & 255);
  for (const kind of ['sha256', 'sm3']) {
    for (let length = 0; length <= data.length; length++) {
      const want = createHash(kind).update(data.subarray(0, length)).digest('hex').toUpperCase();
      assert.equal((await engine.digest(kind, { bytes: data.subarray(0, length) })).hex, want, `${kind} ${length}`);
      // Blob parts of odd sizes reach the module as a stream of uneven chunks.
      const split = new Blob([data.subarray(0, length % 67), data.subarray(length % 67, length)]);
      assert.equal((await engine.digest(kind, { blob: split })).hex, want, `${kind} ${length} split`);
    }
  }
});

test('paths are local files, checked and read as the control does', async () => {
  const t = await Tarnwick.open();
  const text = () => t.GetLastErrorInfo();
  const at = (name) => join(work, name);
  assert.equal(await t.GetLocalFileSHA256(at('sample.bin')), expected.sha256['sample.bin']);
  assert.equal(await t.GetLocalFileSize(at('sample.bin')), expected.size['sample.bin']);
  assert.equal(await t.GetLocalFileHeadSigned(at('book.xlsx')), 'MSEXCEL');  // inspected by slices from the file
  const archive = await t.CreateZipFromLocalFile(at('noise.bin'));
  writeFileSync(at(archive.name), Buffer.from(await archive.arrayBuffer()));
  assert.match(execFileSync('unzip', ['-l', at(archive.name)]).toString(), / noise\.bin\n/);
  assert.equal(await t.GetLocalFileSize(at('missing.bin')), -1);
  assert.equal(await text(), `[${at('missing.bin')}]\u6587\u4ef6\u4e0d\u5b58\u5728`);
  // The control's methods take a device's name as the control does, wherever they run (digest()
  // takes names as the host does).
  for (const device of ['/dev/null', at('nul.bin')]) {
    assert.equal(await t.GetLocalFileSHA256(device), '');
    assert.equal(await text(), `[${device}]\u4e0d\u662f\u78c1\u76d8\u6587\u4ef6(\u8bbe\u5907\u3001\u7ba1\u9053\u6216\u63a7\u5236\u53f0),\u62d2\u7edd\u8bfb\u53d6!`);
  }
  // A directory passes the path check and fails to open.
  const denied = '\u8bbf\u95ee\u88ab\u62d2\u7edd\u3002\r\n (5)';
  assert.equal(await t.GetLocalFileSize(work), -1);
  assert.equal(await text(), denied);
  assert.equal(await t.GetLocalFileSHA256(work), '');
  assert.equal(await text(), `\u6587\u4ef6[${work}]\u6253\u5f00\u5931\u8d25\uff0c${denied}`);
  // A checked call's error tells the same on one line, and keeps the control's text as it stands.
  await assert.rejects(t.checked.GetLocalFileSHA256(work), (e) => e.name === 'TarnwickError' &&
    e.text === `\u6587\u4ef6[${work}]\u6253\u5f00\u5931\u8d25\uff0c${denied}` &&
    e.message === `\u6587\u4ef6[${work}]\u6253\u5f00\u5931\u8d25\uff0c\u8bbf\u95ee\u88ab\u62d2\u7edd\u3002 (5)`);
  // A file changed after it was opened, and one changed while it is read.
  writeFileSync(at('moving.bin'), Buffer.alloc(100000, 1));
  const picked = new File([await openAsBlob(at('moving.bin'))], 'moving.bin');
  writeFileSync(at('moving.bin'), Buffer.alloc(100000, 2));
  assert.equal(await t.GetLocalFileSHA256(picked), '');
  assert.equal(await text(), '\u6587\u4ef6[moving.bin]\u8bfb\u5931\u8d25(0<>100000)\uff0c\u6587\u4ef6\u5c3e\u3002\r\n (38)');
  writeFileSync(at('moving.bin'), readFileSync(at('sample.bin')));
  const call = t.GetLocalFileSM3(at('moving.bin'), 0, '', { onProgress: () => writeFileSync(at('moving.bin'), 'shorter') });
  assert.equal(await call, '');
  assert.equal(await text(), 'SM3\u6458\u8981\u8ba1\u7b97\u5931\u8d25,\u6587\u4ef6\u8bfb\u53d6\u5931\u8d25(\u9519\u8bef\u78010x3002)');
});

test('calls at once settle right; odd values and checked calls keep the failure contract', async () => {
  const t = await Tarnwick.open();
  const sample = join(work, 'sample.bin');
  const buffer = readFileSync(sample);
  const calls = Array.from({ length: 20 }, (_, i) => [
    () => t.GetLocalFileSHA256(sample), () => t.GetMemFileSHA256(buffer), () => t.GetMemFileSM3(buffer, 0, ''),
    () => t.GetLocalFileSM3(sample, 0, ''),
  ][i % 4]());
  const want = [expected.sha256['sample.bin'], expected.sha256['sample.bin'], expected.sm3['sample.bin'], expected.sm3['sample.bin']];
  assert.deepEqual(await Promise.all(calls), Array.from({ length: 20 }, (_, i) => want[i % 4]));
  const gone = new ArrayBuffer(8);
  structuredClone(gone, { transfer: [gone] });
  await t.GetLocalFileSize('');
  assert.equal(await t.GetMemFileSHA256(gone), '');  // an empty memory file: the text stays
  assert.equal(await t.GetMemFileSize(Symbol('s')), -1);
  assert.equal(await t.GetLastErrorInfo(), "JSArrayGetAttributeValue's GetIDsOfNames length err!");
  await assert.rejects(t.checked.GetMemFileSM3([1, 2], 1, ''), (e) =>
    e.name === 'TarnwickError' && e.engineStatus === 0x2001 && e.result === '' &&
    e.message === 'SM3\u6458\u8981\u8ba1\u7b97\u5931\u8d25,\u8981\u6c42\u8ba1\u7b97Z\u503c\u4f46\u672a\u63d0\u4f9b\u8bc1\u4e66(\u9519\u8bef\u78010x2001)');
  assert.equal(await t.GetLastErrorInfo(), "JSArrayGetAttributeValue's GetIDsOfNames length err!");  // not the shared text
});

test('open() reads no module; the first call that needs it loads it once, a failed load fails that call and the next tries again', async () => {
  const wasm = join(work, 'later.wasm');
  const t = await Tarnwick.open({ wasmUrl: wasm });  // not there yet: open() does not look
  let loads = 0;
  const load = t._backend._load;
  t._backend._load = () => { loads++; return load(); };
  assert.equal(await t.GetMemFileSize([1, 2, 3]), 3);  // needs no module
  assert.equal(loads, 0);
  assert.equal(await t.GetMemFileSHA256([97, 98, 99]), '');
  assert.match(await t.GetLastErrorInfo(), /^SDK\u672a\u80fd\u542f\u52a8: .*later\.wasm/);  // the object's Chinese
  await assert.rejects(t.checked.GetMemFileSHA256([97]), (e) => e.name === 'TarnwickError' && e.code === 'unavailable' && e.result === '');
  await assert.rejects(t.zip([{ name: 'a.txt', source: new Uint8Array(1) }]), (e) => e.name === 'TarnwickError' && e.code === 'unavailable');
  await assert.rejects(t.verifySm2(new Uint8Array(3), { signature: new Uint8Array(64), publicKey: new Uint8Array(65) }),
                       (e) => e.name === 'TarnwickError' && e.code === 'unavailable' && /later\.wasm/.test(e.message));
  assert.equal(loads, 3, 'each failed call tried again');
  writeFileSync(wasm, readFileSync(new URL('../../sdk/tarnwick.wasm', import.meta.url)));
  assert.deepEqual(await Promise.all([t.GetMemFileSHA256([97, 98, 99]), t.GetMemFileSize([1]), t.GetMemFileSHA256([97, 98, 99])]),
                   ['BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD', 1, 'BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD']);
  await t.GetMemFileSHA256([1]);
  assert.equal(loads, 4, 'calls at once share one load; once loaded, the module stays');
});

test('a Buffer in memory is cancelled by a timeout, and the next call is right', async () => {
  const t = await Tarnwick.open();
  const big = Buffer.alloc(512 << 20, 1);
  let seen = 0;
  await assert.rejects(t.GetMemFileSHA256(big, { signal: AbortSignal.timeout(200), onProgress: (done) => { seen = done; } }),
                       { name: 'AbortError' });
  assert.ok(seen > 0 && seen < big.length, `progress ${seen}`);
  assert.equal(await t.GetMemFileSHA256(Buffer.from('abc')), 'BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD');
});

// A Blob whose n-th stream stops answering, for good, once it has given stalls[n] bytes (streams past
// the list read to the end), as a picked file's stream now and then does in Chromium.
function stallingBlob(data, stalls) {
  const opened = [], cancelled = [];
  const part = (from, to) => ({
    size: to - from,
    slice: (start = 0, end = to - from) => part(from + start, Math.min(to, from + end)),
    arrayBuffer: async () => data.slice(from, to).buffer,
    stream() {
      const stopAt = stalls[opened.push(from) - 1] ?? Infinity;
      let given = 0;
      return new ReadableStream({
        type: 'bytes',
        pull(c) {
          if (given >= stopAt) return new Promise(() => {});
          const at = from + given, view = c.byobRequest.view;
          if (at >= to) { c.close(); c.byobRequest.respond(0); return; }
          const n = Math.min(view.byteLength, 300000, to - at, stopAt - given);
          view.set(data.subarray(at, at + n));
          given += n;
          c.byobRequest.respond(n);
        },
        cancel() { cancelled.push(from); },
      });
    },
  });
  return Object.assign(part(0, data.length), { opened, cancelled });
}

test('a Blob read that never settles is given up and read on from where it stopped, a few times at most', { timeout: 20000 }, async () => {
  const data = randomBytes((8 << 20) + 5);
  const want = createHash('sha256').update(data).digest('hex');
  const read = async (blob) => {
    const h = createHash('sha256');
    for await (const chunk of blobChunks(blob, 0, null, 50)) h.update(chunk);
    return h.digest('hex');
  };
  // A read waits for its 2 MiB: a stream that stops mid-read is read again from the end of the
  // last read that settled.
  const at = (3 << 20) + 12345, read2 = 2 << 20;
  for (const [stalls, opened] of [[[0], [0, 0]], [[at, 1000], [0, read2, read2]], [[at, read2 + 1000], [0, read2, 2 * read2]]]) {
    const blob = stallingBlob(data, stalls);
    assert.equal(await read(blob), want, `stalls at ${stalls}`);
    assert.deepEqual(blob.opened, opened);
    assert.deepEqual(blob.cancelled, opened.slice(0, -1));
  }
  const dead = stallingBlob(data, [5 << 20, 0, 0, 0, 0, 0]);
  await assert.rejects(read(dead), (e) => e instanceof ReadFailure && e.read.done === 4 << 20 && !e.read.gone);
  assert.equal(dead.opened.length, 4);
});

// WebKit's way of reading a picked file (by slices, each read whole), here over Node's own File.
test('a File read by slices gives its bytes from an offset; one that shrank or went fails', { timeout: 20000 }, async () => {
  const data = randomBytes((5 << 20) + 3);
  const path = join(work, 'slices.bin');
  writeFileSync(path, data);
  const start = (1 << 20) + 1;
  const parts = [];
  for await (const piece of blobSlices(await openAsBlob(path), start, { aborted: false })) parts.push(Buffer.from(piece));
  assert.ok(parts.every((p) => p.length <= 2 << 20));
  assert.ok(Buffer.concat(parts).equals(data.subarray(start)));
  // A slice that comes back short (the file shrank under it) is a failure at its place, not an end.
  const whole = new Blob([data]);
  const shrunk = { size: whole.size, slice: (a, b) => whole.slice(a, Math.min(b, 3 << 20)) };
  await assert.rejects(async () => { for await (const piece of blobSlices(shrunk, 0, { aborted: false })) void piece; },
                       (e) => e instanceof ReadFailure && e.read.done === 2 << 20);
  // A file deleted after it was picked fails its first slice: never read as empty.
  const blob = await openAsBlob(path);
  rmSync(path);
  let given = 0;
  await assert.rejects(async () => { for await (const piece of blobSlices(blob, 0, { aborted: false })) given += piece.length; });
  assert.equal(given, 0);
});

test('the SDK\'s methods, its types and the IE-mode script list the type library\'s methods, with its arguments', async () => {
  const read = (path) => readFileSync(fileURLToPath(new URL(path, import.meta.url)), 'utf8');
  const block = (textOf, start) => textOf.slice(textOf.indexOf(start), textOf.indexOf('\n}', textOf.indexOf(start)));
  const params = (list) => list.split(',').map((p) => p.trim()).filter((p) => p && !p.startsWith('options'));
  const methods = (textOf, pattern) => Object.fromEntries([...textOf.matchAll(pattern)].map((m) => [m[1], params(m[2]).length]));
  const typeLibrary = methods(read('../../../src/resources/tarnwick.idl'), /\[id\(\d+\)\] \w+ (\w+)\(([^)]*)\);/g);
  assert.equal(Object.keys(typeLibrary).length, 13);
  const { METHODS } = await import('../../sdk/control/contract.js');
  const sdk = Object.fromEntries(Object.entries(METHODS).map(([name, [count]]) => [name, count]));
  sdk.GetLastErrorInfo = 0;
  for (const name of Object.keys(typeLibrary)) {
    assert.equal(typeof Tarnwick.prototype[name], 'function', `the SDK object has ${name}`);
  }
  const dts = read('../../sdk/tarnwick.d.ts');
  // The control's methods (capitalised); the SDK's own capabilities (zip, zipStream) are apart.
  const signature = /^ {2}([A-Z]\w+)\(([^)]*)\): Promise/gm;
  const checked = methods(block(dts, 'export interface CheckedMethods'), signature);
  checked.GetLastErrorInfo = 0;
  const ie = methods(read('../../sdk/tarnwick-ie.js'), /^ {4}p\.([A-Z]\w+) = function \(([^)]*)\)/gm);
  const sorted = (o) => JSON.stringify(Object.entries(o).sort());
  for (const [what, list] of [['the SDK\'s method list', sdk], ['tarnwick.d.ts', methods(block(dts, 'export interface TarnwickObject'), signature)],
    ['tarnwick.d.ts (checked)', checked], ['tarnwick-ie.js', ie]]) {
    assert.equal(sorted(list), sorted(typeLibrary), `${what} against tarnwick.idl`);
  }
});

test('one language per object: Chinese by default, English on request, the codes alike; another language is refused', async () => {
  await assert.rejects(Tarnwick.open({ language: 'fr' }), RangeError);
  await assert.rejects(Tarnwick.open({ language: 1 }), TypeError);
  // Chinese: Chinese characters and no English phrase; English: no Chinese character.
  const speaks = (language, text) => language === 'en' ? !/[\u3000-\u9fff\uff00-\uffef]/.test(text)
    : /[\u4e00-\u9fff]/.test(text) && !/[a-z]{2,} [a-z]{2,}/i.test(text);
  const missing = join(work, 'no-such-file.bin');
  const damaged = async (t) => {
    const archive = new Uint8Array(await (await t.zip([{ name: 'a.txt', source: new TextEncoder().encode('x'.repeat(1000)) }], { level: 0 })).arrayBuffer());
    archive[40] ^= 0xff;  // a byte of the stored entry's data
    return archive;
  };
  const seen = {};
  for (const language of [undefined, 'en']) {
    const t = await Tarnwick.open(language ? { language } : {});
    const said = language || 'zh';
    const failures = [];
    const failure = async (label, work) => {
      try {
        await work();
        failures.push([label, 'no failure']);
      } catch (e) {
        failures.push([label, e.code, e.message]);
      }
    };
    await failure('zip', () => t.zip([{ name: 'docs/con.txt', source: new Uint8Array(3) }]));
    await failure('zipStream', () => t.zipStream([missing]).getReader().read());
    await failure('digest', () => t.digest(missing, { algorithms: ['md5'] }));
    await failure('verifySm2', () => t.verifySm2(new Uint8Array(3), { signature: 'zz', publicKey: 'zz' }));
    await failure('openZip', () => t.openZip(new Uint8Array(100)));
    await failure('extract', async () => (await t.openZip(await damaged(t))).extract(join(work, 'no-such-folder')));
    const tested = await (await t.openZip(await damaged(t))).test();
    failures.push(['test()', tested.entries[0].code, tested.entries[0].message]);
    await failure('checked', () => t.checked.GetLocalFileSHA256(missing));
    assert.equal(await t.GetLocalFileSize(missing), -1);
    failures.push(['GetLastErrorInfo', undefined, await t.GetLastErrorInfo()]);
    for (const [label, code, text] of failures) {
      assert.ok(typeof text === 'string' && speaks(said, text) && !/[\r\n]/.test(text), `${said} ${label}: ${code} ${JSON.stringify(text)}`);
    }
    seen[said] = failures.map(([label, code]) => [label, code]);
    t.close();
  }
  assert.deepEqual(seen.en, seen.zh);
  assert.deepEqual(seen.zh.map(([, code]) => code),
                   ['device-name', 'not-found', 'not-found', 'bad-key', 'not-zip', 'not-found', 'bad-crc', undefined, undefined]);
});
