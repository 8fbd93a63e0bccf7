// An archive's entries written into a folder: a FileSystemDirectoryHandle in a browser (picked, or
// the origin's private file system), a folder's path in Node.
//  - One entry whose name may not be extracted (entry.unsafe) refuses the whole archive before
//    anything is written; the parts of every name are checked here once more all the same.
//  - Nothing existing is overwritten: a file of an entry's name already there is a failure
//    ('exists'); a folder already there is written into. A symbolic link in the target is never
//    followed: every folder on the way is looked at without following links (Node), files are
//    created exclusively and not through a link. A browser's handles have no links.
//  - On failure or cancel, every file and folder this call created is removed, deepest first
//    (a folder only if it is empty again: what someone else put there meanwhile stays).
//  - Node: files, and the folders this call created for folder entries, take the entries' modified times.
// Resolves { files, folders, bytes }: files written, folders created, bytes written.
import { TarnwickError } from '../control/contract.js';
import { abortError, isAbort, isNode, nodeModule } from '../engine/platform.js';

// texts: [English, Chinese], the one of `language` (the archive's object's) shown.
function failure(language, code, [en, zh], extra = {}) {
  const text = language === 'en' ? en : zh;
  const error = new TarnwickError({ method: 'extract', text: text.replace(/[\r\n]+/g, ' ') }, undefined);
  return Object.assign(error, { code }, extra);
}

// Why a name may not be extracted, in Chinese (the reason's code stays in .reason).
const REASON_ZH = {
  'symlink': '\u662f\u7b26\u53f7\u94fe\u63a5',
  'empty-part': '\u540d\u79f0\u542b\u6709\u7a7a\u7684\u90e8\u5206',
  'absolute': '\u662f\u7edd\u5bf9\u8def\u5f84',
  'drive': '\u542b\u6709\u9a71\u52a8\u5668\u540d',
  'bad-character': '\u542b\u6709\u4e0d\u80fd\u7528\u4e8e\u6587\u4ef6\u540d\u7684\u5b57\u7b26',
  'parent': '\u542b\u6709"."\u6216".."\u90e8\u5206',
  'device-name': '\u662f\u8bbe\u5907\u540d',
  'trailing-dot-or-space': '\u6709\u4ee5\u70b9\u6216\u7a7a\u683c\u7ed3\u5c3e\u7684\u90e8\u5206',
  'too-long': '\u540d\u79f0\u8fc7\u957f',
  'clash': '\u4e0e\u53e6\u4e00\u6761\u76ee\u540c\u540d',
};

const unsafeName = (language, entry, reason) => failure(language, 'unsafe-name',
  [`the entry "${entry.name}" may not be extracted (${reason}); nothing was written`,
   `\u6761\u76ee[${entry.name}]\u4e0d\u80fd\u89e3\u538b(${REASON_ZH[reason] || reason}),\u672a\u5199\u5165\u4efb\u4f55\u5185\u5bb9`],
  { entry: entry.name, reason });
const existsText = (where) => [`"${where}" is there already; it is not overwritten`, `[${where}]\u5df2\u5b58\u5728,\u4e0d\u4e88\u8986\u76d6`];

// The parts of an entry's name, or the reason it has none that may be written. The reader has
// judged every name by the control's rule already; this stands in case that judgement misses one.
function partsOf(entry) {
  const name = entry.directory ? entry.name.replace(/\/+$/, '') : entry.name;
  if (name === '' || name.startsWith('/')) return { reason: 'absolute' };
  const parts = name.split('/');
  for (const part of parts) {
    if (part === '') return { reason: 'empty-part' };
    if (part === '.' || part === '..') return { reason: 'parent' };
    if (/[\\:\u0000]/.test(part)) return { reason: 'bad-character' };
  }
  return { parts };
}

function checkOptions(archive, target, options) {
  if (!archive || !Array.isArray(archive.entries) || typeof archive.stream !== 'function') {
    throw new TypeError('extract: not an archive opened by openZip');
  }
  if (options !== undefined && (options === null || typeof options !== 'object')) {
    throw new TypeError('extract: the options are an object');
  }
  const { signal, onEntry, onProgress } = options || {};
  if (signal !== undefined && !(signal && typeof signal === 'object' && 'aborted' in signal)) {
    throw new TypeError('extract: signal is an AbortSignal');
  }
  for (const [key, f] of [['onEntry', onEntry], ['onProgress', onProgress]]) {
    if (f !== undefined && typeof f !== 'function') throw new TypeError(`extract: ${key} is a function`);
  }
  if (typeof target === 'string') {
    if (!isNode) throw new TypeError('extract: a folder is a FileSystemDirectoryHandle in a browser');
    if (target === '') throw new TypeError('extract: the target folder is named');
  } else if (!target || typeof target !== 'object' || typeof target.getDirectoryHandle !== 'function'
    || typeof target.getFileHandle !== 'function') {
    throw new TypeError('extract: the target is a FileSystemDirectoryHandle (or, in Node, a folder\'s path)');
  }
  return { signal, onEntry, onProgress };
}

