// Where the work runs: the SDK's worker (one per object), or the engine on the calling thread
// (Node, or a page that asked for no worker). Both run the engine's jobs by name.
import { abortError, nodeModule, yieldTurn } from './platform.js';
import { compiledModule, keepModule } from './module.js';

// The engine's methods a page's arguments are checked by (answers awaited: the worker's come by message).
export const RULES = ['isPlainName', 'isDeviceName', 'isTextName', 'isArchivableSize', 'engineStatus', 'decodeBase64'];
const PULL_CHUNK = 2 << 20;       // memory files up to this size go to the worker in one piece

// The module or the worker did not load: the call that needed it fails with this (code
// 'unavailable'); a later call tries again. `detail`: what failed, where (the platform's words).
export function startFailure(message) {
  return Object.assign(new Error(`the SDK did not start: ${message}`), { code: 'unavailable', unavailable: true, detail: message });
}

// The worker: one per object, started by the first call that needs the module (open() fetches
// nothing). A memory file stays on the page and is handed over a chunk at a time as the worker
// asks for it (a copy of 2 MiB at a time, transferred); archive inspection of bytes, which reads
// at will, gets a copy of them.
export class WorkerBackend {
  constructor(workerUrl, wasmUrl) {
    this.workerUrl = workerUrl;
    this.wasmUrl = wasmUrl;
    this.worker = null;
    this.next = 1;
    this.jobs = new Map();
    this._rules = null;
    this._started = null;
    this._closed = false;
  }

  // The worker with its module loaded: started once, concurrent first calls share the start. A
  // start that failed is forgotten, so a later call tries again.
  ready() {
    if (this._closed) return Promise.reject(abortError());
    if (!this._started) {
      this._started = this._start();
      this._started.catch(() => { this._started = null; });
    }
    return this._started;
  }

