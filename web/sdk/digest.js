// digest(source, options): every digest an upload asks for, from one read of the source: whole
// and per chunk, with chunk results handed over in order as they are done, checkpoints a page may
// keep and resume from (after a reload too), progress and cancel. tarnwick.js hangs it on the SDK
// object; the lanes that do the hashing are in digest-lane.js.
//
// Where the work runs: in a browser, the algorithms are spread by cost over up to MAX_LANES
// workers (tarnwick-digest-worker.js), each reading a File itself (no copy of the file is made),
// or handed bytes and streams a piece at a time by the page; in Node, and on a page that opened
// the SDK without workers, one lane in-process does them all.
//
// A checkpoint is a record of its own format: a tag, the format's version, a JSON body (the
// source's identity, the options that shape the results, the offset reached, the chunk results so
// far, each algorithm's saved state) and a CRC-32 of all that. A record that is damaged, of
// another version, or of another source or other options is refused: a job never resumes into a
// wrong digest.
import { text, format, systemMessage, engineStatusText, engineUnknown } from './messages.js';
import { Engine } from './engine.js';
import { ALGORITHMS, COST, READ_COST, Lane, blobPieces, filePieces } from './digest-lane.js';

 // node:crypto's costs where it stands in (chunk digests always; whole ones without checkpoints).
const NODE_COST = { md5: 2, sha1: 0.6, sha256: 0.8 };
const MAX_LANES = 4;                  // workers per job at most: each holds a module and two buffers
const MIN_CHUNK = 1024;
const PIECE = 2 * 1024 * 1024;        // what the page hands a worker at a time
const IN_FLIGHT = 3;                  // pieces handed to a worker and not yet hashed, at most
const PROGRESS_STEP = 8 * 1024 * 1024;
const RECORD_TAG = [0x54, 0x57, 0x44, 0x47];  // "TWDG"
// Bump when the record's body or any algorithm's saved state changes its meaning.
const RECORD_VERSION = 1;
const ERROR_HANDLE_EOF = 38;

const isNode = typeof process === 'object' && !!(process.versions && process.versions.node);
const nodeModule = (name) => process.getBuiltinModule(name);

// The texts of failures only this job has (the control's own texts serve the rest).
export const digestText = {
  checkpointDamaged: '\u65ad\u70b9\u8bb0\u5f55\u5df2\u635f\u574f,\u62d2\u7edd\u7eed\u7b97!',
  checkpointVersion: '\u65ad\u70b9\u8bb0\u5f55\u6765\u81ea\u5176\u4ed6\u7248\u672c,\u62d2\u7edd\u7eed\u7b97!',
  checkpointMismatch: '\u65ad\u70b9\u8bb0\u5f55\u4e0d\u5c5e\u4e8e\u6b64\u6587\u4ef6\u6216\u8fd9\u4e9b\u9009\u9879(%s),\u62d2\u7edd\u7eed\u7b97!',
  workerFailed: '\u6458\u8981\u8ba1\u7b97\u5931\u8d25,%s',
};

function abortError() {
  return typeof DOMException === 'function'
    ? new DOMException('The operation was aborted.', 'AbortError')
    : Object.assign(new Error('The operation was aborted.'), { name: 'AbortError' });
}

// What a callback of the page's throws is the page's own error: reported, and the job goes on.
function guarded(f) {
  if (f === undefined) return undefined;
  return (...args) => {
    try {
      f(...args);
    } catch (e) {
      if (typeof reportError === 'function') reportError(e);
    }
  };
}

// ---- the options ------------------------------------------------------------------------------------

