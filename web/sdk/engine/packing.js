// The engine's packing: a one-entry zip archive of a source, deflated by the platform (or by
// deflate workers for a large file), framed by the core's records.
import { CHUNK, abortError, chunksOf, sizeOf, progressReporter } from './reading.js';

const BLOB_GROUP = 32 * 1024 * 1024;    // deflated output is gathered into a Blob this often
// Files from this size on are deflated in blocks on several deflate workers where the platform
// has workers (a browser's worker); smaller ones, and Node, take the platform's CompressionStream.
const PARALLEL_MIN = 16 * 1024 * 1024;
const BLOCK = 2 * 1024 * 1024;          // a deflate worker's unit of work
const WINDOW = 32 * 1024;               // the deflate window: what primes the next block
// Blocks in flight (sent, deflating or not yet joined): with two, a worker that finished early
// often waited on a slower block's join; three per worker packed 100 MiB of text at 33-38 MB/s
// against 32-33 with two in alternating runs, for 4 MiB more at most.
const BLOCKS_PER_WORKER = 3;

// A one-entry archive of the source: raw deflate from the platform's CompressionStream, or
// stored when deflate does not shrink the data, framed by the core's records. entry: { name,
// nameBytes (as stored; UTF-8 of name when absent), utf8, dosTime, dosDate }. Gives { header,
// data, trailer, crc, method }: data is the deflated stream as Blobs, or null for a stored
// entry, whose data is the source itself (archiveBlob puts the parts together).
export async function zip(engine, source, entry, { onProgress, cancel } = {}) {
  const size = sizeOf(source);
  if (size >= PARALLEL_MIN) {
    const pool = await deflatePool();
    if (pool) return zipInBlocks(engine, source, entry, pool, { onProgress, cancel });
  }
  const target = { ...entry, size };
  const deflater = new CompressionStream('deflate-raw');
  const writer = deflater.writable.getWriter();
  const groups = [];
  let pending = [], pendingBytes = 0, compressed = 0;
  const drain = (async () => {
    const reader = deflater.readable.getReader();
    for (;;) {
      const { value, done } = await reader.read();
      if (done) break;
      pending.push(value);
      pendingBytes += value.length;
      compressed += value.length;
      if (pendingBytes >= BLOB_GROUP) {
        groups.push(new Blob(pending));
        pending = [];
        pendingBytes = 0;
      }
    }
  })();
  drain.catch(() => {});  // awaited below; an aborted deflater's failure is not news
  const report = progressReporter(size, onProgress);
  let crc = 0, done = 0;
  try {
    for await (const chunk of chunksOf(source, cancel)) {
      for (let at = 0; at < chunk.length; at += CHUNK) {
        const part = chunk.subarray(at, Math.min(at + CHUNK, chunk.length));
        engine._put(part);
        crc = engine._x.tw_crc32(crc, engine._in, part.length);
      }
      // The deflater has consumed a chunk when its write settles, so a buffer that goes back to
      // the page afterwards is free; a stream's reused buffer gets a copy, as it always has.
      await writer.write(source.blob ? chunk.slice() : chunk);
      done += chunk.length;
      report(done);
    }
    await writer.close();
    await drain;
  } catch (e) {
    writer.abort(e).catch(() => {});
    throw e;
  }
  groups.push(new Blob(pending));
  const stored = size === 0 || compressed >= size;
  const method = stored ? 0 : 8;
  const dataSize = stored ? size : compressed;
  const header = engine._record(engine._x.tw_zip_local_header, target, method, crc, dataSize);
  const trailer = engine._record(engine._x.tw_zip_trailer, target, method, crc, dataSize);
  return { header, data: stored ? null : groups, trailer, crc: crc >>> 0, method };
}

