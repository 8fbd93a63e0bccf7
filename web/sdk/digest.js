// digest(source, options): every digest an upload asks for, from one read of the source: whole
// and per chunk, with chunk results handed over in order as they are done, checkpoints a page may
// keep and resume from (after a reload too), progress and cancel. tarnwick.js hangs it on the SDK
// object; the lanes that do the hashing are in digest-lane.js.
//
// Where the work runs: in a browser, the algorithms are spread by cost over up to MAX_LANES
// workers (tarnwick-digest-worker.js), each reading a File itself (no copy of the file is made),
// or handed bytes and streams a piece at a time by the page; in Node, and on a page that opened
// the SDK without workers, one lane in-process does them all. A job of CRCs alone over a file
// reads it in spans at once instead.
//
// The options and the results' encodings are in digest-options.js, the checkpoint record in
// digest-checkpoint.js, how the work is spread over lanes (and spans joined) in digest-plan.js.
import { text, format, systemMessage, engineStatusText, engineUnknown } from './messages.js';
import { Engine } from './engine.js';
import { Lane, blobPieces, filePieces, crc32, PREFIX } from './digest-lane.js';
import { planLanes, spansFor, joinSpans } from './digest-plan.js';
import { digestText, Refused, readOptions, hexOf, encoded } from './digest-options.js';
import { encodeRecord, decodeRecord, kindOf, samplesToCheck, checkWindow } from './digest-checkpoint.js';
import { firstByte, readFailure, abortError } from './reading.js';

const MAX_LANES = 4;                  // workers per job at most: each holds a module and two buffers
const PIECE = 2 * 1024 * 1024;        // what the page hands a worker at a time
const IN_FLIGHT = 3;                  // pieces handed to a worker and not yet hashed, at most
const PROGRESS_STEP = 8 * 1024 * 1024;
const ERROR_HANDLE_EOF = 38;
const ERROR_ACCESS_DENIED = 5;

const isNode = typeof process === 'object' && !!(process.versions && process.versions.node);
const nodeModule = (name) => process.getBuiltinModule(name);


const turn = () => new Promise((resolve) => setTimeout(resolve, 0));
const cores = () => (isNode ? nodeModule('node:os').availableParallelism()
  : typeof navigator === 'object' && navigator && navigator.hardwareConcurrency || 1);

// Jobs on one signal share one listener on it, taken off with the last of them: a page that keeps
// one signal for all its jobs leaves nothing on it (nor anything it holds, such as the jobs'
// sources) however many it runs, and Node sees no more listeners than one.
const watched = new WeakMap();   // signal: Set of the jobs' onAbort, with the listener beside

function watch(signal, onAbort) {
  let jobs = watched.get(signal);
  if (!jobs) {
    jobs = new Set();
    jobs.listener = () => { for (const f of [...jobs]) f(); };
    watched.set(signal, jobs);
    signal.addEventListener('abort', jobs.listener);
  }
  jobs.add(onAbort);
  return () => {
    jobs.delete(onAbort);
    if (jobs.size || watched.get(signal) !== jobs) return;
    watched.delete(signal);
    signal.removeEventListener('abort', jobs.listener);
  };
}

// ---- the source -------------------------------------------------------------------------------------

