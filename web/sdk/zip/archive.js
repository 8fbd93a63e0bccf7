// Archives of many files and folders, made front to back as they are read: the entries gathered
// (folders walked, zip/entries.js) and every name checked first (zip/names.js), then each entry's local
// header, data and, where the header had to go out before the data was known, a data descriptor;
// the central directory last. The records and the name rules are the core's (through the module);
// this file reads the sources, computes the CRC-32 in the module and has the data deflated
// (zip/deflate.js):
//   - an entry below LARGE bytes is read whole, deflated in one go and stored when deflate does not
//     shrink it; its header carries its real CRC and sizes;
//   - a larger one streams: in a browser in blocks on the deflate workers the single-file zip uses,
//     in Node through zlib; its header goes out first and a descriptor follows the data. An
//     archive that is gathered rather than streamed (`hold`) keeps the deflated data aside in Blobs
//     instead, so that such an entry gets real values in its header and is stored when it does
//     not shrink.
//   - in Node, a local file is read into buffers that serve again, and one of a few MiB a chunk
//     at a time (zip/local.js).
// Memory stays bounded by LARGE and the blocks in flight, whatever the total; the names and the
// central directory (some 60 bytes an entry each, in slabs) are what grows with the entry count.
import { chunksOf, readFailure, abortError } from '../engine/reading.js';
import { deflatePool } from '../engine/packing.js';
import { ArchiveFailure, Slab, gatherEntries } from './entries.js';
import { MAX_NAME_BYTES, planNames } from './names.js';
import { deflateWhole, deflateInNode, deflateHere, deflateInBlocks } from './deflate.js';
import { MID, ReadBuffers, packLocal, readLocal } from './local.js';
import { dosDateTime } from '../control/naming.js';

const isNode = typeof process === 'object' && !!(process.versions && process.versions.node);

const LARGE = 16 * 1024 * 1024;     // entries from this size on stream (and go in blocks)
const CRC_PIECE = 2 * 1024 * 1024;  // the engine's input buffer
const PIECE = 1024 * 1024;          // headers and small entries go out gathered in pieces this big
const BLOB_GROUP = 32 * 1024 * 1024;
const PROGRESS_STEP = 8 * 1024 * 1024;
const READ_AHEAD = 8;               // small files read ahead of the one being packed, and their bytes
const READ_AHEAD_BYTES = 8 * 1024 * 1024;
// One deflate worker for an archive's large entries: each worker costs its isolate and the dead
// buffers it gathers before its collector runs (a second one took a 4 GiB stream in Chromium from
// +105..115 MiB to +166..169), and the archive's thread reading and taking CRCs keeps one busy.
const DEFLATE_WORKERS = 1;


// ---- records ------------------------------------------------------------------------------------

// The module's record writer, with one scratch buffer for the name and the record.
class Records {
  constructor(engine) {
    this.x = engine._x;
    this.capacity = MAX_NAME_BYTES + 256;
    this.name = this.x.tw_alloc(MAX_NAME_BYTES + 1);
    this.out = this.x.tw_alloc(this.capacity);
  }

  // kind: 0 local header, 1 data descriptor, 2 central record.
  make(kind, e) {
    return this.view(kind, e).slice();
  }

  // The record in the module's memory, valid until the next call.
  view(kind, e) {
    const heap = () => new Uint8Array(this.x.memory.buffer);
    heap().set(e.nameBytes, this.name);
    const flags = (e.utf8 ? 1 : 0) | (e.directory ? 2 : 0) | (e.descriptor ? 4 : 0) | (e.zip64Local ? 8 : 0);
    const length = this.x.tw_archive_record(kind, this.name, e.nameBytes.length, flags, e.dosTime, e.dosDate,
      e.method, e.crc >>> 0, e.compressedSize, e.size, e.offset, this.out, this.capacity);
    if (length < 0) throw new Error('a record did not fit');
    return heap().subarray(this.out, this.out + length);
  }

  end(count, offset, size) {
    const length = this.x.tw_archive_end(count, offset, size, this.out, this.capacity);
    return new Uint8Array(this.x.memory.buffer).slice(this.out, this.out + length);
  }

  free() {
    this.x.tw_free(this.name);
    this.x.tw_free(this.out);
  }
}

function crcOf(engine, crc, data) {
  for (let at = 0; at < data.length; at += CRC_PIECE) {
    const part = data.subarray(at, Math.min(at + CRC_PIECE, data.length));
    engine._put(part);
    crc = engine._x.tw_crc32(crc, engine._in, part.length);
  }
  return crc;
}

