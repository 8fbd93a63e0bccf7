// Archives of many files and folders, made front to back as they are read: the entries gathered
// (folders walked) and every name checked first, then each entry's local header, data and, where
// the header had to go out before the data was known, a data descriptor; the central directory
// last. The records and the name rules are the core's (through the module); this file reads the
// sources, computes the CRC-32 in the module and has the data deflated:
//   - an entry below LARGE bytes is read whole, deflated in one go and stored when deflate does not
//     shrink it; its header carries its real CRC and sizes;
//   - a larger one streams: in a browser in blocks on the deflate workers the single-file zip uses,
//     in Node through zlib; its header goes out first and a descriptor follows the data. An
//     archive that is gathered rather than streamed (`hold`) keeps the deflated data aside in Blobs
//     instead, so that such an entry gets real values in its header and is stored when it does
//     not shrink.
// Memory stays bounded by LARGE and the blocks in flight, whatever the total; the central
// directory (some 60 bytes an entry) is the one thing that grows with the entry count.
import { chunksOf } from './reading.js';
import { deflatePool } from './packing.js';
import { gbkBytes } from './entries.js';

const isNode = typeof process === 'object' && !!(process.versions && process.versions.node);
const nodeModule = (name) => process.getBuiltinModule(name);

const LARGE = 16 * 1024 * 1024;     // entries from this size on stream (and go in blocks)
const CRC_PIECE = 2 * 1024 * 1024;  // the engine's input buffer
const PIECE = 1024 * 1024;          // headers and small entries go out gathered in pieces this big
const BLOB_GROUP = 32 * 1024 * 1024;
const PROGRESS_STEP = 8 * 1024 * 1024;
const BLOCK = 2 * 1024 * 1024;      // a deflate worker's unit of work, as for the single-file zip
const WINDOW = 32 * 1024;
const BLOCKS_PER_WORKER = 3;
const MAX_NAME_BYTES = 0xffff;
const READ_AHEAD = 8;               // small files read ahead of the one being packed
const READ_AHEAD_BYTES = 16 * 1024 * 1024;
const SYNC_MAX = 256 * 1024;        // entries below this size are deflated on the calling thread

// The core's name problems (zipcore::ArchiveNameProblem), in its order: a code and what it means.
const NAME_PROBLEMS = [
  null,
  ['empty-name', 'is empty or has an empty part'],
  ['absolute-name', 'is absolute'],
  ['drive-name', 'names a drive'],
  ['stream-name', 'names an alternate data stream (a \':\')'],
  ['dot-name', 'has a "." or ".." part'],
  ['device-name', 'names a device'],
  ['bad-character', 'has a character Windows does not allow in names'],
  ['trailing-dot', 'has a part that ends in a dot or a blank, which Windows drops'],
];

/** A reason an archive cannot be made: code, the entry's name, a text that names it. */
export class ArchiveFailure extends Error {
  constructor(code, entry, message) {
    super(message);
    this.name = 'ArchiveFailure';
    this.code = code;
    this.entry = entry;
  }
}

function abortError() {
  return typeof DOMException === 'function'
    ? new DOMException('The operation was aborted.', 'AbortError')
    : Object.assign(new Error('The operation was aborted.'), { name: 'AbortError' });
}

// ---- gathering -------------------------------------------------------------------------------------
// An entry: { name, directory, size, lastModified, open() -> a source ({ blob } or { bytes }) }.

const isBlob = (value) => typeof Blob === 'function' && value instanceof Blob;

function bytesView(value) {
  if (value instanceof ArrayBuffer) return new Uint8Array(value);
  if (ArrayBuffer.isView(value)) return new Uint8Array(value.buffer, value.byteOffset, value.byteLength);
  return null;
}

function fileEntry(name, source, lastModified) {
  const size = source.blob ? source.blob.size : source.bytes.length;
  return { name, directory: false, size, lastModified: Number.isFinite(lastModified) ? lastModified : Date.now(), open: async () => source };
}

