// The page SDK: the control's thirteen methods, with the control's results and texts, computed by
// WebAssembly compiled from the control's own portable core. In a browser the work runs in a
// worker (tarnwick-worker.js) and files stream through in chunks; in Node it runs in-process.
//
//   import { Tarnwick } from './sdk/tarnwick.js';
//   const t = await Tarnwick.open();
//   const hex = await t.GetLocalFileSHA256(input.files[0], { onProgress, signal });
//
// Where the control takes a path or a script array, a File, Blob, Uint8Array (or other typed
// array), ArrayBuffer or plain array of byte values stands; base64 text stays text. Archives come
// back as a File (a Blob) named like the control's archives. Each method takes, after the
// control's own arguments, an optional { onProgress(done, total), signal } (an AbortSignal); an
// aborted call rejects with an AbortError and leaves the last-error text as it was.
import { text, format, systemMessage, zipStatusCode, engineStatusText, engineUnknown } from './messages.js';

const ARCHIVE_MIN = 41;           // the control packs and unpacks files of more than 40 bytes
const PROBE_LIMITS = { entries: 1000, bytes: 256 * 1024 * 1024 };  // the type probe's unpacking bounds
const SUBTLE_MIN = 1 << 20;       // in-memory SHA-256 goes to crypto.subtle from here ...
const SUBTLE_MAX = 256 << 20;     // ... up to here (it copies its input)

const isNode = typeof process === 'object' && !!(process.versions && process.versions.node);

// ---- names and arrays, by the control's rules --------------------------------------------------

function isReservedDeviceName(component) {
  let stem = component.split('.')[0].replace(/ +$/, '').toUpperCase();
  if (['CON', 'PRN', 'AUX', 'NUL', 'CONIN$', 'CONOUT$', 'CLOCK$'].includes(stem)) return true;
  return stem.length === 4 && (stem.startsWith('COM') || stem.startsWith('LPT')) &&
    /[0-9\u00b9\u00b2\u00b3]/.test(stem[3]);
}

// A name that stays one component of the temporary directory.
function isPlainName(name) {
  if (!name) return false;
  for (const ch of name) if (ch.charCodeAt(0) < 32 || '<>:"/\\|?*'.includes(ch)) return false;
  if (name.includes('..')) return false;
  if (/[. ]$/.test(name)) return false;
  return !isReservedDeviceName(name);
}

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

class Refusal {
  constructor(message) { this.message = message; }
}

// The length of a memory file, or a Refusal.
function lengthOf(array) {
  if (array === null || array === undefined) return new Refusal(text.attrObjectNull);
  if (ArrayBuffer.isView(array)) return array.byteLength;
  if (array instanceof ArrayBuffer) return array.byteLength;
  if (typeof array !== 'object' && typeof array !== 'function') return new Refusal(format(text.attrLookupFailed, 'length'));
  if (!('length' in array)) return new Refusal(format(text.attrLookupFailed, 'length'));
  const n = numberOf(array.length, true);
  if (n === null || Math.abs(n) >= 2 ** 31) return new Refusal(format(text.attrGetFailed, 'length'));
  return Math.trunc(n);
}

// The bytes of a memory file (a Uint8Array), or a Refusal.
function bytesOf(array) {
  if (array instanceof Uint8Array) return array;
  if (ArrayBuffer.isView(array)) return new Uint8Array(array.buffer, array.byteOffset, array.byteLength);
  if (array instanceof ArrayBuffer) return new Uint8Array(array);
  const length = lengthOf(array);
  if (length instanceof Refusal) return length;
  const bytes = new Uint8Array(Math.max(length, 0));
  for (let i = 0; i < bytes.length; i++) {
    if (!(i in array)) return new Refusal(format(text.elementLookupFailed, i));
    const n = numberOf(array[i], false);
    if (n === null) return new Refusal(format(text.elementGetFailed, i));
    bytes[i] = Math.trunc(n) & 255;  // exact for |n| < 2^53
  }
  return bytes;
}

