// One lane of a digest job: some of the job's algorithms, over every byte of the source from the
// job's start, in order. A job runs one lane per worker in a browser (each reading the file itself)
// or one lane with every algorithm in-process (Node, or a page without workers); digest.js plans
// the lanes and merges what they report.
//
// A lane reports boundaries as it passes them, in order: the end of each chunk (its digests by the
// lane's chunk algorithms) and the points where a checkpoint may be taken (the saved states of the
// lane's whole-source algorithms). The points follow from the job's options alone, so every lane
// of a job passes the same ones:
//   - with chunks: the end of a chunk, once CHUNK_POINT_MIN bytes or more have passed since the
//     last point (or since the start): every chunk's end for chunks of 1 MiB or more;
//   - without: every multiple of CHECKPOINT_STEP.
//
// The digests are the module's (the core's class table, one set of exports taking a kind), or in
// Node, where the caller allows it, node:crypto's for MD5, SHA-1 and SHA-256: the same results,
// faster there, but with no state to save, so never for a job that keeps checkpoints.
//
// What a checkpoint knows of the bytes it passed over, so that a resume can tell another source:
//   - PREFIX ('@prefix' among a lane's whole algorithms): a CRC-64 of every byte from the start,
//     saved with the other states; kept for bytes and streams, whose prefix a resume reads again
//     and checks against it;
//   - samples (a lane whose plan says `samples`): at each point, the CRC-32 of the first WINDOW
//     bytes after the point before; kept for files, whose prefix a resume does not read again but
//     for a few of these windows.

import { blobChunks, blobSlices, readsBySlices, readFailure } from '../engine/reading.js';

export const CHECKPOINT_STEP = 8 * 1024 * 1024;
const CHUNK_POINT_MIN = 1024 * 1024;
const BUFFER = 2 * 1024 * 1024;          // the lane's input buffer in the module's memory

// The algorithms a page may ask for, in the order results list them, with the module's name of
// each and its cost for spreading them: time per byte in WebAssembly, SHA-256 = 3.5 (measured in
// Chromium over 512 MiB: SHA-256 1.75 s, SM3 1.51, SHA-1 0.92, MD5 0.85, CRC-64s 0.30, CRC-32s 0.24).
export const ALGORITHMS = ['md5', 'sha1', 'sha256', 'sm3', 'crc32', 'crc32c', 'crc64ecma', 'crc64nvme'];
export const PREFIX = '@prefix';
const PREFIX_KIND = 'crc64nvme';
export const COST = { md5: 1.7, sha1: 1.8, sha256: 3.5, sm3: 3, crc32: 0.5, crc32c: 0.5, crc64ecma: 0.6, crc64nvme: 0.6, [PREFIX]: 0.6 };
export const READ_COST = 0.4;             // reading the source once more, per lane
const NODE_HASH = { md5: 'md5', sha1: 'sha1', sha256: 'sha256' };
export const WINDOW = 4096;

let crcTable = null;
// CRC-32 (zlib's) of bytes, going on from `crc` (the value of the bytes before them).
export function crc32(bytes, crc = 0) {
  if (!crcTable) {
    crcTable = new Int32Array(256);
    for (let n = 0; n < 256; n++) {
      let c = n;
      for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
      crcTable[n] = c;
    }
  }
  let c = ~crc;
  for (let i = 0; i < bytes.length; i++) c = crcTable[(c ^ bytes[i]) & 255] ^ (c >>> 8);
  return ~c >>> 0;
}

// A context of the module's.
class ModuleContext {
  constructor(lane, name) {
    const x = lane.x;
    this.x = x;
    this.lane = lane;
    this.kind = lane.engine.digestKind(name === PREFIX ? PREFIX_KIND : name);
    if (this.kind < 0) throw new Error('the module has no digest ' + name);
    this.size = x.tw_digest_size(this.kind);
    this.stateSize = x.tw_digest_state_size(this.kind);
    this.context = x.tw_digest_new(this.kind);
    if (!this.context) throw new Error('the module is out of memory');
  }
  update(pointer, length) { this.x.tw_digest_update(this.context, pointer, length); }
  final() {
    this.x.tw_digest_final(this.context, this.lane.out);
    return this.lane.heap().slice(this.lane.out, this.lane.out + this.size);
  }
  save() {
    this.x.tw_digest_save(this.context, this.lane.out);
    return this.lane.heap().slice(this.lane.out, this.lane.out + this.stateSize);
  }
  load(state) {
    if (!(state instanceof Uint8Array) || state.length !== this.stateSize) return false;
    this.lane.heap().set(state, this.lane.out);
    return this.x.tw_digest_load(this.context, this.lane.out, state.length) === 1;
  }
  // The crypto engine's status for the certificate whose Z value now opens the message.
  beginZ(cert) {
    const bytes = new TextEncoder().encode(cert);
    const at = this.x.tw_alloc(bytes.length + 1);
    try {
      this.lane.heap().set(bytes, at);
      return this.x.tw_digest_begin_z(this.context, at, bytes.length, 0);
    } finally {
      this.x.tw_free(at);
    }
  }
  close() { this.x.tw_digest_delete(this.context); }
}

