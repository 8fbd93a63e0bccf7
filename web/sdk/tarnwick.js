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
// A method resolves with the control's result, on failure its failure value and the text for
// GetLastErrorInfo; it rejects only when aborted (AbortError, the text as it was). t.checked's
// methods leave the shared text alone and reject a failure with a TarnwickError of its own text.
import { format, zipStatusCode, zipStatusName, messagesFor, startFailureText, LANGUAGES } from './control/messages.js';
import { archiveBlob } from './engine/packing.js';
import { firstByte } from './engine/reading.js';
import { Outcome, Refusal, TarnwickError, METHODS, hooksOf } from './control/contract.js';
import { abortError, isAbort, isNode, pause } from './engine/platform.js';
import { property, lengthOf, bytesOf, textOf } from './control/values.js';
import { sizeOf, localFile } from './control/files.js';
import { entryFor, archiveName } from './control/naming.js';
import { WorkerBackend, LocalBackend } from './engine/backends.js';
import { moduleAt } from './engine/module.js';
import { archiveMethods } from './zip/front.js';

export { TarnwickError };

const ERROR_HANDLE_EOF = 38;      // the control's reason when a file did not read as its size said
// The reason for a picked file the browser stopped reading while it was packed (it changed since
// it was picked): not the zip companion's code for a source that changed (README, "Known
// differences").
const ERROR_FILE_CORRUPT = 1392;

// The engine on the calling thread: its code and the module, fetched when first needed.
async function loadEngine(wasmUrl) {
  const [{ Engine }, module] = await Promise.all([import('./engine/engine.js'), moduleAt(wasmUrl)]);
  return Engine.load(module);
}

// The language asked of open(): a TypeError for a value that is no text, a RangeError for one the
// SDK does not speak.
function languageOf(options) {
  const language = options && typeof options === 'object' ? options.language : undefined;
  if (language === undefined) return 'zh';
  if (typeof language !== 'string') throw new TypeError("Tarnwick.open: options.language must be 'zh' or 'en'");
  if (!LANGUAGES.includes(language)) throw new RangeError(`Tarnwick.open: options.language is '${language}': 'zh' or 'en' is needed`);
  return language;
}

// ---- the object a page works with -----------------------------------------------------------------

export class Tarnwick {
  // Options: wasmUrl / workerUrl (default: beside this file), worker: false to run on the calling
  // thread, messageBox(text): shown where the control shows a message box (default: none),
  // language: the one language of every text the object gives ('zh', the control's texts, the
  // default; 'en'). A language it does not speak is refused before anything else.
  static async open(options = {}) {
    const language = languageOf(options);
    // Beside this file, written out for bundlers as the worker is: they emit the module and give
    // their copy's address here.
    // Nothing is fetched here: the worker and the module come with the first call that needs them.
    const wasmUrl = options.wasmUrl || new URL('./tarnwick.wasm', import.meta.url);
    const backend = !isNode && options.worker !== false && typeof Worker === 'function'
      ? new WorkerBackend(options.workerUrl, wasmUrl)
      : new LocalBackend(() => loadEngine(wasmUrl), wasmUrl, () => import('./zip/archive.js'));
    return new Tarnwick(backend, { ...options, language });
  }

  constructor(backend, options) {
    this._backend = backend;
    this.language = options.language === 'en' ? 'en' : 'zh';
    this._m = messagesFor(this.language);   // the texts of the object's language
    this._messageBox = typeof options.messageBox === 'function' ? options.messageBox : null;
    this._text = '';
    this._archives = new Map();        // name -> archive File, while not deleted
    this._deletedNames = new Set();    // names of archives deleted (the control's list only grows)
    this._deleted = new WeakSet();     // deleted archives, held no longer than the page holds them
    this.lastEngineStatus = undefined;
    this._rules = () => backend.rules();  // the core's rules, asked where the module lives
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
      // Nothing a page passes ends in a rejection: what no rule above foresaw is a general failure;
      // a module or worker that did not load, a failure that says so.
      if (e && e.unavailable) outcome.fail(startFailureText(this.language, e), { code: 'unavailable' });
      else outcome.fail(this._m.systemMessage(31, false));
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
    return this._heard(this._backend.run(op, args, hooks), hooks);
  }

  // Work that rejects at once on an abort.
  _heard(work, { signal }) {
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
    if (e.read.gone) return outcome.fail(format(this._m.text.fileNotFound, path));
    return render(e.read);
  }