function folderEntry(name, lastModified) {
  return { name, directory: true, size: 0, lastModified: Number.isFinite(lastModified) ? lastModified : Date.now() };
}

// Each item of what a page passed: an array, a FileList, any iterable or async iterable, or one item.
export async function* itemsOf(entries) {
  if (entries === null || entries === undefined) throw new ArchiveFailure('no-entries', '', 'no entries were given');
  if (typeof entries === 'string' || isBlob(entries)) { yield entries; return; }
  if (typeof entries[Symbol.asyncIterator] === 'function' || typeof entries[Symbol.iterator] === 'function') {
    for await (const item of entries) yield item;
    return;
  }
  if (typeof entries.length === 'number') {
    for (let i = 0; i < entries.length; i++) yield entries[i];
    return;
  }
  yield entries;
}

// A folder picked in Chromium (a FileSystemDirectoryHandle): its files, recursively, under `name`;
// an empty folder as a folder entry.
async function addDirectoryHandle(list, handle, name) {
  const children = [];
  for await (const child of handle.values()) children.push(child);
  children.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
  if (children.length === 0) list.push(folderEntry(name + '/', Date.now()));
  for (const child of children) {
    const path = name + '/' + child.name;
    if (child.kind === 'directory') await addDirectoryHandle(list, child, path);
    else {
      const file = await child.getFile();
      list.push(fileEntry(path, { blob: file }, file.lastModified));
    }
  }
}

// Node: a local file by its base name, a folder by its own name with everything under it.
async function addPath(list, path) {
  if (!isNode) throw new ArchiveFailure('not-found', path, `"${path}": a path names a local file only in Node`);
  const fs = nodeModule('node:fs'), paths = nodeModule('node:path');
  let stat;
  try {
    stat = await fs.promises.stat(path);
  } catch (e) {
    throw new ArchiveFailure('not-found', path, `"${path}" does not exist`);
  }
  const base = paths.basename(paths.resolve(path));
  if (stat.isFile()) list.push(localFile(base, path, stat, fs));
  else if (stat.isDirectory()) await addFolder(list, path, base, stat, new Set(), fs, paths);
  else throw new ArchiveFailure('not-a-file', path, `"${path}" is neither a file nor a folder`);
}

// A local file is read by offsets through a file handle (Node's Blob of a file says 1 byte for a
// file of 4 GiB + 1), closed when the entry is done.
function localFile(name, path, stat, fs) {
  return {
    name, directory: false, size: stat.size, lastModified: stat.mtimeMs,
    open: async () => {
      const handle = await fs.promises.open(path, 'r');
      try {
        const { size } = await handle.stat();
        const pull = async (offset, length, spare) => {
          const buffer = spare && spare.byteLength >= length ? new Uint8Array(spare, 0, length) : new Uint8Array(length);
          const { bytesRead } = await handle.read(buffer, 0, length, offset);
          return buffer.subarray(0, bytesRead);
        };
        return { size, pull, close: () => handle.close() };
      } catch (e) {
        await handle.close();
        throw e;
      }
    },
  };
}

async function addFolder(list, dir, name, stat, above, fs, paths) {
  const key = stat.dev + ':' + stat.ino;
  if (above.has(key)) throw new ArchiveFailure('folder-loop', name, `"${dir}" is inside itself (a link to a folder above it)`);
  above.add(key);
  let children;
  try {
    children = (await fs.promises.readdir(dir)).sort();
  } catch (e) {
    throw new ArchiveFailure('unreadable', name + '/', `the folder "${dir}" could not be read: ${e.message}`);
  }
  if (children.length === 0) list.push(folderEntry(name + '/', stat.mtimeMs));
  for (const child of children) {
    const path = paths.join(dir, child), entryName = name + '/' + child;
    let s;
    try {
      s = await fs.promises.stat(path);
    } catch (e) {
      throw new ArchiveFailure('not-found', entryName, `"${path}" does not exist (a broken link?)`);
    }
    if (s.isFile()) list.push(localFile(entryName, path, s, fs));
    else if (s.isDirectory()) await addFolder(list, path, entryName, s, above, fs, paths);
    else throw new ArchiveFailure('not-a-file', entryName, `"${path}" is neither a file nor a folder`);
  }
  above.delete(key);
}

