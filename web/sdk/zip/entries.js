// The entries of an archive of many files, before any byte is read: what a page passed gathered
// into a list (folders walked, in Node local files and folders by path); their names are checked
// and fixed in zip/names.js. A missing source or a path that cannot be walked: an
// ArchiveFailure naming the entry, before the archive (archive.js) starts.
import { abortError } from '../engine/reading.js';

const isNode = typeof process === 'object' && !!(process.versions && process.versions.node);
const nodeModule = (name) => process.getBuiltinModule(name);

/** A reason an archive cannot be made: code, the entry's name, a text that names it. */
export class ArchiveFailure extends Error {
  constructor(code, entry, message) {
    super(message);
    this.name = 'ArchiveFailure';
    this.code = code;
    this.entry = entry;
  }
}

// ---- gathering -------------------------------------------------------------------------------------
// An entry: { name, directory, size, lastModified, open() -> a source ({ blob } or { bytes }) }.


// The walk hears a cancel ({ aborted, breathe }) at every step, giving the event loop a turn now
// and then where the steps themselves do not: a folder of many paths (folders linking to each
// other many times over) would otherwise be walked to its end after the job was given up.
async function step(walk) {
  if (!walk || !walk.cancel) return;
  if (walk.cancel.breathe && ++walk.steps % 256 === 0) await walk.cancel.breathe();
  if (walk.cancel.aborted) throw abortError();
}

// Why a local path could not be looked at, as the failure of the entry `name`; `listed`: the path
// was found in its folder (so one that does not exist is a broken link).
function pathFailure(e, path, name, listed) {
  switch (e && e.code) {
    case 'ENOENT': case 'ENOTDIR':
      return new ArchiveFailure('not-found', name, `"${path}" does not exist${listed ? ' (a broken link?)' : ''}`);
    case 'ENAMETOOLONG':
      return new ArchiveFailure('name-too-long', name, `"${path}" is a longer path or name than this system opens (ENAMETOOLONG)`);
    case 'ELOOP':
      return new ArchiveFailure('link-loop', name, `"${path}" is a link that leads round in a loop (ELOOP: too many levels of links)`);
    default:
      return new ArchiveFailure('unreadable', name, `"${path}" could not be looked at: ${(e && e.message) || e}`);
  }
}

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

// Each item of what a page passed: an array, a FileList, any iterable or async iterable, or one
// item. None at all (an empty list, an iterable that ends at once) is refused: an archive of
// nothing is never what a page meant to upload.
export async function* itemsOf(entries) {
  const none = () => new ArchiveFailure('no-entries', '', 'no entries were given');
  if (entries === null || entries === undefined) throw none();
  if (typeof entries === 'string' || isBlob(entries)) { yield entries; return; }
  let count = 0;
  if (typeof entries[Symbol.asyncIterator] === 'function' || typeof entries[Symbol.iterator] === 'function') {
    for await (const item of entries) { count++; yield item; }
  } else if (typeof entries.length === 'number') {
    for (let i = 0; i < entries.length; i++) { count++; yield entries[i]; }
  } else {
    count++;
    yield entries;
  }
  if (count === 0) throw none();
}

// A folder picked in Chromium (a FileSystemDirectoryHandle): its files, recursively, under `name`;
// an empty folder as a folder entry.
async function addDirectoryHandle(list, handle, name, walk) {
  const children = [];
  for await (const child of handle.values()) {
    await step(walk);
    children.push(child);
  }
  children.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
  if (children.length === 0) list.push(folderEntry(name + '/', Date.now()));
  for (const child of children) {
    await step(walk);
    const path = name + '/' + child.name;
    if (child.kind === 'directory') await addDirectoryHandle(list, child, path, walk);
    else {
      const file = await child.getFile();
      list.push(fileEntry(path, { blob: file }, file.lastModified));
    }
  }
}

// Node: a local file by its base name, a folder by its own name with everything under it.
async function addPath(list, path, walk) {
  if (!isNode) throw new ArchiveFailure('not-found', path, `"${path}": a path names a local file only in Node`);
  const fs = nodeModule('node:fs'), paths = nodeModule('node:path');
  let stat;
  try {
    stat = await fs.promises.stat(path);
  } catch (e) {
    throw pathFailure(e, path, path, false);
  }
  const base = paths.basename(paths.resolve(path));
  if (stat.isFile()) list.push(new LocalFile(base, path, stat));
  else if (stat.isDirectory()) await addFolder(list, path, base, stat, new Set(), fs, paths, walk);
  else throw new ArchiveFailure('not-a-file', path, `"${path}" is neither a file nor a folder`);
}

// A local file is read by offsets through a file handle (Node's Blob of a file says 1 byte for a
// file of 4 GiB + 1), closed when the entry is done. A class, not a closure each: a folder may hold
// tens of thousands.
class LocalFile {
  constructor(name, path, stat) {
    this.name = name;
    this.directory = false;
    this.size = stat.size;
    this.lastModified = stat.mtimeMs;
    this.path = path;
    this.local = true;
    this.nameBytes = null;
    this.utf8 = false;
  }

  async open() {
    const handle = await nodeModule('node:fs').promises.open(this.path, 'r');
    try {
      const { size } = await handle.stat();
      const pull = async (offset, length, spare) => {
        const buffer = spare && spare.byteLength >= length ? new Uint8Array(spare, 0, length) : new Uint8Array(length);
        const { bytesRead } = await handle.read(buffer, 0, length, offset);
        return buffer.subarray(0, bytesRead);
      };
      // Into a buffer of the caller's: how many bytes came (0 at the end).
      const readInto = async (buffer, at, length, offset) => (await handle.read(buffer, at, length, offset)).bytesRead;
      return { size, pull, readInto, close: () => handle.close() };
    } catch (e) {
      await handle.close();
      throw e;
    }
  }
}