// A page's callback runs on its own: what it throws is reported as the page's own error.
function guarded(f) {
  if (!f) return () => {};
  return (...args) => {
    try {
      f(...args);
    } catch (e) {
      if (typeof reportError === 'function') reportError(e);
    }
  };
}

// ---- Node ------------------------------------------------------------------------------------------
function nodeFolder(target, language) {
  const fs = nodeModule('node:fs/promises');
  const path = nodeModule('node:path');
  const { constants } = nodeModule('node:fs');
  const created = [];  // [path, 'file' | 'folder', entry]
  const mine = new Set();
  let root;
  const exists = (entry, where) => failure(language, 'exists', existsText(where), { entry: entry.name });
  const pathOf = (parts) => path.join(root, ...parts);

  return {
    async open() {
      let stat;
      try {
        root = await fs.realpath(path.resolve(target));
        stat = await fs.stat(root);
      } catch (e) {
        if (e.code === 'ENOENT' || e.code === 'ENOTDIR') throw failure(language, 'not-found', [`the folder "${target}" is not there`, `\u6587\u4ef6\u5939[${target}]\u4e0d\u5b58\u5728`]);
        throw failure(language, 'write-failed', [`cannot write into "${target}": ${e.message}`, `\u65e0\u6cd5\u5199\u5165\u6587\u4ef6\u5939[${target}](${e.code || e.message})`]);
      }
      if (!stat.isDirectory()) throw failure(language, 'not-found', [`"${target}" is not a folder`, `[${target}]\u4e0d\u662f\u6587\u4ef6\u5939`]);
    },
    // The folder of these parts, made where missing; an existing folder is looked at without
    // following a link, and anything but a real folder stops the extraction.
    async folder(parts, entry) {
      for (let i = 1; i <= parts.length; i++) {
        const at = pathOf(parts.slice(0, i));
        if (mine.has(at)) continue;
        let stat = null;
        try {
          stat = await fs.lstat(at);
        } catch (e) {
          if (e.code !== 'ENOENT') throw e;
        }
        if (stat) {
          if (!stat.isDirectory()) throw exists(entry, parts.slice(0, i).join('/'));
          mine.add(at);  // an existing real folder: written into, never removed
          continue;
        }
        try {
          await fs.mkdir(at);
        } catch (e) {
          throw e.code === 'EEXIST' ? exists(entry, parts.slice(0, i).join('/')) : e;
        }
        mine.add(at);
        created.push([at, 'folder', entry]);
      }
    },
    async file(parts, entry, chunks) {
      const at = pathOf(parts);
      let handle;
      try {
        handle = await fs.open(at, constants.O_WRONLY | constants.O_CREAT | constants.O_EXCL | (constants.O_NOFOLLOW || 0), 0o666);
      } catch (e) {
        throw e.code === 'EEXIST' || e.code === 'ELOOP' || e.code === 'EISDIR' ? exists(entry, parts.join('/')) : e;
      }
      created.push([at, 'file', entry]);
      let bytes = 0;
      try {
        for await (const chunk of chunks) {
          await handle.write(chunk);
          bytes += chunk.length;
        }
      } finally {
        await handle.close();
      }
      await setTime(at, entry);
      return bytes;
    },
    // A folder this call made for a folder entry takes that entry's time, once everything is written
    // (writing into a folder changes its time); one made on the way to a file keeps the present time.
    async finish(plan) {
      const dated = new Map(plan.filter(([entry]) => entry.directory).map(([entry, parts]) => [pathOf(parts), entry]));
      for (let i = created.length - 1; i >= 0; i--) {
        if (created[i][1] === 'folder' && dated.has(created[i][0])) await setTime(created[i][0], dated.get(created[i][0]));
      }
    },
    createdFolders: () => created.filter(([, kind]) => kind === 'folder').length,
    async undo() {
      for (let i = created.length - 1; i >= 0; i--) {
        const [at, kind] = created[i];
        try {
          await (kind === 'file' ? fs.unlink(at) : fs.rmdir(at));
        } catch (e) { /* gone already, or a folder someone else wrote into meanwhile */ }
      }
    },
  };

  async function setTime(at, entry) {
    const when = entry.modified;
    if (when instanceof Date && !Number.isNaN(when.getTime())) await fs.utimes(at, when, when).catch(() => {});
  }
}