function names(value, what, allowEmpty) {
  if (!Array.isArray(value)) throw new TypeError(`digest: ${what} must be an array of algorithm names`);
  const seen = new Set();
  for (const name of value) {
    if (typeof name !== 'string') throw new TypeError(`digest: ${what} must be an array of algorithm names`);
    if (!ALGORITHMS.includes(name)) throw new RangeError(`digest: unknown algorithm '${name}' (one of ${ALGORITHMS.join(', ')})`);
    seen.add(name);
  }
  if (!allowEmpty && seen.size === 0) throw new RangeError(`digest: ${what} names no algorithm`);
  return ALGORITHMS.filter((n) => seen.has(n));
}

function callback(options, name) {
  const f = options[name];
  if (f !== undefined && typeof f !== 'function') throw new TypeError(`digest: ${name} must be a function`);
  return f;
}

export function readOptions(options) {
  if (options === undefined) throw new TypeError('digest: options with algorithms are needed');
  if (options === null || typeof options !== 'object') throw new TypeError('digest: options must be an object');
  const algorithms = names(options.algorithms, 'algorithms', false);
  let chunkSize = 0;
  if (options.chunkSize !== undefined) {
    if (typeof options.chunkSize !== 'number') throw new TypeError('digest: chunkSize must be a number');
    if (!Number.isSafeInteger(options.chunkSize) || options.chunkSize < MIN_CHUNK) {
      throw new RangeError(`digest: chunkSize must be a whole number of bytes, at least ${MIN_CHUNK}`);
    }
    chunkSize = options.chunkSize;
  }
  let chunkAlgorithms = [];
  if (options.chunkAlgorithms !== undefined) {
    if (!chunkSize) throw new TypeError('digest: chunkAlgorithms needs chunkSize');
    chunkAlgorithms = names(options.chunkAlgorithms, 'chunkAlgorithms', true);
  } else if (chunkSize) {
    chunkAlgorithms = algorithms;
  }
  const encoding = options.encoding === undefined ? 'hex' : options.encoding;
  if (typeof encoding !== 'string') throw new TypeError('digest: encoding must be a string');
  if (encoding !== 'hex' && encoding !== 'base64') throw new RangeError("digest: encoding must be 'hex' or 'base64'");
  let cert;
  if (options.sm3Cert !== undefined) {
    if (typeof options.sm3Cert !== 'string') throw new TypeError('digest: sm3Cert must be base64 text');
    if (!algorithms.includes('sm3')) throw new TypeError("digest: sm3Cert needs 'sm3' among the algorithms");
    cert = options.sm3Cert;
  }
  let resume;
  if (options.resume !== undefined && options.resume !== null) {
    const r = options.resume;
    if (r instanceof ArrayBuffer) resume = new Uint8Array(r);
    else if (ArrayBuffer.isView(r)) resume = new Uint8Array(r.buffer, r.byteOffset, r.byteLength);
    else throw new TypeError('digest: resume must be the bytes a checkpoint gave');
  }
  const signal = options.signal;
  if (signal !== undefined && !(signal && typeof signal === 'object' && 'aborted' in signal && typeof signal.addEventListener === 'function')) {
    throw new TypeError('digest: signal must be an AbortSignal');
  }
  return {
    algorithms, chunkSize, chunkAlgorithms, encoding, cert, resume, signal,
    onChunk: guarded(callback(options, 'onChunk')),
    checkpoint: guarded(callback(options, 'checkpoint')),
    onProgress: guarded(callback(options, 'onProgress')),
  };
}

// ---- encodings --------------------------------------------------------------------------------------

function hexOf(bytes) {
  let s = '';
  for (const b of bytes) s += (b < 16 ? '0' : '') + b.toString(16);
  return s;
}

function bytesOfHex(hex) {
  if (typeof hex !== 'string' || hex.length % 2 || /[^0-9a-f]/.test(hex)) return null;
  const out = new Uint8Array(hex.length / 2);
  for (let i = 0; i < out.length; i++) out[i] = parseInt(hex.substr(2 * i, 2), 16);
  return out;
}

function base64Of(bytes) {
  let s = '';
  for (const b of bytes) s += String.fromCharCode(b);
  return btoa(s);
}

