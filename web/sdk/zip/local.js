// Local files in Node, as the archive (archive.js) reads them: by offsets through their handles,
// into buffers that serve again once an entry has gone out. Node's collector frees buffers only
// late, so a folder of thousands of files read into fresh buffers gathers a hundred MiB of them.
//   - a small file is read whole into a buffer of the pool (ReadBuffers);
//   - one of a few MiB (from MID bytes on) is read a chunk at a time into one buffer, deflated as
//     it comes, and what deflate gives is kept (never more than the file's size) until its size
//     decides the method; when deflate does not shrink it, the file is read again and stored.
import { CHUNK } from '../engine/reading.js';
import { deflateInNode } from './deflate.js';

export const MID = 1024 * 1024;      // local files from this size on are read a chunk at a time
const KEPT_BYTES = 4 * 1024 * 1024;  // buffers kept for the next entries
const KEPT_COUNT = 9;

/** Buffers for local files' bytes, taken and given back. */
export class ReadBuffers {
  constructor() { this.free = []; this.kept = 0; }

  take(size) {
    let best = -1;
    this.free.forEach((b, at) => {
      if (b.byteLength >= size && (best < 0 || b.byteLength < this.free[best].byteLength)) best = at;
    });
    if (best >= 0) {
      const [buffer] = this.free.splice(best, 1);
      this.kept -= buffer.byteLength;
      return buffer;
    }
    // Capacities in steps (64 KiB doubling), so that one buffer serves many sizes.
    let capacity = 64 * 1024;
    while (capacity < size) capacity *= 2;
    return new ArrayBuffer(capacity);
  }

  give(buffer) {
    if (buffer.byteLength > KEPT_BYTES) return;
    while (this.free.length && (this.kept + buffer.byteLength > KEPT_BYTES || this.free.length >= KEPT_COUNT)) {
      this.kept -= this.free.shift().byteLength;
    }
    this.free.push(buffer);
    this.kept += buffer.byteLength;
  }
}

// Reads `length` bytes at `offset` into view[0, length); a file that ends early throws what
// archive.js reads as a changed file.
async function readFully(source, view, length, offset, size) {
  for (let got = 0; got < length;) {
    const n = await source.readInto(view, got, length - got, offset + got);
    if (n === 0) throw { read: { done: offset + got, size, gone: false } };
    got += n;
  }
}

/** A small local file's bytes, in a buffer of the pool (given back by the caller). */
export async function readLocal(source, size, buffers, cancel, abortError) {
  const data = new Uint8Array(buffers.take(size), 0, size);
  try {
    for (let at = 0; at < size; at += CHUNK) {
      if (cancel && cancel.aborted) throw abortError();
      await readFully(source, data.subarray(at), Math.min(CHUNK, size - at), at, size);
    }
  } catch (e) {
    buffers.give(data.buffer);
    throw e;
  }
  return data;
}

// The file a chunk at a time from `from` (a multiple of CHUNK), each chunk valid until the next is
// asked for.
async function* chunksOfLocal(source, size, buffers, cancel, abortError, from = 0) {
  const buffer = buffers.take(Math.min(CHUNK, size));
  try {
    for (let at = from; at < size; at += CHUNK) {
      if (cancel && cancel.aborted) throw abortError();
      const view = new Uint8Array(buffer, 0, Math.min(CHUNK, size - at));
      await readFully(source, view, view.length, at, size);
      yield view;
    }
  } finally {
    buffers.give(buffer);
  }
}

/**
 * A local file of a few MiB: { method, crc, compressedSize, parts() } with parts() the entry's
 * data as it goes out (deflated parts kept, or the file read again), each part valid until the
 * next is asked for.
 * `crcOf(crc, bytes)` continues a CRC-32; `onBytes(n)` counts what was read the first time.
 */
export async function packLocal(source, size, level, { buffers, cancel, abortError, crcOf, onBytes }) {
  let crc = 0, read = 0;
  const counted = (async function* () {
    for await (const chunk of chunksOfLocal(source, size, buffers, cancel, abortError)) {
      crc = crcOf(crc, chunk);
      read += chunk.length;
      onBytes(chunk.length);
      yield chunk;
    }
  })();
  if (level > 0) {
    const kept = [];
    let compressed = 0;
    for await (const part of deflateInNode(counted, level)) {
      compressed += part.length;
      if (compressed >= size) break;
      kept.push(part);
    }
    if (compressed < size) return { method: 8, crc, compressedSize: compressed, parts: async function* () { yield* kept; } };
  }
  // Stored: the CRC of what was not read yet, then the file again as it goes out.
  for await (const chunk of chunksOfLocal(source, size, buffers, cancel, abortError, read)) {
    crc = crcOf(crc, chunk);
    onBytes(chunk.length);
  }
  return {
    method: 0, crc, compressedSize: size,
    parts: () => chunksOfLocal(source, size, buffers, cancel, abortError),
  };
}