// ---- a browser's FileSystemDirectoryHandle -----------------------------------------------------------
function handleFolder(target, language) {
  const created = [];  // [parent handle, name, 'file' | 'folder']
  const folders = new Map([['', target]]);
  const exists = (entry, where) => failure(language, 'exists', existsText(where), { entry: entry.name });
  const missing = (e) => e && e.name === 'NotFoundError';

  return {
    async open() {},
    async folder(parts, entry) {
      let parent = target;
      for (let i = 1; i <= parts.length; i++) {
        const key = parts.slice(0, i).join('/');
        let handle = folders.get(key);
        if (!handle) {
          try {
            handle = await parent.getDirectoryHandle(parts[i - 1]);
          } catch (e) {
            if (e && e.name === 'TypeMismatchError') throw exists(entry, key);
            if (!missing(e)) throw e;
            handle = await parent.getDirectoryHandle(parts[i - 1], { create: true });
            created.push([parent, parts[i - 1], 'folder']);
          }
          folders.set(key, handle);
        }
        parent = handle;
      }
      return parent;
    },
    async file(parts, entry, chunks) {
      const parent = await this.folder(parts.slice(0, -1), entry);
      const name = parts[parts.length - 1];
      let there = true;
      try {
        await parent.getFileHandle(name);
      } catch (e) {
        if (missing(e)) there = false;
        else if (!(e && e.name === 'TypeMismatchError')) throw e;
      }
      if (there) throw exists(entry, parts.join('/'));
      const handle = await parent.getFileHandle(name, { create: true });
      created.push([parent, name, 'file']);
      const writable = await handle.createWritable();
      let bytes = 0;
      try {
        for await (const chunk of chunks) {
          await writable.write(chunk);
          bytes += chunk.length;
        }
      } catch (e) {
        await writable.abort().catch(() => {});
        throw e;
      }
      await writable.close();
      return bytes;
    },
    async finish() {},
    createdFolders: () => created.filter(([, , kind]) => kind === 'folder').length,
    async undo() {
      for (let i = created.length - 1; i >= 0; i--) await removeEntry(...created[i]);
    },
  };
}

// A file or folder this call made, removed. Chromium may still hold a file whose writable was just
// aborted (NoModificationAllowedError for a moment after abort() resolved): it is tried again for
// up to a second. A folder someone else wrote into meanwhile stays.
async function removeEntry(parent, name) {
  for (let tries = 0; ; tries++) {
    try {
      await parent.removeEntry(name);
      return;
    } catch (e) {
      if (!(e && e.name === 'NoModificationAllowedError') || tries >= 40) return;
      await new Promise((resolve) => setTimeout(resolve, 25));
    }
  }
}

// A ReadableStream's chunks, where the platform's streams are not async iterable (Safari).
async function* chunksOf(stream) {
  const reader = stream.getReader();
  try {
    for (;;) {
      const { done, value } = await reader.read();
      if (done) return;
      yield value;
    }
  } finally {
    reader.releaseLock();
  }
}

/**
 * Every entry of `archive` (what openZip resolved to) written into `target`. Resolves
 * { files, folders, bytes }; rejects with a TarnwickError ('unsafe-name' with .entry and .reason,
 * 'exists' with .entry, the reader's codes for an entry that cannot be read, 'not-found' for a
 * target that is not there, 'write-failed'), or the platform's AbortError on cancel. Either way
 * nothing this call created is left.
 */
export async function extractArchive(archive, target, options) {
  const { signal, onEntry, onProgress } = checkOptions(archive, target, options);
  const language = archive._language === 'en' ? 'en' : 'zh';
  const entryStarted = guarded(onEntry);
  const progress = guarded(onProgress);
  if (signal && signal.aborted) throw abortError();
  // Every name judged before anything is written.
  const plan = [];
  for (const entry of archive.entries) {
    if (entry.unsafe) throw unsafeName(language, entry, entry.unsafe);
    const { parts, reason } = partsOf(entry);
    if (!parts) throw unsafeName(language, entry, reason);
    plan.push([entry, parts]);
  }
  const total = plan.reduce((sum, [entry]) => sum + (entry.directory ? 0 : entry.size), 0);
  const folder = typeof target === 'string' ? nodeFolder(target, language) : handleFolder(target, language);
  await folder.open();
  const done = { files: 0, folders: 0, bytes: 0 };
  try {
    for (let index = 0; index < plan.length; index++) {
      if (signal && signal.aborted) throw abortError();
      const [entry, parts] = plan[index];
      entryStarted(entry, index);
      if (entry.directory) {
        await folder.folder(parts, entry);
        continue;
      }
      await folder.folder(parts.slice(0, -1), entry);
      const base = done.bytes;
      const stream = archive.stream(entry, { signal });
      done.bytes += await folder.file(parts, entry, (async function* counted() {
        let got = 0;
        for await (const chunk of chunksOf(stream)) {
          got += chunk.length;
          progress(base + got, total);
          yield chunk;
        }
      })());
      done.files++;
    }
    await folder.finish(plan);
  } catch (e) {
    await folder.undo();
    if (isAbort(e) || (signal && signal.aborted)) throw abortError();
    if (e instanceof TarnwickError || (e && e.name === 'TarnwickError')) throw e;
    throw failure(language, 'write-failed', [`cannot extract the archive: ${(e && e.message) || e}`, `\u538b\u7f29\u5305\u89e3\u538b\u5931\u8d25(${(e && (e.code || e.name)) || e})`]);
  }
  done.folders = folder.createdFolders();
  return done;
}
