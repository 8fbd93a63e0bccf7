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

test('SHA-256 and SM3 of every length up to 9 blocks, in one piece and split, equal OpenSSL\'s', async () => {
  const { createHash } = await import('node:crypto');
  const { Engine } = await import('../../sdk/engine.js');
  const engine = await Engine.load(readFileSync(fileURLToPath(new URL('../../sdk/tarnwick.wasm', import.meta.url))));
  const data = new Uint8Array(9 * 64 + 1).map((_, i) => (i * 151 + 7) & 255);
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
