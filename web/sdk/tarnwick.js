// The page SDK: the control's thirteen methods, with the control's results and texts, computed by
// WebAssembly compiled from the control's own portable core. In a browser the work runs in a
// worker (tarnwick-worker.js) and files stream through in chunks; in Node it runs in-process.
//
//   import { Tarnwick } from './sdk/tarnwick.js';
//   const t = await Tarnwick.open();
//   const hex = await t.GetLocalFileSHA256(input.files[0], { onProgress, signal });
//
// Where the control takes a path or a script array, a File, Blob, Uint8Array (or other typed
// array), ArrayBuffer or plain array of byte values stands; base64 text stays text; in Node a
// path string is a local file. Archives come back as a File (a Blob) named like the control's
// archives. Each method takes, after the control's own arguments, an optional
// { onProgress(done, total), signal } (an AbortSignal).
//
// One failure contract: a method resolves with the control's result, on failure with the
// control's failure value and the text for GetLastErrorInfo; it rejects only when aborted (an
// AbortError, the text left as it was). t.checked holds the same methods for code that runs calls
// at once: they leave the shared text alone and reject a failure with a TarnwickError carrying
// its own text.
import { text, format, systemMessage, zipStatusCode, engineStatusText, engineUnknown } from './messages.js';
import { archiveBlob, firstByte } from './engine.js';
import { archiveMethods } from './archive-front.js';

const ARCHIVE_MIN = 41;           // the control packs and unpacks files of more than 40 bytes
const PULL_CHUNK = 2 << 20;       // memory files up to this size go to the worker in one piece
const YIELD_EVERY = 1 << 20;      // array elements or base64 characters between turns given away
const ERROR_HANDLE_EOF = 38;      // the control's reason when a file did not read as its size said
const ERROR_ACCESS_DENIED = 5;

const isNode = typeof process === 'object' && !!(process.versions && process.versions.node);
// Node's own modules, asked of Node when they are needed: a bundler building a page sees no import
// of them (webpack refuses a node: import, Vite stubs it with a warning).
const nodeModule = (name) => process.getBuiltinModule(name);

// ---- arrays, as the control's script bridge reads them ------------------------------------------
// (The rules about names, base64 and statuses are the core's, asked of the module: `rules` below
// is an Engine.)

// A text as the page's script turns it into a number (the control's ScriptTextToNumber): blanks
// around, then a decimal number (sign, digits with one optional point, optional exponent) or "0x"
// with hex digits; anything else, and a text without digits, is no number.
function textToNumber(value) {
  const t = value.trim();
  if (/^0[xX][0-9a-fA-F]+$/.test(t)) return parseInt(t.slice(2), 16);
  if (!/^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(t)) return null;
  const n = Number(t);
  return Number.isFinite(n) ? n : null;
}

// A script value as a number the way the control reads array elements and lengths, or null.
function numberOf(value, forLength) {
  if (typeof value === 'number') return Number.isFinite(value) ? value : null;
  if (typeof value === 'boolean') return forLength ? null : (value ? 1 : 0);
  if (typeof value === 'string') return textToNumber(value);
  return null;
}

// A call's outcome besides its result: the text it leaves (undefined: the shared text is left as
// it was), whether that text tells of a failure, and the engine's or zip's status where there is one.
class Outcome {
  constructor(method) {
    this.method = method;
    this.text = undefined;
    this.failed = false;
  }

  fail(message, extra) {
    this.text = message;
    this.failed = true;
    return Object.assign(this, extra);
  }
}

class Refusal {
  constructor(message) { this.message = message; }
}

// Turns given to the event loop in long loops on the page's thread, so that a cancel is heard.
function yieldTurn() {
  return new Promise((resolve) => (typeof setImmediate === 'function' ? setImmediate(resolve) : setTimeout(resolve, 0)));
}

async function pause(signal) {
  await yieldTurn();
  if (signal && signal.aborted) throw abortError();
}

// A property of a page's value as the control's array bridge meets it: a getter that throws is a
// failed Invoke.
function property(object, key) {
  try {
    return { value: object[key] };
  } catch (e) {
    return null;
  }
}