async function addItem(list, item) {
  if (typeof item === 'string') return addPath(list, item);
  if (isBlob(item)) {
    const name = (typeof item.webkitRelativePath === 'string' && item.webkitRelativePath) || item.name || '';
    list.push(fileEntry(name, { blob: item }, item.lastModified));
    return;
  }
  if (item && typeof item === 'object' && item.kind === 'directory' && typeof item.values === 'function') {
    return addDirectoryHandle(list, item, item.name);
  }
  if (item && typeof item === 'object' && item.kind === 'file' && typeof item.getFile === 'function') {
    const file = await item.getFile();
    list.push(fileEntry(item.name, { blob: file }, file.lastModified));
    return;
  }
  if (item && typeof item === 'object' && 'name' in item) {
    const name = String(item.name ?? '');
    const modified = Number(item.lastModified);
    if (item.source === undefined || item.source === null) {
      if (!name.endsWith('/')) throw new ArchiveFailure('no-source', name, `the entry "${name}" has no source (a folder's name ends in "/")`);
      list.push(folderEntry(name, modified));
      return;
    }
    if (isBlob(item.source)) {
      list.push(fileEntry(name, { blob: item.source }, Number.isFinite(modified) ? modified : item.source.lastModified));
      return;
    }
    const bytes = bytesView(item.source);
    if (bytes) {
      list.push(fileEntry(name, { bytes }, modified));
      return;
    }
    throw new ArchiveFailure('no-source', name, `the source of the entry "${name}" is neither a Blob nor bytes`);
  }
  throw new ArchiveFailure('bad-entry', '', 'an entry is neither a File, a path, a folder handle nor { name, source }');
}

/** Every entry of what a page passed, folders walked; nothing read yet. */
export async function gatherEntries(entries) {
  const list = [];
  for await (const item of itemsOf(entries)) await addItem(list, item);
  return list;
}

// ---- names --------------------------------------------------------------------------------------

// A name as Windows compares names: each character upper-cased where that gives one character.
function windowsKey(name) {
  let key = '';
  for (const ch of name) {
    const upper = ch.toUpperCase();
    key += upper.length === ch.length ? upper : ch;
  }
  return key;
}

function nameProblem(engine, name) {
  const x = engine._x;
  const pointer = x.tw_alloc(name.length * 2 + 2);
  try {
    const units = new Uint16Array(x.memory.buffer, pointer, name.length);
    for (let i = 0; i < name.length; i++) units[i] = name.charCodeAt(i);
    return x.tw_archive_name_problem(pointer, name.length);
  } finally {
    x.tw_free(pointer);
  }
}

/**
 * Checks every name and fixes how it is stored, before any byte goes out. `mode` 'control': code
 * page 936 without the flag where every character has a place there, else UTF-8 with the flag;
 * 'utf8': UTF-8 with the flag throughout. Two entries with one name, also when Windows would see
 * one name (case aside), or a file where another entry needs a folder, are refused.
 */
