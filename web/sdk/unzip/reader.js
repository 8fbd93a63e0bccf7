// Reading an archive a page was given: t.openZip(source, options) resolves to a ZipArchive whose
// entries are listed from the central directory alone, and whose entries' bytes are read on
// demand as streams, checked at their end (CRC-32 and size). The core (WebAssembly) lists the
// archive and judges it (end records, prepended data, overlapping entries, local headers, sizes no
// method can produce) and inflates deflate and Deflate64, never past an entry's declared size.
//
// The module reads the archive synchronously (env.tw_read_at). Bytes and, in Node, a path are read
// as asked; a Blob and a URL (HTTP range requests) are read ahead asynchronously into a few
// windows, and a call of the module that asked for bytes not yet there is made again once they are.
import { Engine } from '../engine/engine.js';
import { abortError, isNode, nodeModule } from '../engine/platform.js';
import { decodeName, decodeComment, checkEncoding } from './names.js';
import { extractArchive } from './extract.js';
import { ReadAhead } from './sources.js';
import { readError } from './failures.js';
import { unpack, dosDate, unsafeOf, markClashes } from './listing.js';


const PIECE = 1 << 16;                 // bytes of an entry handed out at a time
const LOOKAHEAD = 1 << 20;             // compressed bytes at hand before each piece is inflated
// Compressed bytes handed to the platform's inflater at a time: what it makes of one piece is all
// it holds before that is read, so the piece is smaller the more the entry says it inflates (about
// 2 MiB out a piece), and never so large that deflate's utmost (about 1,032:1) passes 64 MiB.
const nativePiece = (entry) => {
  const ratio = entry.compressedSize > 0 ? entry.size / entry.compressedSize : 1;
  return Math.max(1 << 12, Math.min(1 << 16, 2 ** Math.floor(Math.log2((2 << 20) / Math.max(ratio, 1)))));
};
const FLAG_ENCRYPTED = 0x0001, FLAG_UTF8 = 0x0800;
const METHOD_STORED = 0, METHOD_DEFLATE = 8, METHOD_DEFLATE64 = 9;
const INFLATE_RESULT = ['more', 'done', 'bad-data', 'bad-size', 'bad-data', 'read-failed'];

function checkSignal(signal, method) {
  if (signal !== undefined && !(signal && typeof signal === 'object' && 'aborted' in signal && typeof signal.addEventListener === 'function')) {
    throw new TypeError(`${method}: options.signal must be an AbortSignal`);
  }
}

// The module, loaded once per module address for the archives of any object.
const engines = new Map();
async function readingEngine(wasmUrl) {
  const key = String(wasmUrl);
  if (!engines.has(key)) {
    const load = (async () => {
      if (isNode) {
        const { readFile } = nodeModule('node:fs/promises');
        return Engine.load(await readFile(wasmUrl));
      }
      return Engine.load(await fetch(wasmUrl));
    })();
    engines.set(key, load);
    load.catch(() => engines.delete(key));
  }
  return engines.get(key);
}

// Runs a synchronous call of the module over the source, fetching what it missed and calling again.
async function withReads(engine, ahead, call, signal) {
  for (;;) {
    ahead.missed = null;
    engine._syncRead = (offset, length) => ahead.readSync(offset, length);
    let result;
    try {
      result = call();
    } finally {
      engine._syncRead = null;
    }
    if (!ahead.missed) return result;
    if (signal && signal.aborted) throw abortError();
    await ahead.fetch(ahead.missed.offset, ahead.missed.length);
  }
}

function cString(engine, pointer) {
  const heap = engine._heap();
  let end = pointer;
  while (heap[end]) end++;
  return new TextDecoder().decode(heap.subarray(pointer, end));
}