// { blob } | { bytes } | { stream } | { path } with size, name and modified where known, or a
// Refused with the control's text for a path.
async function sourceOf(value, localFile) {
  if (typeof Blob === 'function' && value instanceof Blob) {
    const name = typeof value.name === 'string' ? value.name : undefined;
    if (value.size === 0) {
      // Empty, or a picked file that went before its size was first asked for (it says 0): only a
      // read tells, and only the second is a file not found (as the control's own paths say).
      try {
        await firstByte(value);
      } catch (e) {
        throw new Refused(format(text.fileNotFound, name || ''), 'not-found');
      }
    }
    return { blob: value, size: value.size, name, modified: typeof value.lastModified === 'number' ? value.lastModified : undefined };
  }
  if (value instanceof ArrayBuffer) return { bytes: new Uint8Array(value), size: value.byteLength };
  if (ArrayBuffer.isView(value)) {
    return { bytes: new Uint8Array(value.buffer, value.byteOffset, value.byteLength), size: value.byteLength };
  }
  if (value && typeof value === 'object' && (typeof value.getReader === 'function' || typeof value[Symbol.asyncIterator] === 'function')) {
    return { stream: value };
  }
  if (typeof value === 'string' && isNode) {
    const local = await localFile(value);
    if (!local.source && !local.openFailed) {
      const code = local.message === format(text.fileNotFound, value) ? 'not-found'
        : local.message === format(text.notADiskFile, value) ? 'not-a-disk-file' : 'path-empty';
      throw new Refused(local.message, code);
    }
    if (local.openFailed) {
      throw new Refused(format(text.openFailed, local.path, systemMessage(local.openFailed, true)), 'open-failed');
    }
    // What tells this file from another of its name and size: the device, the inode and the
    // times of the last write and of the last change to the file or its entry (nanoseconds).
    let stat;
    try {
      stat = await nodeModule('node:fs').promises.stat(local.path, { bigint: true });
    } catch (e) {
      // Gone since it was looked at.
      if (e && (e.code === 'ENOENT' || e.code === 'ENOTDIR')) throw new Refused(format(text.fileNotFound, local.path), 'not-found');
      throw new Refused(format(text.openFailed, local.path, systemMessage(ERROR_ACCESS_DENIED, true)), 'open-failed');
    }
    return {
      path: local.path, size: Number(stat.size), name: local.path, modified: String(stat.mtimeNs),
      id: { device: String(stat.dev), inode: String(stat.ino), changed: String(stat.ctimeNs) },
    };
  }
  throw new TypeError('digest: the source must be a File, Blob, bytes, a ReadableStream' + (isNode ? ' or a path' : ''));
}

// The pieces of a source from `start`, each valid until the next is asked for. Bytes and streams
// are read from their start: the bytes before `start` go through `check` (a PrefixCheck), which
// refuses them before any piece after them is given.
async function* piecesOf(source, start, cancel, check) {
  if (source.blob) {
    yield* blobPieces(source.blob, start, cancel);
    return;
  }
  if (source.path) {
    yield* filePieces(source.path, source.size, start, cancel);
    return;
  }
  if (source.bytes) {
    if (check) {
      for (let at = 0, count = 1; at < start; at += PIECE, count++) {
        check.feed(source.bytes.subarray(at, Math.min(at + PIECE, start)));
        // Bytes in memory come without a wait: a turn now and then, so that a cancel is heard.
        if (count % 4 === 0) await turn();
        if (cancel.aborted) return;
      }
      check.finish();
    }
    for (let at = start; at < source.bytes.length; at += PIECE) {
      yield source.bytes.subarray(at, Math.min(at + PIECE, source.bytes.length));
    }
    return;
  }
  yield* streamPieces(source.stream, start, cancel, check);
}

