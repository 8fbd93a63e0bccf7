// A digest job's worker: one lane (digest-lane.js) over the source, which it reads itself when it
// is a Blob, or which the page hands over a piece at a time (bytes, streams).
// Messages in: { type: 'start', module (a compiled WebAssembly.Module), plan, job, blob? },
// { type: 'data', bytes }, { type: 'end' }, { type: 'cancel' }.
// Messages out: { type: 'ready' } or { type: 'failed', error }, then { type: 'reports', list, done,
// taken } (taken: pieces of handed-over data consumed), and { type: 'end', end } or
// { type: 'failed', error }.
import { Engine } from './engine.js';
import { Lane, blobPieces } from './digest-lane.js';

let lane = null;
const cancel = { aborted: false };
const queue = [];
let wake = null;

function failure(e) {
  return { message: String((e && e.message) || e), read: e && e.read, state: e && e.state, engineStatus: e && e.engineStatus };
}

function post(message, transfer) {
  self.postMessage(message, transfer || []);
}

async function nextPiece() {
  while (!queue.length) await new Promise((resolve) => { wake = resolve; });
  return queue.shift();
}

async function run(message) {
  const engine = await Engine.load(message.module);
  lane = new Lane(engine, message.plan, message.job);
  lane.open();
  post({ type: 'ready' });
  let taken = 0;
  const flush = () => {
    post({ type: 'reports', list: lane.take(), done: lane.pos, taken });
    taken = 0;
  };
  if (message.blob) {
    for await (const piece of blobPieces(message.blob, message.job.start, cancel)) {
      lane.feed(piece);
      flush();
    }
  } else {
    for (;;) {
      const piece = await nextPiece();
      if (cancel.aborted || piece === null) break;
      lane.feed(piece);
      taken++;
      flush();
    }
  }
  if (cancel.aborted) return;
  const end = lane.finish();
  post({ type: 'end', end });
}

self.onmessage = ({ data: message }) => {
  switch (message.type) {
    case 'start':
      run(message).catch((e) => post({ type: 'failed', error: failure(e) })).finally(() => {
        if (lane) lane.close();
      });
      break;
    case 'data':
    case 'end':
      queue.push(message.type === 'data' ? message.bytes : null);
      if (wake) { const w = wake; wake = null; w(); }
      break;
    case 'cancel':
      cancel.aborted = true;
      queue.push(null);
      if (wake) { const w = wake; wake = null; w(); }
      break;
    default:
      break;
  }
};
