// A digest job's worker: one lane (digest/lane.js) over the source, which it reads itself when it
// is a Blob or (in Node) a path, or which the page hands over a piece at a time (bytes, streams).
// A worker serves one job at a time and may serve several in turn.
// Messages in: { type: 'start', module (a compiled WebAssembly.Module), plan, job, blob?, path?, size?,
// until? (a path's span ends there) },
// { type: 'data', bytes }, { type: 'end' }, { type: 'cancel' }.
// Messages out: { type: 'ready' }, { type: 'reports', list, done, taken } (taken: pieces of
// handed-over data consumed), then { type: 'end', end } or { type: 'failed', error }.
import { Engine } from '../engine/engine.js';
import { Lane, blobPieces, filePieces } from '../digest/lane.js';

// A browser's worker, or a Node worker thread (its parent port stands for the worker's scope).
const inBrowser = typeof self === 'object' && !!self && typeof self.postMessage === 'function';
const port = inBrowser ? self : process.getBuiltinModule('node:worker_threads').parentPort;

let run = null;  // { cancel, queue, wake }

// A failure as a message: a read's cause goes as its name and text (what a page rebuilds), since
// not every platform copies every kind of error between threads.
function failure(e) {
  const read = e && e.read && { ...e.read, cause: e.read.cause && { name: String(e.read.cause.name), message: String(e.read.cause.message) } };
  return { message: String((e && e.message) || e), read, state: e && e.state, engineStatus: e && e.engineStatus };
}

const post = (message) => port.postMessage(message);

async function nextPiece(current) {
  while (!current.queue.length) await new Promise((resolve) => { current.wake = resolve; });
  return current.queue.shift();
}

async function execute(message, current) {
  const engine = await Engine.load(message.module);
  const lane = new Lane(engine, message.plan, message.job);
  try {
    lane.open();
    post({ type: 'ready' });
    let taken = 0;
    const flush = () => {
      post({ type: 'reports', list: lane.take(), done: lane.pos, taken });
      taken = 0;
    };
    if (message.blob || message.path) {
      const pieces = message.blob
        ? blobPieces(message.blob, message.job.start, current.cancel)
        : filePieces(message.path, message.size, message.job.start, current.cancel, message.until);
      for await (const piece of pieces) {
        lane.feed(piece);
        flush();
      }
    } else {
      for (;;) {
        const piece = await nextPiece(current);
        if (current.cancel.aborted || piece === null) break;
        lane.feed(piece);
        taken++;
        flush();
      }
    }
    if (current.cancel.aborted) return;
    post({ type: 'end', end: lane.finish() });
  } finally {
    lane.close();
  }
}

function onMessage(message) {
  switch (message.type) {
    case 'start': {
      const current = { cancel: { aborted: false }, queue: [], wake: null };
      run = current;
      execute(message, current).catch((e) => { if (!current.cancel.aborted) post({ type: 'failed', error: failure(e) }); });
      break;
    }
    case 'data':
    case 'end':
    case 'cancel':
      if (!run) break;
      if (message.type === 'cancel') run.cancel.aborted = true;
      run.queue.push(message.type === 'data' ? message.bytes : null);
      if (run.wake) { const w = run.wake; run.wake = null; w(); }
      break;
    default:
      break;
  }
}

if (inBrowser) self.onmessage = (event) => onMessage(event.data);
else port.on('message', onMessage);
