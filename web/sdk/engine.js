// The working half of the SDK: the WebAssembly module and the streaming around it. It runs in the
// SDK's worker in a browser and in-process in Node; tarnwick.js (the page's half) turns its raw
// results into the control's results and texts.
//
// A source is { blob } (a Blob or File, read as a stream and, for archive inspection, by slices),
// { bytes } (a Uint8Array already in memory) or { pull, size } (bytes held elsewhere, fetched a
// chunk at a time by pull(offset, length), which resolves to a Uint8Array).
//
// Jobs run one at a time per engine, in the order they were asked for: the module has one input
// buffer, the thread has one core's worth of work to give, and a single stream read at a time is
// what keeps a browser's file reads from stalling when many jobs read the same file at once.

const CHUNK = 2 * 1024 * 1024;          // Chromium hands at most 2 MiB per read
const BLOB_GROUP = 32 * 1024 * 1024;    // deflated output is gathered into a Blob this often
const PROGRESS_STEP = 8 * 1024 * 1024;
const BREATHE_EVERY = 4;                // chunks between turns given to the event loop
// Files from this size on are deflated in blocks on several deflate workers where the platform
// has workers (a browser's worker); smaller ones, and Node, take the platform's CompressionStream.
const PARALLEL_MIN = 16 * 1024 * 1024;
const BLOCK = 2 * 1024 * 1024;          // a deflate worker's unit of work
const WINDOW = 32 * 1024;               // the deflate window: what primes the next block
// Blocks in flight (sent, deflating or not yet joined): with two, a worker that finished early
// often waited on a slower block's join; three per worker packed 100 MiB of text at 33-38 MB/s
// against 32-33 with two in alternating runs, for 4 MiB more at most.
const BLOCKS_PER_WORKER = 3;

const BASE64_PIECE = 1 << 20;           // characters of a base64 text handed to the module at a time

function abortError() {
  return typeof DOMException === 'function'
    ? new DOMException('The operation was aborted.', 'AbortError')
    : Object.assign(new Error('The operation was aborted.'), { name: 'AbortError' });
}

// A source that could not be read to its end: { read: { done, size, gone } } rides on the error,
// gone when the file is no longer there (deleted after it was picked) rather than changed.
export class ReadFailure extends Error {
  constructor(done, size, gone) {
    super(gone ? 'the file is gone' : 'the file could not be read as it was picked');
    this.name = 'ReadFailure';
    this.read = { done, size, gone };
  }
}

// Reads the first byte of a Blob, or the Blob whole when it says it is empty: a picked file that
// went before its size was first asked for says 0 and fails only on a read of its own.
export async function firstByte(blob) {
  return (blob.size === 0 ? blob : blob.slice(0, 1)).arrayBuffer();
}

// Whether a Blob that failed to read is gone: a fresh read of its first byte says NotFoundError.
async function isGone(blob) {
  try {
    await firstByte(blob);
    return false;
  } catch (e) {
    return !!e && e.name === 'NotFoundError';
  }
}

async function readFailure(source, done, cause) {
  if (cause && cause.name === 'AbortError') return cause;
  if (cause instanceof ReadFailure) return cause;
  return new ReadFailure(done, sizeOf(source), source.blob ? await isGone(source.blob) : false);
}

async function checkpoint(cancel, count) {
  if (cancel && cancel.breathe && count % BREATHE_EVERY === 0) await cancel.breathe();
  if (cancel && cancel.aborted) throw abortError();
}