// A stream's pieces from `start` (a stream resumed is read again from its beginning). The page's
// stream is the page's: read to its end, it is released; given up for any other reason (a cancel,
// a failure, a checkpoint refused), it is cancelled and released at once, even with a read
// pending that may never settle (a stalled download), so its connection goes and nothing stays
// locked. An async iterable is ended by its return(). A read that fails is the source's failure,
// a `read` error with what it threw as the cause, never mistaken for a bad option.
async function* streamPieces(stream, start, cancel, check) {
  const reader = typeof stream.getReader === 'function' ? stream.getReader() : null;
  const iterator = reader ? null : stream[Symbol.asyncIterator]();
  let ended = false, stopped = false;
  const stop = (reason) => {
    if (stopped) return;
    stopped = true;
    cancel.stops.delete(stop);
    try {
      if (reader) {
        reader.cancel(reason).catch(() => {});
        reader.releaseLock();
      } else if (typeof iterator.return === 'function') {
        Promise.resolve(iterator.return()).catch(() => {});
      }
    } catch (e) {
      // A stream that throws on its own cancel is given up all the same.
    }
  };
  cancel.stops.add(stop);
  let skip = start, at = 0;
  try {
    for (;;) {
      let next;
      try {
        next = reader ? await reader.read() : await iterator.next();
      } catch (e) {
        if (stopped) return;
        throw Object.assign(new Error('read failed'), { read: { done: at, gone: false, cause: e } });
      }
      if (stopped || cancel.aborted) return;
      if (next.done) {
        ended = true;
        break;
      }
      const { value } = next;
      let bytes = value instanceof Uint8Array ? value : ArrayBuffer.isView(value)
        ? new Uint8Array(value.buffer, value.byteOffset, value.byteLength) : null;
      if (!bytes) throw new TypeError('digest: a stream must give Uint8Array chunks');
      at += bytes.length;
      if (skip) {
        const passed = Math.min(skip, bytes.length);
        check.feed(bytes.subarray(0, passed));
        skip -= passed;
        if (!skip) check.finish();
        bytes = bytes.subarray(passed);
      }
      for (let from = 0; from < bytes.length; from += PIECE) yield bytes.subarray(from, Math.min(from + PIECE, bytes.length));
    }
  } catch (e) {
    stop(e);
    throw e;
  } finally {
    if (ended) {
      stopped = true;
      cancel.stops.delete(stop);
      if (reader) reader.releaseLock();
    } else {
      stop(cancel.reason || abortError());
    }
  }
  if (skip) throw new Refused(format(digestText.checkpointMismatch, 'size'), 'checkpoint-mismatch');
}

// An iterator whose first item is asked for at once (`ready`): a resume's bytes before its offset
// are read and checked before any lane starts.
function primed(iterator) {
  const first = iterator.next();
  first.catch(() => {});
  let taken = false;
  return {
    ready: first,
    next() {
      if (taken) return iterator.next();
      taken = true;
      return first;
    },
    return(value) { return iterator.return(value); },
    [Symbol.asyncIterator]() { return this; },
  };
}

const contentMismatch = () => new Refused(format(digestText.checkpointMismatch, 'content'), 'checkpoint-mismatch');

// The bytes before a resume's offset, read again from bytes or a stream, against the record: the
// CRC-64 of them all (a record of bytes or a stream) or its windows (a record of a file). Its
// `state` is then the CRC-64 state at the offset, which the lanes go on from.
class PrefixCheck {
  constructor(engine, prefix, samples) {
    this.lane = new Lane(engine, { whole: [PREFIX], chunk: [] }, { start: 0, chunkSize: 0 });
    this.lane.open();
    this.prefix = prefix;
    this.samples = samples;
    this.next = 0;      // the first window not yet passed
    this.crc = 0;       // of that window's bytes so far
    this.state = null;
  }

  feed(bytes) {
    const from = this.lane.pos, to = from + bytes.length;
    this.lane.feed(bytes);
    this.lane.take();
    while (this.next < this.samples.length) {
      const [at, length, crc] = this.samples[this.next];
      const a = Math.max(at, from), b = Math.min(at + length, to);
      if (b > a) this.crc = crc32(bytes.subarray(a - from, b - from), this.crc);
      if (at + length > to) break;
      if (this.crc !== crc) throw contentMismatch();
      this.next++;
      this.crc = 0;
    }
  }

  // At the offset: refuses what does not match, else keeps the state.
  finish() {
    try {
      this.state = this.lane.whole[0].save();
    } finally {
      this.lane.close();
    }
    if (this.prefix && hexOf(this.state) !== hexOf(this.prefix)) throw contentMismatch();
    if (this.next < this.samples.length) throw contentMismatch();
  }
}

// A file's windows of a resume's record, some of them read again (a few KiB) and compared.
async function checkWindows(source, samples) {
  const picked = samplesToCheck(samples);
  if (!picked.length) return;
  if (source.blob) {
    for (const window of picked) {
      let bytes;
      try {
        bytes = new Uint8Array(await source.blob.slice(window[0], window[0] + window[1]).arrayBuffer());
      } catch (e) {
        throw await readFailure(source, 0, e);
      }
      checkWindow(window, bytes);
    }
    return;
  }
  const fs = nodeModule('node:fs');
  let handle;
  try {
    handle = await fs.promises.open(source.path, 'r');
    for (const window of picked) {
      const bytes = new Uint8Array(window[1]);
      const { bytesRead } = await handle.read(bytes, 0, window[1], window[0]);
      checkWindow(window, bytes.subarray(0, bytesRead));
    }
  } catch (e) {
    if (e instanceof Refused) throw e;
    throw Object.assign(new Error('read failed'), { read: { done: 0, gone: !!e && e.code === 'ENOENT', cause: e } });
  } finally {
    if (handle) await handle.close();
  }
}