function encoded(digests, encoding) {
  const out = {};
  for (const name of ALGORITHMS) {
    if (digests[name]) out[name] = encoding === 'hex' ? hexOf(digests[name]) : base64Of(digests[name]);
  }
  return out;
}

let crcTable = null;
function crc32(bytes) {
  if (!crcTable) {
    crcTable = new Int32Array(256);
    for (let n = 0; n < 256; n++) {
      let c = n;
      for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
      crcTable[n] = c;
    }
  }
  let c = -1;
  for (const b of bytes) c = crcTable[(c ^ b) & 255] ^ (c >>> 8);
  return (c ^ -1) >>> 0;
}

// ---- the checkpoint record ------------------------------------------------------------------------

class Refused extends Error {
  constructor(message, code) {
    super(message);
    this.code = code;
  }
}

function identityOf(source) {
  return { size: source.size === undefined ? null : source.size, name: source.name || null, modified: source.modified || null };
}

// What of the options shapes the results and the states.
function shapeOf(opts) {
  return {
    algorithms: opts.algorithms,
    chunkSize: opts.chunkSize,
    chunkAlgorithms: opts.chunkAlgorithms,
    cert: opts.cert === undefined ? null : `${opts.cert.length}:${crc32(new TextEncoder().encode(opts.cert)).toString(16)}`,
  };
}

function encodeRecord(source, opts, offset, chunks, states) {
  const statesHex = {};
  for (const [name, bytes] of Object.entries(states)) statesHex[name] = hexOf(bytes);
  const body = new TextEncoder().encode(JSON.stringify({
    source: identityOf(source), shape: shapeOf(opts), offset,
    chunks: chunks.map((c) => [c.offset, c.length, encoded(c.raw, 'hex')]),
    states: statesHex,
  }));
  const record = new Uint8Array(4 + 1 + 4 + body.length + 4);
  const view = new DataView(record.buffer);
  record.set(RECORD_TAG, 0);
  record[4] = RECORD_VERSION;
  view.setUint32(5, body.length, true);
  record.set(body, 9);
  view.setUint32(9 + body.length, crc32(record.subarray(0, 9 + body.length)), true);
  return record;
}

const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);

// { offset, chunks, states } of a record that belongs to this source and these options; else a
// Refused naming why.
function decodeRecord(record, source, opts) {
  const damaged = () => new Refused(digestText.checkpointDamaged, 'checkpoint-damaged');
  if (record.length < 13 || RECORD_TAG.some((b, i) => record[i] !== b)) throw damaged();
  const view = new DataView(record.buffer, record.byteOffset, record.byteLength);
  const length = view.getUint32(5, true);
  if (9 + length + 4 !== record.length) throw damaged();
  if (view.getUint32(9 + length, true) !== crc32(record.subarray(0, 9 + length))) throw damaged();
  if (record[4] !== RECORD_VERSION) throw new Refused(digestText.checkpointVersion, 'checkpoint-version');
  let body;
  try {
    body = JSON.parse(new TextDecoder('utf-8', { fatal: true }).decode(record.subarray(9, 9 + length)));
  } catch (e) {
    throw damaged();
  }
  const mismatch = (what) => new Refused(format(digestText.checkpointMismatch, what), 'checkpoint-mismatch');
  const mine = identityOf(source), theirs = body.source || {};
  for (const key of ['size', 'name', 'modified']) {
    if (mine[key] !== null && theirs[key] !== mine[key]) throw mismatch(key);
  }
  const shape = shapeOf(opts);
  for (const key of Object.keys(shape)) if (!same(shape[key], body.shape && body.shape[key])) throw mismatch(key);
  const offset = body.offset;
  if (!Number.isSafeInteger(offset) || offset < 0 || (mine.size !== null && offset > mine.size)) throw damaged();
  if (!Array.isArray(body.chunks) || !body.states || typeof body.states !== 'object') throw damaged();
  const chunks = body.chunks.map(([at, len, digests], index) => {
    const raw = {};
    for (const name of opts.chunkAlgorithms) {
      raw[name] = bytesOfHex(digests && digests[name]);
      if (!raw[name]) throw damaged();
    }
    return { index, offset: at, length: len, raw };
  });
  const expected = opts.chunkSize ? Math.floor(offset / opts.chunkSize) : 0;
  if (chunks.length !== expected || (opts.chunkSize && offset % opts.chunkSize !== 0)) throw damaged();
  const states = {};
  for (const name of opts.algorithms) {
    states[name] = bytesOfHex(body.states[name]);
    if (!states[name]) throw damaged();
  }
  return { offset, chunks, states };
}

