// digest()'s workers, shared by every job of the page (or process), a browser's Worker or a Node
// worker thread behind one face.
import { abortError } from '../engine/reading.js';

export const MAX_LANES = 4;  // workers per job at most: each holds a module and two buffers

const isNode = typeof process === 'object' && !!(process.versions && process.versions.node);
const nodeModule = (name) => process.getBuiltinModule(name);
export const cores = () => (isNode ? nodeModule('node:os').availableParallelism()
  : typeof navigator === 'object' && navigator && navigator.hardwareConcurrency || 1);

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
  const url = new URL('../workers/tarnwick-digest-worker.js', import.meta.url);
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
  const w = new Worker(new URL('../workers/tarnwick-digest-worker.js', import.meta.url), { type: 'module' });
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
export function takeWorkers(want, cancel) {
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

export function giveBack(w) {
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
export function endWorker(w) {
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