// node:crypto's, for a digest that is never saved.
class NodeContext {
  constructor(crypto, name) {
    this.crypto = crypto;
    this.name = name;
    this.hash = crypto.createHash(name);
  }
  final() {
    const out = new Uint8Array(this.hash.digest());
    this.hash = this.crypto.createHash(this.name);
    return out;
  }
  close() {}
}

export class Lane {
  // engine: an Engine (engine.js) loaded for this lane alone. plan: { whole: [names], chunk:
  // [names] }. job: { start, chunkSize (0: none), chunkIndex, states ({ name: bytes } to continue
  // from at start), cert (SM3 of Z || data for the whole source), z (the same with this Z value,
  // 32 bytes, made from a key and an id), saves (checkpoints are kept),
  // nodeCrypto (node:crypto may stand in: Node, no checkpoints) }.
  constructor(engine, plan, job) {
    this.engine = engine;
    this.x = engine && engine._x;
    this.plan = plan;
    this.job = job;
    this.pos = job.start;
    this.chunkStart = job.start;
    this.chunkIndex = job.chunkIndex || 0;
    this.lastPoint = job.start;
    this.whole = [];
    this.chunk = [];
    this.reports = [];
    this.window = plan.samples && job.saves ? { at: job.start, crc: 0, left: WINDOW } : null;
    if (this.x) {
      this.in = this.x.tw_alloc(BUFFER);
      this.out = this.x.tw_alloc(4096);
    }
  }

  heap() { return new Uint8Array(this.x.memory.buffer); }

  _context(name, saved) {
    if (!saved && this.job.nodeCrypto && NODE_HASH[name]) {
      return new NodeContext(process.getBuiltinModule('node:crypto'), NODE_HASH[name]);
    }
    return new ModuleContext(this, name);
  }

  // Makes the contexts; a refused state or certificate throws { state: name } or { engineStatus }.
  open() {
    for (const name of this.plan.whole) {
      const c = this._context(name, this.job.saves || (name === 'sm3' && (this.job.cert || this.job.z)) || this.job.states);
      c.name = name;
      this.whole.push(c);
      const state = this.job.states && this.job.states[name];
      if (state) {
        if (!c.load(state)) throw Object.assign(new Error('state refused'), { state: name });
      } else if (this.job.states) {
        throw Object.assign(new Error('state missing'), { state: name });
      } else if (name === 'sm3' && this.job.cert) {
        const status = c.beginZ(this.job.cert);
        if (status !== 0) throw Object.assign(new Error('certificate refused'), { engineStatus: status });
      } else if (name === 'sm3' && this.job.z) {
        this.heap().set(this.job.z, this.in);
        c.update(this.in, this.job.z.length);
      }
    }
    for (const name of this.plan.chunk) {
      const c = this._context(name, false);
      c.name = name;
      this.chunk.push(c);
    }
    this.moduleWhole = this.whole.filter((c) => c instanceof ModuleContext);
    this.moduleChunk = this.chunk.filter((c) => c instanceof ModuleContext);
    this.nodeAll = [...this.whole, ...this.chunk].filter((c) => c instanceof NodeContext);
  }

  // The next boundary after pos.
  _nextBoundary() {
    if (this.job.chunkSize) return this.chunkStart + this.job.chunkSize;
    return (Math.floor(this.pos / CHECKPOINT_STEP) + 1) * CHECKPOINT_STEP;
  }

  _update(bytes) {
    for (const c of this.nodeAll) c.hash.update(bytes);
    if (!this.moduleWhole.length && !this.moduleChunk.length) return;
    for (let at = 0; at < bytes.length; at += BUFFER) {
      const n = Math.min(BUFFER, bytes.length - at);
      this.heap().set(at === 0 && n === bytes.length ? bytes : bytes.subarray(at, at + n), this.in);
      for (const c of this.moduleWhole) c.update(this.in, n);
      for (const c of this.moduleChunk) c.update(this.in, n);
    }
  }

  _states() {
    const states = {};
    for (const c of this.whole) states[c.name] = c.save();
    return states;
  }