export class ZipArchive {
  constructor(engine, ahead, handle, listing, options) {
    this._engine = engine;
    this._ahead = ahead;
    this._handle = handle;
    this._closed = false;
    this._records = listing.records;
    const encoding = options.names;
    this._language = options.language === 'en' ? 'en' : 'zh';
    this.comment = decodeComment(listing.comment, { utf8Flag: false, encoding });
    const entries = listing.records.map((r) => {
      const utf8Flag = (r.flags & FLAG_UTF8) !== 0;
      const { name, nameEncoding } = decodeName(r.rawName, { utf8Flag, unicodePath: r.unicodePath, encoding });
      const symlink = ((r.attributes >>> 16) & 0o170000) === 0o120000 && (r.madeBy >> 8) === 3;
      const modified = !Number.isNaN(r.unixTime) ? new Date(r.unixTime)
        : !Number.isNaN(r.ntfsTime) ? new Date(r.ntfsTime) : dosDate(r.dosDate, r.dosTime);
      return {
        name, rawName: r.rawName, nameEncoding,
        directory: /[/\\]$/.test(name),
        size: r.size, compressedSize: r.compressedSize, crc32: r.crc32, method: r.method, modified,
        encrypted: (r.flags & FLAG_ENCRYPTED) !== 0,
        comment: decodeComment(r.comment, { utf8Flag, encoding }),
        unsafe: unsafeOf(engine, name, symlink),
        symlink,
      };
    });
    const clashes = markClashes(entries);
    this.entries = entries.map((e, i) => Object.freeze(clashes[i] ? { ...e, unsafe: clashes[i] } : e));
    this._index = new Map(this.entries.map((e, i) => [e, i]));
  }

  async *[Symbol.asyncIterator]() {
    yield* this.entries;
  }

  _indexOf(entry, method) {
    const index = this._index.get(entry);
    if (index === undefined) throw new TypeError(`${method}: the entry is not one of this archive's entries`);
    if (this._closed) throw readError(this._language, 'read-failed', entry, ['the archive is closed', '\u538b\u7f29\u5305\u5df2\u5173\u95ed']);
    return index;
  }

