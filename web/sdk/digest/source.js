// digest()'s sources: what a page or Node passed, read as pieces from where a job starts. A File,
// Blob or path is read by offsets (the lanes' workers read them themselves, digest/lane.js);
// bytes and streams are read from their start, and a resume's bytes before its offset are checked
// against the checkpoint as they pass (PrefixCheck); a file's sampled windows are read again
// (checkWindows).
import { format, messagesFor } from '../control/messages.js';
import { Lane, blobPieces, filePieces, crc32, PREFIX } from './lane.js';
import { Refused, hexOf } from './options.js';
import { samplesToCheck, checkWindow } from './checkpoint.js';
import { firstByte, readFailure, abortError } from '../engine/reading.js';

export const PIECE = 2 * 1024 * 1024;  // what the page hands a worker at a time
const ERROR_ACCESS_DENIED = 5;

const isNode = typeof process === 'object' && !!(process.versions && process.versions.node);
const nodeModule = (name) => process.getBuiltinModule(name);
export const turn = () => new Promise((resolve) => setTimeout(resolve, 0));

// ---- the source -------------------------------------------------------------------------------------

// { blob } | { bytes } | { stream } | { path } with size, name and modified where known, or a
// Refused with the control's text for a path. `m`: the texts of localFile's refusals (messagesFor).
export async function sourceOf(value, localFile, m = messagesFor('zh')) {
  if (typeof Blob === 'function' && value instanceof Blob) {
    const name = typeof value.name === 'string' ? value.name : undefined;
    if (value.size === 0) {
      // Empty, or a picked file that went before its size was first asked for (it says 0): only a
      // read tells, and only the second is a file not found (as the control's own paths say).
      try {
        await firstByte(value);
      } catch (e) {
        throw new Refused((t) => format(t.text.fileNotFound, name || ''), 'not-found');
      }
    }
    return { blob: value, size: value.size, name, modified: typeof value.lastModified === 'number' ? value.lastModified : undefined };
  }
  if (value instanceof ArrayBuffer) return { bytes: new Uint8Array(value), size: value.byteLength };
  if (ArrayBuffer.isView(value)) {
    return { bytes: new Uint8Array(value.buffer, value.byteOffset, value.byteLength), size: value.byteLength };
  }
  if (value && typeof value === 'object' && (typeof value.getReader === 'function' || typeof value[Symbol.asyncIterator] === 'function')) {
    return { stream: value };
  }
  if (typeof value === 'string' && isNode) {
    const local = await localFile(value);
    if (!local.source && !local.openFailed) {
      const code = local.message === format(m.text.fileNotFound, value) ? 'not-found'
        : local.message === format(m.text.notADiskFile, value) ? 'not-a-disk-file' : 'path-empty';
      throw new Refused(local.message, code);
    }
    if (local.openFailed) {
      throw new Refused((t) => format(t.text.openFailed, local.path, t.systemMessage(local.openFailed, true)), 'open-failed');
    }
    // What tells this file from another of its name and size: the device, the inode and the
    // times of the last write and of the last change to the file or its entry (nanoseconds).
    let stat;
    try {
      stat = await nodeModule('node:fs').promises.stat(local.path, { bigint: true });
    } catch (e) {
      // Gone since it was looked at.
      if (e && (e.code === 'ENOENT' || e.code === 'ENOTDIR')) throw new Refused((t) => format(t.text.fileNotFound, local.path), 'not-found');
      throw new Refused((t) => format(t.text.openFailed, local.path, t.systemMessage(ERROR_ACCESS_DENIED, true)), 'open-failed');
    }
    return {
      path: local.path, size: Number(stat.size), name: local.path, modified: String(stat.mtimeNs),
      id: { device: String(stat.dev), inode: String(stat.ino), changed: String(stat.ctimeNs) },
    };
  }
  throw new TypeError('digest: the source must be a File, Blob, bytes, a ReadableStream' + (isNode ? ' or a path' : ''));
}

// The pieces of a source from `start`, each valid until the next is asked for. Bytes and streams
// are read from their start: the bytes before `start` go through `check` (a PrefixCheck), which
// refuses them before any piece after them is given.
export async function* piecesOf(source, start, cancel, check) {
  if (source.blob) {
    yield* blobPieces(source.blob, start, cancel);
    return;
  }
  if (source.path) {
    yield* filePieces(source.path, source.size, start, cancel);
    return;
  }
  if (source.bytes) {
    if (check) {
      for (let at = 0, count = 1; at < start; at += PIECE, count++) {
        check.feed(source.bytes.subarray(at, Math.min(at + PIECE, start)));
        // Bytes in memory come without a wait: a turn now and then, so that a cancel is heard.
        if (count % 4 === 0) await turn();
        if (cancel.aborted) return;
      }
      check.finish();
    }
    for (let at = start; at < source.bytes.length; at += PIECE) {
      yield source.bytes.subarray(at, Math.min(at + PIECE, source.bytes.length));
    }
    return;
  }
  yield* streamPieces(source.stream, start, cancel, check);
}