// ---- the module ---------------------------------------------------------------------------------------

const compiled = new Map();
export function moduleAt(wasmUrl) {
  const key = String(wasmUrl);
  if (!compiled.has(key)) {
    const bytes = isNode
      ? nodeModule('node:fs/promises').readFile(wasmUrl)
      : fetch(wasmUrl).then((r) => {
        if (!r.ok) throw new Error(`${key}: ${r.status}`);
        return r.arrayBuffer();
      });
    const made = bytes.then((b) => WebAssembly.compile(b));
    made.catch(() => compiled.delete(key));
    compiled.set(key, made);
  }
  return compiled.get(key);
}

// ---- the job -------------------------------------------------------------------------------------------

// Collects the lanes' boundaries (every lane passes the same ones, in the same order) and hands
// each on once every lane has passed it.
class Merger {
  constructor(laneCount, onBoundary) {
    this.laneCount = laneCount;
    this.onBoundary = onBoundary;
    this.entries = [];
    this.counts = [];
    this.seen = new Array(laneCount).fill(0);
    this.base = 0;
  }

  add(lane, reports) {
    for (const report of reports) {
      const k = this.seen[lane]++ - this.base;
      const entry = this.entries[k] || (this.entries[k] = { end: report.end, chunk: null, states: null });
      if (report.chunk) {
        if (!entry.chunk) entry.chunk = { ...report.chunk, digests: {} };
        Object.assign(entry.chunk.digests, report.chunk.digests);
      }
      if (report.states) entry.states = Object.assign(entry.states || {}, report.states);
      if (report.sample) entry.sample = report.sample;
      this.counts[k] = (this.counts[k] || 0) + 1;
    }
    while (this.entries.length && this.counts[0] === this.laneCount) {
      this.onBoundary(this.entries.shift());
      this.counts.shift();
      this.base++;
    }
  }
}

// The workers, shared by every job of the page (or process): at most max(MAX_LANES, cores) alive
// at once, whatever the number of jobs. A job takes what is free, up to what its plan would use,
// and plans again for what it got; one that finds none free waits for one, in turn. Workers are
// kept between jobs for a while: starting one costs about as much as hashing a few MiB.
// A browser's Worker or a Node worker thread, behind one face.
const IDLE_FOR = 10000;
const pool = { alive: 0, peak: 0, idle: [], waiting: [] };
const poolLimit = () => Math.max(MAX_LANES, cores());
const freeWorkers = () => pool.idle.length + poolLimit() - pool.alive;

// How many workers are alive now, the most there were since resetPeak(), and the bound (tests).
export const digestWorkers = {
  get alive() { return pool.alive; },
  get peak() { return pool.peak; },
  get limit() { return poolLimit(); },
  resetPeak() { pool.peak = pool.alive; },
};

function makeWorker() {
  const url = new URL('./tarnwick-digest-worker.js', import.meta.url);
  if (isNode) {
    const w = new (nodeModule('node:worker_threads').Worker)(url);
    return {
      post: (m, transfer) => w.postMessage(m, transfer || []),
      listen(onMessage, onError) {
        w.removeAllListeners('message');
        w.removeAllListeners('error');
        w.on('message', onMessage);
        w.on('error', (e) => onError(e));
      },
      hold(busy) { if (busy) w.ref(); else w.unref(); },
      terminate: () => w.terminate(),
    };
  }
  const w = new Worker(new URL('./tarnwick-digest-worker.js', import.meta.url), { type: 'module' });
  return {
    post: (m, transfer) => w.postMessage(m, transfer || []),
    listen(onMessage, onError) {
      w.onmessage = (event) => onMessage(event.data);
      w.onerror = (event) => {
        if (event && event.preventDefault) event.preventDefault();
        onError(new Error('the digest worker stopped or did not load'));
      };
    },
    hold() {},
    terminate: () => w.terminate(),
  };
}

