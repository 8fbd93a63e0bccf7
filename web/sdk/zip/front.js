// The page's half of archives of many files: zip(entries, options) gives a zip File,
// zipStream(entries, options) a ReadableStream of its bytes, made as they are read. The work
// (archive.js) runs where the object's engine is: in the SDK's worker in a browser (the entries
// handed over as they are: Files and folder handles by reference, bytes copied), in-process in
// Node; large entries are deflated on the deflate workers.
//
// Options: name (the File's name, 'archive.zip'), names ('utf8', the default, or 'control'), level (0-9, 6),
// fixNames (names Windows' rule refuses made acceptable, clashes numbered), onRename(from, to),
// onEntry(name, index), onProgress(done, total), signal. Failures reject (or error the stream)
// with a TarnwickError whose code says what went wrong and whose entry names the entry.
import { abortError } from '../engine/reading.js';

const BLOB_GROUP = 32 * 1024 * 1024;


// A callback of the page runs on its own: what it throws is reported as the page's own error.
function guarded(callback) {
  if (typeof callback !== 'function') return undefined;
  return (...args) => {
    try {
      callback(...args);
    } catch (e) {
      if (typeof reportError === 'function') reportError(e);
    }
  };
}

// Bad options are refused as digest() refuses them, before any work: a TypeError for a value of
// the wrong type, a RangeError for one out of range (zip() rejects with it, zipStream() throws it).
function optionsOf(options, method) {
  if (options !== undefined && (options === null || typeof options !== 'object')) throw new TypeError(`${method}: options must be an object`);
  const o = options || {};
  const level = o.level === undefined ? 6 : o.level;
  if (typeof level !== 'number') throw new TypeError(`${method}: options.level must be a number`);
  if (!Number.isInteger(level) || level < 0 || level > 9) throw new RangeError(`${method}: options.level is ${String(level)}: a whole number from 0 to 9 is needed`);
  const names = o.names === undefined ? 'utf8' : o.names;
  if (typeof names !== 'string') throw new TypeError(`${method}: options.names must be 'utf8' or 'control'`);
  if (names !== 'control' && names !== 'utf8') throw new RangeError(`${method}: options.names is '${names}': 'utf8' or 'control' is needed`);
  const fixNames = o.fixNames === undefined ? false : o.fixNames;
  if (typeof fixNames !== 'boolean') throw new TypeError(`${method}: options.fixNames must be true or false`);
  for (const key of ['onEntry', 'onProgress', 'onRename']) {
    if (o[key] !== undefined && typeof o[key] !== 'function') throw new TypeError(`${method}: options.${key} must be a function`);
  }
  const signal = o.signal;
  if (signal !== undefined && !(signal && typeof signal === 'object' && 'aborted' in signal && typeof signal.addEventListener === 'function')) {
    throw new TypeError(`${method}: options.signal must be an AbortSignal`);
  }
  return {
    name: o.name === undefined ? 'archive.zip' : String(o.name),
    names,
    fixNames,
    onRename: guarded(o.onRename),
    level,
    signal,
    onEntry: guarded(o.onEntry),
    onProgress: guarded(o.onProgress),
  };
}

// What failed, as the SDK's error: a TarnwickError for an archive failure (from the worker, its
// fields on a plain error), a worker or module that did not load ('unavailable') or anything
// unforeseen, the abort as it is.
function failureOf(e, signal, TarnwickError) {
  if ((e && e.name === 'AbortError') || (signal && signal.aborted)) return abortError();
  if (e instanceof TarnwickError) return e;
  const failure = e && (e.name === 'ArchiveFailure' || e.unavailable)
    ? e : { code: 'failed', entry: '', message: String((e && e.message) || e) };
  // One line of text, whatever a system's words inside it held.
  const error = new TarnwickError({ method: 'zip', text: String(failure.message).replace(/[ \t]*[\r\n]+[ \t]*/g, ' ').trim() }, undefined);
  error.code = failure.code;
  error.entry = failure.entry;
  return error;
}

// The archive's parts, from the gathering to the end records. What the page passed is read here
// (an async iterable cannot travel to a worker); the items go as they are. The gathering's code
// comes with the first archive.
async function* partsOf(tarnwick, entries, o, hold) {
  const { itemsOf } = await import('./entries.js');
  const items = [];
  for await (const item of itemsOf(entries)) items.push(item);
  yield* tarnwick._backend.archive({ items, names: o.names, fixNames: o.fixNames, level: o.level, hold },
                                   { onProgress: o.onProgress, onEntry: o.onEntry, onRename: o.onRename, signal: o.signal });
}

/** The methods the Tarnwick object gains: zip and zipStream. */
export function archiveMethods(TarnwickError) {
  return {
    async zip(entries, options) {
      const o = optionsOf(options, 'zip');
      if (o.signal && o.signal.aborted) throw abortError();
      const groups = [];
      let pending = [], pendingBytes = 0;
      const work = (async () => {
        for await (const part of partsOf(this, entries, o, true)) {
          if (o.signal && o.signal.aborted) throw abortError();
          if (!(part instanceof Uint8Array)) {
            groups.push(new Blob(pending), part);
            pending = [];
            pendingBytes = 0;
            continue;
          }
          pending.push(part);
          pendingBytes += part.length;
          if (pendingBytes >= BLOB_GROUP) {
            groups.push(new Blob(pending));
            pending = [];
            pendingBytes = 0;
          }
        }
        groups.push(new Blob(pending));
        return typeof File === 'function'
          ? new File(groups, o.name, { type: 'application/zip' })
          : Object.assign(new Blob(groups, { type: 'application/zip' }), { name: o.name });
      })();
      try {
        if (!o.signal) return await work;
        work.catch(() => {});
        return await new Promise((resolve, reject) => {
          const abort = () => reject(abortError());
          o.signal.addEventListener('abort', abort, { once: true });
          work.then(resolve, reject).finally(() => o.signal.removeEventListener('abort', abort));
        });
      } catch (e) {
        throw failureOf(e, o.signal, TarnwickError);
      }
    },

    zipStream(entries, options) {
      const o = optionsOf(options, 'zipStream');
      let parts = null, over = false;
      // Every way out (the end, a failure, an abort, the reader's cancel) closes the work, whose
      // own ends then free what it holds and close its files, and lets go of the caller's signal.
      const finish = () => {
        if (over) return Promise.resolve();
        over = true;
        if (o.signal) o.signal.removeEventListener('abort', onAbort);
        const work = parts;
        parts = null;
        return work ? work.return().then(() => {}, () => {}) : Promise.resolve();
      };
      let controller = null;
      const onAbort = () => {
        if (controller) controller.error(abortError());
        finish();
      };
      return new ReadableStream({
        start: (c) => {
          controller = c;
          // An abort errors the stream at once; the work stops at its next chunk.
          if (o.signal) o.signal.addEventListener('abort', onAbort, { once: true });
        },
        pull: async (c) => {
          try {
            if (over || (o.signal && o.signal.aborted)) throw abortError();
            if (!parts) parts = partsOf(this, entries, o, false);
            const { value, done } = await parts.next();
            if (over) return;
            if (done) {
              finish();
              c.close();
            } else c.enqueue(value);
          } catch (e) {
            if (over) return;
            finish();
            c.error(failureOf(e, o.signal, TarnwickError));
          }
        },
        cancel: () => finish(),
      }, { highWaterMark: 0 });
    },
  };
}