  // The worker's default place is written out in full, as bundlers (Vite, webpack) look for it:
  // they then build the worker with what it imports and point the page at their copy.
  async _start() {
    const { workerUrl, wasmUrl } = this;
    const worker = workerUrl
      ? new Worker(workerUrl, { type: 'module' })
      : new Worker(new URL('../workers/tarnwick-worker.js', import.meta.url), { type: 'module' });
    this.worker = worker;
    worker.onmessage = (event) => {
      const m = event.data;
      const job = this.jobs.get(m.id);
      if (!job) return;
      if (m.progress) { if (job.onProgress) job.onProgress(m.progress[0], m.progress[1]); return; }
      if (m.pull) { this._give(m.id, job, m.pull[0], m.pull[1], m.spare); return; }
      if (m.entry) { if (job.onEntry) job.onEntry(m.entry[0], m.entry[1]); return; }
      if (m.rename) { if (job.onRename) job.onRename(m.rename[0], m.rename[1]); return; }
      if (m.part !== undefined) { job.resolve(m.part); return; }
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
    try {
      // A worker that does not load (missing, not a module, failing an import) ends in the error
      // event, which rejects this as it rejects every job; a module that does not load, in the
      // worker's own answer. The worker fetches and compiles the module, and gives it back for
      // the page's digest jobs; one the page compiled already is handed over instead.
      const known = compiledModule(wasmUrl);
      const ready = await new Promise((resolve, reject) => {
        this.jobs.set(0, { resolve, reject });
        worker.postMessage(known ? { type: 'init', module: known } : { type: 'init', wasmUrl: String(wasmUrl) });
      });
      if (ready && ready.module) keepModule(wasmUrl, ready.module);
    } catch (e) {
      worker.terminate();
      if (this.worker === worker) this.worker = null;
      if (this._closed) throw abortError();
      throw startFailure(`${e.message || e} (worker ${workerUrl || 'tarnwick-worker.js'}, module ${wasmUrl})`);
    }
    if (this._closed) {
      worker.terminate();
      throw abortError();
    }
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

  // The core's rules, asked of the worker's engine (the module lives there only): each answers
  // at once, beside any job under way.
  rules() {
    const ask = (rule) => async (...args) => (await this.ready(), new Promise((resolve, reject) => {
      const id = this.next++;
      this.jobs.set(id, { resolve, reject });
      this.worker.postMessage({ type: 'rule', id, rule, args: args.filter((a) => typeof a !== 'function') });
    }));
    if (!this._rules) {
      this._rules = {};
      for (const rule of RULES) this._rules[rule] = ask(rule);
    }
    return this._rules;
  }

  async run(op, args, { onProgress, signal } = {}) {
    const source = args.source;
    if (source && source.bytes) {
      // Inspection reads at will: the worker gets a copy of the bytes.
      if (op === 'inspect') args = { ...args, source: { bytes: source.bytes.slice() } };
      else if (op === 'head') args = { ...args, source: { bytes: source.bytes.slice(0, 15) } };
      else if (source.bytes.length <= PULL_CHUNK) args = { ...args, source: { bytes: source.bytes.slice() } };  // one chunk's copy
      else args = { ...args, source: { pull: source.bytes.length } };
    }
    await this.ready();
    if (signal && signal.aborted) throw abortError();
    const id = this.next++;
    return new Promise((resolve, reject) => {
      const job = { resolve, reject, onProgress, signal, bytes: source && source.bytes };
      job.abort = () => this.worker.postMessage({ type: 'cancel', id });
      if (signal) signal.addEventListener('abort', job.abort);
      this.jobs.set(id, job);
      this.worker.postMessage({ type: 'run', id, op, args: { ...args, progress: !!onProgress } });
    });
  }

  // An archive, in parts made in the worker as they are asked for: one part ahead of the one the
  // caller holds. Leaving early (or a cancel) ends the worker's side too.
  async *archive(args, { onProgress, onEntry, onRename, signal } = {}) {
    await this.ready();
    if (signal && signal.aborted) throw abortError();
    const id = this.next++;
    const job = { onProgress, onEntry, onRename, signal };
    const answer = () => new Promise((resolve, reject) => { job.resolve = resolve; job.reject = reject; });
    job.abort = () => this.worker.postMessage({ type: 'cancel', id });
    if (signal) signal.addEventListener('abort', job.abort);
    this.jobs.set(id, job);
    let ended = false;
    try {
      let next = answer();
      this.worker.postMessage({ type: 'stream', id, op: 'archive', args: { ...args, progress: !!onProgress, entries: !!onEntry, renames: !!onRename } });
      for (;;) {
        const part = await next;
        if (part === 'end') { ended = true; return; }
        next = answer();
        next.catch(() => {});
        this.worker.postMessage({ type: 'more', id });
        yield part;
      }
    } catch (e) {
      ended = true;
      throw e;
    } finally {
      if (!ended) job.abort();
      this._end(id, job);
    }
  }

  close() {
    this._closed = true;
    if (this.worker) this.worker.terminate();
    for (const [id, job] of this.jobs) {
      this._end(id, job);
      job.reject(abortError());
    }
  }
}

// The engine on the calling thread (Node, or a page that asked for no worker): `load()` gives it,
// called by the first call that needs the module, once for concurrent first calls, again after
// a failure; `archives()` gives the archives' code (zip/archive.js), loaded with the first
// archive (by the page's own import: the SDK's worker imports this file, and no worker code
// may be split).
export class LocalBackend {
  constructor(load, wasmUrl, archives) {
    this.wasmUrl = wasmUrl;
    this.engine = null;
    this._load = load;
    this._archives = archives;
    this._started = null;
  }

  ready() {
    if (!this._started) {
      this._started = this._load().then((engine) => { this.engine = engine; }, (e) => {
        this._started = null;
        throw startFailure(`${e.message || e} (module ${this.wasmUrl})`);
      });
    }
    return this._started;
  }

  rules() {
    if (!this._rules) {
      this._rules = {};
      for (const rule of RULES) this._rules[rule] = async (...args) => (await this.ready(), this.engine[rule](...args));
    }
    return this._rules;
  }

  async *archive(args, { onProgress, onEntry, onRename, signal } = {}) {
    const [{ archiveJob }] = await Promise.all([this._archives(), this.ready()]);
    const cancel = { get aborted() { return !!(signal && signal.aborted); }, breathe: yieldTurn };
    yield* archiveJob(this.engine, args, { onProgress, onEntry, onRename, cancel });
  }

  async run(op, args, { onProgress, signal } = {}) {
    await this.ready();
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