// The buffer behind bytes, or null when it has been detached (transferred away): such bytes are
// an empty memory file, as their length of 0 says.
function viewOf(array) {
  try {
    if (ArrayBuffer.isView(array)) {
      if (array.buffer.detached) return new Uint8Array(0);
      return array instanceof Uint8Array ? array : new Uint8Array(array.buffer, array.byteOffset, array.byteLength);
    }
    if (array instanceof ArrayBuffer) return array.detached ? new Uint8Array(0) : new Uint8Array(array);
  } catch (e) {
    return new Uint8Array(0);  // detached where the platform has no `detached` to ask
  }
  return null;
}

// The length of a memory file, or a Refusal.
function lengthOf(array) {
  if (array === null || array === undefined) return new Refusal(text.attrObjectNull);
  const view = viewOf(array);
  if (view) return view.byteLength;
  if (typeof array !== 'object' && typeof array !== 'function') return new Refusal(format(text.attrLookupFailed, 'length'));
  if (!('length' in array)) return new Refusal(format(text.attrLookupFailed, 'length'));
  const got = property(array, 'length');
  const n = got && numberOf(got.value, true);
  if (n === null || Math.abs(n) >= 2 ** 31) return new Refusal(format(text.attrGetFailed, 'length'));
  return Math.trunc(n);
}

// The bytes of a memory file (a Uint8Array over the page's own memory where it is bytes already),
// or a Refusal. A long array is read with turns given away, so that a cancel is heard.
async function bytesOf(array, signal) {
  const view = viewOf(array);
  if (view) return view;
  const length = lengthOf(array);
  if (length instanceof Refusal) return length;
  const bytes = new Uint8Array(Math.max(length, 0));
  for (let i = 0; i < bytes.length; i++) {
    if (i % YIELD_EVERY === YIELD_EVERY - 1) await pause(signal);
    if (!(i in array)) return new Refusal(format(text.elementLookupFailed, i));
    const got = property(array, i);
    const n = got && numberOf(got.value, false);
    if (n === null) return new Refusal(format(text.elementGetFailed, i));
    bytes[i] = Math.trunc(n) & 255;  // exact for |n| < 2^53
  }
  return bytes;
}

// A value where the control takes text, as the page's script engine turns it into one.
function textOf(value) {
  if (value === undefined || value === null) return '';
  try {
    return String(value);
  } catch (e) {
    return typeof value === 'symbol' ? value.toString() : '';
  }
}

function sizeOf(source) {
  return source.bytes ? source.bytes.length : source.blob.size;
}

// Node: a path is a local file, checked as the control checks paths: a device's name is refused
// wherever it stands, a name that does not exist is not found, anything but a file or directory on
// a disk (a device, pipe or socket) is not a disk file; a directory passes, and fails to open.
async function localPath(path, rules) {
  const fs = nodeModule('node:fs');
  const last = path.replace(/[\\/]+$/, '').split(/[\\/:]/).pop();
  if ((await rules()).isDeviceName(last)) return new Refusal(format(text.notADiskFile, path));
  let stat;
  try {
    stat = await fs.promises.stat(path);
  } catch (e) {
    return new Refusal(format(text.fileNotFound, path));
  }
  if (!stat.isFile() && !stat.isDirectory()) return new Refusal(format(text.notADiskFile, path));
  let openFailed = stat.isDirectory() ? ERROR_ACCESS_DENIED : 0;
  if (!openFailed) {
    try {
      await fs.promises.access(path, fs.constants.R_OK);
    } catch (e) {
      openFailed = ERROR_ACCESS_DENIED;
    }
  }
  if (openFailed) return { openFailed, path, source: null };
  const blob = await fs.openAsBlob(path);
  return { source: { blob, path }, path, lastModified: stat.mtimeMs };
}

// What stands where the control takes a path: { source, path, lastModified } ({ openFailed, path }
// for a path that exists but cannot be opened), or a Refusal.
async function localFile(value, signal, rules) {
  if (value === undefined || value === null || value === '') return new Refusal(text.pathEmpty);
  if (typeof Blob === 'function' && value instanceof Blob) {
    const path = typeof value.name === 'string' ? value.name : '';
    if (path && (await rules()).isDeviceName(path)) return new Refusal(format(text.notADiskFile, path));
    if (value.size === 0) {
      // Empty, or gone before its size was first asked for.
      try {
        await firstByte(value);
      } catch (e) {
        return new Refusal(format(text.fileNotFound, path));
      }
    }
    return { source: { blob: value }, path, lastModified: value.lastModified };
  }
  const isBytes = viewOf(value) || (typeof value === 'object' && 'length' in value);
  if (!isBytes) {
    // Anything else is text to the control: a path.
    const path = textOf(value);
    if (path === '') return new Refusal(text.pathEmpty);
    if (isNode) return localPath(path, rules);
    return new Refusal(format(text.fileNotFound, path));
  }
  const bytes = await bytesOf(value, signal);
  if (bytes instanceof Refusal) return bytes;
  return { source: { bytes }, path: '' };
}