  // The local-file probe: text mode for names ending in .txt, else the head, and for a zip
  // archive of more than 40 bytes the judgement of its contents.
  async _probe(outcome, source, path, lowerPath, hooks) {
    try {
      if (await this._rules().isTextName(lowerPath)) return (await this._job('plainText', { source }, hooks)) ? 'STRING' : '';
      const head = await this._job('head', { source }, hooks);
      if (!head.zip) return head.hex;
      if (!await this._rules().isArchivableSize(sizeOf(source))) {
        outcome.text = '';
        return head.hex;
      }
      const judged = await this._job('inspect', { source }, hooks);
      if (judged.status !== 'ok') {
        outcome.text = format(this._m.text.unzipFailed, this._m.systemMessage(zipStatusCode[judged.status] || 31, false));
        outcome.zipStatus = judged.status;
        return head.hex;
      }
      outcome.text = '';
      return judged.files > 0 && judged.workbook ? 'MSEXCEL' : head.hex;
    } catch (e) {
      this._readFailed(outcome, e, path, () => outcome.fail(this._m.systemMessage(ERROR_HANDLE_EOF, false)));
      return '';
    }
  }

  async _sha256(outcome, source, path, hooks) {
    const size = sizeOf(source);
    if (size === 0) { outcome.fail(format(this._m.text.sizeZero, path)); return ''; }
    try {
      return (await this._job('digest', { kind: 'sha256', source }, hooks)).hex;
    } catch (e) {
      this._readFailed(outcome, e, path, (read) =>
        outcome.fail(format(this._m.text.readFailed, path, read.done, read.size, this._m.systemMessage(ERROR_HANDLE_EOF, true))));
      return '';
    }
  }