export function planNames(engine, list, mode = 'control') {
  const files = new Map(), folders = new Map(), implied = new Map();  // key -> the entry's name
  const encoder = new TextEncoder();
  const clash = (name, other) => {
    throw new ArchiveFailure('duplicate-name', name, other === name
      ? `the entry "${name}" is given twice`
      : `the entries "${other}" and "${name}" have one name on Windows, which does not tell case apart in names`);
  };
  for (const entry of list) {
    let name = entry.name.replace(/\\/g, '/');
    if (entry.directory && !name.endsWith('/')) name += '/';
    const problem = NAME_PROBLEMS[nameProblem(engine, name)];
    if (problem) throw new ArchiveFailure(problem[0], name, `the entry name "${name}" ${problem[1]}`);
    const parts = (entry.directory ? name.slice(0, -1) : name).split('/');
    const key = windowsKey(parts.join('/'));
    if (files.has(key)) clash(name, files.get(key));
    if (folders.has(key)) clash(name, folders.get(key));
    if (!entry.directory && implied.has(key)) clash(name, implied.get(key));
    (entry.directory ? folders : files).set(key, name);
    for (let i = 1; i < parts.length; i++) {
      const above = windowsKey(parts.slice(0, i).join('/'));
      if (files.has(above)) clash(name, files.get(above));
      if (!implied.has(above)) implied.set(above, name);
    }
    const legacy = mode === 'utf8' ? null : gbkBytes(name);
    entry.name = name;
    entry.nameBytes = legacy || encoder.encode(name);
    entry.utf8 = !legacy;
    if (entry.nameBytes.length > MAX_NAME_BYTES) {
      throw new ArchiveFailure('long-name', name, `the entry name "${name.slice(0, 40)}..." is longer than 65,535 bytes`);
    }
  }
  return list;
}

// ---- records ------------------------------------------------------------------------------------

// MS-DOS date and time of a moment, in local time, as zip entries carry them.
function dosDateTime(ms) {
  const d = new Date(ms);
  const year = Math.min(Math.max(d.getFullYear(), 1980), 2107);
  return {
    dosDate: ((year - 1980) << 9) | ((d.getMonth() + 1) << 5) | d.getDate(),
    dosTime: (d.getHours() << 11) | (d.getMinutes() << 5) | (d.getSeconds() >> 1),
  };
}

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
    const heap = () => new Uint8Array(this.x.memory.buffer);
    heap().set(e.nameBytes, this.name);
    const flags = (e.utf8 ? 1 : 0) | (e.directory ? 2 : 0) | (e.descriptor ? 4 : 0) | (e.zip64Local ? 8 : 0);
    const length = this.x.tw_archive_record(kind, this.name, e.nameBytes.length, flags, e.dosTime, e.dosDate,
      e.method, e.crc >>> 0, e.compressedSize, e.size, e.offset, this.out, this.capacity);
    if (length < 0) throw new Error('a record did not fit');
    return heap().slice(this.out, this.out + length);
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

  *flush() {
    if (this.fill === 0) return;
    const full = this.buffer.subarray(0, this.fill);
    this.buffer = new Uint8Array(PIECE);
    this.fill = 0;
    yield full;
  }
}

// ---- deflate ------------------------------------------------------------------------------------

let fflate = null;
function fflateModule() {
  if (!fflate) fflate = import('./fflate.js');
  return fflate;
}

// Raw deflate of a small entry's bytes at `level` (1-9).
async function deflateWhole(data, level) {
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
  return (await fflateModule()).deflateSync(data, { level });
}

// Node: through zlib, as the chunks come.
async function* deflateInNode(chunks, level) {
  const zlib = nodeModule('node:zlib'), { Readable } = nodeModule('node:stream');
  const deflater = zlib.createDeflateRaw({ level, chunkSize: 256 * 1024 });
  const input = Readable.from((async function* () { for await (const chunk of chunks) yield chunk.slice(); })(), { objectMode: false });
  input.on('error', (e) => deflater.destroy(e));
  input.pipe(deflater);
  try {
    for await (const out of deflater) yield new Uint8Array(out.buffer, out.byteOffset, out.length);
  } finally {
    input.destroy();
    deflater.destroy();
  }
}