// MS-DOS date and time of a moment, in local time, as zip entries carry them.
function dosDateTime(ms) {
  const d = new Date(ms);
  const year = Math.min(Math.max(d.getFullYear(), 1980), 2107);
  return {
    dosDate: ((year - 1980) << 9) | ((d.getMonth() + 1) << 5) | d.getDate(),
    dosTime: (d.getHours() << 11) | (d.getMinutes() << 5) | (d.getSeconds() >> 1),
  };
}

// Code page 936 (GBK) bytes of each character that has a place there, built once from the
// platform's decoder (2-byte codes only, as Windows' code page 936 has them).
let gbkCodes = null;
function gbkBytes(name) {
  if (typeof TextDecoder !== 'function') return null;
  if (!gbkCodes) {
    gbkCodes = new Map();
    const decoder = new TextDecoder('gbk');
    for (let lead = 0x81; lead <= 0xfe; lead++) {
      for (let trail = 0x40; trail <= 0xfe; trail++) {
        if (trail === 0x7f) continue;
        const ch = decoder.decode(Uint8Array.of(lead, trail));
        if (ch.length === 1 && ch !== '\ufffd' && !gbkCodes.has(ch)) gbkCodes.set(ch, (lead << 8) | trail);
      }
    }
  }
  const out = [];
  for (const ch of name) {
    const c = ch.codePointAt(0);
    if (c < 0x80) { out.push(c); continue; }
    const code = gbkCodes.get(ch);
    if (code === undefined) return null;
    out.push(code >> 8, code & 255);
  }
  return Uint8Array.from(out);
}

// The entry's name as the control stores it: its last path component, in code page 936 when
// every character has a place there (what Chinese zip tools expect), else UTF-8 flagged as such.
function entryFor(name, modified) {
  const stored = name.split(/[\\/]/).pop() || 'data.bin';
  const legacy = gbkBytes(stored);
  return {
    name: stored,
    nameBytes: legacy || new TextEncoder().encode(stored),
    utf8: !legacy,
    ...dosDateTime(modified),
  };
}

let nameCounter = 0;
function archiveName() {
  nameCounter = nameCounter >= 9999 ? 0 : nameCounter + 1;
  const four = (n) => String(n).padStart(4, '0');
  const process4 = Math.floor(Math.random() * 9999), random4 = Math.floor(Math.random() * 9999);
  return '1_' + four(process4) + four(random4) + four(nameCounter) + '.zip';
}


function abortError() {
  return new DOMException('The operation was aborted.', 'AbortError');
}

function isAbort(e) {
  return !!e && typeof e === 'object' && e.name === 'AbortError';
}

// The page's progress callback runs on its own: what it throws is reported as the page's own
// error and does not end the call.
function progressOf(onProgress) {
  if (typeof onProgress !== 'function') return undefined;
  return (done, total) => {
    try {
      onProgress(done, total);
    } catch (e) {
      if (typeof reportError === 'function') reportError(e);
    }
  };
}

// The call options a page passed, read once; anything else (or options that throw when read)
// stands for none.
function hooksOf(options) {
  if (!options || typeof options !== 'object') return {};
  try {
    const signal = options.signal;
    return {
      onProgress: progressOf(options.onProgress),
      signal: signal && typeof signal === 'object' && 'aborted' in signal && typeof signal.addEventListener === 'function'
        ? signal : undefined,
    };
  } catch (e) {
    return {};
  }
}

// ---- where the work runs --------------------------------------------------------------------------