// Up to `want` workers, at least one, of those free now (fewer where no more can be started).
function grab(want) {
  const taken = [];
  while (taken.length < want && freeWorkers() > 0) {
    let w = pool.idle.pop();
    if (!w) {
      try {
        w = makeWorker();
      } catch (e) {
        if (taken.length) break;
        throw e;
      }
      pool.alive++;
    }
    clearTimeout(w.timer);
    w.hold(true);
    taken.push(w);
  }
  pool.peak = Math.max(pool.peak, pool.alive);
  return taken;
}

// Workers for a job: at once when some are free and no job waits before it, else in turn. A
// cancel while waiting takes the job out of the line.
function takeWorkers(want, cancel) {
  if (!pool.waiting.length && freeWorkers() > 0) return Promise.resolve(grab(want));
  return new Promise((resolve, reject) => {
    const waiter = { want, resolve, reject };
    pool.waiting.push(waiter);
    cancel.onAbort = () => {
      const at = pool.waiting.indexOf(waiter);
      if (at >= 0) pool.waiting.splice(at, 1);
      reject(abortError());
    };
  });
}

function serve() {
  while (pool.waiting.length && freeWorkers() > 0) {
    const waiter = pool.waiting.shift();
    try {
      waiter.resolve(grab(waiter.want));
    } catch (e) {
      waiter.reject(e);
    }
  }
}

function giveBack(w) {
  w.listen(() => {}, () => {});
  w.hold(false);
  w.timer = setTimeout(() => {
    const at = pool.idle.indexOf(w);
    if (at >= 0) pool.idle.splice(at, 1);
    endWorker(w);
  }, IDLE_FOR);
  if (w.timer && w.timer.unref) w.timer.unref();
  pool.idle.push(w);
  serve();
}

// Ends a worker (after a failure or a cancel its lane may be anywhere); it counts as alive until
// it has ended.
function endWorker(w) {
  let ending;
  try {
    ending = w.terminate();
  } catch (e) {
    ending = null;
  }
  Promise.resolve(ending).catch(() => {}).then(() => {
    pool.alive--;
    serve();
  });
}

// Runs one lane per plan, one in each of `workers`: each gets the module and reads a Blob or a
// path itself or is handed the pieces. Resolves with each lane's end; reports go to merger as they
// come. Workers that ended their lane go back to the pool; after a failure or a cancel they are
// ended.
function runInWorkers(plans, job, source, module, merger, progress, cancel, workers, pieces) {
  let settled = false;
  const ends = new Array(plans.length);
  let left = plans.length;
  const flow = plans.map(() => ({ sent: 0, taken: 0, wake: null }));
  return new Promise((resolve, reject) => {
    const fail = (e) => {
      if (settled) return;
      settled = true;
      for (const w of workers) endWorker(w);
      // The page's pump, if it waits for a worker, stops (and the stream goes with it).
      for (const f of flow) if (f.wake) { const w = f.wake; f.wake = null; w(); }
      reject(e);
    };
    cancel.onAbort = () => fail(abortError());
    const starts = plans.map((plan) => (plan.span ? plan.span.start : job.start));
    const done = starts.slice();
    // Lanes over the same bytes have passed the slowest one's place; spans, all they have read.
    const passed = () => (plans[0].span ? done.reduce((sum, at, n) => sum + at - starts[n], 0) : Math.min(...done));
    plans.forEach((plan, n) => {
      const worker = workers[n];
      worker.listen((m) => {
        if (settled) return;
        if (m.type === 'reports') {
          if (!plan.span) merger.add(n, m.list);
          done[n] = m.done;
          progress(passed());
          flow[n].taken += m.taken;
          if (flow[n].wake) { const w = flow[n].wake; flow[n].wake = null; w(); }
        } else if (m.type === 'end') {
          ends[n] = m.end;
          if (--left === 0) {
            settled = true;
            for (const w of workers) giveBack(w);
            resolve(ends);
          }
        } else if (m.type === 'failed') {
          fail(failureOf(m.error));
        }
      }, fail);
      // A span before the last is cut where it ends; the last reads to the file's end, as a whole
      // lane does, so a file that grew since it was measured is still found out.
      const { span } = plan;
      const cut = span && span.end < source.size ? span.end : undefined;
      worker.post({
        type: 'start', module, plan, job: span ? { ...job, start: span.start } : job,
        blob: source.blob && cut ? source.blob.slice(0, cut) : source.blob, path: source.path, size: source.size, until: cut,
      });
    });
    if (source.blob || source.path) return;
    // Bytes and streams: the page hands each worker a copy of each piece, a few ahead at most.
    (async () => {
      for await (const piece of pieces) {
        for (let n = 0; n < workers.length; n++) {
          while (flow[n].sent - flow[n].taken >= IN_FLIGHT && !settled) {
            await new Promise((wake) => { flow[n].wake = wake; });
          }
          if (settled) return;
          const copy = piece.slice();
          workers[n].post({ type: 'data', bytes: copy }, [copy.buffer]);
          flow[n].sent++;
        }
      }
      if (!settled) for (const w of workers) w.post({ type: 'end' });
    })().catch(fail);
  });
}