// Chunks of a source, each valid until the next one is asked for (one buffer is reused when the
// platform lets a stream read into it). A source that ends early, or whose reads fail, ends in a
// ReadFailure; a cancel, in an AbortError.
export async function* chunksOf(source, cancel) {
  const size = sizeOf(source);
  if (source.bytes) {
    for (let at = 0, count = 1; at < size; at += CHUNK, count++) {
      await checkpoint(cancel, count);
      yield source.bytes.subarray(at, Math.min(at + CHUNK, size));
    }
    return;
  }
  let done = 0;
  if (source.pull) {
    // Two pulls ahead: the next chunks travel while the caller works on this one; the chunk before
    // it, consumed by now, goes back to be filled again (spare), so three buffers serve the file.
    const ahead = [];
    let asked = 0, spare = null;
    const ask = () => {
      if (asked >= size) return;
      const length = Math.min(CHUNK, size - asked);
      ahead.push(source.pull(asked, length, spare && spare.buffer));
      asked += length;
      spare = null;
    };
    ask();
    ask();
    try {
      for (let count = 1; ahead.length; count++) {
        await checkpoint(cancel, count);
        const chunk = await ahead.shift();
        if (cancel && cancel.aborted) throw abortError();
        if (!chunk || chunk.length !== Math.min(CHUNK, size - done)) throw new ReadFailure(done, size, false);
        done += chunk.length;
        ask();
        yield chunk;
        spare = chunk;
      }
    } catch (e) {
      throw await readFailure(source, done, e);
    } finally {
      for (const pending of ahead) pending.catch(() => {});
    }
    return;
  }
  const stream = source.blob.stream();
  let reader;
  try {
    reader = stream.getReader({ mode: 'byob' });
  } catch (e) {
    reader = null;
  }
  let pending = null;
  try {
    if (!reader) {
      reader = stream.getReader();
      for (let count = 1; ; count++) {
        await checkpoint(cancel, count);
        const { value, done: end } = await reader.read();
        if (end) break;
        done += value.length;
        yield value;
      }
    } else {
      // Two buffers: the next read is under way while the caller works on the chunk it was given.
      let spare = new ArrayBuffer(CHUNK);
      pending = reader.read(new Uint8Array(new ArrayBuffer(CHUNK), 0, CHUNK));
      for (let count = 1; ; count++) {
        // Reads of a Blob in memory settle without giving queued messages (a cancel) their turn.
        await checkpoint(cancel, count);
        const { value, done: end } = await pending;
        if (end) { pending = null; break; }
        done += value.length;
        pending = reader.read(new Uint8Array(spare, 0, CHUNK));
        yield value;
        spare = value.buffer;
      }
    }
  } catch (e) {
    throw await readFailure(source, done, e);
  } finally {
    // Stopped early (a text scan that found its answer, a cancel, a failure): the read under way
    // goes too, and nothing is left to reject unheard.
    if (pending) pending.catch(() => {});
    if (reader) reader.cancel().catch(() => {});
  }
  if (done !== size) throw await readFailure(source, done, null);
}

function sizeOf(source) {
  return source.bytes ? source.bytes.length : source.blob ? source.blob.size : source.size;
}

// Reports progress at most every few MiB and at the end.
function progressReporter(total, onProgress) {
  let next = 0;
  return (done) => {
    if (!onProgress) return;
    if (done >= next || done === total) {
      next = done + PROGRESS_STEP;
      onProgress(done, total);
    }
  };
}

export class Engine {
  // `wasm`: the module's bytes, a compiled WebAssembly.Module, or a Response.
  static async load(wasm) {
    const engine = new Engine();
    const imports = {
      env: {
        tw_read_at: (offset, pointer, length) => engine._readAt(offset, pointer, length),
        emscripten_notify_memory_growth: () => {},
      },
      wasi_snapshot_preview1: { proc_exit: (code) => { throw new Error('module exited ' + code); } },
    };
    let instance;
    if (wasm instanceof WebAssembly.Module) {
      instance = await WebAssembly.instantiate(wasm, imports);
    } else if (typeof Response === 'function' && wasm instanceof Response) {
      instance = (await WebAssembly.instantiate(await wasm.arrayBuffer(), imports)).instance;
    } else {
      instance = (await WebAssembly.instantiate(wasm, imports)).instance;
    }
    engine._x = instance.exports;
    if (engine._x._initialize) engine._x._initialize();
    engine._in = engine._x.tw_alloc(CHUNK);
    engine._out = engine._x.tw_alloc(4096);
    engine._syncRead = null;
    engine._turn = Promise.resolve();
    return engine;
  }

  _heap() {
    return new Uint8Array(this._x.memory.buffer);
  }

  // Copies bytes (up to CHUNK) into the module's input buffer.
  _put(bytes) {
    this._heap().set(bytes, this._in);
  }

  _readAt(offset, pointer, length) {
    if (!this._syncRead) return -1;
    const bytes = this._syncRead(offset, length);
    if (!bytes || bytes.length !== length) return -1;
    this._heap().set(bytes, pointer);
    return length;
  }

  _hex(pointer, length) {
    const heap = this._heap();
    let text = '';
    for (let i = 0; i < length; i++) text += (heap[pointer + i] < 16 ? '0' : '') + heap[pointer + i].toString(16);
    return text.toUpperCase();
  }

  _text(text) {
    const bytes = new TextEncoder().encode(text);
    const pointer = this._x.tw_alloc(bytes.length + 1);
    this._heap().set(bytes, pointer);
    return { pointer, length: bytes.length };
  }