// The worker: one per object. A memory file stays on the page and is handed over a chunk at a
// time as the worker asks for it (a copy of 2 MiB at a time, transferred); archive inspection of
// bytes, which reads at will, runs on the page over the page's own bytes.
class WorkerBackend {
  constructor(worker, wasmUrl) {
    this.worker = worker;
    this.wasmUrl = wasmUrl;
    this.next = 1;
    this.jobs = new Map();
    this.local = null;
    worker.onmessage = (event) => {
      const m = event.data;
      const job = this.jobs.get(m.id);
      if (!job) return;
      if (m.progress) { if (job.onProgress) job.onProgress(m.progress[0], m.progress[1]); return; }
      if (m.pull) { this._give(m.id, job, m.pull[0], m.pull[1], m.spare); return; }
      this._end(m.id, job);
      if (m.error) job.reject(Object.assign(new Error(m.error.message), m.error));
      else job.resolve(m.result);
    };
    worker.onerror = (event) => {
      if (event && event.preventDefault) event.preventDefault();
      for (const [id, job] of this.jobs) {
        this._end(id, job);
        job.reject(new Error('the worker stopped or did not load'));
      }
    };
  }

  // The worker's default place is written out in full, as bundlers (Vite, webpack) look for it:
  // they then build the worker with what it imports and point the page at their copy.
  static async start(workerUrl, wasmUrl) {
    const worker = workerUrl
      ? new Worker(workerUrl, { type: 'module' })
      : new Worker(new URL('./tarnwick-worker.js', import.meta.url), { type: 'module' });
    const backend = new WorkerBackend(worker, wasmUrl);
    try {
      // A worker that does not load (missing, not a module, failing an import) ends in the error
      // event, which rejects this as it rejects every job; a module that does not load, in the
      // worker's own answer.
      await new Promise((resolve, reject) => {
        backend.jobs.set(0, { resolve, reject });
        backend.worker.postMessage({ type: 'init', wasmUrl: String(wasmUrl) });
      });
    } catch (e) {
      worker.terminate();
      throw new Error(`the SDK did not start: ${e.message || e} (worker ${workerUrl || 'tarnwick-worker.js'}, module ${wasmUrl})`);
    }
    return backend;
  }

  _end(id, job) {
    this.jobs.delete(id);
    if (job.signal) job.signal.removeEventListener('abort', job.abort);
  }

  // A chunk of a memory file, copied out of the page's bytes into the buffer the worker sent back
  // (or a new one); short when the page's buffer has gone in the meantime (detached), which the
  // worker takes as a failed read.
  _give(id, job, at, length, spare) {
    let bytes;
    try {
      const part = job.bytes.subarray(at, at + length);
      bytes = spare && spare.byteLength >= part.length ? new Uint8Array(spare, 0, part.length) : new Uint8Array(part.length);
      bytes.set(part);
    } catch (e) {
      bytes = new Uint8Array(0);
    }
    this.worker.postMessage({ type: 'chunk', id, at, bytes }, [bytes.buffer]);
  }

  // An engine on the page, loaded when first needed: for the core's rules, and for the inspection
  // of bytes the page holds.
  rules() {
    if (!this.local) {
      this.local = import('./engine.js').then(async ({ Engine }) => Engine.load(await fetch(this.wasmUrl)));
      this.local.catch(() => { this.local = null; });  // tried again by the next call
    }
    return this.local;
  }

  async _inspectHere(args) {
    return (await this.rules()).run('inspect', args);
  }

  run(op, args, { onProgress, signal } = {}) {
    const source = args.source;
    if (source && source.bytes) {
      if (op === 'inspect') return this._inspectHere(args);
      if (op === 'head') args = { ...args, source: { bytes: source.bytes.slice(0, 15) } };
      else if (source.bytes.length <= PULL_CHUNK) args = { ...args, source: { bytes: source.bytes.slice() } };  // one chunk's copy
      else args = { ...args, source: { pull: source.bytes.length } };
    }
    const id = this.next++;
    return new Promise((resolve, reject) => {
      const job = { resolve, reject, onProgress, signal, bytes: source && source.bytes };
      job.abort = () => this.worker.postMessage({ type: 'cancel', id });
      if (signal) signal.addEventListener('abort', job.abort);
      this.jobs.set(id, job);
      this.worker.postMessage({ type: 'run', id, op, args: { ...args, progress: !!onProgress } });
    });
  }

  close() {
    this.worker.terminate();
    for (const [id, job] of this.jobs) {
      this._end(id, job);
      job.reject(abortError());
    }
  }
}