// ---- the source -------------------------------------------------------------------------------------

// { blob } | { bytes } | { stream } | { path } with size, name and modified where known, or a
// Refused with the control's text for a path.
async function sourceOf(value, localFile) {
  if (typeof Blob === 'function' && value instanceof Blob) {
    return { blob: value, size: value.size, name: typeof value.name === 'string' ? value.name : undefined,
             modified: typeof value.lastModified === 'number' ? value.lastModified : undefined };
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
    const fs = nodeModule('node:fs');
    const stat = await fs.promises.stat(local.path);
    return { path: local.path, size: stat.size, name: local.path, modified: stat.mtimeMs };
  }
  throw new TypeError('digest: the source must be a File, Blob, bytes, a ReadableStream' + (isNode ? ' or a path' : ''));
}

// The pieces of a source from `start`, each valid until the next is asked for.
async function* piecesOf(source, start, cancel) {
  if (source.blob) {
    yield* blobPieces(source.blob, start, cancel);
    return;
  }
  if (source.bytes) {
    for (let at = start; at < source.bytes.length; at += PIECE) {
      yield source.bytes.subarray(at, Math.min(at + PIECE, source.bytes.length));
    }
    return;
  }
  if (source.path) {
    yield* filePieces(source.path, source.size, start, cancel);
    return;
  }
  // A stream: read from its start, the bytes before `start` passed over (a stream resumed is read
  // again from the beginning).
  let skip = start;
  const reader = typeof source.stream.getReader === 'function' ? source.stream.getReader() : null;
  const iterator = reader ? null : source.stream[Symbol.asyncIterator]();
  try {
    for (;;) {
      const { value, done } = reader ? await reader.read() : await iterator.next();
      if (done) break;
      if (cancel.aborted) return;
      let bytes = value instanceof Uint8Array ? value : ArrayBuffer.isView(value)
        ? new Uint8Array(value.buffer, value.byteOffset, value.byteLength) : null;
      if (!bytes) throw new TypeError('digest: a stream must give Uint8Array chunks');
      if (skip >= bytes.length) { skip -= bytes.length; continue; }
      if (skip) { bytes = bytes.subarray(skip); skip = 0; }
      for (let at = 0; at < bytes.length; at += PIECE) yield bytes.subarray(at, Math.min(at + PIECE, bytes.length));
    }
  } finally {
    if (reader) reader.releaseLock();
    else if (iterator && typeof iterator.return === 'function') await iterator.return();
  }
  if (skip) throw new Refused(format(digestText.checkpointMismatch, 'size'), 'checkpoint-mismatch');
}

// ---- the plan -----------------------------------------------------------------------------------------