  // The entry's bytes, checked at their end; errors the stream with a TarnwickError on any fault.
  stream(entry, { signal } = {}) {
    checkSignal(signal, 'stream');
    const index = this._indexOf(entry, 'stream');
    const engine = this._engine, ahead = this._ahead, x = engine._x;
    let state = null;
    const finish = () => {
      if (state && state.native) {
        state.native.reader.cancel().catch(() => {});
        state.native.writer.abort().catch(() => {});
        state.native = null;
      }
      if (state && state.inflater) x.tw_inflate_delete(state.inflater);
      if (state && state.out) x.tw_free(state.out);
      if (state) state.inflater = state.out = 0;
    };
    const start = async () => {
      if (entry.encrypted) throw readError(this._language, 'encrypted', entry);
      if (entry.method !== METHOD_STORED && entry.method !== METHOD_DEFLATE && entry.method !== METHOD_DEFLATE64) {
        throw Object.assign(readError(this._language, 'unsupported-method', entry, [`compression method ${entry.method} is not supported`, `\u4e0d\u652f\u6301\u538b\u7f29\u65b9\u6cd5${entry.method}`]), { method: entry.method });
      }
      const slot = x.tw_alloc(8);
      let status, dataOffset;
      try {
        status = await withReads(engine, ahead, () => x.tw_unzip_locate(this._handle, index, slot), signal);
        dataOffset = new Float64Array(x.memory.buffer, slot, 1)[0];
      } finally {
        x.tw_free(slot);
      }
      if (status !== 0) {
        const code = cString(engine, x.tw_unzip_code(status));
        throw code === 'unsupported-method' ? Object.assign(readError(this._language, code, entry), { method: entry.method }) : readError(this._language, code, entry);
      }
      state = { offset: dataOffset, end: dataOffset + entry.compressedSize, done: 0, crc: 0, out: x.tw_alloc(PIECE + 8), inflater: 0 };
      const platform = entry.method === METHOD_DEFLATE ? platformInflater() : null;
      if (platform) {
        state.native = { reader: platform.readable.getReader(), writer: platform.writable.getWriter(), failure: null };
        feed(state, state.native);
      } else if (entry.method !== METHOD_STORED) {
        state.inflater = x.tw_inflate_new(dataOffset, entry.compressedSize, entry.method === METHOD_DEFLATE64 ? 1 : 0, entry.size);
        state.readTo = dataOffset;
      }
    };
    const check = (piece, controller) => {
      for (let at = 0; at < piece.length; at += PIECE) {
        const part = piece.subarray(at, at + PIECE);
        engine._heap().set(part, state.out);
        state.crc = x.tw_crc32(state.crc, state.out, part.length);
      }
      state.done += piece.length;
      if (piece.length) controller.enqueue(piece);
    };
    // Deflate through the platform's inflater (native code, and in Node off the thread): the
    // compressed bytes handed over a small piece at a time, as the inflated ones are taken.
    const feed = async (state, native) => {
      try {
        const most = nativePiece(entry);
        for (let at = state.offset; at < state.end;) {
          const length = Math.min(most, state.end - at);
          if (ahead.async) await ahead.fetch(at, length);
          const piece = await ahead.read(at, length);
          if (!piece || piece.length !== length) throw readError(this._language, 'read-failed', entry);
          at += length;
          await native.writer.write(piece);
        }
        await native.writer.close();
      } catch (e) {
        if (e && e.name === 'TarnwickError') native.failure = e;
        native.reader.cancel().catch(() => {});
      }
    };
    const end = (controller) => {
      if (state.done !== entry.size) throw readError(this._language, 'bad-size', entry);
      if ((state.crc >>> 0) !== (entry.crc32 >>> 0)) throw readError(this._language, 'bad-crc', entry);
      finish();
      controller.close();
    };
    return new ReadableStream({
      pull: async (controller) => {
        try {
          if (signal && signal.aborted) throw abortError();
          if (!state) await start();
          if (state.native) {
            const native = state.native;
            let next;
            try {
              next = await native.reader.read();
            } catch (e) {
              throw native.failure || readError(this._language, 'bad-data', entry);
            }
            if (native.failure) throw native.failure;
            if (next.done) return end(controller);
            if (next.value.length > entry.size - state.done) throw readError(this._language, 'bad-size', entry);
            check(next.value, controller);
            return;
          }
          if (!state.inflater) {
            const length = Math.min(PIECE, state.end - state.offset);
            if (length === 0) return end(controller);
            if (ahead.async) await ahead.fetch(state.offset, length);
            const piece = await ahead.read(state.offset, length);
            state.offset += length;
            check(piece, controller);
            if (state.offset === state.end) end(controller);
            return;
          }
          // The inflater reads the compressed bytes itself; a source read ahead asynchronously has
          // them fetched first, up to the entry's end.
          // (A piece of output takes far less than LOOKAHEAD of input but for streams no encoder
          // writes; one that takes more fails as damaged.)
          if (ahead.async) await ahead.fetch(state.readTo, Math.min(LOOKAHEAD, state.end - state.readTo));
          ahead.missed = null;
          const produced = state.out + PIECE;
          engine._syncRead = (offset, length) => {
            const bytes = ahead.readSync(offset, length);
            if (bytes) state.readTo = Math.max(state.readTo, offset + length);
            return bytes;
          };
          let result;
          try {
            result = x.tw_inflate_read(state.inflater, state.out, PIECE, produced);
          } finally {
            engine._syncRead = null;
          }
          const count = new Int32Array(x.memory.buffer, produced, 1)[0];
          const piece = engine._heap().slice(state.out, state.out + count);
          if (result > 1) {
            const code = ahead.missed && result === 5 ? 'bad-data' : INFLATE_RESULT[result];
            throw readError(this._language, code, entry);
          }
          state.crc = x.tw_crc32(state.crc, state.out, count);
          state.done += count;
          if (count) controller.enqueue(piece);
          if (result === 1) end(controller);
        } catch (e) {
          finish();
          throw e;
        }
      },
      cancel: () => finish(),
    }, { highWaterMark: 0 });
  }