// The engine on the calling thread (Node, or a page that asked for no worker).
class LocalBackend {
  constructor(engine) { this.engine = engine; }

  async rules() { return this.engine; }

  async run(op, args, { onProgress, signal } = {}) {
    const cancel = { get aborted() { return !!(signal && signal.aborted); }, breathe: yieldTurn };
    if (op === 'inspect' && args.source.path) {
      // A local path in Node: read by slices with the file system's own calls.
      const fs = nodeModule('node:fs');
      const fd = fs.openSync(args.source.path, 'r');
      try {
        const readSync = (blob, offset, length) => {
          const bytes = new Uint8Array(length);
          return fs.readSync(fd, bytes, 0, length, offset) === length ? bytes : null;
        };
        return await this.engine.run(op, { ...args, readSync }, { cancel });
      } finally {
        fs.closeSync(fd);
      }
    }
    if (op === 'inspect' && args.source.blob) {
      args = { ...args, source: { bytes: new Uint8Array(await args.source.blob.arrayBuffer()) } };
    }
    return this.engine.run(op, args, { onProgress, cancel });
  }

  close() {}
}

// ---- the failure contract ----------------------------------------------------------------------

/** A failure of a checked call: the control's text, with the engine's or zip's status if any. */
export class TarnwickError extends Error {
  constructor(outcome, result) {
    super(outcome.text);
    this.name = 'TarnwickError';
    this.method = outcome.method;
    this.result = result;
    if (outcome.engineStatus !== undefined) this.engineStatus = outcome.engineStatus;
    if (outcome.zipStatus !== undefined) this.zipStatus = outcome.zipStatus;
  }
}

// The control's methods: how many of the control's own arguments each takes, and the result that
// tells of a failure.
const METHODS = {
  GetLocalFileSize: [1, -1], GetLocalFileHeadSigned: [1, ''], CreateZipFromLocalFile: [1, ''],
  DeleteFileFromCreateZip: [1, -1], GetLocalFileSHA256: [1, ''], GetLocalFileSM3: [3, ''],
  GetMemFileHeadSigned: [2, ''], GetMemFileSM3: [3, ''], GetMemFileSize: [1, -1],
  GetMemMD5FileHeadSigned: [2, ''], GetMemFileSHA256: [1, ''], CreateZipFromMemFile: [2, ''],
};

// ---- the object a page works with -----------------------------------------------------------------

export class Tarnwick {
  // Options: wasmUrl / workerUrl (default: beside this file), worker: false to run on the calling
  // thread, messageBox(text): shown where the control shows a message box (default: none).
  static async open(options = {}) {
    // Beside this file, written out for bundlers as the worker is: they emit the module and give
    // their copy's address here.
    const wasmUrl = options.wasmUrl || new URL('./tarnwick.wasm', import.meta.url);
    let backend;
    if (!isNode && options.worker !== false && typeof Worker === 'function') {
      backend = await WorkerBackend.start(options.workerUrl, wasmUrl);
    } else {
      const { Engine } = await import('./engine.js');
      let wasm;
      if (isNode) {
        const { readFile } = nodeModule('node:fs/promises');
        wasm = await readFile(wasmUrl);
      } else {
        wasm = await fetch(wasmUrl);
      }
      backend = new LocalBackend(await Engine.load(wasm));
    }
    return new Tarnwick(backend, options);
  }

  constructor(backend, options) {
    this._backend = backend;
    this._messageBox = typeof options.messageBox === 'function' ? options.messageBox : null;
    this._text = '';
    this._archives = new Map();        // name -> archive File, while not deleted
    this._deletedNames = new Set();    // names of archives deleted (the control's list only grows)
    this._deleted = new WeakSet();     // deleted archives, held no longer than the page holds them
    this.lastEngineStatus = undefined;
    this._rules = () => backend.rules();  // an Engine: the core's rules
    const checked = {};
    for (const name of Object.keys(METHODS)) {
      checked[name] = (...args) => this._call(name, args, true);
    }
    this.checked = Object.freeze(checked);
  }

  // Ends the worker and forgets this object's archives, as releasing the control deletes them.
  close() {
    this._archives.clear();
    this._backend.close();
  }