// The lanes: every (algorithm, whole or chunk) item given to the lane that finishes first (longest
// first), for the number of lanes that ends soonest, each lane paying for its own read.
export function planLanes(whole, chunk, maxLanes, nodeCrypto) {
  const cost = (name) => (nodeCrypto && NODE_COST[name]) || COST[name];
  const items = [...whole.map((name) => ({ name, role: 'whole' })), ...chunk.map((name) => ({ name, role: 'chunk' }))];
  items.sort((a, b) => cost(b.name) - cost(a.name));
  let best = null;
  for (let count = 1; count <= Math.max(1, Math.min(maxLanes, items.length)); count++) {
    const lanes = Array.from({ length: count }, () => ({ whole: [], chunk: [], cost: READ_COST }));
    for (const item of items) {
      const lane = lanes.reduce((a, b) => (b.cost < a.cost ? b : a));
      lane[item.role].push(item.name);
      lane.cost += cost(item.name);
    }
    const span = Math.max(...lanes.map((l) => l.cost));
    if (!best || span < best.span * 0.95) best = { span, lanes };
  }
  return best.lanes.map(({ whole: w, chunk: c }) => ({ whole: w, chunk: c }));
}

// ---- the module ---------------------------------------------------------------------------------------

const compiled = new Map();
function moduleAt(wasmUrl) {
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
      this.counts[k] = (this.counts[k] || 0) + 1;
    }
    while (this.entries.length && this.counts[0] === this.laneCount) {
      this.onBoundary(this.entries.shift());
      this.counts.shift();
      this.base++;
    }
  }
}

// Workers kept between jobs for a while: starting one costs about as much as hashing a few MiB.
// A browser's Worker or a Node worker thread, behind one face.
const idle = [];
const IDLE_FOR = 10000;

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

function takeWorker() {
  const w = idle.pop() || makeWorker();
  clearTimeout(w.timer);
  w.hold(true);
  return w;
}

function giveBack(w) {
  w.listen(() => {}, () => {});
  w.hold(false);
  w.timer = setTimeout(() => {
    const at = idle.indexOf(w);
    if (at >= 0) idle.splice(at, 1);
    w.terminate();
  }, IDLE_FOR);
  if (w.timer && w.timer.unref) w.timer.unref();
  idle.push(w);
}