  // The bytes that follow, in order. Boundaries passed go to this.reports.
  feed(bytes) {
    let at = 0;
    while (at < bytes.length) {
      const boundary = this._nextBoundary();
      const n = Math.min(bytes.length - at, boundary - this.pos);
      const part = at === 0 && n === bytes.length ? bytes : bytes.subarray(at, at + n);
      this._update(part);
      if (this.window && this.window.left) {
        const take = Math.min(this.window.left, n);
        this.window.crc = crc32(part.subarray(0, take), this.window.crc);
        this.window.left -= take;
      }
      at += n;
      this.pos += n;
      if (this.pos !== boundary) continue;
      const report = { end: this.pos };
      if (this.job.chunkSize) {
        report.chunk = this._closeChunk();
        if (this.pos - this.lastPoint >= CHUNK_POINT_MIN) this._point(report);
      } else {
        this._point(report);
      }
      this.reports.push(report);
    }
  }

  _closeChunk() {
    const digests = {};
    for (const c of this.chunk) digests[c.name] = c.final();
    const chunk = { index: this.chunkIndex++, offset: this.chunkStart, length: this.pos - this.chunkStart, digests };
    this.chunkStart = this.pos;
    return chunk;
  }

  _point(report) {
    this.lastPoint = this.pos;
    if (this.job.saves) report.states = this._states();
    if (this.window) {
      report.sample = [this.window.at, WINDOW - this.window.left, this.window.crc];
      this.window = { at: this.pos, crc: 0, left: WINDOW };
    }
  }

  // Reports taken since the last call.
  take() {
    const r = this.reports;
    this.reports = [];
    return r;
  }

  // The end: { end, chunk? (the last, shorter chunk), digests (whole source) }.
  finish() {
    const result = { end: this.pos, digests: {} };
    if (this.job.chunkSize && this.pos > this.chunkStart) result.chunk = this._closeChunk();
    for (const c of this.whole) result.digests[c.name] = c.final();
    return result;
  }

  close() {
    for (const c of [...this.whole, ...this.chunk]) c.close();
    this.whole = [];
    this.chunk = [];
    if (this.x) {
      this.x.tw_free(this.in);
      this.x.tw_free(this.out);
      this.x = null;
    }
  }
}

// Reads a Blob from `start` to its end in pieces of at most 2 MiB (Chromium's largest), as
// reading.js's blobChunks reads it; each piece is valid until the next is asked for. Ends in a
// { read: { done, gone, cause } } error when the Blob did not read to its size: gone when the file
// is no longer there, whatever a browser named the failure of the read (Chromium and Firefox say
// NotFoundError, or NotReadableError on a stream of a file that went), as reading.js tells it.
// WebKit reads it by slices (reading.js's readsBySlices says why).
export async function* blobPieces(blob, start, cancel) {
  let done = start;
  try {
    for await (const piece of (readsBySlices ? blobSlices : blobChunks)(blob, start, cancel)) {
      done += piece.length;
      yield piece;
    }
  } catch (e) {
    if (cancel.aborted) return;
    const failure = await readFailure({ blob }, done, e, cancel);
    if (failure.name === 'AbortError') throw failure;
    throw Object.assign(new Error('read failed'), { read: { done: failure.read.done, gone: failure.read.gone, cause: failure.read.cause } });
  }
}

// Reads a local file (Node) from `start` to `size` in pieces of 2 MiB through two buffers, the
// next piece read (on libuv's threads) while the caller hashes this one; the same failures as
// blobPieces. With `until`, reading stops there (a span of the file), else it goes on to the
// file's end, which must be `size`.
export async function* filePieces(path, size, start, cancel, until = Infinity) {
  const fs = process.getBuiltinModule('node:fs');
  let done = start, handle, pending = null;
  const ask = (buffer) => {
    const want = Math.min(BUFFER, until - done);
    pending = want > 0 ? handle.read(buffer, 0, want, done) : null;
  };
  try {
    handle = await fs.promises.open(path, 'r');
    const buffers = [new Uint8Array(BUFFER), new Uint8Array(BUFFER)];
    ask(buffers[0]);
    for (let turn = 0; pending; turn++) {
      const { bytesRead } = await pending;
      pending = null;
      if (bytesRead === 0) break;
      done += bytesRead;
      ask(buffers[(turn + 1) & 1]);
      yield buffers[turn & 1].subarray(0, bytesRead);
      if (cancel.aborted) return;
    }
  } catch (e) {
    throw Object.assign(new Error('read failed'), { read: { done, gone: !!e && e.code === 'ENOENT', cause: e } });
  } finally {
    if (pending) await pending.catch(() => {});
    if (handle) await handle.close();
  }
  if (done !== Math.min(size, until)) throw Object.assign(new Error('read short'), { read: { done, gone: false } });
}