// A worker's failure as the lane's was: a read's cause made an error again.
function failureOf(error) {
  const e = Object.assign(new Error(error.message), error);
  if (e.read && e.read.cause) {
    const { name, message } = e.read.cause;
    const cause = name === 'TypeError' ? new TypeError(message)
      : typeof DOMException === 'function' ? new DOMException(message, name) : Object.assign(new Error(message), { name });
    e.read = { ...e.read, cause };
  }
  return e;
}

// One lane with every plan's work, on this thread.
async function runHere(plans, job, source, module, merger, progress, cancel, pieces) {
  const plan = { whole: plans.flatMap((p) => p.whole), chunk: plans.flatMap((p) => p.chunk), samples: plans.some((p) => p.samples) };
  const engine = await Engine.load(module);
  const lane = new Lane(engine, plan, job);
  try {
    lane.open();
    let turns = 0;
    for await (const piece of pieces || piecesOf(source, job.start, cancel)) {
      if (cancel.aborted) throw abortError();
      lane.feed(piece);
      merger.add(0, lane.take());
      progress(lane.pos);
      // Bytes in memory come without a wait: a turn now and then, so that a cancel is heard.
      if (++turns % 4 === 0) await turn();
    }
    if (cancel.aborted) throw abortError();
    return [lane.finish()];
  } finally {
    lane.close();
  }
}

// The failure of a job as a TarnwickError (or the AbortError, or the TypeError or RangeError of a
// bad option, as it is). A source whose read failed is the source's failure whatever it threw
// (a network's TypeError too): 'read-failed' with that as its cause, or 'not-found'.
// Its text is one line: a system text inside it ("...\r\n (38)") has its line break as a blank
// (the control's methods keep the control's texts as they are).
function rendered(e, source, makeLineError) {
  if (e && e.name === 'AbortError') return e;
  const makeError = (message, code) => makeLineError(String(message).replace(/[ \t]*[\r\n]+[ \t]*/g, ' ').trim(), code);
  const name = source && (source.name || '');
  if (e instanceof Refused) return makeError(e.message, e.code);
  if (e && e.read) {
    if (e.read.gone) return makeError(format(text.fileNotFound, name), 'not-found');
    const err = makeError(format(text.readFailed, name, e.read.done, source.size === undefined ? e.read.done : source.size,
                                 systemMessage(ERROR_HANDLE_EOF, true)), 'read-failed');
    if (e.read.cause !== undefined) err.cause = e.read.cause;
    return err;
  }
  if (e instanceof TypeError || e instanceof RangeError) return e;
  if (e && e.state) return makeError(digestText.checkpointDamaged, 'checkpoint-damaged');
  if (e && e.engineStatus !== undefined) {
    const err = makeError(format(text.sm3Failed, engineStatusText[e.engineStatus] || engineUnknown, e.engineStatus), 'certificate-refused');
    err.engineStatus = e.engineStatus;
    return err;
  }
  return makeError(format(digestText.workerFailed, (e && e.message) || String(e)), 'failed');
}