// Parts gathered into Blobs of BLOB_GROUP bytes.
class BlobGroups {
  constructor() { this.groups = []; this.pending = []; this.bytes = 0; }

  add(part) {
    this.pending.push(part);
    this.bytes += part.length;
    if (this.bytes >= BLOB_GROUP) {
      this.groups.push(new Blob(this.pending));
      this.pending = [];
      this.bytes = 0;
    }
  }

  end() {
    this.groups.push(new Blob(this.pending));
    return this.groups;
  }
}

// Small pieces gathered into pieces of PIECE bytes; large ones and Blobs go as they are.
class Pieces {
  constructor() { this.buffer = new Uint8Array(PIECE); this.fill = 0; }

  *add(part) {
    if (part instanceof Uint8Array && part.length < PIECE / 4) {
      if (this.fill + part.length > PIECE) yield* this.flush();
      this.buffer.set(part, this.fill);
      this.fill += part.length;
      return;
    }
    yield* this.flush();
    if (part.length !== 0 || part.size !== 0) yield part;
  }

  // A part the caller will use again: copied whatever its size.
  *copy(part) {
    for (let at = 0; at < part.length; at += PIECE / 8) yield* this.add(part.subarray(at, at + PIECE / 8));
  }

  *flush() {
    if (this.fill === 0) return;
    const full = this.buffer.subarray(0, this.fill);
    this.buffer = new Uint8Array(PIECE);
    this.fill = 0;
    yield full;
  }
}

// ---- the archive --------------------------------------------------------------------------------

function readFailed(entry, e) {
  if (e && e.name === 'AbortError') return e;
  if (e instanceof ArchiveFailure) return e;
  // A local file deleted after the walk found it is gone, as a picked one is.
  if (e && e.code === 'ENOENT') return new ArchiveFailure('gone', entry.name, `the file of the entry "${entry.name}" is gone`);
  if (e && e.read) {
    return e.read.gone
      ? new ArchiveFailure('gone', entry.name, `the file of the entry "${entry.name}" is gone`)
      : new ArchiveFailure('changed', entry.name, `the file of the entry "${entry.name}" could not be read as it was picked (${e.read.done} of ${e.read.size} bytes)`);
  }
  return new ArchiveFailure('unreadable', entry.name, `the file of the entry "${entry.name}" could not be read: ${(e && e.message) || e}`);
}

function changedWhilePacked(entry) {
  return new ArchiveFailure('changed', entry.name, `the file of the entry "${entry.name}" changed while it was packed`);
}

async function openEntry(entry) {
  let source;
  try {
    source = await entry.open();
  } catch (e) {
    throw readFailed(entry, e);
  }
  const size = source.blob ? source.blob.size : source.bytes ? source.bytes.length : source.size;
  if (size !== entry.size) {
    if (source.close) await source.close();
    throw new ArchiveFailure('changed', entry.name, `the file of the entry "${entry.name}" changed size (${entry.size} then ${size} bytes)`);
  }
  return source;
}

// A small entry's bytes: a Blob read in one go (a stream's two chunk buffers of 2 MiB for each of
// thousands of small files only feed the collector), a local file by its handle.
async function readWhole(source, entry, cancel, buffers) {
  if (source.bytes) return source.bytes;
  if (source.blob) {
    let data;
    try {
      data = new Uint8Array(await source.blob.arrayBuffer());
    } catch (e) {
      // A picked file deleted (NotFoundError, or a fresh read saying so) is gone; one changed since
      // it was picked (the browser refuses to read it: NotReadableError) changed.
      throw readFailed(entry, await readFailure(source, 0, e, cancel));
    }
    if (data.length !== entry.size) throw readFailed(entry, { read: { done: data.length, size: entry.size, gone: false } });
    return data;
  }
  if (source.readInto) {
    // A local file: read by offsets, into a buffer that serves again once the entry is out.
    return readLocal(source, entry.size, buffers, cancel, abortError).catch((e) => { throw readFailed(entry, e); });
  }
  const data = new Uint8Array(entry.size);
  let at = 0;
  try {
    for await (const chunk of chunksOf(source, cancel)) {
      data.set(chunk, at);
      at += chunk.length;
    }
  } catch (e) {
    throw readFailed(entry, e);
  }
  return data;
}

