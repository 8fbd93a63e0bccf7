// The SDK's worker: loads the WebAssembly module once and runs the engine's jobs off the page's
// main thread. Messages: { type: 'init', wasmUrl }, { type: 'run', id, op, args },
// { type: 'cancel', id }; answers { id, progress: [done, total] }, { id, result } or { id, error }.
import { Engine } from './engine.js';

let engine = null;
const running = new Map();  // job id -> { aborted }

// A turn of the event loop without a timer's delay, so that a cancel message is seen mid-job.
const channel = new MessageChannel();
let wake = null;
channel.port1.onmessage = () => wake();
function breathe() {
  return new Promise((resolve) => { wake = resolve; channel.port2.postMessage(0); });
}

function readSync(blob, offset, length) {
  return new Uint8Array(new FileReaderSync().readAsArrayBuffer(blob.slice(offset, offset + length)));
}

self.onmessage = async (event) => {
  const message = event.data;
  if (message.type === 'cancel') {
    const job = running.get(message.id);
    if (job) job.aborted = true;
    return;
  }
  if (message.type === 'init') {
    try {
      engine = await Engine.load(await fetch(message.wasmUrl));
      self.postMessage({ id: 0, result: 'ready' });
    } catch (e) {
      self.postMessage({ id: 0, error: { name: e.name, message: String(e.message || e) } });
    }
    return;
  }
  const cancel = { aborted: false, breathe };
  running.set(message.id, cancel);
  try {
    const hooks = {
      cancel,
      readSync,
      onProgress: message.args.progress
        ? (done, total) => self.postMessage({ id: message.id, progress: [done, total] })
        : undefined,
    };
    const result = await engine.run(message.op, message.args, hooks);
    self.postMessage({ id: message.id, result });
  } catch (e) {
    self.postMessage({ id: message.id, error: { name: e.name, message: String(e.message || e), zipStatus: e.zipStatus } });
  } finally {
    running.delete(message.id);
  }
};
