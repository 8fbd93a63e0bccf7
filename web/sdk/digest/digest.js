// digest(source, options): every digest an upload asks for, from one read of the source: whole
// and per chunk, with chunk results handed over in order as they are done, checkpoints a page may
// keep and resume from (after a reload too), progress and cancel. tarnwick.js hangs it on the SDK
// object; the lanes that do the hashing are in digest/lane.js.
//
// Where the work runs: in a browser, the algorithms are spread by cost over up to MAX_LANES
// workers (tarnwick-digest-worker.js), each reading a File itself (no copy of the file is made),
// or handed bytes and streams a piece at a time by the page; in Node, and on a page that opened
// the SDK without workers, one lane in-process does them all. A job of CRCs alone over a file
// reads it in spans at once instead.
//
// The options and the results' encodings are in digest/options.js, the checkpoint record in
// digest/checkpoint.js, how the work is spread over lanes (and spans joined) in digest/plan.js,
// the sources read in digest/source.js, the workers shared by the jobs in digest/pool.js.
import { format, messagesFor, startFailureText } from '../control/messages.js';
import { Engine } from '../engine/engine.js';
import { moduleAt } from '../engine/module.js';
import { Lane, PREFIX } from './lane.js';
import { planLanes, spansFor, joinSpans } from './plan.js';
import { digestTexts, Refused, readOptions, hexOf, encoded } from './options.js';
import { encodeRecord, decodeRecord, kindOf } from './checkpoint.js';
import { abortError, readsBySlices } from '../engine/reading.js';
import { sourceOf, piecesOf, primed, PrefixCheck, checkWindows, turn } from './source.js';
import { MAX_LANES, cores, takeWorkers, giveBack, endWorker } from './pool.js';

export { digestWorkers } from './pool.js';

const IN_FLIGHT = 3;                  // pieces handed to a worker and not yet hashed, at most
const PROGRESS_STEP = 8 * 1024 * 1024;
const ERROR_HANDLE_EOF = 38;

const isNode = typeof process === 'object' && !!(process.versions && process.versions.node);
const nodeModule = (name) => process.getBuiltinModule(name);


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

// ---- the module ---------------------------------------------------------------------------------------

// The module is fetched and compiled once for the page: engine/module.js.
export { moduleAt };

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
// The texts are those of `m` (messagesFor: the object's language).
function rendered(e, source, makeLineError, m) {
  const { text, engineStatusText, engineUnknown } = m;
  const digestText = digestTexts[m.language];
  if (e && e.name === 'AbortError') return e;
  const makeError = (message, code) => makeLineError(String(message).replace(/[ \t]*[\r\n]+[ \t]*/g, ' ').trim(), code);
  const name = source && (source.name || '');
  if (e instanceof Refused) return makeError(e.render(m, digestText), e.code);
  if (e && e.read) {
    if (e.read.gone) return makeError(format(text.fileNotFound, name), 'not-found');
    const err = makeError(format(text.readFailed, name, e.read.done, source.size === undefined ? e.read.done : source.size,
                                 m.systemMessage(ERROR_HANDLE_EOF, true)), 'read-failed');
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
  return makeError(format(digestText.workerFailed, startFailureText(m.language, e)), 'failed');
}

// The job. env: { wasmUrl, useWorkers, localFile(path) (tarnwick.js's: { source, path },
// { openFailed, path }, or a refusal with the control's text as its message),
// makeError(text, code) -> a TarnwickError, messages: the object's texts (messagesFor), md5(bytes) -> Promise<Uint8Array>, z (optional: the
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
      source = await sourceOf(value, env.localFile, env.messages);
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
      // WebKit: a File is read once, by one worker (every lane reading it costs WebKit 40-50 MiB
      // of spent slices until they are collected: reading.js's readsBySlices).
      const once = useWorkers && !!source.blob && readsBySlices;
      const lanes = useWorkers && !once ? Math.min(MAX_LANES, cores()) : 1;
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
      let { spans, plans } = planFor(lanes, useWorkers && !once ? (isNode ? lanes : MAX_LANES) : 0);
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
    failure = rendered(e, source, env.makeError, env.messages || messagesFor('zh'));
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