// A browser without deflate workers: the platform's CompressionStream at level 6, else fflate.
async function* deflateHere(chunks, level) {
  if (level !== 6 || typeof CompressionStream !== 'function') {
    const { Deflate } = await fflateModule();
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
async function* deflateInBlocks(chunks, pool, level, cancel) {
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

// ---- the archive --------------------------------------------------------------------------------

function readFailed(entry, e) {
  if (e && e.name === 'AbortError') return e;
  if (e instanceof ArchiveFailure) return e;
  if (e && e.read) {
    return e.read.gone
      ? new ArchiveFailure('gone', entry.name, `the file of the entry "${entry.name}" is gone`)
      : new ArchiveFailure('changed', entry.name, `the file of the entry "${entry.name}" could not be read as it was picked (${e.read.done} of ${e.read.size} bytes)`);
  }
  return new ArchiveFailure('unreadable', entry.name, `the file of the entry "${entry.name}" could not be read: ${(e && e.message) || e}`);
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
async function readWhole(source, entry, cancel) {
  if (source.bytes) return source.bytes;
  if (source.blob) {
    let data;
    try {
      data = new Uint8Array(await source.blob.arrayBuffer());
    } catch (e) {
      if (e && e.name === 'NotFoundError') throw new ArchiveFailure('gone', entry.name, `the file of the entry "${entry.name}" is gone`);
      throw readFailed(entry, e);
    }
    if (data.length !== entry.size) throw readFailed(entry, { read: { done: data.length, size: entry.size, gone: false } });
    return data;
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
 * aside or for a stored source). `list`: planNames' entries. Options: level (0-9), hold, onEntry
 * (name, index), onProgress(done, total), cancel ({ aborted, breathe }).
 */
export async function* archiveParts(engine, list, { level = 6, hold = false, onEntry, onProgress, cancel } = {}) {
  const records = new Records(engine);
  const out = new Pieces();
  const central = [];
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
  const ahead = new Map();
  let aheadBytes = 0, aheadNext = 0;
  const readAhead = (from) => {
    for (aheadNext = Math.max(aheadNext, from); aheadNext < list.length && aheadNext < from + READ_AHEAD; aheadNext++) {
      const entry = list[aheadNext];
      if (entry.directory || entry.size >= LARGE) continue;
      if (aheadBytes + entry.size > READ_AHEAD_BYTES && ahead.size > 0) break;
      aheadBytes += entry.size;
      const read = openEntry(entry).then(async (source) => {
        try {
          return { source, data: await readWhole(source, entry, cancel) };
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
      let source = null;
      readAhead(index);
      if (!entry.directory && entry.size >= LARGE) source = await openEntry(entry);
      try {
        if (entry.directory) {
          // A folder: its name, nothing else.
        } else if (entry.size < LARGE) {
          const read = await ahead.get(index);
          ahead.delete(index);
          aheadBytes -= entry.size;
          const data = read.data;
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
            if (pool === undefined && !isNode) pool = await deflatePool();
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
            const record = records.make(2, e);
            central.push(record);
            centralSize += record.length;
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
            // The data did not shrink: read again, as it is.
            const again = await openEntry(entry);
            try {
              for await (const chunk of chunksOf(again, cancel)) rawGroups.add(chunk.slice());
            } catch (err) {
              throw readFailed(entry, err);
            } finally {
              if (again.close) await again.close();
            }
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
      for (const part of body) yield* out.add(part);
      offset += header.length + e.compressedSize;
      const record = records.make(2, e);
      central.push(record);
      centralSize += record.length;
    }
    report();
    const directoryOffset = offset;
    for (const record of central) yield* out.add(record);
    yield* out.add(records.end(list.length, directoryOffset, centralSize));
    yield* out.flush();
  } finally {
    records.free();
    if (pool) for (const worker of pool) worker.terminate();
  }
}

/** An archive job: entries gathered and named, then the archive's parts (see archiveParts). */
export async function* archiveJob(engine, { items, names, level, hold }, { cancel, onEntry, onProgress } = {}) {
  const list = planNames(engine, await gatherEntries(items), names);
  yield* archiveParts(engine, list, { level, hold, onEntry, onProgress, cancel });
}