/**
 * The archive's bytes in order, as Uint8Arrays (and, with `hold`, Blobs standing for data kept
 * aside or for a stored source). Without `hold`, each Uint8Array owns its buffer, used for nothing
 * else once given (pieces, deflated data, copies): a caller may keep or transfer it. `list`: planNames' entries. Options: level (0-9), hold, onEntry
 * (name, index), onProgress(done, total), cancel ({ aborted, breathe }).
 */
export async function* archiveParts(engine, list, { level = 6, hold = false, onEntry, onProgress, cancel } = {}) {
  const records = new Records(engine);
  const out = new Pieces();
  const central = new Slab();
  let total = 0;
  for (const entry of list) total += entry.size;
  let done = 0, next = 0, offset = 0, centralSize = 0, reported = -1;
  const report = () => {
    if (onProgress && (done >= next || done === total) && done !== reported) {
      next = done + PROGRESS_STEP;
      reported = done;
      onProgress(done, total);
    }
  };
  let pool;  // the deflate workers, started at the first large entry (null where there are none)
  // Small files are read a few ahead: a browser's read of a file is a round trip to another
  // process, which several in flight hide.
  const ahead = new Map(), buffers = new ReadBuffers();
  let aheadBytes = 0, aheadNext = 0;
  const readAhead = (from) => {
    for (aheadNext = Math.max(aheadNext, from); aheadNext < list.length && aheadNext < from + READ_AHEAD; aheadNext++) {
      const entry = list[aheadNext];
      if (entry.directory || entry.size >= LARGE || (entry.local && entry.size >= MID)) continue;
      if (aheadBytes + entry.size > READ_AHEAD_BYTES && ahead.size > 0) break;
      aheadBytes += entry.size;
      const read = openEntry(entry).then(async (source) => {
        try {
          return { source, data: await readWhole(source, entry, cancel, buffers) };
        } finally {
          if (source.close) await source.close();
        }
      });
      read.catch(() => {});
      ahead.set(aheadNext, read);
    }
  };
  try {
    for (let index = 0; index < list.length; index++) {
      if (cancel && cancel.breathe && index % 64 === 63) await cancel.breathe();
      if (cancel && cancel.aborted) throw abortError();
      const entry = list[index];
      if (onEntry) onEntry(entry.name, index);
      const e = {
        nameBytes: entry.nameBytes, utf8: entry.utf8, directory: entry.directory, descriptor: false, zip64Local: false,
        ...dosDateTime(entry.lastModified), method: 0, crc: 0, compressedSize: 0, size: entry.size, offset,
      };
      let body = [];
      let source = null, reuse = null;
      readAhead(index);
      const local = entry.local && entry.size >= MID && entry.size < LARGE;
      if (!entry.directory && (entry.size >= LARGE || local)) source = await openEntry(entry);
      try {
        if (entry.directory) {
          // A folder: its name, nothing else.
        } else if (local) {
          // A local file of a few MiB, a chunk at a time (zip/local.js); its data goes out as
          // copies, read again when it is stored and checked against the CRC taken the first time.
          const hooks = { buffers, cancel, abortError, crcOf: (c, b) => crcOf(engine, c, b), onBytes: (n) => { done += n; report(); } };
          let packed;
          try {
            packed = await packLocal(source, entry.size, level, hooks);
          } catch (err) {
            throw readFailed(entry, err);
          }
          Object.assign(e, { method: packed.method, crc: packed.crc, compressedSize: packed.compressedSize });
          const header = records.make(0, e);
          yield* out.add(header);
          let crc = 0;
          try {
            for await (const part of packed.parts()) {
              if (e.method === 0) crc = crcOf(engine, crc, part);
              yield* out.copy(part);
            }
          } catch (err) {
            throw readFailed(entry, err);
          }
          if (e.method === 0 && crc !== e.crc) throw changedWhilePacked(entry);
          offset += header.length + e.compressedSize;
          centralSize += central.keep(records.view(2, e)).length;
          continue;
        } else if (entry.size < LARGE) {
          const read = await ahead.get(index);
          ahead.delete(index);
          aheadBytes -= entry.size;
          const data = read.data;
          // A local file's bytes go out copied into the pieces (in parts, below) or deflated: their
          // buffer serves again.
          if (read.source.readInto) reuse = data.buffer;
          e.crc = crcOf(engine, 0, data);
          // The page's own bytes go into a stream as a copy: a reader may keep or transfer them.
          body = [read.source.bytes && !hold ? data.slice() : data];
          if (level > 0 && data.length > 0) {
            const deflated = await deflateWhole(data, level);
            if (deflated.length < data.length) { e.method = 8; body = [deflated]; }
          }
          e.compressedSize = e.method === 8 ? body[0].length : data.length;
          done += entry.size;
          report();
        } else {
          // A large entry: read once, the CRC taken as the chunks pass on to deflate.
          let crc = 0;
          const counted = (async function* () {
            try {
              for await (const chunk of chunksOf(source, cancel)) {
                crc = crcOf(engine, crc, chunk);
                done += chunk.length;
                report();
                yield chunk;
              }
            } catch (err) {
              throw readFailed(entry, err);
            }
          })();
          let deflated;
          if (level === 0) deflated = (async function* () { for await (const chunk of counted) yield chunk.slice(); })();
          else {
            if (pool === undefined && !isNode) pool = await deflatePool(DEFLATE_WORKERS);
            deflated = isNode ? deflateInNode(counted, level)
              : pool ? deflateInBlocks(counted, pool, level, cancel) : deflateHere(counted, level);
          }
          if (!hold) {
            e.descriptor = true;
            e.zip64Local = engine._x.tw_archive_descriptor_zip64(entry.size) === 1;
            e.method = level === 0 ? 0 : 8;
            const header = records.make(0, e);
            yield* out.add(header);
            let compressed = 0;
            for await (const part of deflated) {
              compressed += part.length;
              yield* out.add(part);
            }
            e.crc = crc;
            e.compressedSize = compressed;
            const descriptor = records.make(1, e);
            yield* out.add(descriptor);
            offset += header.length + compressed + descriptor.length;
            centralSize += central.keep(records.view(2, e)).length;
            continue;
          }
          // Held: the deflated data kept aside in Blobs until its size decides the method. A
          // source read by offsets (a local file in Node) has no Blob to stand for its stored
          // data: what was read is kept aside too.
          const deflatedGroups = new BlobGroups(), rawGroups = source.pull ? new BlobGroups() : null;
          let compressed = 0;
          for await (const part of deflated) {
            compressed += part.length;
            if (level > 0) deflatedGroups.add(part);
            else if (rawGroups) rawGroups.add(part);
          }
          e.crc = crc;
          if (level > 0 && compressed < entry.size) {
            e.method = 8;
            e.compressedSize = compressed;
            body = deflatedGroups.end();
          } else if (rawGroups && level > 0) {
            // The data did not shrink: read again, as it is, and held to the CRC the first read
            // took (the header carries that one): a file rewritten in between is refused, never
            // stored with a CRC of other bytes.
            const again = await openEntry(entry);
            let crcAgain = 0;
            try {
              for await (const chunk of chunksOf(again, cancel)) {
                crcAgain = crcOf(engine, crcAgain, chunk);
                rawGroups.add(chunk.slice());
              }
            } catch (err) {
              throw readFailed(entry, err);
            } finally {
              if (again.close) await again.close();
            }
            if (crcAgain !== crc) throw changedWhilePacked(entry);
            e.compressedSize = entry.size;
            body = rawGroups.end();
          } else {
            e.compressedSize = entry.size;
            body = rawGroups ? rawGroups.end() : [source.blob || source.bytes];
          }
        }
      } finally {
        if (source && source.close) await source.close();
      }
      const header = records.make(0, e);
      yield* out.add(header);
      for (const part of body) yield* (reuse ? out.copy(part) : out.add(part));
      if (reuse) buffers.give(reuse);
      offset += header.length + e.compressedSize;
      centralSize += central.keep(records.view(2, e)).length;
    }
    report();
    const directoryOffset = offset;
    for (const part of central.parts()) yield* out.add(part);
    yield* out.add(records.end(list.length, directoryOffset, centralSize));
    yield* out.flush();
  } finally {
    records.free();
    if (pool) for (const worker of pool) worker.terminate();
  }
}

/** An archive job: entries gathered and named, then the archive's parts (see archiveParts). */
export async function* archiveJob(engine, { items, names, fixNames, level, hold }, { cancel, onEntry, onProgress, onRename } = {}) {
  const list = planNames(engine, await gatherEntries(items, cancel), names, { fix: !!fixNames, onRename });
  yield* archiveParts(engine, list, { level, hold, onEntry, onProgress, cancel });
}
