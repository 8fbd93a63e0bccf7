// The working half of the SDK: the WebAssembly module and the streaming around it. It runs in the
// SDK's worker in a browser and in-process in Node; tarnwick.js (the page's half) turns its raw
// results into the control's results and texts.
//
// A source is { blob } (a Blob or File, read as a stream and, for archive inspection, by slices)
// or { bytes } (a Uint8Array already in memory).

const CHUNK = 2 * 1024 * 1024;          // Chromium hands at most 2 MiB per read
const BLOB_GROUP = 32 * 1024 * 1024;    // deflated output is gathered into a Blob this often
const PROGRESS_STEP = 8 * 1024 * 1024;
const BREATHE_EVERY = 4;                // chunks between turns given to the event loop

export const ZIP_STATUS = [
  'ok', 'read failed', 'write failed', 'out of memory', 'not an archive', 'corrupt entry data',
  'CRC mismatch', 'size mismatch', 'unsafe name', 'unsupported', 'too many entries', 'too large',
  'source changed',
];

function abortError() {
  return typeof DOMException === 'function'
    ? new DOMException('The operation was aborted.', 'AbortError')
    : Object.assign(new Error('The operation was aborted.'), { name: 'AbortError' });
}

// Chunks of a source, each valid until the next one is asked for (one buffer is reused when the
// platform lets a stream read into it).
async function* chunksOf(source, cancel) {
  if (source.bytes) {
    for (let at = 0, count = 1; at < source.bytes.length; at += CHUNK, count++) {
      if (cancel && cancel.breathe && count % BREATHE_EVERY === 0) await cancel.breathe();
      if (cancel && cancel.aborted) throw abortError();
      yield source.bytes.subarray(at, Math.min(at + CHUNK, source.bytes.length));
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
  if (!reader) {
    const plain = stream.getReader();
    for (;;) {
      if (cancel && cancel.aborted) { plain.cancel(); throw abortError(); }
      const { value, done } = await plain.read();
      if (done) return;
      yield value;
    }
  }
  // Two buffers: the next read is under way while the caller works on the chunk it was given.
  let spare = new ArrayBuffer(CHUNK);
  let pending = reader.read(new Uint8Array(new ArrayBuffer(CHUNK), 0, CHUNK));
  let count = 0;
  try {
    for (;;) {
      // Reads of a Blob in memory settle without giving queued messages (a cancel) their turn.
      if (cancel && cancel.breathe && ++count % BREATHE_EVERY === 0) await cancel.breathe();
      if (cancel && cancel.aborted) throw abortError();
      const { value, done } = await pending;
      if (done) return;
      pending = reader.read(new Uint8Array(spare, 0, CHUNK));
      yield value;
      spare = value.buffer;
    }
  } finally {
    // Stopped early (a text scan that found its answer, a cancel): the read under way goes too.
    pending.catch(() => {});
    reader.cancel().catch(() => {});
  }
}

function sizeOf(source) {
  return source.bytes ? source.bytes.length : source.blob.size;
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
    const bytes = source.bytes
      ? source.bytes.subarray(0, 15)
      : new Uint8Array(await source.blob.slice(0, 15).arrayBuffer());
    this._put(bytes);
    const zipPointer = this._out + 64;
    const length = this._x.tw_head_hex(this._in, bytes.length, this._out, zipPointer);
    const hex = new TextDecoder().decode(this._heap().slice(this._out, this._out + length));
    return { hex, zip: new Int32Array(this._x.memory.buffer, zipPointer, 1)[0] === 1 };
  }

  // Judges an archive as the control's unpacking would, short of inflating it, within the given
  // bounds (entries, bytes): { status (name from ZIP_STATUS), files, workbook }. `readSync(offset, length)` gives bytes of a Blob source
  // synchronously (FileReaderSync in a worker); a bytes source needs none.
  inspectArchive(source, readSync, limits = { entries: 65536, bytes: 2 ** 30 }) {
    this._syncRead = source.bytes
      ? (offset, length) => source.bytes.subarray(offset, offset + length)
      : (offset, length) => readSync(source.blob, offset, length);
    try {
      const files = this._out + 64, workbook = this._out + 68;
      const status = this._x.tw_zip_inspect(sizeOf(source), limits.entries, limits.bytes, files, workbook);
      const ints = new Int32Array(this._x.memory.buffer, this._out + 64, 2);
      return { status: ZIP_STATUS[status] || 'unknown', files: ints[0], workbook: ints[1] === 1 };
    } finally {
      this._syncRead = null;
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

  // A one-entry archive of the source as a Blob: raw deflate from the platform's
  // CompressionStream, or stored when deflate does not shrink the data, framed by the core's
  // records. entry: { name, nameBytes (as stored; UTF-8 of name when absent), utf8, dosTime,
  // dosDate }.
  async zip(source, entry, { onProgress, cancel } = {}) {
    const size = sizeOf(source);
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
    const report = progressReporter(size, onProgress);
    let crc = 0, done = 0;
    try {
      for await (const chunk of chunksOf(source, cancel)) {
        for (let at = 0; at < chunk.length; at += CHUNK) {
          const part = chunk.subarray(at, Math.min(at + CHUNK, chunk.length));
          this._put(part);
          crc = this._x.tw_crc32(crc, this._in, part.length);
        }
        // The deflater keeps the chunk until it has consumed it; a reused buffer must not change
        // under it, so it gets a copy unless the chunk is fresh memory of the platform's.
        await writer.write(source.bytes ? chunk : chunk.slice());
        done += chunk.length;
        report(done);
      }
      await writer.close();
      await drain;
    } catch (e) {
      writer.abort(e).catch(() => {});
      throw e;
    }
    if (done !== size) throw Object.assign(new Error('source changed'), { zipStatus: 'source changed' });
    groups.push(new Blob(pending));
    const stored = size === 0 || compressed >= size;
    const method = stored ? 0 : 8;
    const dataSize = stored ? size : compressed;
    const data = stored ? [source.bytes ? new Blob([source.bytes]) : source.blob] : groups;
    const header = this._record(this._x.tw_zip_local_header, target, method, crc, dataSize);
    const trailer = this._record(this._x.tw_zip_trailer, target, method, crc, dataSize);
    return { blob: new Blob([header, ...data, trailer], { type: 'application/zip' }), crc: crc >>> 0, method };
  }

  // One job by name, as the worker and the in-process front hand them over.
  async run(op, args, hooks = {}) {
    switch (op) {
      case 'digest': return this.digest(args.kind, args.source, { ...args, ...hooks });
      case 'plainText': return this.isPlainText(args.source, hooks);
      case 'head': return this.head(args.source);
      case 'inspect': return this.inspectArchive(args.source, hooks.readSync, args.limits);
      case 'zip': return this.zip(args.source, args.entry, hooks);
      default: throw new Error('unknown job ' + op);
    }
  }
}