  async bytes(entry, opts = {}) {
    const parts = [];
    let length = 0;
    const reader = this.stream(entry, opts).getReader();
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      parts.push(value);
      length += value.length;
    }
    const out = new Uint8Array(length);
    let at = 0;
    for (const p of parts) { out.set(p, at); at += p.length; }
    return out;
  }

  async blob(entry, opts = {}) {
    const parts = [];
    const reader = this.stream(entry, opts).getReader();
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      parts.push(value);
    }
    return new Blob(parts);
  }

  // Every entry read and checked, as `unzip -t` does: a result per entry and one verdict.
  async test({ onEntry, onProgress, signal } = {}) {
    checkSignal(signal, 'test');
    for (const [key, f] of [['onEntry', onEntry], ['onProgress', onProgress]]) {
      if (f !== undefined && typeof f !== 'function') throw new TypeError(`test: options.${key} must be a function`);
    }
    const total = this.entries.reduce((sum, e) => sum + (e.directory ? 0 : e.size), 0);
    let done = 0;
    const one = async (entry) => {
      if (entry.directory && entry.size === 0) return { name: entry.name, ok: true, code: null, message: null };
      try {
        const reader = this.stream(entry, { signal }).getReader();
        for (;;) {
          const { done: finished, value } = await reader.read();
          if (finished) break;
          done += value.length;
          if (onProgress) onProgress(done, total);
        }
        return { name: entry.name, ok: true, code: null, message: null };
      } catch (e) {
        if ((e && e.name === 'AbortError') || (signal && signal.aborted)) throw abortError();
        return { name: entry.name, ok: false, code: e.code || 'read-failed', message: e.message };
      }
    };
    // Two entries at a time: one is inflated while the other's bytes are being read. Results are
    // reported in the archive's order.
    const results = new Array(this.entries.length);
    let next = 0, reported = 0, stopped = false;
    const lane = async () => {
      while (!stopped && next < this.entries.length) {
        if (signal && signal.aborted) throw abortError();
        const i = next++;
        results[i] = await one(this.entries[i]);
        for (; reported < results.length && results[reported]; reported++) if (onEntry) onEntry(results[reported]);
      }
    };
    try {
      await Promise.all([lane(), lane()]);
    } catch (e) {
      stopped = true;
      throw e;
    }
    return { ok: results.every((r) => r.ok), entries: results };
  }

  extract(target, options = {}) {
    return extractArchive(this, target, options);
  }

  close() {
    if (this._closed) return;
    this._closed = true;
    this._engine._x.tw_unzip_close(this._handle);
    this._ahead.close();
  }
}

// The platform's raw inflater, where there is one.
function platformInflater() {
  if (typeof DecompressionStream !== 'function') return null;
  try {
    return new DecompressionStream('deflate-raw');
  } catch (e) {
    return null;
  }
}

// t.openZip(source, options): lists the archive (only its end records and directory are read).
// language: the object's ('zh' or 'en'), for every text of the archive.
export async function openZip(source, options, wasmUrl, language = 'zh') {
  if (options !== undefined && (options === null || typeof options !== 'object')) throw new TypeError('openZip: options must be an object');
  const o = options || {};
  if (o.names !== undefined) {
    if (typeof o.names !== 'string') throw new TypeError('openZip: options.names must be an encoding label');
    checkEncoding(o.names);
  }
  checkSignal(o.signal, 'openZip');
  if (o.signal && o.signal.aborted) throw abortError();
  const ahead = await ReadAhead.of(source, o.signal, language);
  ahead.language = language;
  try {
    const engine = await readingEngine(wasmUrl);
    const x = engine._x;
    const slot = x.tw_alloc(4);
    let handle, status;
    ahead.keepAll = true;
    try {
      handle = await withReads(engine, ahead, () => x.tw_unzip_open(ahead.size, slot), o.signal);
      status = new Int32Array(x.memory.buffer, slot, 1)[0];
    } finally {
      x.tw_free(slot);
      ahead.keepAll = false;
    }
    if (!handle) throw readError(language, cString(engine, x.tw_unzip_code(status)));
    try {
      const packed = engine._heap().slice(x.tw_unzip_packed(handle), x.tw_unzip_packed(handle) + x.tw_unzip_packed_size(handle));
      return new ZipArchive(engine, ahead, handle, unpack(packed), { ...o, language });
    } catch (e) {
      x.tw_unzip_close(handle);
      throw e;
    }
  } catch (e) {
    ahead.close();
    throw e;
  }
}