  // SHA-256 or SM3 of a source as 64 upper-case hex digits. For SM3 with withZ set, the Z value
  // of the certificate goes first; { status } is the crypto engine's status for the certificate.
  async digest(kind, source, { withZ = 0, cert = '', onProgress, cancel } = {}) {
    const x = this._x;
    const [create, update, final, remove] = kind === 'sm3'
      ? [x.tw_sm3_new, x.tw_sm3_update, x.tw_sm3_final, x.tw_sm3_delete]
      : [x.tw_sha256_new, x.tw_sha256_update, x.tw_sha256_final, x.tw_sha256_delete];
    const context = create();
    try {
      if (kind === 'sm3' && withZ) {
        const text = this._text(String(cert || ''));
        const status = x.tw_sm3_begin_z(context, text.pointer, text.length, 0);
        x.tw_free(text.pointer);
        if (status !== 0) return { status, hex: '' };
      }
      const total = sizeOf(source);
      const report = progressReporter(total, onProgress);
      let done = 0;
      for await (const chunk of chunksOf(source, cancel)) {
        this._put(chunk);
        update(context, this._in, chunk.length);
        done += chunk.length;
        report(done);
      }
      final(context, this._out);
      return { status: 0, hex: this._hex(this._out, 32) };
    } finally {
      remove(context);
    }
  }

  // True when no byte from 1 to 8 is in the source (read to its end or to the first such byte).
  async isPlainText(source, { onProgress, cancel } = {}) {
    const report = progressReporter(sizeOf(source), onProgress);
    let done = 0;
    for await (const chunk of chunksOf(source, cancel)) {
      this._put(chunk);
      if (!this._x.tw_plain_text(this._in, chunk.length)) return false;
      done += chunk.length;
      report(done);
    }
    return true;
  }

  // The first 15 bytes as hex, and whether they open a zip archive.
  async head(source) {
    let bytes;
    try {
      bytes = source.bytes
        ? source.bytes.subarray(0, 15)
        : new Uint8Array(await source.blob.slice(0, 15).arrayBuffer());
    } catch (e) {
      throw await readFailure(source, 0, e);
    }
    this._put(bytes);
    const zipPointer = this._out + 64;
    const length = this._x.tw_head_hex(this._in, bytes.length, this._out, zipPointer);
    const hex = new TextDecoder().decode(this._heap().slice(this._out, this._out + length));
    return { hex, zip: new Int32Array(this._x.memory.buffer, zipPointer, 1)[0] === 1 };
  }

  // Judges an archive as the control's unpacking would, short of inflating it, within the given
  // bounds (entries, bytes; the type probe's when absent): { status (the core's name for it),
  // files, workbook }. `readSync(offset, length)` gives bytes of a Blob source synchronously
  // (FileReaderSync in a worker); a bytes source needs none.
  inspectArchive(source, readSync, limits = this.probeLimits()) {
    this._syncRead = source.bytes
      ? (offset, length) => source.bytes.subarray(offset, offset + length)
      : (offset, length) => readSync(source.blob, offset, length);
    try {
      const files = this._out + 64, workbook = this._out + 68;
      const status = this._x.tw_zip_inspect(sizeOf(source), limits.entries, limits.bytes, files, workbook);
      const ints = new Int32Array(this._x.memory.buffer, this._out + 64, 2);
      return { status: this._cString(this._x.tw_zip_status_name(status)), files: ints[0], workbook: ints[1] === 1 };
    } finally {
      this._syncRead = null;
    }
  }

  _cString(pointer) {
    const heap = this._heap();
    let end = pointer;
    while (heap[end]) end++;
    return new TextDecoder().decode(heap.slice(pointer, end));
  }

  // ---- the core's rules, for the checks a page's arguments get before any job ----

  // The type probe's bounds of the unpacking: { entries, bytes }.
  probeLimits() {
    return { entries: this._x.tw_probe_max_entries(), bytes: this._x.tw_probe_max_bytes() };
  }

  // The crypto engine's statuses for a file that did not open, and for one that did not read.
  engineStatus() {
    return { fileOpen: this._x.tw_engine_status_file_open(), fileRead: this._x.tw_engine_status_file_read() };
  }

  _nameRule(fn, name) {
    const pointer = this._x.tw_alloc(name.length * 2 + 2);
    try {
      const units = new Uint16Array(this._x.memory.buffer, pointer, name.length);
      for (let i = 0; i < name.length; i++) units[i] = name.charCodeAt(i);
      return fn(pointer, name.length) === 1;
    } finally {
      this._x.tw_free(pointer);
    }
  }

  // Whether a name stays one component of a directory; whether a path component names a device.
  isPlainName(name) { return this._nameRule(this._x.tw_plain_name, name); }
  isDeviceName(component) { return this._nameRule(this._x.tw_device_name, component); }

