// The SDK's worker: loads the WebAssembly module once and runs the engine's jobs off the page's
// main thread, one at a time in the order they came. Messages in: { type: 'init', wasmUrl } (or
// module: the page's compiled module; the answer to init gives back the one compiled here),
// { type: 'run', id, op, args }, { type: 'rule', id, rule, args } (one of the core's rules), { type: 'cancel', id }, { type: 'chunk', id, at, bytes } (an
// answer to a pull), { type: 'stream', id, op, args } and { type: 'more', id } (a job whose
// result comes in parts: an archive). Messages out: { id, progress: [done, total] }, { id, pull:
// [offset, length], spare } (bytes of a memory file the page holds, to be put in the spare buffer
// when there is one), { id, entry: [name, index] }, { id, part } (one part of a stream, each after
// the page asked for more), { id, result } (for a stream 'end') or { id, error }.
// A memory file arrives as { pull: size }: its bytes stay on the page and come a chunk at a time.
import { Engine } from '../engine/engine.js';
import { RULES } from '../engine/backends.js';
import { archiveJob } from '../zip/archive.js';

let engine = null;
const running = new Map();  // job id -> { aborted, pulls: Map offset -> resolve }

// A turn of the event loop without a timer's delay, so that a cancel message is seen mid-job.
// Each waiter gets its own turn: messages on the channel come back in the order they were sent.
const channel = new MessageChannel();
const waiters = [];
channel.port1.onmessage = () => { const wake = waiters.shift(); if (wake) wake(); };
function breathe() {
  return new Promise((resolve) => { waiters.push(resolve); channel.port2.postMessage(0); });
}

function readSync(blob, offset, length) {
  return new Uint8Array(new FileReaderSync().readAsArrayBuffer(blob.slice(offset, offset + length)));
}

// A memory file's bytes, asked of the page a chunk at a time.
function pulled(id, job, size) {
  return {
    size,
    pull: (offset, length, spare) => new Promise((resolve) => {
      job.pulls.set(offset, resolve);
      self.postMessage({ id, pull: [offset, length], spare }, spare ? [spare] : []);
    }),
  };
}

function failure(e) {
  return { name: e.name, message: String(e.message || e), read: e.read, code: e.code, entry: e.entry };
}

// An archive: its parts made one at a time, each when the page asks for more, beside any other
// job (it shares none of their buffers), until the end, a failure or a cancel.
function stream(message) {
  const { id, args } = message;
  const job = { aborted: false, breathe, pulls: new Map() };
  running.set(id, job);
  const hooks = {
    cancel: job,
    onProgress: args.progress ? (done, total) => self.postMessage({ id, progress: [done, total] }) : undefined,
    onEntry: args.entries ? (name, index) => self.postMessage({ id, entry: [name, index] }) : undefined,
    onRename: args.renames ? (from, to) => self.postMessage({ id, rename: [from, to] }) : undefined,
  };
  job.parts = archiveJob(engine, args, hooks);
  job.more = async () => {
    try {
      const { value, done } = await job.parts.next();
      if (done) {
        running.delete(id);
        self.postMessage({ id, result: 'end' });
      } else {
        // A stream's parts own their buffers (archive.js): they go to the page without a copy. A
        // held archive's may be the page's own bytes, which other entries may share.
        self.postMessage({ id, part: value }, !args.hold && value instanceof Uint8Array ? [value.buffer] : []);
      }
    } catch (e) {
      running.delete(id);
      self.postMessage({ id, error: failure(e) });
    }
  };
  job.more();
}

self.onmessage = async (event) => {
  const message = event.data;
  if (message.type === 'cancel' || message.type === 'chunk') {
    const job = running.get(message.id);
    if (!job) return;
    if (message.type === 'cancel') {
      job.aborted = true;
      for (const resolve of job.pulls.values()) resolve(null);
      job.pulls.clear();
      if (job.parts) {
        running.delete(message.id);
        job.parts.return().catch(() => {});
      }
    } else {
      const resolve = job.pulls.get(message.at);
      job.pulls.delete(message.at);
      if (resolve) resolve(message.bytes);
    }
    return;
  }
  if (message.type === 'init') {
    try {
      let module = message.module;
      if (!module) {
        const response = await fetch(message.wasmUrl);
        if (!response.ok) throw new Error(`${message.wasmUrl}: ${response.status}`);
        module = await WebAssembly.compile(await response.arrayBuffer());
      }
      engine = await Engine.load(module);
      self.postMessage({ id: 0, result: { module: message.module ? null : module } });
    } catch (e) {
      self.postMessage({ id: 0, error: failure(e) });
    }
    return;
  }
  if (message.type === 'stream' || message.type === 'more') {
    if (message.type === 'stream') stream(message);
    else if (running.has(message.id)) running.get(message.id).more();
    return;
  }
  if (message.type === 'rule') {
    // A rule answers at once, beside any job under way (it uses none of the jobs' buffers).
    try {
      if (!RULES.includes(message.rule)) throw new Error('unknown rule ' + message.rule);
      self.postMessage({ id: message.id, result: await engine[message.rule](...message.args, breathe) });
    } catch (e) {
      self.postMessage({ id: message.id, error: failure(e) });
    }
    return;
  }
  const job = { aborted: false, breathe, pulls: new Map() };
  running.set(message.id, job);
  try {
    const args = { ...message.args };
    if (args.source && args.source.pull !== undefined) args.source = pulled(message.id, job, args.source.pull);
    const hooks = {
      cancel: job,
      readSync,
      onProgress: args.progress
        ? (done, total) => self.postMessage({ id: message.id, progress: [done, total] })
        : undefined,
    };
    const result = await engine.run(message.op, args, hooks);
    self.postMessage({ id: message.id, result });
  } catch (e) {
    self.postMessage({ id: message.id, error: failure(e) });
  } finally {
    running.delete(message.id);
  }
};
