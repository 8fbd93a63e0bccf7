// The page's half of archives of many files: zip(entries, options) gives a zip File,
// zipStream(entries, options) a ReadableStream of its bytes, made as they are read. The work
// (archive.js) runs where the object's engine is: in the SDK's worker in a browser (the entries
// handed over as they are: Files and folder handles by reference, bytes copied), in-process in
// Node; large entries are deflated on the deflate workers.
//
// Options: name (the File's name, 'archive.zip'), names ('utf8', the default, or 'control'), level (0-9, 6),
// fixNames (names Windows' rule refuses made acceptable, clashes numbered), onRename(from, to),
// onEntry(name, index), onProgress(done, total), signal. Failures reject (or error the stream)
// with a TarnwickError whose code says what went wrong and whose entry names the entry, its text
// in the object's language.
import { abortError } from '../engine/reading.js';
import { startFailureText } from '../control/messages.js';

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

// The Chinese texts of the archives' failures, by code (%s: the entry's name). The work makes
// the English ones where it fails (the details of a system's failure are in them); an object that
// speaks Chinese shows these instead.
const TEXT_ZH = {
  'gone': '\u6761\u76ee[%s]\u7684\u6587\u4ef6\u5df2\u4e0d\u5b58\u5728',
  'changed': '\u6761\u76ee[%s]\u7684\u6587\u4ef6\u5728\u9009\u53d6\u540e\u5df2\u6539\u53d8,\u65e0\u6cd5\u6309\u539f\u6837\u8bfb\u53d6',
  'unreadable': '\u6761\u76ee[%s]\u7684\u6587\u4ef6\u65e0\u6cd5\u8bfb\u53d6',
  'not-found': '\u6761\u76ee[%s]\u7684\u6587\u4ef6\u4e0d\u5b58\u5728',
  'name-too-long': '\u6761\u76ee[%s]\u7684\u8def\u5f84\u6216\u540d\u79f0\u8fc7\u957f,\u672c\u7cfb\u7edf\u65e0\u6cd5\u6253\u5f00',
  'link-loop': '\u6761\u76ee[%s]\u662f\u5faa\u73af\u7684\u94fe\u63a5',
  'no-entries': '\u6ca1\u6709\u7ed9\u51fa\u4efb\u4f55\u6761\u76ee',
  'not-a-file': '\u6761\u76ee[%s]\u65e2\u4e0d\u662f\u6587\u4ef6\u4e5f\u4e0d\u662f\u6587\u4ef6\u5939',
  'folder-loop': '\u6761\u76ee[%s]\u6240\u5728\u7684\u6587\u4ef6\u5939\u5305\u542b\u5176\u81ea\u8eab(\u6307\u5411\u4e0a\u7ea7\u6587\u4ef6\u5939\u7684\u94fe\u63a5)',
  'bad-name-encoding': '\u6761\u76ee[%s]\u7684\u540d\u79f0\u4e0d\u662f\u6709\u6548\u7684UTF-8\u7f16\u7801',
  'bad-date': '\u6761\u76ee[%s]\u7684\u4fee\u6539\u65f6\u95f4\u4e0d\u662f\u6709\u6548\u7684\u65f6\u95f4',
  'no-source': '\u6761\u76ee[%s]\u6ca1\u6709\u53ef\u7528\u7684\u5185\u5bb9\u6765\u6e90',
  'folder-with-data': '\u6761\u76ee[%s]\u4ee5"/"\u7ed3\u5c3e\u8868\u793a\u6587\u4ef6\u5939,\u4f46\u5176\u6765\u6e90\u542b\u6709\u6570\u636e',
  'bad-entry': '\u6761\u76ee\u65e2\u4e0d\u662fFile\u3001\u8def\u5f84\u3001\u6587\u4ef6\u5939\u53e5\u67c4,\u4e5f\u4e0d\u662f{ name, source }',
  'duplicate-name': '\u6761\u76ee[%s]\u4e0e\u53e6\u4e00\u6761\u76ee\u540c\u540d(Windows\u4e0d\u533a\u5206\u540d\u79f0\u7684\u5927\u5c0f\u5199)',
  'bad-character': '\u6761\u76ee\u540d[%s]\u542b\u6709\u4e0d\u80fd\u7528\u4e8e\u6587\u4ef6\u540d\u7684\u5b57\u7b26',
  'empty-name': '\u6761\u76ee\u540d[%s]\u4e3a\u7a7a\u6216\u542b\u6709\u7a7a\u7684\u90e8\u5206',
  'absolute-name': '\u6761\u76ee\u540d[%s]\u662f\u7edd\u5bf9\u8def\u5f84',
  'drive-name': '\u6761\u76ee\u540d[%s]\u542b\u6709\u9a71\u52a8\u5668\u540d',
  'stream-name': '\u6761\u76ee\u540d[%s]\u6307\u5411\u5907\u7528\u6570\u636e\u6d41(\u542b":")',
  'dot-name': '\u6761\u76ee\u540d[%s]\u542b\u6709"."\u6216".."\u90e8\u5206',
  'device-name': '\u6761\u76ee\u540d[%s]\u662f\u8bbe\u5907\u540d',
  'trailing-dot': '\u6761\u76ee\u540d[%s]\u6709\u4ee5\u70b9\u6216\u7a7a\u683c\u7ed3\u5c3e\u7684\u90e8\u5206,Windows\u4f1a\u5c06\u5176\u53bb\u6389',
  'long-name': '\u6761\u76ee\u540d[%s]\u8d85\u8fc765535\u5b57\u8282',
  'failed': '\u538b\u7f29\u5305\u751f\u6210\u5931\u8d25',
};

// What failed, as the SDK's error: a TarnwickError for an archive failure (from the worker, its
// fields on a plain error), a worker or module that did not load ('unavailable') or anything
// unforeseen, the abort as it is; its text in `language` ('zh': TEXT_ZH by its code, 'en': the work's).
function failureOf(e, signal, TarnwickError, language) {
  if ((e && e.name === 'AbortError') || (signal && signal.aborted)) return abortError();
  if (e instanceof TarnwickError) return e;
  const failure = e && (e.name === 'ArchiveFailure' || e.unavailable)
    ? e : { code: 'failed', entry: '', message: String((e && e.message) || e) };
  // One line of text, whatever a system's words inside it held.
  const english = String(failure.message).replace(/[ \t]*[\r\n]+[ \t]*/g, ' ').trim();
  const text = language === 'en' ? english : failure.unavailable ? startFailureText(language, failure)
    : (TEXT_ZH[failure.code] || TEXT_ZH.failed).replace('%s', () => String(failure.entry || ''));
  const error = new TarnwickError({ method: 'zip', text }, undefined);
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
        throw failureOf(e, o.signal, TarnwickError, this.language);
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
            c.error(failureOf(e, o.signal, TarnwickError, this.language));
          }
        },
        cancel: () => finish(),
      }, { highWaterMark: 0 });
    },
  };
}
