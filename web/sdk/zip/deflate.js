// Deflating an archive entry's data (archive.js decides which way and keeps what comes out):
//   - a small entry's bytes in one go: in Node through zlib, in a browser through the platform's
//     CompressionStream when that wins, else zlib in the deflate module (fflate without it);
//   - a large entry's chunks as they come: in Node through zlib, in a browser in blocks on the
//     deflate workers the single-file zip uses, or on this thread where there are none.
// fflate is imported statically: a dynamic import splits a worker's code, which the bundlers'
// default worker format (Vite 7's iife) cannot hold.
import { Deflate, deflateSync } from './fflate.js';
import { loadDeflater } from './deflate-module.js';
import { abortError } from '../engine/reading.js';

const isNode = typeof process === 'object' && !!(process.versions && process.versions.node);
const nodeModule = (name) => process.getBuiltinModule(name);

const BLOCK = 2 * 1024 * 1024;      // a deflate worker's unit of work, as for the single-file zip
const WINDOW = 32 * 1024;
const BLOCKS_PER_WORKER = 2;    // two in flight a worker: the blocks and their output are most of the memory
const SYNC_MAX = 256 * 1024;        // entries below this size are deflated on the calling thread


let moduleDeflater = null;

// Raw deflate of a small entry's bytes at `level` (1-9).
export async function deflateWhole(data, level) {
  if (isNode) {
    // zlib's own thread pays off for a large entry; a small one is done before the round trip.
    const zlib = nodeModule('node:zlib');
    if (data.length < SYNC_MAX) {
      const out = zlib.deflateRawSync(data, { level });
      return new Uint8Array(out.buffer, out.byteOffset, out.length);
    }
    const out = await new Promise((resolve, reject) =>
      zlib.deflateRaw(data, { level }, (e, r) => (e ? reject(e) : resolve(r))));
    return new Uint8Array(out.buffer, out.byteOffset, out.length);
  }
  // The platform's stream costs about a millisecond to set up, more than fflate takes for a
  // small file; above a few hundred KiB native deflate wins.
  if (level === 6 && typeof CompressionStream === 'function' && data.length >= SYNC_MAX) {
    const stream = new Blob([data]).stream().pipeThrough(new CompressionStream('deflate-raw'));
    return new Uint8Array(await new Response(stream).arrayBuffer());
  }
  // Below that, zlib in the module: its buffers serve every entry again (only up to SYNC_MAX, so
  // that they stay small).
  if (!moduleDeflater) moduleDeflater = loadDeflater().catch(() => null);
  const zlib = await moduleDeflater;
  if (zlib && data.length < SYNC_MAX) return zlib.deflate(data, null, true, level);
  return deflateSync(data, { level });
}

// Node: through zlib, as the chunks come. Each chunk is written and zlib has taken all of it
// before the next is asked for, so the reader's buffers serve again (no copy of each chunk to
// collect later); what zlib gave meanwhile goes on.
export async function* deflateInNode(chunks, level) {
  const zlib = nodeModule('node:zlib');
  const deflater = zlib.createDeflateRaw({ level, chunkSize: 256 * 1024 });
  const parts = [];
  let failure = null, ended = false;
  deflater.on('data', (part) => parts.push(part));
  deflater.on('error', (e) => { failure = failure || e; });
  const ending = new Promise((resolve) => deflater.once('end', () => { ended = true; resolve(); }));
  const settled = (start) => new Promise((resolve, reject) =>
    start((e) => (e || failure ? reject(e || failure) : resolve())));
  function* given() {
    for (const part of parts.splice(0)) yield new Uint8Array(part.buffer, part.byteOffset, part.length);
  }
  try {
    for await (const chunk of chunks) {
      await settled((done) => deflater.write(chunk, done));
      yield* given();
    }
    await settled((done) => deflater.end(done));
    await ending;
    if (failure) throw failure;
    yield* given();
  } finally {
    if (!ended) deflater.destroy();
  }
}

// A browser without deflate workers: the platform's CompressionStream at level 6, else fflate.
export async function* deflateHere(chunks, level) {
  if (level !== 6 || typeof CompressionStream !== 'function') {
    const parts = [];
    const deflater = new Deflate({ level }, (part) => parts.push(part));
    for await (const chunk of chunks) {
      deflater.push(chunk.slice());
      yield* parts.splice(0);
    }
    deflater.push(new Uint8Array(0), true);
    yield* parts.splice(0);
    return;
  }
  const source = chunks[Symbol.asyncIterator]();
  const input = new ReadableStream({
    async pull(controller) {
      try {
        const { value, done } = await source.next();
        if (done) controller.close();
        else controller.enqueue(value.slice());
      } catch (e) {
        controller.error(e);
      }
    },
    cancel() { if (source.return) source.return(); },
  });
  const reader = input.pipeThrough(new CompressionStream('deflate-raw')).getReader();
  try {
    for (;;) {
      const { value, done } = await reader.read();
      if (done) return;
      yield value;
    }
  } finally {
    reader.cancel().catch(() => {});
  }
}

// In blocks on the deflate workers (tarnwick-deflate.js), each primed with the 32 KiB before it,
// at most a few per worker in flight; the deflated blocks come out in order as they are joined.
export async function* deflateInBlocks(chunks, pool, level, cancel) {
  const limit = pool.length * BLOCKS_PER_WORKER;
  const load = pool.map(() => 0);
  const finished = new Map();
  const spare = [];
  let sent = 0, joined = 0, failure = null, wake = null;
  const rouse = () => { if (wake) { const w = wake; wake = null; w(); } };
  pool.forEach((worker, n) => {
    worker.onmessage = ({ data: m }) => {
      load[n]--;
      if (m.error !== undefined) failure = failure || new Error('deflate: ' + m.error);
      else {
        finished.set(m.index, m.deflated);
        if (m.data && m.data.buffer.byteLength === BLOCK) spare.push(m.data.buffer);
      }
      rouse();
    };
    worker.onerror = (event) => {
      event.preventDefault();
      failure = failure || new Error('deflate: ' + (event.message || 'the worker failed'));
      rouse();
    };
  });
  const check = () => {
    if (cancel && cancel.aborted) throw abortError();
    if (failure) throw failure;
  };
  function* ready() {
    for (let d; (d = finished.get(joined)) !== undefined; joined++) {
      finished.delete(joined);
      yield d;
    }
  }
  async function* waitBelow(most) {
    while (sent - joined > most) {
      check();
      if (!finished.has(joined)) await new Promise((resolve) => { wake = resolve; });
      check();
      yield* ready();
    }
  }
  let dictionary = null;
  async function* send(data, last) {
    yield* waitBelow(limit - 1);
    const n = load.indexOf(Math.min(...load));
    load[n]++;
    const next = data.length >= WINDOW ? data.slice(data.length - WINDOW) : null;
    pool[n].postMessage({ index: sent++, data, dictionary, last, level }, [data.buffer]);
    dictionary = next;
    yield* ready();
  }
  let block = new Uint8Array(BLOCK), fill = 0;
  for await (const chunk of chunks) {
    for (let at = 0; at < chunk.length;) {
      if (fill === BLOCK) {
        yield* send(block, false);
        block = spare.length ? new Uint8Array(spare.pop()) : new Uint8Array(BLOCK);
        fill = 0;
      }
      const n = Math.min(BLOCK - fill, chunk.length - at);
      block.set(chunk.subarray(at, at + n), fill);
      fill += n;
      at += n;
    }
  }
  yield* send(fill === BLOCK ? block : block.slice(0, fill), true);
  yield* waitBelow(0);
}