// The job. env: { wasmUrl, useWorkers, localFile(path) (tarnwick.js's: { source, path },
// { openFailed, path }, or a refusal with the control's text as its message),
// makeError(text, code) -> a TarnwickError, md5(bytes) -> Promise<Uint8Array>, z (optional: the
// Z value, 32 bytes, that opens the SM3 digest: verifySm2's, from a key and an id) }.
//
// On every way out, nothing of the job stays behind: its interest in the signal goes, a stream it
// did not read to its end is cancelled and released, its workers go back or are ended, and
// nothing it still had under way reports anything (cancel.aborted is set for all of it).
export async function digestJob(value, options, env) {
  const opts = readOptions(options);
  const { signal } = opts;
  if (signal && signal.aborted) throw abortError();
  let source, failure = null;
  // stops: what gives up the page's stream, if it is being read.
  const cancel = { aborted: false, onAbort: null, stops: new Set(), reason: null };
  let abortJob;
  const aborted = new Promise((resolve, reject) => { abortJob = reject; });
  aborted.catch(() => {});
  const unwatch = signal ? watch(signal, () => {
    cancel.aborted = true;
    if (cancel.onAbort) cancel.onAbort();
    abortJob(abortError());
  }) : null;
  try {
    const work = (async () => {
      source = await sourceOf(value, env.localFile);
      const kind = kindOf(source);
      let start = 0, chunks = [], states = null, samples = [], prefix = null;
      if (opts.resume) ({ offset: start, chunks, states, samples, prefix } = decodeRecord(opts.resume, source, opts));
      // A file's bytes before the offset are not read again but for a few windows, now.
      if (start && kind === 'file') await checkWindows(source, samples);
      const module = await moduleAt(env.wasmUrl);
      if (cancel.aborted) throw abortError();
      // Bytes and streams are read again from their start: the bytes before the offset are checked
      // before any lane starts, and the CRC-64 of them is where the lanes' own goes on from.
      let pieces = null;
      if (kind === 'data') {
        const check = start ? new PrefixCheck(await Engine.load(module), prefix, prefix ? [] : samples) : null;
        pieces = piecesOf(source, start, cancel, check);
        if (check) {
          pieces = primed(pieces);
          await pieces.ready;
          if (cancel.aborted) throw abortError();
          states[PREFIX] = check.state;
        }
      }
      const job = {
        start, chunkSize: opts.chunkSize, chunkIndex: chunks.length, states, cert: opts.cert, z: env.z,
        saves: !!opts.checkpoint, nodeCrypto: isNode && !opts.checkpoint,
      };
      const useWorkers = isNode || (env.useWorkers && typeof Worker === 'function');
      const lanes = useWorkers ? Math.min(MAX_LANES, cores()) : 1;
      // What a checkpoint keeps of the bytes it passed: the CRC-64 of all of them (data), or
      // windows of them sampled by one lane (a file).
      const whole = kind === 'data' && opts.checkpoint ? [...opts.algorithms, PREFIX] : opts.algorithms;
      const planFor = (count, spanCount) => {
        const spans = spanCount ? spansFor(opts, source, spanCount) : null;
        const plans = spans ? spans.map((span) => ({ whole: opts.algorithms, chunk: [], span }))
          : planLanes(whole, opts.chunkAlgorithms, count, job.nodeCrypto);
        if (kind === 'file' && opts.checkpoint) plans[0].samples = true;
        return { spans, plans };
      };
      // A browser's streams of a File are fed by its own process: four at once keep it busier than
      // one per core (512 MiB of CRC-32C on two cores: 407 ms in four spans, 463 in two). In Node
      // this process reads as well as hashes: a span per core.
      let { spans, plans } = planFor(lanes, useWorkers ? (isNode ? lanes : MAX_LANES) : 0);
      // In Node a single lane stays on this thread: a worker would only add its start.
      let workers = null;
      if (useWorkers && !(isNode && plans.length === 1)) {
        workers = await takeWorkers(plans.length, cancel);
        cancel.onAbort = null;
        if (cancel.aborted) {
          workers.forEach(giveBack);
          throw abortError();
        }
        if (workers.length < plans.length) ({ spans, plans } = planFor(workers.length, workers.length));
        while (workers.length > plans.length) giveBack(workers.pop());
        if (isNode && plans.length === 1) {
          giveBack(workers.pop());
          workers = null;
        }
      }
      let next = 0, reported = -1;
      const progress = (done) => {
        if (!opts.onProgress || done === reported || cancel.aborted) return;
        if (done >= next || done === source.size) {
          next = done + PROGRESS_STEP;
          reported = done;
          opts.onProgress(done, source.size);
        }
      };
      const deliver = (chunk) => {
        const entry = { index: chunk.index, offset: chunk.offset, length: chunk.length, raw: chunk.digests };
        chunks.push(entry);
        if (opts.onChunk) opts.onChunk({ index: entry.index, offset: entry.offset, length: entry.length, digests: encoded(entry.raw, opts.encoding) });
      };
      const merger = new Merger(plans.length, (boundary) => {
        if (cancel.aborted) return;
        if (boundary.chunk) deliver(boundary.chunk);
        if (boundary.sample) samples.push(boundary.sample);
        if (boundary.states && opts.checkpoint) {
          opts.checkpoint(encodeRecord(source, opts, boundary.end, chunks, boundary.states, samples));
        }
      });
      const ends = workers ? await runInWorkers(plans, job, source, module, merger, progress, cancel, workers, pieces)
        : await runHere(plans, job, source, module, merger, progress, cancel, pieces);
      if (cancel.aborted) throw abortError();
      const size = ends[ends.length - 1].end;
      const digests = {};
      const last = { end: size, chunk: null };
      if (spans) Object.assign(digests, joinSpans(opts.algorithms, spans, ends));
      else ends.forEach((end) => {
        Object.assign(digests, end.digests);
        if (end.chunk) {
          if (!last.chunk) last.chunk = { ...end.chunk, digests: {} };
          Object.assign(last.chunk.digests, end.chunk.digests);
        }
      });
      if (last.chunk) deliver(last.chunk);
      if (opts.onProgress && reported !== size) opts.onProgress(size, source.size === undefined ? size : source.size);
      const result = { size, digests: encoded(digests, opts.encoding) };
      if (opts.chunkSize) {
        result.chunks = chunks.map((c) => ({ index: c.index, offset: c.offset, length: c.length, digests: encoded(c.raw, opts.encoding) }));
        if (opts.chunkAlgorithms.includes('md5')) {
          // S3's ETag of parts: the MD5 of their MD5s, then their count; an empty object is never
          // sent in parts, and its ETag is its plain MD5.
          const all = new Uint8Array(16 * chunks.length);
          chunks.forEach((c, i) => all.set(c.raw.md5, 16 * i));
          result.s3Etag = chunks.length ? hexOf(await env.md5(all, module)) + '-' + chunks.length
            : hexOf(await env.md5(all, module));
        }
      }
      return result;
    })();
    work.catch(() => {});
    return await (signal ? Promise.race([work, aborted]) : work);
  } catch (e) {
    failure = rendered(e, source, env.makeError);
    throw failure;
  } finally {
    if (unwatch) unwatch();
    if (failure) {
      cancel.aborted = true;
      cancel.reason = failure;
      for (const stop of [...cancel.stops]) stop(failure);
    }
  }
}

// MD5 of a few bytes through the module (the multipart ETag's).
export async function moduleMd5(bytes, module) {
  const engine = await Engine.load(module);
  const lane = new Lane(engine, { whole: ['md5'], chunk: [] }, { start: 0, chunkSize: 0 });
  try {
    lane.open();
    lane.feed(bytes);
    return lane.finish().digests.md5;
  } finally {
    lane.close();
  }
}