  // The bytes of a base64 text by the core's strict rules, or null when it is not wholly valid. A
  // long text goes to the module a piece at a time, with `between()` awaited after each piece.
  async decodeBase64(input, between) {
    const x = this._x;
    const decoder = x.tw_base64_new();
    const piece = x.tw_alloc(Math.min(input.length, BASE64_PIECE) + 1);
    try {
      for (let at = 0; at < input.length; at += BASE64_PIECE) {
        if (at > 0 && between) await between();
        const length = Math.min(BASE64_PIECE, input.length - at);
        const bytes = new Uint8Array(x.memory.buffer, piece, length);
        // Any character beyond ASCII is foreign to the alphabet: it goes as 0x80, foreign too.
        for (let i = 0; i < length; i++) {
          const c = input.charCodeAt(at + i);
          bytes[i] = c < 0x80 ? c : 0x80;
        }
        if (!x.tw_base64_feed(decoder, piece, length)) return null;
      }
      const length = x.tw_base64_finish(decoder);
      if (length < 0) return null;
      const start = x.tw_base64_bytes(decoder);
      return this._heap().slice(start, start + length);
    } finally {
      x.tw_free(piece);
      x.tw_base64_delete(decoder);
    }
  }

  _bytes(bytes) {
    const pointer = this._x.tw_alloc(bytes.length + 1);
    this._heap().set(bytes, pointer);
    return { pointer, length: bytes.length };
  }

  _record(fn, entry, method, crc, compressedSize) {
    const name = entry.nameBytes ? this._bytes(entry.nameBytes) : this._text(entry.name);
    const capacity = 256 + name.length * 2;
    const out = this._x.tw_alloc(capacity);
    try {
      const length = fn(name.pointer, name.length, entry.utf8 ? 1 : 0, entry.dosTime, entry.dosDate,
                        entry.size, method, crc >>> 0, compressedSize, out, capacity);
      return this._heap().slice(out, out + length);
    } finally {
      this._x.tw_free(out);
      this._x.tw_free(name.pointer);
    }
  }

  // A one-entry archive of the source: raw deflate from the platform's CompressionStream, or
  // stored when deflate does not shrink the data, framed by the core's records. entry: { name,
  // nameBytes (as stored; UTF-8 of name when absent), utf8, dosTime, dosDate }. Gives { header,
  // data, trailer, crc, method }: data is the deflated stream as Blobs, or null for a stored
  // entry, whose data is the source itself (archiveBlob puts the parts together).
  async zip(source, entry, { onProgress, cancel } = {}) {
    const size = sizeOf(source);
    if (size >= PARALLEL_MIN) {
      const pool = await deflatePool();
      if (pool) return this._zipInBlocks(source, entry, pool, { onProgress, cancel });
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
          this._put(part);
          crc = this._x.tw_crc32(crc, this._in, part.length);
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
    const header = this._record(this._x.tw_zip_local_header, target, method, crc, dataSize);
    const trailer = this._record(this._x.tw_zip_trailer, target, method, crc, dataSize);
    return { header, data: stored ? null : groups, trailer, crc: crc >>> 0, method };
  }

  // zip() for a large file: the blocks deflated on the pool's workers, at most a few per worker in
  // flight, joined in order into groups of Blobs; the CRC-32 here, as the blocks are read.
  async _zipInBlocks(source, entry, pool, { onProgress, cancel }) {
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
        this._put(chunk);
        crc = this._x.tw_crc32(crc, this._in, chunk.length);
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
    const header = this._record(this._x.tw_zip_local_header, target, method, crc, dataSize);
    const trailer = this._record(this._x.tw_zip_trailer, target, method, crc, dataSize);
    return { header, data: stored ? null : groups, trailer, crc: crc >>> 0, method };
  }

  // One job by name, as the worker and the in-process front hand them over; one at a time.
  run(op, args, hooks = {}) {
    const turn = this._turn.then(() => {
      if (hooks.cancel && hooks.cancel.aborted) throw abortError();
      return this._run(op, args, hooks);
    });
    this._turn = turn.catch(() => {});
    return turn;
  }

  async _run(op, args, hooks) {
    switch (op) {
      case 'digest': return this.digest(args.kind, args.source, { ...args, ...hooks });
      case 'plainText': return this.isPlainText(args.source, hooks);
      case 'head': return this.head(args.source);
      case 'inspect': return this.inspectArchive(args.source, args.readSync || hooks.readSync, args.limits);
      case 'zip': return this.zip(args.source, args.entry, hooks);
      default: throw new Error('unknown job ' + op);
    }
  }
}

// Deflate workers for one large file, one per core (at most 8), each ready to take blocks; null
// where there are no workers to start (Node, a single core) or they do not start, and the file
// then goes through the platform's CompressionStream as a small one does. The address is written
// out in full, as bundlers look for it to build and emit the worker.
export async function deflatePool() {
  const cores = typeof navigator === 'object' && navigator ? navigator.hardwareConcurrency || 0 : 0;
  if (typeof Worker !== 'function' || typeof process === 'object' && process.versions && process.versions.node || cores < 2) return null;
  const pool = [];
  try {
    for (let i = 0; i < Math.min(cores, 8); i++) {
      pool.push(new Worker(new URL('./tarnwick-deflate.js', import.meta.url), { type: 'module' }));
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
