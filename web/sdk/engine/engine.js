// The working half of the SDK: the WebAssembly module and the streaming around it. It runs in the
// SDK's worker in a browser and in-process in Node; tarnwick.js (the page's half) turns its raw
// results into the control's results and texts. Its rooms: reading.js (sources a chunk at a time),
// digesting.js, packing.js; this file holds the module and the jobs by name.
//
// Jobs run one at a time per engine, in the order they were asked for: the module has one input
// buffer, the thread has one core's worth of work to give, and a single stream read at a time is
// what keeps a browser's file reads from stalling when many jobs read the same file at once.
import { CHUNK, abortError, readFailure, chunksOf, sizeOf, progressReporter } from './reading.js';
import { digest, digestKind } from './digesting.js';
import { zip } from './packing.js';

export { ReadFailure, firstByte } from './reading.js';
export { archiveBlob } from './packing.js';

const BASE64_PIECE = 1 << 20;           // characters of a base64 text handed to the module at a time

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
  // The kind number of the digest the module names `name` ('sha256', 'sm3', ...), or -1.
  digestKind(name) { return digestKind(this, name); }

  // The digest of a source by the kind named `name` (digesting.js).
  digest(name, source, options) { return digest(this, name, source, options); }

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
  // Whether the probe scans a file by this (lower-cased) path as text; whether a file of this
  // size is packed or unpacked at all.
  isTextName(lowerPath) { return this._nameRule(this._x.tw_text_name, lowerPath); }
  isArchivableSize(size) { return this._x.tw_zip_archivable_size(size) === 1; }

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
  // A one-entry archive of the source (packing.js).
  zip(source, entry, hooks) { return zip(this, source, entry, hooks); }

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