// A stream's pieces from `start` (a stream resumed is read again from its beginning). The page's
// stream is the page's: read to its end, it is released; given up for any other reason (a cancel,
// a failure, a checkpoint refused), it is cancelled and released at once, even with a read
// pending that may never settle (a stalled download), so its connection goes and nothing stays
// locked. An async iterable is ended by its return(). A read that fails is the source's failure,
// a `read` error with what it threw as the cause, never mistaken for a bad option.
async function* streamPieces(stream, start, cancel, check) {
  const reader = typeof stream.getReader === 'function' ? stream.getReader() : null;
  const iterator = reader ? null : stream[Symbol.asyncIterator]();
  let ended = false, stopped = false;
  const stop = (reason) => {
    if (stopped) return;
    stopped = true;
    cancel.stops.delete(stop);
    try {
      if (reader) {
        reader.cancel(reason).catch(() => {});
        reader.releaseLock();
      } else if (typeof iterator.return === 'function') {
        Promise.resolve(iterator.return()).catch(() => {});
      }
    } catch (e) {
      // A stream that throws on its own cancel is given up all the same.
    }
  };
  cancel.stops.add(stop);
  let skip = start, at = 0;
  try {
    for (;;) {
      let next;
      try {
        next = reader ? await reader.read() : await iterator.next();
      } catch (e) {
        if (stopped) return;
        throw Object.assign(new Error('read failed'), { read: { done: at, gone: false, cause: e } });
      }
      if (stopped || cancel.aborted) return;
      if (next.done) {
        ended = true;
        break;
      }
      const { value } = next;
      let bytes = value instanceof Uint8Array ? value : ArrayBuffer.isView(value)
        ? new Uint8Array(value.buffer, value.byteOffset, value.byteLength) : null;
      if (!bytes) throw new TypeError('digest: a stream must give Uint8Array chunks');
      at += bytes.length;
      if (skip) {
        const passed = Math.min(skip, bytes.length);
        check.feed(bytes.subarray(0, passed));
        skip -= passed;
        if (!skip) check.finish();
        bytes = bytes.subarray(passed);
      }
      for (let from = 0; from < bytes.length; from += PIECE) yield bytes.subarray(from, Math.min(from + PIECE, bytes.length));
    }
  } catch (e) {
    stop(e);
    throw e;
  } finally {
    if (ended) {
      stopped = true;
      cancel.stops.delete(stop);
      if (reader) reader.releaseLock();
    } else {
      stop(cancel.reason || abortError());
    }
  }
  if (skip) throw new Refused((m, d) => format(d.checkpointMismatch, 'size'), 'checkpoint-mismatch');
}

// An iterator whose first item is asked for at once (`ready`): a resume's bytes before its offset
// are read and checked before any lane starts.
export function primed(iterator) {
  const first = iterator.next();
  first.catch(() => {});
  let taken = false;
  return {
    ready: first,
    next() {
      if (taken) return iterator.next();
      taken = true;
      return first;
    },
    return(value) { return iterator.return(value); },
    [Symbol.asyncIterator]() { return this; },
  };
}

const contentMismatch = () => new Refused((m, d) => format(d.checkpointMismatch, 'content'), 'checkpoint-mismatch');

// The bytes before a resume's offset, read again from bytes or a stream, against the record: the
// CRC-64 of them all (a record of bytes or a stream) or its windows (a record of a file). Its
// `state` is then the CRC-64 state at the offset, which the lanes go on from.
export class PrefixCheck {
  constructor(engine, prefix, samples) {
    this.lane = new Lane(engine, { whole: [PREFIX], chunk: [] }, { start: 0, chunkSize: 0 });
    this.lane.open();
    this.prefix = prefix;
    this.samples = samples;
    this.next = 0;      // the first window not yet passed
    this.crc = 0;       // of that window's bytes so far
    this.state = null;
  }

  feed(bytes) {
    const from = this.lane.pos, to = from + bytes.length;
    this.lane.feed(bytes);
    this.lane.take();
    while (this.next < this.samples.length) {
      const [at, length, crc] = this.samples[this.next];
      const a = Math.max(at, from), b = Math.min(at + length, to);
      if (b > a) this.crc = crc32(bytes.subarray(a - from, b - from), this.crc);
      if (at + length > to) break;
      if (this.crc !== crc) throw contentMismatch();
      this.next++;
      this.crc = 0;
    }
  }

  // At the offset: refuses what does not match, else keeps the state.
  finish() {
    try {
      this.state = this.lane.whole[0].save();
    } finally {
      this.lane.close();
    }
    if (this.prefix && hexOf(this.state) !== hexOf(this.prefix)) throw contentMismatch();
    if (this.next < this.samples.length) throw contentMismatch();
  }
}

// A file's windows of a resume's record, some of them read again (a few KiB) and compared.
export async function checkWindows(source, samples) {
  const picked = samplesToCheck(samples);
  if (!picked.length) return;
  if (source.blob) {
    for (const window of picked) {
      let bytes;
      try {
        bytes = new Uint8Array(await source.blob.slice(window[0], window[0] + window[1]).arrayBuffer());
      } catch (e) {
        throw await readFailure(source, 0, e);
      }
      checkWindow(window, bytes);
    }
    return;
  }
  const fs = nodeModule('node:fs');
  let handle;
  try {
    handle = await fs.promises.open(source.path, 'r');
    for (const window of picked) {
      const bytes = new Uint8Array(window[1]);
      const { bytesRead } = await handle.read(bytes, 0, window[1], window[0]);
      checkWindow(window, bytes.subarray(0, bytesRead));
    }
  } catch (e) {
    if (e instanceof Refused) throw e;
    throw Object.assign(new Error('read failed'), { read: { done: 0, gone: !!e && e.code === 'ENOENT', cause: e } });
  } finally {
    if (handle) await handle.close();
  }
}