  // Every method comes through here: the control's arguments, then the call options.
  async _call(name, args, checked) {
    const [count, failureValue] = METHODS[name];
    const hooks = hooksOf(args[count]);
    const outcome = new Outcome(name);
    let result;
    if (hooks.signal && hooks.signal.aborted) throw abortError();
    try {
      result = await this['_' + name](outcome, hooks, ...args.slice(0, count));
    } catch (e) {
      if (isAbort(e) || (hooks.signal && hooks.signal.aborted)) throw abortError();
      result = failureValue;
      // Nothing a page passes ends in a rejection: what no rule above foresaw is a general failure.
      outcome.fail(systemMessage(31, false));
    }
    if (checked) {
      if (outcome.failed) throw new TarnwickError(outcome, result);
      return result;
    }
    if (outcome.engineStatus !== undefined) this.lastEngineStatus = outcome.engineStatus;
    if (outcome.text !== undefined) this._text = outcome.text;
    return result;
  }

  // A job of the engine. An abort rejects at once, whatever the job is doing; the job itself
  // stops at its next chunk and its own ending is not news.
  _job(op, args, hooks) {
    const work = this._backend.run(op, args, hooks);
    const { signal } = hooks;
    if (!signal) return work;
    work.catch(() => {});
    return new Promise((resolve, reject) => {
      const abort = () => reject(abortError());
      if (signal.aborted) return abort();
      signal.addEventListener('abort', abort, { once: true });
      work.then(resolve, reject).finally(() => signal.removeEventListener('abort', abort));
    });
  }

  _box(message) {
    if (!this._messageBox) return;
    try {
      this._messageBox(message);
    } catch (e) {
      if (typeof reportError === 'function') reportError(e);
    }
  }

  // A read that failed part-way: the file is gone (the control's not-found text) or no longer the
  // one picked (the method's own read-failure text). Anything else goes on up.
  _readFailed(outcome, e, path, render) {
    if (!e || !e.read) throw e;
    if (e.read.gone) return outcome.fail(format(text.fileNotFound, path));
    return render(e.read);
  }

  // The local-file probe: text mode for names ending in .txt, else the head, and for a zip
  // archive of more than 40 bytes the judgement of its contents.
  async _probe(outcome, source, path, lowerPath, hooks) {
    try {
      const textMode = (lowerPath.length > 4 ? lowerPath.slice(-4) : lowerPath) === '.txt';
      if (textMode) return (await this._job('plainText', { source }, hooks)) ? 'STRING' : '';
      const head = await this._job('head', { source }, hooks);
      if (!head.zip) return head.hex;
      if (sizeOf(source) < ARCHIVE_MIN) {
        outcome.text = '';
        return head.hex;
      }
      const judged = await this._job('inspect', { source }, hooks);
      if (judged.status !== 'ok') {
        outcome.text = format(text.unzipFailed, systemMessage(zipStatusCode[judged.status] || 31, false));
        outcome.zipStatus = judged.status;
        return head.hex;
      }
      outcome.text = '';
      return judged.files > 0 && judged.workbook ? 'MSEXCEL' : head.hex;
    } catch (e) {
      this._readFailed(outcome, e, path, () => outcome.fail(systemMessage(ERROR_HANDLE_EOF, false)));
      return '';
    }
  }

  async _sha256(outcome, source, path, hooks) {
    const size = sizeOf(source);
    if (size === 0) { outcome.fail(format(text.sizeZero, path)); return ''; }
    try {
      return (await this._job('digest', { kind: 'sha256', source }, hooks)).hex;
    } catch (e) {
      this._readFailed(outcome, e, path, (read) =>
        outcome.fail(format(text.readFailed, path, read.done, read.size, systemMessage(ERROR_HANDLE_EOF, true))));
      return '';
    }
  }

  async _sm3(outcome, source, path, withZ, cert, hooks) {
    const flag = Math.trunc(Number(withZ) || 0) !== 0 ? 1 : 0;
    const fail = (status) => {
      outcome.fail(format(text.sm3Failed, engineStatusText[status] || engineUnknown, status), { engineStatus: status });
      return '';
    };
    let result;
    try {
      result = await this._job('digest', { kind: 'sm3', source, withZ: flag, cert: textOf(cert) }, hooks);
    } catch (e) {
      const { fileRead } = (await this._rules()).engineStatus();
      this._readFailed(outcome, e, path, () => fail(fileRead));
      return '';
    }
    outcome.engineStatus = result.status;
    return result.status !== 0 ? fail(result.status) : result.hex;
  }