// A folder's children are read as bytes: a name that is not UTF-8 is refused as such (read as text,
// it would become another name, one that does not exist).
async function addFolder(list, dir, name, stat, above, fs, paths, walk) {
  const key = stat.dev + ':' + stat.ino;
  if (above.has(key)) throw new ArchiveFailure('folder-loop', name, `"${dir}" is inside itself (a link to a folder above it)`);
  above.add(key);
  await step(walk);
  let children;
  try {
    children = await fs.promises.readdir(dir, { encoding: 'buffer' });
  } catch (e) {
    throw new ArchiveFailure('unreadable', name + '/', `the folder "${dir}" could not be read: ${e.message}`);
  }
  const utf8 = new TextDecoder('utf-8', { fatal: true });
  children = children.map((bytes) => {
    try {
      return utf8.decode(bytes);
    } catch (e) {
      const shown = paths.join(dir, bytes.toString('utf8'));
      throw new ArchiveFailure('bad-name-encoding', name + '/' + bytes.toString('utf8'),
        `the name of "${shown}" is not valid UTF-8 (its bad bytes shown here as U+FFFD): no entry can be named after it`);
    }
  }).sort();
  if (children.length === 0) list.push(folderEntry(name + '/', stat.mtimeMs));
  for (const child of children) {
    await step(walk);
    const path = paths.join(dir, child), entryName = name + '/' + child;
    let s;
    try {
      s = await fs.promises.stat(path);
    } catch (e) {
      throw pathFailure(e, path, entryName, true);
    }
    if (s.isFile()) list.push(new LocalFile(entryName, path, s));
    else if (s.isDirectory()) await addFolder(list, path, entryName, s, above, fs, paths, walk);
    else throw new ArchiveFailure('not-a-file', entryName, `"${path}" is neither a file nor a folder`);
  }
  above.delete(key);
}

async function addItem(list, item, walk) {
  if (typeof item === 'string') return addPath(list, item, walk);
  if (isBlob(item)) {
    const name = (typeof item.webkitRelativePath === 'string' && item.webkitRelativePath) || item.name || '';
    list.push(fileEntry(name, { blob: item }, item.lastModified));
    return;
  }
  if (item && typeof item === 'object' && item.kind === 'directory' && typeof item.values === 'function') {
    return addDirectoryHandle(list, item, item.name, walk);
  }
  if (item && typeof item === 'object' && item.kind === 'file' && typeof item.getFile === 'function') {
    const file = await item.getFile();
    list.push(fileEntry(item.name, { blob: file }, file.lastModified));
    return;
  }
  if (item && typeof item === 'object' && 'name' in item) {
    const name = String(item.name ?? '');
    const modified = Number(item.lastModified);
    // A time given must be one (a number of milliseconds or a Date); none given is now (or the
    // Blob's own).
    if (item.lastModified !== undefined && item.lastModified !== null && Number.isNaN(new Date(modified).getTime())) {
      throw new ArchiveFailure('bad-date', name, `the entry "${name}" has lastModified ${String(item.lastModified)}, which is not a time`);
    }
    const folder = /[/\\]$/.test(name);
    if (item.source === undefined || item.source === null) {
      if (!folder) throw new ArchiveFailure('no-source', name, `the entry "${name}" has no source (a folder's name ends in "/")`);
      list.push(folderEntry(name, modified));
      return;
    }
    if (folder) {
      // A folder's name with a source: a folder when the source is empty, refused when it holds
      // bytes (a folder entry has no data; a reader would drop them or refuse the archive).
      const size = isBlob(item.source) ? item.source.size : bytesView(item.source) ? bytesView(item.source).byteLength : -1;
      if (size > 0) {
        throw new ArchiveFailure('folder-with-data', name, `the entry "${name}" is named as a folder (ending in "/") but its source holds ${size} bytes`);
      }
      if (size === 0) {
        list.push(folderEntry(name, modified));
        return;
      }
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

/**
 * Every entry of what a page passed, folders walked; nothing read yet. `cancel` ({ aborted,
 * breathe }): an AbortError at the walk's next step once it is aborted.
 */
export async function gatherEntries(entries, cancel) {
  const list = [];
  const walk = { cancel, steps: 0 };
  for await (const item of itemsOf(entries)) {
    await step(walk);
    await addItem(list, item, walk);
  }
  return list;
}

/**
 * Short byte strings kept one after another in blocks: the names and central records of tens of
 * thousands of entries as a few buffers, not an object and a buffer each.
 */
export class Slab {
  constructor(size = 256 * 1024) { this.size = size; this.blocks = []; this.block = null; this.fill = 0; }

  // A view of a copy of `bytes`, valid as long as the slab.
  keep(bytes) {
    if (!this.block || this.fill + bytes.length > this.block.length) {
      if (this.block && this.fill > 0) this.blocks.push(this.block.subarray(0, this.fill));
      this.block = new Uint8Array(Math.max(this.size, bytes.length));
      this.fill = 0;
    }
    const view = this.block.subarray(this.fill, this.fill + bytes.length);
    view.set(bytes);
    this.fill += bytes.length;
    return view;
  }

  // Everything kept, in order.
  *parts() {
    yield* this.blocks;
    if (this.block && this.fill > 0) yield this.block.subarray(0, this.fill);
  }
}