// What stands where the control takes a path: { source, path } or a Refusal.
function localFile(value) {
  if (value === undefined || value === null || value === '') return new Refusal(text.pathEmpty);
  if (typeof value === 'string') return new Refusal(format(text.fileNotFound, value));
  if (typeof Blob === 'function' && value instanceof Blob) {
    const path = value.name || '';
    if (path && isReservedDeviceName(path)) return new Refusal(format(text.notADiskFile, path));
    return { source: { blob: value }, path, lastModified: value.lastModified };
  }
  const bytes = bytesOf(value);
  if (bytes instanceof Refusal) return bytes;
  return { source: { bytes }, path: '' };
}

function sizeOf(source) {
  return source.bytes ? source.bytes.length : source.blob.size;
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

function hexOf(buffer) {
  return Array.from(new Uint8Array(buffer), (b) => (b < 16 ? '0' : '') + b.toString(16)).join('').toUpperCase();
}

// ---- where the work runs --------------------------------------------------------------------------

class WorkerBackend {
  constructor(worker) {
    this.worker = worker;
    this.next = 1;
    this.jobs = new Map();
    worker.onmessage = (event) => {
      const m = event.data;
      const job = this.jobs.get(m.id);
      if (!job) return;
      if (m.progress) { if (job.onProgress) job.onProgress(m.progress[0], m.progress[1]); return; }
      this.jobs.delete(m.id);
      if (job.signal) job.signal.removeEventListener('abort', job.abort);
      if (m.error) job.reject(Object.assign(new Error(m.error.message), m.error));
      else job.resolve(m.result);
    };
  }

  static async start(workerUrl, wasmUrl) {
    const backend = new WorkerBackend(new Worker(workerUrl, { type: 'module' }));
    await new Promise((resolve, reject) => {
      backend.jobs.set(0, { resolve, reject });
      backend.worker.postMessage({ type: 'init', wasmUrl: String(wasmUrl) });
    });
    return backend;
  }

  run(op, args, { onProgress, signal } = {}) {
    const id = this.next++;
    return new Promise((resolve, reject) => {
      const job = { resolve, reject, onProgress, signal };
      job.abort = () => this.worker.postMessage({ type: 'cancel', id });
      if (signal) signal.addEventListener('abort', job.abort);
      this.jobs.set(id, job);
      this.worker.postMessage({ type: 'run', id, op, args: { ...args, progress: !!onProgress } });
    });
  }

  close() { this.worker.terminate(); }
}

class LocalBackend {
  constructor(engine) { this.engine = engine; }

  async run(op, args, { onProgress, signal } = {}) {
    const cancel = { get aborted() { return !!(signal && signal.aborted); } };
    if (op === 'inspect' && args.source.blob) {
      args = { ...args, source: { bytes: new Uint8Array(await args.source.blob.arrayBuffer()) } };
    }
    return this.engine.run(op, args, { onProgress, cancel });
  }

  close() {}
}

function abortError() {
  return new DOMException('The operation was aborted.', 'AbortError');
}

// ---- the object a page works with -----------------------------------------------------------------

export class Tarnwick {
  // Options: wasmUrl / workerUrl (default: beside this file), worker: false to run on the calling
  // thread, messageBox(text): shown where the control shows a message box (default: none).
  static async open(options = {}) {
    const wasmUrl = options.wasmUrl || new URL('./tarnwick.wasm', import.meta.url);
    let backend;
    if (!isNode && options.worker !== false && typeof Worker === 'function') {
      backend = await WorkerBackend.start(options.workerUrl || new URL('./tarnwick-worker.js', import.meta.url), wasmUrl);
    } else {
      const { Engine } = await import('./engine.js');
      let wasm;
      if (isNode) {
        const { readFile } = await import('node:fs/promises');
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
    this._messageBox = options.messageBox || null;
    this._text = '';
    this._archives = new Map();  // archive File -> true while not deleted
  }

  // Ends the worker and forgets this object's archives, as releasing the control deletes them.
  close() {
    this._archives.clear();
    this._backend.close();
  }

  async _job(op, args, hooks) {
    if (hooks && hooks.signal && hooks.signal.aborted) throw abortError();
    try {
      return await this._backend.run(op, args, hooks);
    } catch (e) {
      if (e.name === 'AbortError') throw abortError();
      throw e;
    }
  }

  _box(message) {
    if (this._messageBox) this._messageBox(message);
  }

  // The local-file probe: text mode for names ending in .txt, else the head, and for a zip
  // archive of more than 40 bytes the judgement of its contents.
  async _probe(source, lowerPath, hooks) {
    const textMode = (lowerPath.length > 4 ? lowerPath.slice(-4) : lowerPath) === '.txt';
    if (textMode) return (await this._job('plainText', { source }, hooks)) ? 'STRING' : '';
    const head = await this._job('head', { source }, hooks);
    if (!head.zip) return head.hex;
    if (sizeOf(source) < ARCHIVE_MIN) {
      this._text = '';
      return head.hex;
    }
    const judged = await this._job('inspect', { source, limits: PROBE_LIMITS }, hooks);
    if (judged.status !== 'ok') {
      this._text = format(text.unzipFailed, systemMessage(zipStatusCode[judged.status] || 31, false));
      return head.hex;
    }
    this._text = '';
    return judged.files > 0 && judged.workbook ? 'MSEXCEL' : head.hex;
  }

  async _sha256(source, path, hooks) {
    const size = sizeOf(source);
    if (size === 0) { this._text = format(text.sizeZero, path); return ''; }
    if (source.bytes && size >= SUBTLE_MIN && size <= SUBTLE_MAX && globalThis.crypto && crypto.subtle) {
      return hexOf(await crypto.subtle.digest('SHA-256', source.bytes));
    }
    return (await this._job('digest', { kind: 'sha256', source }, hooks)).hex;
  }

  async _sm3(source, withZ, cert, hooks) {
    const flag = Math.trunc(Number(withZ) || 0) !== 0 ? 1 : 0;
    const cert64 = cert === undefined || cert === null ? '' : String(cert);
    const result = await this._job('digest', { kind: 'sm3', source, withZ: flag, cert: cert64 }, hooks);
    this.lastEngineStatus = result.status;
    if (result.status !== 0) {
      this._text = format(text.sm3Failed, engineStatusText[result.status] || engineUnknown, result.status);
      return '';
    }
    return result.hex;
  }

  // 40 bytes or less are refused with a text naming the file and a message box, as the control
  // does (it names the file by its path; a memory file's path is in its temporary directory).
  async _pack(source, name, modified, box, hooks) {
    const size = sizeOf(source);
    if (size < ARCHIVE_MIN) {
      this._text = format(text.zipTooSmall, name, size);
      this._box(box);
      return '';
    }
    this._text = '';
    return this._zip(source, name, modified, hooks);
  }

  async _zip(source, name, modified, hooks) {
    const made = await this._job('zip', { source, entry: entryFor(name, modified) }, hooks);
    const archive = typeof File === 'function'
      ? new File([made.blob], archiveName(), { type: 'application/zip' })
      : Object.assign(made.blob, { name: archiveName() });
    this._archives.set(archive, true);
    return archive;
  }

  // 1
  async GetLocalFileSize(file) {
    const local = localFile(file);
    if (local instanceof Refusal) { this._text = local.message; return -1; }
    this._text = '';
    return sizeOf(local.source) | 0;
  }

  // 2
  async GetLocalFileHeadSigned(file, hooks) {
    const local = localFile(file);
    if (local instanceof Refusal) { this._text = local.message; return ''; }
    return this._probe(local.source, local.path.toLowerCase(), hooks);
  }

  // 3
  async CreateZipFromLocalFile(file, hooks) {
    const local = localFile(file);
    if (local instanceof Refusal) { this._text = local.message; return ''; }
    return this._pack(local.source, local.path, local.lastModified || Date.now(), text.zipBox, hooks);
  }

  // 4
  async DeleteFileFromCreateZip(archive) {
    let key = archive;
    if (typeof archive === 'string') {
      for (const made of this._archives.keys()) if (made.name === archive) key = made;
    }
    if (!this._archives.has(key)) {
      const name = archive && typeof archive === 'object' ? archive.name : archive;
      this._text = format(text.notCreatedHere, name === undefined || name === null ? '' : name);
      return -1;
    }
    if (!this._archives.get(key)) { this._text = systemMessage(2, false); return 1; }
    this._archives.set(key, false);
    return 0;
  }

  // 5
  async GetLocalFileSHA256(file, hooks) {
    const local = localFile(file);
    if (local instanceof Refusal) { this._text = local.message; return ''; }
    return this._sha256(local.source, local.path, hooks);
  }

  // 6
  async GetLocalFileSM3(file, nWithZValue, strBase64Cert, hooks) {
    const local = localFile(file);
    if (local instanceof Refusal) { this._text = local.message; return ''; }
    return this._sm3(local.source, nWithZValue, strBase64Cert, hooks);
  }

  // 7
  async GetLastErrorInfo() {
    return this._text;
  }

  _memory(array) {
    const bytes = bytesOf(array);
    if (bytes instanceof Refusal) { this._text = bytes.message; return null; }
    return bytes.length > 0 ? bytes : null;  // an empty memory file leaves the text alone
  }

  _fileType(type) {
    const plain = (type === undefined || type === null ? '' : String(type)).replace(/,/g, '');
    if (plain && !isPlainName(plain)) { this._text = format(text.badFileType, plain); return null; }
    return plain;
  }

  // 8
  async GetMemFileHeadSigned(array, fileType, hooks) {
    const type = this._fileType(fileType);
    if (type === null) return '';
    const bytes = this._memory(array);
    if (!bytes) return '';
    return this._probe({ bytes }, ('0.' + type).toLowerCase(), hooks);
  }

  // 9
  async GetMemFileSM3(array, nWithZValue, strBase64Cert, hooks) {
    const bytes = this._memory(array);
    if (!bytes) return '';
    return this._sm3({ bytes }, nWithZValue, strBase64Cert, hooks);
  }

  // 10
  async GetMemFileSize(array) {
    const length = lengthOf(array);
    if (length instanceof Refusal) { this._text = length.message; return -1; }
    return length;
  }

  // 11
  async GetMemMD5FileHeadSigned(base64, fileType, hooks) {
    const type = this._fileType(fileType);
    if (type === null) return '';
    const bytes = decodeBase64(base64 === undefined || base64 === null ? '' : String(base64));
    if (!bytes) { this._text = text.badBase64; return ''; }
    if (bytes.length === 0) return '';
    return this._probe({ bytes }, ('0.' + type).toLowerCase(), hooks);
  }

  // 12
  async GetMemFileSHA256(array, hooks) {
    const bytes = this._memory(array);
    if (!bytes) return '';
    return this._sha256({ bytes }, '', hooks);
  }

  // 13
  async CreateZipFromMemFile(array, fileName, hooks) {
    const name = fileName === undefined || fileName === null ? '' : String(fileName);
    if (name && !isPlainName(name)) { this._text = format(text.badFileName, name); return ''; }
    const bytes = this._memory(array);
    if (!bytes) return '';
    if (!name) {
      // The temporary directory itself cannot be written as a file.
      this._text = format(text.zipWriteFailed, systemMessage(5, true));
      return '';
    }
    return this._pack({ bytes }, name, Date.now(), text.zipFailedBox, hooks);
  }
}

// Base64 as the control reads a memory file's text (the core's base64::Decode): blanks and line
// breaks are skipped, padding is optional but must complete the last group, and a text that is
// not wholly valid gives null rather than a part of itself.
function decodeBase64(input) {
  const out = [];
  let accumulator = 0, digits = 0, padding = 0;
  for (const c of input) {
    if (c === ' ' || c === '\t' || c === '\r' || c === '\n') continue;
    if (c === '=') { padding++; continue; }
    const value = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/'.indexOf(c);
    if (value < 0 || padding !== 0) return null;
    accumulator = ((accumulator << 6) | value) & 0xFFFFFF;
    if (++digits % 4 === 0) {
      out.push(accumulator >> 16, (accumulator >> 8) & 255, accumulator & 255);
      accumulator = 0;
    }
  }
  const rest = digits % 4;
  if (rest === 1 || padding > 2 || (padding !== 0 && rest + padding !== 4)) return null;
  if (rest === 2) out.push((accumulator >> 4) & 255);
  if (rest === 3) out.push((accumulator >> 10) & 255, (accumulator >> 2) & 255);
  return Uint8Array.from(out);
}

export default Tarnwick;