  // 40 bytes or less are refused with a text naming the file and a message box, as the control
  // does (it names the file by its path; a memory file's path is in its temporary directory).
  async _pack(outcome, source, name, modified, box, hooks) {
    const size = sizeOf(source);
    if (size < ARCHIVE_MIN) {
      outcome.fail(format(text.zipTooSmall, name, size));
      this._box(box);
      return '';
    }
    outcome.text = '';
    let made;
    try {
      made = await this._job('zip', { source, entry: entryFor(name, modified) }, hooks);
    } catch (e) {
      this._readFailed(outcome, e, name, () => {
        outcome.fail(format(text.zipFailed, name, systemMessage(zipStatusCode['source changed'], true)),
                     { zipStatus: 'source changed' });
        this._box(box);
      });
      return '';
    }
    const blob = archiveBlob(made, source);
    const archive = typeof File === 'function'
      ? new File([blob], archiveName(), { type: 'application/zip' })
      : Object.assign(blob, { name: archiveName() });
    this._archives.set(archive.name, archive);
    return archive;
  }

  // A path that exists but does not open (a directory): each method says so as the control does.
  async _openFailed(outcome, local, method) {
    const reason = (withCode) => systemMessage(local.openFailed, withCode);
    switch (method) {
      case 'size': outcome.fail(reason(true)); return -1;
      case 'probe':
        outcome.fail(reason(false));
        return local.path.toLowerCase().endsWith('.txt') ? 'STRING' : '';
      case 'zip': outcome.fail(reason(true)); this._box(text.zipBox); return '';
      case 'sha256': outcome.fail(format(text.openFailed, local.path, reason(true))); return '';
      default: {
        const { fileOpen } = (await this._rules()).engineStatus();
        outcome.fail(format(text.sm3Failed, engineStatusText[fileOpen], fileOpen), { engineStatus: fileOpen });
        return '';
      }
    }
  }

  // A picked file that is still there as it was picked; else the text of what became of it (its
  // size then is not known).
  async _stillThere(outcome, local) {
    if (!local.source.blob || local.source.blob.size === 0) return true;
    try {
      await firstByte(local.source.blob);
      return true;
    } catch (e) {
      if (e && e.name === 'NotFoundError') outcome.fail(format(text.fileNotFound, local.path));
      else outcome.fail(systemMessage(ERROR_HANDLE_EOF, true));
      return false;
    }
  }

  // 1
  async _GetLocalFileSize(outcome, hooks, file) {
    const local = await localFile(file, hooks.signal, this._rules);
    if (local instanceof Refusal) { outcome.fail(local.message); return -1; }
    if (local.openFailed) return this._openFailed(outcome, local, 'size');
    if (!(await this._stillThere(outcome, local))) return -1;
    outcome.text = '';
    return sizeOf(local.source) | 0;
  }

  // 2
  async _GetLocalFileHeadSigned(outcome, hooks, file) {
    const local = await localFile(file, hooks.signal, this._rules);
    if (local instanceof Refusal) { outcome.fail(local.message); return ''; }
    if (local.openFailed) return this._openFailed(outcome, local, 'probe');
    return this._probe(outcome, local.source, local.path, local.path.toLowerCase(), hooks);
  }

  // 3
  async _CreateZipFromLocalFile(outcome, hooks, file) {
    const local = await localFile(file, hooks.signal, this._rules);
    if (local instanceof Refusal) { outcome.fail(local.message); return ''; }
    if (local.openFailed) return this._openFailed(outcome, local, 'zip');
    return this._pack(outcome, local.source, local.path, local.lastModified || Date.now(), text.zipBox, hooks);
  }

  // 4: the object keeps only the name of an archive it let go; the page's own reference decides
  // how long the archive itself lives.
  async _DeleteFileFromCreateZip(outcome, hooks, archive) {
    const byName = typeof archive === 'string';
    const name = byName ? archive : archive && typeof archive === 'object' ? property(archive, 'name')?.value : archive;
    const live = byName ? this._archives.get(archive) : name !== undefined && this._archives.get(name) === archive ? archive : null;
    if (live) {
      this._archives.delete(live.name);
      this._deletedNames.add(live.name);
      this._deleted.add(live);
      return 0;
    }
    if (byName ? this._deletedNames.has(archive) : this._deleted.has(archive)) {
      outcome.fail(systemMessage(2, false));
      return 1;
    }
    outcome.fail(format(text.notCreatedHere, textOf(name)));
    return -1;
  }