// zip() for a large file: the blocks deflated on the pool's workers, at most a few per worker in
// flight, joined in order into groups of Blobs; the CRC-32 here, as the blocks are read.
async function zipInBlocks(engine, source, entry, pool, { onProgress, cancel }) {
  const size = sizeOf(source);
  const report = progressReporter(size, onProgress);
  const limit = pool.length * BLOCKS_PER_WORKER;
  const load = pool.map(() => 0);
  const finished = new Map();       // index -> deflated block waiting for the blocks before it
  const spare = [];                 // block buffers back from the workers
  const groups = [];
  let pending = [], pendingBytes = 0, compressed = 0, done = 0;
  let sent = 0, joined = 0, failure = null, wake = null;
  const lengths = [];
  const rouse = () => { if (wake) { const w = wake; wake = null; w(); } };
  pool.forEach((worker, n) => {
    worker.onmessage = ({ data: m }) => {
      load[n]--;
      if (m.error !== undefined) failure = failure || new Error('deflate: ' + m.error);
      else {
        finished.set(m.index, m.deflated);
        if (m.data && m.data.buffer.byteLength === BLOCK) spare.push(m.data.buffer);
        for (let d; (d = finished.get(joined)) !== undefined; joined++) {
          finished.delete(joined);
          pending.push(d);
          pendingBytes += d.length;
          compressed += d.length;
          done += lengths[joined];
          lengths[joined] = 0;
          if (pendingBytes >= BLOB_GROUP) {
            groups.push(new Blob(pending));
            pending = [];
            pendingBytes = 0;
          }
        }
        if (done > 0) report(done);  // a block that finished ahead of its turn moves nothing yet
      }
      rouse();
    };
    worker.onerror = (event) => {
      event.preventDefault();
      failure = failure || new Error('deflate: ' + (event.message || 'the worker failed'));
      rouse();
    };
  });
  // Waits until fewer than `most` blocks are in flight, or a worker failed, or the job was cancelled.
  const settle = async (most) => {
    while (sent - joined > most && !failure && !(cancel && cancel.aborted)) {
      await new Promise((resolve) => { wake = resolve; });
    }
    if (cancel && cancel.aborted) throw abortError();
    if (failure) throw failure;
  };
  let dictionary = null;
  const send = async (data, last) => {
    await settle(limit - 1);
    const n = load.indexOf(Math.min(...load));
    load[n]++;
    lengths[sent] = data.length;
    const next = data.length >= WINDOW ? data.slice(data.length - WINDOW) : null;
    pool[n].postMessage({ index: sent++, data, dictionary, last }, [data.buffer]);
    dictionary = next;
  };
  let crc = 0, read = 0;
  let block = new Uint8Array(BLOCK), fill = 0;
  try {
    for await (const chunk of chunksOf(source, cancel)) {
      engine._put(chunk);
      crc = engine._x.tw_crc32(crc, engine._in, chunk.length);
      read += chunk.length;
      for (let at = 0; at < chunk.length;) {
        const n = Math.min(BLOCK - fill, chunk.length - at);
        block.set(chunk.subarray(at, at + n), fill);
        fill += n;
        at += n;
        if (fill === BLOCK) {
          await send(block, read === size && at === chunk.length);
          block = spare.length ? new Uint8Array(spare.pop()) : new Uint8Array(BLOCK);
          fill = 0;
        }
      }
    }
    if (fill > 0) await send(block.slice(0, fill), true);
    await settle(0);
  } finally {
    for (const worker of pool) worker.terminate();
  }
  groups.push(new Blob(pending));
  const stored = compressed >= size;
  const method = stored ? 0 : 8;
  const dataSize = stored ? size : compressed;
  const target = { ...entry, size };
  const header = engine._record(engine._x.tw_zip_local_header, target, method, crc, dataSize);
  const trailer = engine._record(engine._x.tw_zip_trailer, target, method, crc, dataSize);
  return { header, data: stored ? null : groups, trailer, crc: crc >>> 0, method };
}

// Deflate workers for one large file, one per core (at most `most`), each ready to take blocks; null
// where there are no workers to start (Node, a single core) or they do not start, and the file
// then goes through the platform's CompressionStream as a small one does. The address is written
// out in full, as bundlers look for it to build and emit the worker.
export async function deflatePool(most = 8) {
  const cores = typeof navigator === 'object' && navigator ? navigator.hardwareConcurrency || 0 : 0;
  if (typeof Worker !== 'function' || typeof process === 'object' && process.versions && process.versions.node || cores < 2) return null;
  const pool = [];
  try {
    for (let i = 0; i < Math.min(cores, most); i++) {
      pool.push(new Worker(new URL('../workers/tarnwick-deflate.js', import.meta.url), { type: 'module' }));
    }
    await Promise.all(pool.map((worker) => new Promise((resolve, reject) => {
      worker.onmessage = ({ data }) => (data && data.ready ? resolve() : reject(new Error('unexpected')));
      worker.onerror = (event) => { event.preventDefault(); reject(new Error('did not start')); };
    })));
    return pool;
  } catch (e) {
    for (const worker of pool) worker.terminate();
    return null;
  }
}

// The archive of a zip job as one Blob, the source standing in for a stored entry's data.
export function archiveBlob(made, source) {
  const data = made.data || [source.blob || source.bytes];
  return new Blob([made.header, ...data, made.trailer], { type: 'application/zip' });
}