  async _sm3(outcome, source, path, withZ, cert, hooks) {
    const flag = Math.trunc(Number(withZ) || 0) !== 0 ? 1 : 0;
    const fail = (status) => {
      outcome.fail(format(this._m.text.sm3Failed, this._m.engineStatusText[status] || this._m.engineUnknown, status), { engineStatus: status });
      return '';
    };
    let result;
    try {
      result = await this._job('digest', { kind: 'sm3', source, withZ: flag, cert: textOf(cert) }, hooks);
    } catch (e) {
      const { fileRead } = await this._rules().engineStatus();
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
    if (!await this._rules().isArchivableSize(size)) {
      outcome.fail(format(this._m.text.zipTooSmall, name, size));
      this._box(box);
      return '';
    }
    outcome.text = '';
    let made;
    try {
      made = await this._job('zip', { source, entry: entryFor(name, modified) }, hooks);
    } catch (e) {
      this._readFailed(outcome, e, name, () => {
        outcome.fail(format(this._m.text.zipFailed, name, this._m.systemMessage(ERROR_FILE_CORRUPT, true)),
                     { zipStatus: zipStatusName.SourceChanged });
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
    const reason = (withCode) => this._m.systemMessage(local.openFailed, withCode);
    switch (method) {
      case 'size': outcome.fail(reason(true)); return -1;
      case 'probe':
        outcome.fail(reason(false));
        return await this._rules().isTextName(local.path.toLowerCase()) ? 'STRING' : '';
      case 'zip': outcome.fail(reason(true)); this._box(this._m.text.zipBox); return '';
      case 'sha256': outcome.fail(format(this._m.text.openFailed, local.path, reason(true))); return '';
      default: {
        const { fileOpen } = await this._rules().engineStatus();
        outcome.fail(format(this._m.text.sm3Failed, this._m.engineStatusText[fileOpen], fileOpen), { engineStatus: fileOpen });
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
      if (e && e.name === 'NotFoundError') outcome.fail(format(this._m.text.fileNotFound, local.path));
      else outcome.fail(this._m.systemMessage(ERROR_HANDLE_EOF, true));
      return false;
    }
  }

  // 1
  async _GetLocalFileSize(outcome, hooks, file) {
    const local = await localFile(file, hooks.signal, this._rules, false, this._m);
    if (local instanceof Refusal) { outcome.fail(local.message); return -1; }
    if (local.openFailed) return this._openFailed(outcome, local, 'size');
    if (!(await this._stillThere(outcome, local))) return -1;
    outcome.text = '';
    return sizeOf(local.source) | 0;
  }

  // 2
  async _GetLocalFileHeadSigned(outcome, hooks, file) {
    const local = await localFile(file, hooks.signal, this._rules, false, this._m);
    if (local instanceof Refusal) { outcome.fail(local.message); return ''; }
    if (local.openFailed) return this._openFailed(outcome, local, 'probe');
    return this._probe(outcome, local.source, local.path, local.path.toLowerCase(), hooks);
  }

  // 3
  async _CreateZipFromLocalFile(outcome, hooks, file) {
    const local = await localFile(file, hooks.signal, this._rules, false, this._m);
    if (local instanceof Refusal) { outcome.fail(local.message); return ''; }
    if (local.openFailed) return this._openFailed(outcome, local, 'zip');
    return this._pack(outcome, local.source, local.path, local.lastModified || Date.now(), this._m.text.zipBox, hooks);
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
      outcome.fail(this._m.systemMessage(2, false));
      return 1;
    }
    outcome.fail(format(this._m.text.notCreatedHere, textOf(name)));
    return -1;
  }

  // 5
  async _GetLocalFileSHA256(outcome, hooks, file) {
    const local = await localFile(file, hooks.signal, this._rules, false, this._m);
    if (local instanceof Refusal) { outcome.fail(local.message); return ''; }
    if (local.openFailed) return this._openFailed(outcome, local, 'sha256');
    return this._sha256(outcome, local.source, local.path, hooks);
  }

  // 6
  async _GetLocalFileSM3(outcome, hooks, file, nWithZValue, strBase64Cert) {
    const local = await localFile(file, hooks.signal, this._rules, false, this._m);
    if (local instanceof Refusal) { outcome.fail(local.message); return ''; }
    if (local.openFailed) return this._openFailed(outcome, local, 'sm3');
    return this._sm3(outcome, local.source, local.path, nWithZValue, strBase64Cert, hooks);
  }

  // 7
  async GetLastErrorInfo() {
    return this._text;
  }

  async _memory(outcome, array, signal) {
    const bytes = await bytesOf(array, signal, this._m);
    if (bytes instanceof Refusal) { outcome.fail(bytes.message); return null; }
    return bytes.length > 0 ? bytes : null;  // an empty memory file leaves the text alone
  }

  async _fileType(outcome, type) {
    const plain = textOf(type).replace(/,/g, '');
    if (plain && !await this._rules().isPlainName(plain)) { outcome.fail(format(this._m.text.badFileType, plain)); return null; }
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
    const length = lengthOf(array, this._m);
    if (length instanceof Refusal) { outcome.fail(length.message); return -1; }
    return length;
  }

  // 11
  async _GetMemMD5FileHeadSigned(outcome, hooks, base64, fileType) {
    const type = await this._fileType(outcome, fileType);
    if (type === null) return '';
    const bytes = await this._heard(this._rules().decodeBase64(textOf(base64), () => pause(hooks.signal)), hooks);
    if (!bytes) { outcome.fail(this._m.text.badBase64); return ''; }
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
    if (name && !await this._rules().isPlainName(name)) { outcome.fail(format(this._m.text.badFileName, name)); return ''; }
    const bytes = await this._memory(outcome, array, hooks.signal);
    if (!bytes) return '';
    if (!name) {
      // The temporary directory itself cannot be written as a file.
      outcome.fail(format(this._m.text.zipWriteFailed, this._m.systemMessage(5, true)));
      return '';
    }
    return this._pack(outcome, { bytes }, name, Date.now(), this._m.text.zipFailedBox, hooks);
  }
}

// The control's names, each taking its own arguments and then the call options.
for (const name of Object.keys(METHODS)) {
  Object.defineProperty(Tarnwick.prototype, name, {
    value: function (...args) { return this._call(name, args, false); },
    writable: true, configurable: true,
  });
}

// What digest() and verifySm2() jobs need of the object: where the module is, whether jobs may use
// workers, paths as the host sees them, the object's texts, and errors that name the method.
function jobEnv(t, method) {
  return {
    wasmUrl: t._backend.wasmUrl,
    useWorkers: t._backend instanceof WorkerBackend,
    localFile: (path) => localFile(path, undefined, t._rules, true, t._m),
    messages: t._m,
    makeError: (message, code) => Object.assign(new TarnwickError({ text: message, method }), { code }),
  };
}

// digest(source, options): the digests an upload asks for, whole and per chunk, from one read
// (digest.js), leaving the control's last-error text alone. Its code is loaded with the first
// call, as are verifySm2's, the archives' and openZip's.
Tarnwick.prototype.digest = async function (source, options) {
  const { digestJob, moduleMd5 } = await import('./digest/digest.js');
  return digestJob(source, options, { ...jobEnv(this, 'digest'), md5: moduleMd5 });
};
// verifySm2(source, options): an SM2 signature over the whole source (sm2/verify.js), read once as
// digest() reads it.
Tarnwick.prototype.verifySm2 = async function (source, options) {
  const [{ verifySm2Job }, { moduleMd5 }] = await Promise.all([import('./sm2/verify.js'), import('./digest/digest.js')]);
  return verifySm2Job(source, options, { ...jobEnv(this, 'verifySm2'), md5: moduleMd5 });
};
// Archives of many files: zip(entries, options) and zipStream(entries, options) (front.js checks
// the options at once; the archives' code is loaded with the first archive).
Object.assign(Tarnwick.prototype, archiveMethods(TarnwickError));
// openZip(source, options): an archive to list, read, test and extract (unzip/reader.js).
Tarnwick.prototype.openZip = async function (source, options) {
  const { openZip } = await import('./unzip/reader.js');
  return openZip(source, options, this._backend.wasmUrl || new URL('./tarnwick.wasm', import.meta.url), this.language);
};

export default Tarnwick;