  // 5
  async _GetLocalFileSHA256(outcome, hooks, file) {
    const local = await localFile(file, hooks.signal, this._rules);
    if (local instanceof Refusal) { outcome.fail(local.message); return ''; }
    if (local.openFailed) return this._openFailed(outcome, local, 'sha256');
    return this._sha256(outcome, local.source, local.path, hooks);
  }

  // 6
  async _GetLocalFileSM3(outcome, hooks, file, nWithZValue, strBase64Cert) {
    const local = await localFile(file, hooks.signal, this._rules);
    if (local instanceof Refusal) { outcome.fail(local.message); return ''; }
    if (local.openFailed) return this._openFailed(outcome, local, 'sm3');
    return this._sm3(outcome, local.source, local.path, nWithZValue, strBase64Cert, hooks);
  }

  // 7
  async GetLastErrorInfo() {
    return this._text;
  }

  async _memory(outcome, array, signal) {
    const bytes = await bytesOf(array, signal);
    if (bytes instanceof Refusal) { outcome.fail(bytes.message); return null; }
    return bytes.length > 0 ? bytes : null;  // an empty memory file leaves the text alone
  }

  async _fileType(outcome, type) {
    const plain = textOf(type).replace(/,/g, '');
    if (plain && !(await this._rules()).isPlainName(plain)) { outcome.fail(format(text.badFileType, plain)); return null; }
    return plain;
  }

  // 8
  async _GetMemFileHeadSigned(outcome, hooks, array, fileType) {
    const type = await this._fileType(outcome, fileType);
    if (type === null) return '';
    const bytes = await this._memory(outcome, array, hooks.signal);
    if (!bytes) return '';
    return this._probe(outcome, { bytes }, '', ('0.' + type).toLowerCase(), hooks);
  }

  // 9
  async _GetMemFileSM3(outcome, hooks, array, nWithZValue, strBase64Cert) {
    const bytes = await this._memory(outcome, array, hooks.signal);
    if (!bytes) return '';
    return this._sm3(outcome, { bytes }, '', nWithZValue, strBase64Cert, hooks);
  }

  // 10
  async _GetMemFileSize(outcome, hooks, array) {
    const length = lengthOf(array);
    if (length instanceof Refusal) { outcome.fail(length.message); return -1; }
    return length;
  }

  // 11
  async _GetMemMD5FileHeadSigned(outcome, hooks, base64, fileType) {
    const type = await this._fileType(outcome, fileType);
    if (type === null) return '';
    const bytes = await (await this._rules()).decodeBase64(textOf(base64), () => pause(hooks.signal));
    if (!bytes) { outcome.fail(text.badBase64); return ''; }
    if (bytes.length === 0) return '';
    return this._probe(outcome, { bytes }, '', ('0.' + type).toLowerCase(), hooks);
  }

  // 12
  async _GetMemFileSHA256(outcome, hooks, array) {
    const bytes = await this._memory(outcome, array, hooks.signal);
    if (!bytes) return '';
    return this._sha256(outcome, { bytes }, '', hooks);
  }

  // 13
  async _CreateZipFromMemFile(outcome, hooks, array, fileName) {
    const name = textOf(fileName);
    if (name && !(await this._rules()).isPlainName(name)) { outcome.fail(format(text.badFileName, name)); return ''; }
    const bytes = await this._memory(outcome, array, hooks.signal);
    if (!bytes) return '';
    if (!name) {
      // The temporary directory itself cannot be written as a file.
      outcome.fail(format(text.zipWriteFailed, systemMessage(5, true)));
      return '';
    }
    return this._pack(outcome, { bytes }, name, Date.now(), text.zipFailedBox, hooks);
  }
}

// The control's names, each taking its own arguments and then the call options.
for (const name of Object.keys(METHODS)) {
  Object.defineProperty(Tarnwick.prototype, name, {
    value: function (...args) { return this._call(name, args, false); },
    writable: true, configurable: true,
  });
}

// Archives of many files: zip(entries, options) and zipStream(entries, options).
Object.assign(Tarnwick.prototype, archiveMethods(TarnwickError));

export default Tarnwick;