// Runs one lane per plan, in workers: each gets the module and reads a Blob or a path itself or
// is handed the pieces. Resolves with each lane's end; reports go to merger as they come. Workers
// that ended their lane go back to the idle ones; after a failure or a cancel they are ended.
function runInWorkers(plans, job, source, module, merger, progress, cancel) {
  const workers = [];
  let settled = false;
  const ends = new Array(plans.length);
  let left = plans.length;
  return new Promise((resolve, reject) => {
    const fail = (e) => {
      if (settled) return;
      settled = true;
      for (const w of workers) w.terminate();
      reject(e);
    };
    cancel.onAbort = () => fail(abortError());
    const flow = plans.map(() => ({ sent: 0, taken: 0, wake: null }));
    const done = new Array(plans.length).fill(job.start);
    plans.forEach((plan, n) => {
      const worker = takeWorker();
      workers.push(worker);
      worker.listen((m) => {
        if (settled) return;
        if (m.type === 'reports') {
          merger.add(n, m.list);
          done[n] = m.done;
          progress(Math.min(...done));
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
          fail(Object.assign(new Error(m.error.message), m.error));
        }
      }, fail);
      worker.post({ type: 'start', module, plan, job, blob: source.blob, path: source.path, size: source.size });
    });
    if (source.blob || source.path) return;
    // Bytes and streams: the page hands each worker a copy of each piece, a few ahead at most.
    (async () => {
      for await (const piece of piecesOf(source, job.start, cancel)) {
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

// One lane with every plan's work, on this thread.
async function runHere(plans, job, source, module, merger, progress, cancel) {
  const plan = { whole: plans.flatMap((p) => p.whole), chunk: plans.flatMap((p) => p.chunk) };
  const engine = await Engine.load(module);
  const lane = new Lane(engine, plan, job);
  try {
    lane.open();
    let turns = 0;
    for await (const piece of piecesOf(source, job.start, cancel)) {
      if (cancel.aborted) throw abortError();
      lane.feed(piece);
      merger.add(0, lane.take());
      progress(lane.pos);
      // Bytes in memory come without a wait: a turn now and then, so that a cancel is heard.
      if (++turns % 4 === 0) await new Promise((resolve) => setTimeout(resolve, 0));
    }
    if (cancel.aborted) throw abortError();
    return [lane.finish()];
  } finally {
    lane.close();
  }
}

// The failure of a job as a TarnwickError (or the AbortError / TypeError as it is).
function rendered(e, source, makeError) {
  if (e && (e.name === 'AbortError' || e instanceof TypeError || e instanceof RangeError)) return e;
  const name = source && (source.name || '');
  if (e instanceof Refused) return makeError(e.message, e.code);
  if (e && e.read) {
    if (e.read.gone) return makeError(format(text.fileNotFound, name), 'not-found');
    return makeError(format(text.readFailed, name, e.read.done, source.size === undefined ? e.read.done : source.size,
                            systemMessage(ERROR_HANDLE_EOF, true)), 'read-failed');
  }
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
// makeError(text, code) -> a TarnwickError, md5(bytes) -> Promise<Uint8Array> }.
export async function digestJob(value, options, env) {
  const opts = readOptions(options);
  const { signal } = opts;
  if (signal && signal.aborted) throw abortError();
  let source;
  const cancel = { aborted: false, onAbort: null };
  const onAbort = () => {
    cancel.aborted = true;
    if (cancel.onAbort) cancel.onAbort();
  };
  if (signal) signal.addEventListener('abort', onAbort, { once: true });
  try {
    const work = (async () => {
      source = await sourceOf(value, env.localFile);
      let start = 0, chunks = [], states = null;
      if (opts.resume) ({ offset: start, chunks, states } = decodeRecord(opts.resume, source, opts));
      const job = {
        start, chunkSize: opts.chunkSize, chunkIndex: chunks.length, states, cert: opts.cert,
        saves: !!opts.checkpoint, nodeCrypto: isNode && !opts.checkpoint,
      };
      const useWorkers = isNode || (env.useWorkers && typeof Worker === 'function');
      const cores = isNode ? nodeModule('node:os').availableParallelism()
        : typeof navigator === 'object' && navigator && navigator.hardwareConcurrency || 1;
      const plans = planLanes(opts.algorithms, opts.chunkAlgorithms, useWorkers ? Math.min(MAX_LANES, cores) : 1, job.nodeCrypto);
      const module = await moduleAt(env.wasmUrl);
      let next = 0, reported = -1;
      const progress = (done) => {
        if (!opts.onProgress || done === reported) return;
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
        if (boundary.chunk) deliver(boundary.chunk);
        if (boundary.states && opts.checkpoint && !cancel.aborted) {
          opts.checkpoint(encodeRecord(source, opts, boundary.end, chunks, boundary.states));
        }
      });
      // In Node a single lane stays on this thread: a worker would only add its start.
      const run = useWorkers && !(isNode && plans.length === 1) ? runInWorkers : runHere;
      const ends = await run(plans, job, source, module, merger, progress, cancel);
      if (cancel.aborted) throw abortError();
      const size = ends[0].end;
      const digests = {};
      const last = { end: size, chunk: null };
      ends.forEach((end) => {
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
          const all = new Uint8Array(16 * chunks.length);
          chunks.forEach((c, i) => all.set(c.raw.md5, 16 * i));
          result.s3Etag = hexOf(await env.md5(all, module)) + '-' + chunks.length;
        }
      }
      return result;
    })();
    work.catch(() => {});
    if (!signal) return await work;
    return await new Promise((resolve, reject) => {
      if (signal.aborted) reject(abortError());
      signal.addEventListener('abort', () => reject(abortError()), { once: true });
      work.then(resolve, reject);
    });
  } catch (e) {
    throw rendered(e, source, env.makeError);
  } finally {
    if (signal) signal.removeEventListener('abort', onAbort);
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
