// digest(source, options) in Node: one table of sizes and sources against references no one here
// wrote (test/digests.py: hashlib, openssl, zlib, the CRC catalogue, S3's multipart ETag),
// checkpoints and resume, refusals, cancel, what a job leaves behind (listeners, locked streams,
// workers), and a file of 2^31 + 1 bytes.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { getEventListeners } from 'node:events';
import { closeSync, mkdtempSync, openSync, readFileSync, rmSync, statSync, symlinkSync, utimesSync, writeFileSync, writeSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { crc32 } from 'node:zlib';
import { Tarnwick } from '../../sdk/tarnwick.js';
import { spansFor } from '../../sdk/digest/plan.js';
import { digestJob, digestWorkers } from '../../sdk/digest/digest.js';

const ALL = ['md5', 'sha1', 'sha256', 'sm3', 'crc32', 'crc32c', 'crc64ecma', 'crc64nvme'];
const work = mkdtempSync(join(tmpdir(), 'tarnwick-digest-'));
process.on('exit', () => rmSync(work, { recursive: true, force: true }));
const reference = (chunk, paths, fast) => execFileSync('python3', [
  fileURLToPath(new URL('../digests.py', import.meta.url)), String(chunk), ...(fast ? ['--fast'] : []), ...paths,
], { maxBuffer: 1 << 26 }).toString().trim().split('\n').map((line) => JSON.parse(line));

function pattern(size, seed) {
  const out = new Uint8Array(size);
  let x = seed;
  for (let i = 0; i < size; i++) { x = (x * 1103515245 + 12345) >>> 0; out[i] = x >>> 24; }
  return out;
}

function file(name, data) {
  const path = join(work, name);
  writeFileSync(path, data);
  return path;
}

// A stream of uneven pieces, as a network or a page's own stream gives them.
function streamOf(data) {
  let at = 0, n = 0;
  return new ReadableStream({
    pull(controller) {
      if (at >= data.length) return controller.close();
      const step = [1, 7000, 70000, 3 << 20][n++ % 4];
      controller.enqueue(data.slice(at, at + step));
      at += step;
    },
  });
}

const SOURCES = {
  bytes: (data) => { const b = new Uint8Array(data.length + 3); b.set(data, 3); return b.subarray(3); },
  arrayBuffer: (data) => data.slice().buffer,
  blob: (data) => new Blob([data.subarray(0, data.length >> 1), data.subarray(data.length >> 1)]),
  stream: (data) => streamOf(data),
  path: (data, name) => file(name, data),
};

test('every algorithm, whole and per chunk, of every size and source equals the references', async () => {
  const t = await Tarnwick.open();
  const C = 1024;
  const sizes = [0, 1, 63, 64, 65, C - 1, C, C + 1, 2 * C, 2 * C + 1, 3 * C - 1];
  const datas = sizes.map((size) => pattern(size, size + 1));
  const want = reference(C, datas.map((d, i) => file(`ref-${i}`, d)));
  // A larger one: pieces of 2 MiB, chunks of 1 MiB, a checkpoint at each chunk's end.
  const big = pattern((3 << 20) + 5, 9);
  const [wantBig] = reference(1 << 20, [file('ref-big', big)]);
  for (const [kind, make] of Object.entries(SOURCES)) {
    for (let i = 0; i < datas.length; i++) {
      const seen = [];
      const got = await t.digest(make(datas[i], `${kind}-${i}`), {
        algorithms: ALL, chunkSize: C, onChunk: (c) => seen.push(c),
      });
      assert.deepEqual(got, want[i], `${kind}, ${sizes[i]} bytes`);
      assert.deepEqual(seen, want[i].chunks, `${kind}, ${sizes[i]} bytes: onChunk`);
    }
    const seen = [];
    const got = await t.digest(make(big, `${kind}-big`), { algorithms: ALL, chunkSize: 1 << 20, onChunk: (c) => seen.push(c.index), checkpoint: () => {} });
    assert.deepEqual(got, wantBig, `${kind}, 3 MiB + 5`);
    assert.deepEqual(seen, [0, 1, 2, 3]);
  }
  // Base64, as HTTP checksum headers carry it; CRCs as their big-endian bytes.
  const b64 = await t.digest(datas[7], { algorithms: ALL, encoding: 'base64' });
  for (const name of ALL) assert.equal(Buffer.from(b64.digests[name], 'base64').toString('hex'), want[7].digests[name], name);
  assert.deepEqual(Object.keys(want[7].digests), ALL);
});

test('a job stopped at a checkpoint resumes on a new object to the same results', async () => {
  const data = pattern((5 << 20) + 77, 3);
  const path = file('resume.bin', data);
  const [want] = reference(1 << 20, [path], true);
  const algorithms = ['md5', 'sha1', 'sha256', 'sm3', 'crc32'];
  for (const [kind, make] of [['path', () => path], ['bytes', () => data], ['stream', () => streamOf(data)]]) {
    const t = await Tarnwick.open();
    const controller = new AbortController();
    const states = [];
    await assert.rejects(t.digest(make(), {
      algorithms, chunkSize: 1 << 20, signal: controller.signal,
      checkpoint: (state) => { states.push(state); if (states.length === 2) controller.abort(); },
    }), { name: 'AbortError' });
    assert.equal(states.length, 2, kind);
    const later = await Tarnwick.open();
    const seen = [];
    const got = await later.digest(make(), { algorithms, chunkSize: 1 << 20, resume: states[1], onChunk: (c) => seen.push(c.index) });
    assert.deepEqual(got, want, kind);
    assert.deepEqual(seen, [2, 3, 4, 5], `${kind}: only the chunks after the checkpoint are handed over again`);
  }
  // Without chunks: a checkpoint every 8 MiB.
  const long = pattern((17 << 20) + 1, 4);
  const longPath = file('long.bin', long);
  const [wantLong] = reference(0, [longPath], true);
  const t = await Tarnwick.open();
  const states = [];
  const whole = await t.digest(longPath, { algorithms, checkpoint: (s) => states.push(s) });
  assert.deepEqual(whole, wantLong);
  assert.equal(states.length, 2);
  assert.deepEqual(await t.digest(long, { algorithms, resume: states[0] }), wantLong);
});

test('a checkpoint that does not belong is refused with a code, never resumed into a wrong digest', async () => {
  const t = await Tarnwick.open();
  const data = pattern(3 << 20, 5);
  const path = file('own.bin', data);
  const options = { algorithms: ['md5', 'crc64nvme'], chunkSize: 1 << 20 };
  let state;
  await t.digest(path, { ...options, checkpoint: (s) => { state = state || s; } });
  const refused = async (source, opts, code) => {
    await assert.rejects(t.digest(source, opts), (e) => e.name === 'TarnwickError' && e.code === code && e.method === 'digest' && e.message.length > 0);
  };
  const damaged = state.slice();
  damaged[40] ^= 1;
  await refused(path, { ...options, resume: damaged }, 'checkpoint-damaged');
  await refused(path, { ...options, resume: state.subarray(0, state.length - 1) }, 'checkpoint-damaged');
  const otherVersion = state.slice();
  otherVersion[4] = 99;
  new DataView(otherVersion.buffer).setUint32(otherVersion.length - 4, crc32(otherVersion.subarray(0, otherVersion.length - 4)), true);
  await refused(path, { ...options, resume: otherVersion }, 'checkpoint-version');
  await refused(file('other.bin', data.subarray(1)), { ...options, resume: state }, 'checkpoint-mismatch');
  await refused(path, { ...options, algorithms: ['md5'], resume: state }, 'checkpoint-mismatch');
  await refused(path, { ...options, chunkSize: 2 << 20, resume: state }, 'checkpoint-mismatch');
  // The states inside are the module's own: one of another algorithm is refused too.
  const body = JSON.parse(Buffer.from(state.subarray(9, state.length - 4)).toString());
  [body.states.md5, body.states.crc64nvme] = [body.states.crc64nvme, body.states.md5];
  const swapped = Buffer.concat([Buffer.from(state.subarray(0, 9)), Buffer.from(JSON.stringify(body)), Buffer.alloc(4)]);
  swapped.writeUInt32LE(swapped.length - 13, 5);
  swapped.writeUInt32LE(crc32(swapped.subarray(0, swapped.length - 4)), swapped.length - 4);
  await refused(path, { ...options, resume: swapped }, 'checkpoint-damaged');
  assert.deepEqual(await t.digest(path, { ...options, resume: state }), (await t.digest(data, options)));
});

test('a checkpoint of other bytes of the same size (and name and time) is refused before any result goes out', async () => {
  const t = await Tarnwick.open();
  const options = { algorithms: ['sha256'], chunkSize: 1 << 20 };
  const a = pattern(3 << 20, 11);
  // One byte changed, away from the start and from every checkpoint's first bytes.
  const b = a.slice();
  b[(1 << 20) + 300000] ^= 1;
  const want = await t.digest(b, options);
  const second = async (source) => {
    const states = [];
    await t.digest(source, { ...options, checkpoint: (s) => states.push(s) });
    return states[1];
  };
  const refused = async (source, state, what) => {
    const seen = [];
    await assert.rejects(t.digest(source, { ...options, resume: state, onChunk: (c) => seen.push(c.index), checkpoint: () => seen.push('checkpoint') }),
                         (e) => e.code === 'checkpoint-mismatch' && e.name === 'TarnwickError', what);
    assert.deepEqual(seen, [], `${what}: nothing was handed over`);
  };
  // Bytes and streams are read again from their start: every byte before the offset is checked.
  await refused(b, await second(a), 'bytes');
  const stream = streamOf(b);
  await refused(stream, await second(streamOf(a)), 'stream');
  assert.equal(stream.locked, false, 'the refused stream is released');
  // A File of the same name, size and time but other content (windows of it are read again); the
  // same file picked again after a reload goes on.
  const picked = (data) => new File([data], 'same.bin', { lastModified: 1700000000000 });
  const kept = await second(picked(a));
  await refused(picked(pattern(3 << 20, 12)), kept, 'File');
  assert.deepEqual(await t.digest(picked(a.slice()), { ...options, resume: kept }), await t.digest(a, options));
  // A path written again with other bytes, its time put back: its change time tells.
  const path = file('rewritten.bin', a);
  utimesSync(path, 1700000000, 1700000000);
  const keptPath = await second(path);
  writeFileSync(path, b);
  utimesSync(path, 1700000000, 1700000000);
  assert.equal(statSync(path, { bigint: true }).mtimeNs, 1700000000n * 10n ** 9n);
  await refused(path, keptPath, 'path');
  // A record of bytes or a stream holds a CRC of every byte, which a file is not read for again.
  await refused(new Blob([b]), await second(a), 'Blob from a bytes record');
  // A file's record resumed with its bytes checks its windows on them, and goes on.
  assert.deepEqual(await t.digest(b, { ...options, resume: await second(picked(b)) }), want);
});

test('bad options are TypeError or RangeError; failures carry the control\'s texts and leave its own alone', async () => {
  const t = await Tarnwick.open();
  await t.GetLocalFileSize('');
  const data = new Uint8Array(10);
  for (const [options, error] of [
    [undefined, TypeError], [{ algorithms: 'md5' }, TypeError], [{ algorithms: [] }, RangeError],
    [{ algorithms: ['md4'] }, RangeError], [{ algorithms: ['md5'], chunkSize: '1M' }, TypeError],
    [{ algorithms: ['md5'], chunkSize: 100 }, RangeError], [{ algorithms: ['md5'], chunkSize: 1.5e6 + 0.5 }, RangeError],
    [{ algorithms: ['md5'], chunkAlgorithms: ['md5'] }, TypeError], [{ algorithms: ['md5'], encoding: 'HEX' }, RangeError],
    [{ algorithms: ['md5'], onChunk: 1 }, TypeError], [{ algorithms: ['md5'], resume: 'state' }, TypeError],
    [{ algorithms: ['md5'], sm3Cert: 'x' }, TypeError],
  ]) {
    await assert.rejects(t.digest(data, options), error, JSON.stringify(options));
  }
  await assert.rejects(t.digest(12, { algorithms: ['md5'] }), TypeError);
  const missing = join(work, 'missing.bin');
  await assert.rejects(t.digest(missing, { algorithms: ['md5'] }), (e) =>
    e.code === 'not-found' && e.message === `[${missing}]\u6587\u4ef6\u4e0d\u5b58\u5728`);
  await assert.rejects(t.digest('/dev/null', { algorithms: ['md5'] }), { code: 'not-a-disk-file' });
  await assert.rejects(t.digest(work, { algorithms: ['md5'] }), { code: 'open-failed' });
  await assert.rejects(t.digest(data, { algorithms: ['sm3'], sm3Cert: 'aGVsbG8gd29ybGQ=' }), (e) =>
    e.engineStatus === 0x2003 && e.message === 'SM3\u6458\u8981\u8ba1\u7b97\u5931\u8d25,\u8bc1\u4e66\u683c\u5f0f\u9519\u8bef\u6216\u4e0d\u5b8c\u6574(\u9519\u8bef\u78010x2003)');
  // A file that changes length while it is read.
  const moving = file('moving.bin', pattern(6 << 20, 1));
  await assert.rejects(t.digest(moving, { algorithms: ['sha256'], onProgress: () => writeFileSync(moving, 'short') }), { code: 'read-failed' });
  assert.equal(await t.GetLastErrorInfo(), '\u6587\u4ef6\u8def\u5f84\u4e3a\u7a7a', 'the control\'s text is left alone');
});

test('a source that fails while read is read-failed with its own error as the cause, a file gone is not-found', async () => {
  const t = await Tarnwick.open();
  // A download cut off mid-way: the stream's own TypeError is no bad option.
  const cut = new TypeError('terminated');
  let sent = 0;
  const download = new ReadableStream({
    pull(controller) {
      if (sent++ < 3) controller.enqueue(pattern(70000, sent));
      else controller.error(cut);
    },
  });
  await assert.rejects(t.digest(download, { algorithms: ['md5', 'sha256'], chunkSize: 1 << 20 }),
                       (e) => e.name === 'TarnwickError' && e.code === 'read-failed' && e.cause === cut &&
                         e.message.includes('(38)') && !/[\r\n]/.test(e.message));
  assert.equal(download.locked, false);
  // Picked files whose reads fail as browsers fail them (one lane: read here, on this thread).
  class Picked extends File {
    constructor(size, readError, freshError) {
      super([pattern(size, 5)], 'picked.bin');
      Object.assign(this, { readError, freshError });
    }
    stream() {
      const { readError } = this;
      // No error: a stream of nothing, as a browser may give for a file that says it is empty.
      return new ReadableStream({
        type: 'bytes',
        pull(controller) {
          if (readError) return controller.error(new DOMException('the read failed', readError));
          controller.close();
          if (controller.byobRequest) controller.byobRequest.respond(0);
        },
      });
    }
    slice() {
      const { freshError } = this;
      return { arrayBuffer: () => (freshError ? Promise.reject(new DOMException('again', freshError)) : Promise.resolve(new ArrayBuffer(1))) };
    }
    arrayBuffer() { return this.slice().arrayBuffer(); }
  }
  const gone = (e) => e.code === 'not-found' && e.message === '[picked.bin]\u6587\u4ef6\u4e0d\u5b58\u5728';
  await assert.rejects(t.digest(new Picked(3000, 'NotFoundError', 'NotFoundError'), { algorithms: ['crc32'] }), gone);
  await assert.rejects(t.digest(new Picked(3000, 'NotReadableError', 'NotFoundError'), { algorithms: ['crc32'] }), gone);
  // Gone before its size was first asked for: it says 0 bytes.
  await assert.rejects(t.digest(new Picked(0, null, 'NotFoundError'), { algorithms: ['crc32'] }), gone);
  // Changed since it was picked: there, but not as it was.
  await assert.rejects(t.digest(new Picked(3000, 'NotReadableError', null), { algorithms: ['crc32'] }),
                       (e) => e.code === 'read-failed' && e.cause.name === 'NotReadableError');
  // A path gone between its check and its reading.
  const missing = join(work, 'went.bin');
  await assert.rejects(digestJob(missing, { algorithms: ['md5'] }, {
    localFile: async (path) => ({ source: {}, path }),
    makeError: (message, code) => Object.assign(new Error(message), { code }),
  }), (e) => e.code === 'not-found' && e.message === `[${missing}]\u6587\u4ef6\u4e0d\u5b58\u5728`);
});

test('a stream given up is cancelled and released at once, even with its read stalled', async () => {
  const t = await Tarnwick.open();
  // In Node one lane of md5 is read here; four algorithms go to workers.
  for (const algorithms of [['md5'], ['md5', 'sha1', 'sha256', 'crc32']]) {
    let cancelled = null;
    const stalled = new ReadableStream({
      start(controller) { controller.enqueue(pattern(100000, 1)); },
      pull: () => new Promise(() => {}),
      cancel(reason) { cancelled = reason; },
    });
    const controller = new AbortController();
    await assert.rejects(t.digest(stalled, { algorithms, signal: controller.signal, onProgress: () => controller.abort() }), { name: 'AbortError' });
    assert.equal(stalled.locked, false, algorithms.join());
    assert.equal(cancelled && cancelled.name, 'AbortError', algorithms.join());
  }
  // A failure of the job (a stream of text): cancelled too.
  let cancelled = null;
  const text = new ReadableStream({ pull(controller) { controller.enqueue('text'); }, cancel(reason) { cancelled = reason; } });
  await assert.rejects(t.digest(text, { algorithms: ['md5'] }), TypeError);
  assert.ok(cancelled && !text.locked);
  // An async iterable stuck in its next(): ended by its return().
  let returned = false, asked = 0;
  const iterable = {
    [Symbol.asyncIterator]: () => ({
      next: () => (asked++ ? new Promise(() => {}) : Promise.resolve({ value: pattern(1000, 2), done: false })),
      return: () => { returned = true; return Promise.resolve({ done: true }); },
    }),
  };
  const controller = new AbortController();
  setTimeout(() => controller.abort(), 50);
  await assert.rejects(t.digest(iterable, { algorithms: ['md5'], signal: controller.signal }), { name: 'AbortError' });
  assert.ok(returned);
});

test('jobs on one long-lived signal leave no listener on it and no warning', async () => {
  const t = await Tarnwick.open();
  const { signal } = new AbortController();
  const warnings = [];
  const warned = (w) => warnings.push(w.name);
  process.on('warning', warned);
  const data = pattern(1 << 20, 7);
  try {
    for (let i = 0; i < 12; i++) await t.digest(data, { algorithms: ['md5', 'sha256'], signal });
    const most = [];
    await Promise.all(Array.from({ length: 12 }, () => t.digest(data, {
      algorithms: ['crc32'], signal, onProgress: () => most.push(getEventListeners(signal, 'abort').length),
    })));
    assert.deepEqual([...new Set(most)], [1], 'jobs at once share one listener');
    // Every way out: a refusal, a bad checkpoint, a failed read.
    await assert.rejects(t.digest(join(work, 'missing.bin'), { algorithms: ['md5'], signal }), { code: 'not-found' });
    await assert.rejects(t.digest(data, { algorithms: ['md5'], signal, resume: new Uint8Array(20) }), { code: 'checkpoint-damaged' });
    await assert.rejects(t.digest(new ReadableStream({ pull(c) { c.error(new Error('cut')); } }), { algorithms: ['md5'], signal }), { code: 'read-failed' });
    assert.equal(getEventListeners(signal, 'abort').length, 0);
    await new Promise((resolve) => setImmediate(resolve));
  } finally {
    process.off('warning', warned);
  }
  assert.deepEqual(warnings, []);
});

test('twenty jobs at once share a bounded set of workers and all give the right digests', async () => {
  const t = await Tarnwick.open();
  const datas = Array.from({ length: 20 }, (_, i) => pattern((1 << 20) + i, i + 20));
  const algorithms = ['md5', 'sha1', 'sha256', 'crc32'];
  const want = (data) => ({
    size: data.length,
    digests: {
      md5: createHash('md5').update(data).digest('hex'), sha1: createHash('sha1').update(data).digest('hex'),
      sha256: createHash('sha256').update(data).digest('hex'), crc32: crc32(data).toString(16).padStart(8, '0'),
    },
  });
  digestWorkers.resetPeak();
  // With checkpoints kept every lane is the module's: more than one lane a job on two cores.
  // One is cancelled once the first is under way (by then, most likely waiting for workers).
  const controller = new AbortController();
  const jobs = datas.map((data, i) => t.digest(i === 19 ? new Blob([data]) : data, {
    algorithms, checkpoint: () => {}, signal: i === 18 ? controller.signal : undefined, onProgress: i === 0 ? () => controller.abort() : undefined,
  }));
  const results = await Promise.allSettled(jobs);
  assert.equal(results[18].reason.name, 'AbortError');
  results.forEach((r, i) => { if (i !== 18) assert.deepEqual(r.value, want(datas[i]), `job ${i}`); });
  assert.ok(digestWorkers.peak >= 2, `${digestWorkers.peak} workers at most`);
  assert.ok(digestWorkers.peak <= digestWorkers.limit, `${digestWorkers.peak} workers at most, of ${digestWorkers.limit}`);
});

test('SM3 with a certificate equals the control\'s SM3 with the Z value', async () => {
  const t = await Tarnwick.open();
  const fixtures = mkdtempSync(join(work, 'fx-'));
  execFileSync('python3', [fileURLToPath(new URL('../fixtures.py', import.meta.url)), fixtures]);
  const expected = JSON.parse(readFileSync(join(fixtures, 'expected.json'), 'utf8'));
  const data = readFileSync(join(fixtures, 'sample.bin'));
  const got = await t.digest(data, { algorithms: ['sm3', 'md5'], sm3Cert: expected.cert, chunkSize: 1 << 20 });
  assert.equal(got.digests.sm3, (await t.GetMemFileSM3(data, 1, expected.cert)).toLowerCase());
  assert.notEqual(got.digests.sm3, (await t.GetMemFileSM3(data, 0, '')).toLowerCase());
});

test('a sparse file of 2^31 + 1 bytes: sizes and offsets past 32 bits, CRCs read in spans, progress and cancel', async () => {
  const path = join(work, 'sparse.bin');
  const fd = openSync(path, 'w');
  writeSync(fd, Buffer.from('a'), 0, 1, 2 ** 31);
  closeSync(fd);
  const t = await Tarnwick.open();
  let last;
  const got = await t.digest(path, {
    algorithms: ['md5', 'crc32'], chunkSize: 2 ** 30, chunkAlgorithms: ['crc32'], onProgress: (done, total) => { last = [done, total]; },
  });
  assert.equal(got.size, 2 ** 31 + 1);
  assert.equal(got.digests.md5, execFileSync('md5sum', [path]).toString().split(' ')[0]);
  let zeros = 0;
  for (let i = 0; i < 64; i++) zeros = crc32(Buffer.alloc(1 << 24), zeros);
  const hex = (n) => n.toString(16).padStart(8, '0');
  assert.deepEqual(got.chunks, [
    { index: 0, offset: 0, length: 2 ** 30, digests: { crc32: hex(zeros) } },
    { index: 1, offset: 2 ** 30, length: 2 ** 30, digests: { crc32: hex(zeros) } },
    { index: 2, offset: 2 ** 31, length: 1, digests: { crc32: hex(crc32(Buffer.from('a'))) } },
  ]);
  assert.deepEqual(last, [2 ** 31 + 1, 2 ** 31 + 1]);
  // CRCs alone: the file is read in spans at once (one past 2^31) and their values joined; the
  // same values as zlib's and as one read's (a job that keeps checkpoints is never split).
  assert.equal(spansFor({ algorithms: ['crc32'] }, { path, size: 2 ** 31 + 1 }, 2).length, 2);
  const seen = [];
  const spans = await t.digest(path, { algorithms: ['crc32', 'crc64nvme'], onProgress: (done, total) => seen.push([done, total]) });
  for (let i = 0; i < 64; i++) zeros = crc32(Buffer.alloc(1 << 24), zeros);
  assert.equal(spans.digests.crc32, hex(crc32(Buffer.from('a'), zeros)));
  assert.deepEqual(spans, await t.digest(path, { algorithms: ['crc32', 'crc64nvme'], checkpoint: () => {} }));
  assert.deepEqual(seen.at(-1), [2 ** 31 + 1, 2 ** 31 + 1]);
  assert.ok(seen.at(-2)[0] > 0.75 * 2 ** 31, 'progress counts what every span has read');
  const blob = new Blob([pattern((64 << 20) + 3, 9)]);
  assert.deepEqual(await t.digest(blob, { algorithms: ['crc32c', 'crc64ecma'] }),
                   await t.digest(new Uint8Array(await blob.arrayBuffer()), { algorithms: ['crc32c', 'crc64ecma'] }));
  const controller = new AbortController();
  const started = Date.now();
  await assert.rejects(t.digest(path, { algorithms: ['sm3'], signal: controller.signal, onProgress: (done) => { if (done > 64 << 20) controller.abort(); } }), { name: 'AbortError' });
  assert.ok(Date.now() - started < 20000);
});

test('the command: md5sum\'s lines, JSON lines, failures and a sparse file past 4 GiB', async () => {
  const bin = fileURLToPath(new URL('../../bin/tarnwick.js', import.meta.url));
  const run = (...args) => {
    const r = spawnSync(process.execPath, [bin, 'digest', ...args], { encoding: 'utf8' });
    return [r.status, r.stdout, r.stderr];
  };
  const a = file('a.bin', pattern(70000, 1)), b = file('b b.bin', pattern(3, 2));
  for (const tool of ['md5sum', 'sha1sum', 'sha256sum']) {
    const algorithm = '--' + tool.slice(0, -3);
    assert.deepEqual(run(algorithm, a, b), [0, execFileSync(tool, [a, b]).toString(), '']);
  }
  const missing = join(work, 'missing.bin');
  const [status, out, err] = run('--md5', '--crc32c', '--chunk', '64K', '--json', a, missing, b);
  assert.equal(status, 1);
  assert.equal(err, `[${missing}]\u6587\u4ef6\u4e0d\u5b58\u5728\n`);
  const want = reference(65536, [a, b]);
  assert.deepEqual(out.trim().split('\n').map((line) => JSON.parse(line)), [a, b].map((path, i) => {
    const pick = (d) => ({ md5: d.md5, crc32c: d.crc32c });
    return { path, size: want[i].size, digests: pick(want[i].digests), chunks: want[i].chunks.map((c) => ({ ...c, digests: pick(c.digests) })), s3Etag: want[i].s3Etag };
  }));
  for (const wrong of [[], ['--md5'], ['--md4', a], ['--md5', '--chunk', '12', a], ['--md5', '--z', 'c.b64', a], ['--md5', '--chunk'],
    ['--md5', '--chunk', '1M', '--chunk', '2M', a], ['--sm3', '--z', a, '--z', b, a]]) {
    assert.equal(run(...wrong)[0], 2, wrong.join(' '));
  }
  // 2^32 + 1 bytes, all but the last zero; zlib.crc32 over the same bytes is the reference.
  const path = join(work, 'past4g.bin');
  const fd = openSync(path, 'w');
  writeSync(fd, Buffer.from('z'), 0, 1, 2 ** 32);
  closeSync(fd);
  const [code, json] = run('--crc32', '--chunk', '2G', '--json', path);
  assert.equal(code, 0);
  let zeros = 0;
  for (let i = 0; i < 128; i++) zeros = crc32(Buffer.alloc(1 << 24), zeros);
  let allZeros = zeros;
  for (let i = 0; i < 128; i++) allZeros = crc32(Buffer.alloc(1 << 24), allZeros);
  const hex = (n) => n.toString(16).padStart(8, '0');
  assert.deepEqual(JSON.parse(json), {
    path, size: 2 ** 32 + 1, digests: { crc32: hex(crc32(Buffer.from('z'), allZeros)) },
    chunks: [
      { index: 0, offset: 0, length: 2 ** 31, digests: { crc32: hex(zeros) } },
      { index: 1, offset: 2 ** 31, length: 2 ** 31, digests: { crc32: hex(zeros) } },
      { index: 2, offset: 2 ** 32, length: 1, digests: { crc32: hex(crc32(Buffer.from('z'))) } },
    ],
  });
});

test('the command\'s lines are what sha256sum and md5sum print, escapes too, and their -c reads them back', () => {
  const bin = fileURLToPath(new URL('../../bin/tarnwick.js', import.meta.url));
  const names = ['line\nfeed.bin', 'back\\slash.bin', 'carriage\rreturn.bin', 'all\\three\r\n.bin', 'plain.bin']
    .map((name, i) => file(name, pattern(100 + i, i)));
  for (const tool of ['sha256sum', 'md5sum']) {
    const r = spawnSync(process.execPath, [bin, 'digest', '--' + tool.slice(0, -3), '--', ...names]);
    assert.equal(r.status, 0, r.stderr.toString());
    assert.equal(r.stdout.toString('latin1'), execFileSync(tool, ['--', ...names]).toString('latin1'), tool);
    const check = spawnSync(tool, ['-c', '--strict'], { input: r.stdout });
    assert.equal(check.status, 0, `${tool} -c: ${check.stdout}${check.stderr}`);
  }
});

test('the command hashes a name that is not UTF-8 and files named like Windows devices; a path too long or a loop is said to be so', async () => {
  const bin = fileURLToPath(new URL('../../bin/tarnwick.js', import.meta.url));
  // A name with the byte 0xff, given to the command by a shell (a JS string cannot hold it).
  const odd = Buffer.concat([Buffer.from(work + '/inv'), Buffer.from([0xff]), Buffer.from('alid.bin')]);
  writeFileSync(odd, pattern(5000, 3));
  const shell = (command) => spawnSync('sh', ['-c', command, 'sh', process.execPath, bin, work]);
  const name = '"$3/inv$(printf \'\\377\')alid.bin"';
  const sum = shell(`sha256sum ${name}`).stdout;
  assert.match(sum.toString('latin1'), /^[0-9a-f]{64}  .*inv\xffalid\.bin\n$/);
  const digest = shell(`"$1" "$2" digest --sha256 ${name}`);
  assert.deepEqual([digest.status, digest.stderr.toString()], [0, '']);
  assert.deepEqual(digest.stdout, sum, 'tarnwick digest prints what sha256sum prints');
  const control = shell(`"$1" "$2" sha256 ${name} ${name}`);
  assert.deepEqual([control.status, control.stderr.toString()], [0, '']);
  const hex = Buffer.from(sum.toString('latin1').slice(0, 64).toUpperCase());
  const line = Buffer.concat([hex, Buffer.from('  '), odd, Buffer.from('\n')]);
  assert.deepEqual(control.stdout, Buffer.concat([line, line]), 'tarnwick sha256 prints the name as given');
  const missing = shell(`"$1" "$2" digest --sha256 "$3/gone$(printf '\\377')"`);
  assert.equal(missing.status, 1);
  assert.match(missing.stderr.toString('latin1'), /^tarnwick: ".*gone\xff" \(a name that is not valid UTF-8\) could not be opened: ENOENT/);
  // Files named like Windows devices are files here to digest() (the control's methods take them
  // as the control does); a device is still refused.
  const t = await Tarnwick.open();
  if (process.platform !== 'win32') {
    for (const device of ['aux.txt', 'CON', 'nul']) {
      const path = file(device, pattern(300, 4));
      const r = spawnSync(process.execPath, [bin, 'digest', '--sha256', path], { encoding: 'utf8' });
      assert.deepEqual([r.status, r.stdout, r.stderr], [0, execFileSync('sha256sum', [path]).toString(), ''], device);
      assert.equal((await t.digest(path, { algorithms: ['sha256'] })).digests.sha256, r.stdout.slice(0, 64), `${device} in the SDK`);
    }
  }
  const nul = spawnSync(process.execPath, [bin, 'digest', '--sha256', '/dev/null'], { encoding: 'utf8' });
  assert.equal(nul.status, 1);
  // A path longer than the system opens (ENAMETOOLONG), and a link to itself (ELOOP).
  const long = join(work, 'x'.repeat(300));
  const loop = join(work, 'loop');
  symlinkSync('loop', loop);
  for (const [path, code] of [[long, 'ENAMETOOLONG'], [loop, 'ELOOP']]) {
    const r = spawnSync(process.execPath, [bin, 'digest', '--sha256', path], { encoding: 'utf8' });
    assert.equal(r.status, 1, code);
    assert.ok(r.stderr.includes(code) && !r.stderr.includes('\u4e0d\u5b58\u5728'), `${code}: ${r.stderr}`);
  }
});
