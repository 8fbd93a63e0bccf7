// A deflate worker of the SDK's zip for large files: deflates the blocks the engine hands it, each
// primed with the 32 KiB before it, and ends each block but the file's last at a byte boundary
// with an empty stored block, so that the blocks joined in order are one raw deflate stream.
// Messages in: { index, data, dictionary, last, level (6 when absent) }; out: { ready } once,
// then for each block { index, deflated, data } (the block's buffer going back for reuse) or
// { index, error }.
//
// The blocks go through zlib in tarnwick-deflate.wasm (deflate-module.js); where the module cannot
// be loaded, fflate does the work (a few MiB of short-lived buffers a block).

// fflate is imported statically, though only used where the module cannot be loaded: a dynamic
// import splits the worker's code, which the bundlers' default worker format (Vite 7's iife)
// cannot hold.
import * as fflate from '../zip/fflate.js';
import { loadDeflater } from '../zip/deflate-module.js';

let zlib = null;      // the module's deflater

// fflate: the end of a block that is not the file's last is the deflater's pending bits (its state
// `r`: the count of bits in the low 3 bits, the partial byte above them) followed by an empty,
// non-final stored block (3 zero bits, padding, lengths 0000 FFFF). Its own sync flush writes that
// block at a wrong offset whenever the partial byte is not zero.
function syncEnd(state) {
  if (typeof state !== 'number') throw new Error('the deflater keeps no bit state');
  const bits = state & 7, partial = state >> 3;
  return Uint8Array.from(bits <= 5 ? [partial, 0, 0, 255, 255] : [partial, 0, 0, 0, 255, 255]);
}

function deflateInFflate(data, dictionary, last, level) {
  const parts = [];
  const deflater = new fflate.Deflate({ level, dictionary }, (chunk) => parts.push(chunk));
  deflater.push(data, last);
  if (!last) {
    deflater.flush(false);
    parts.push(syncEnd(deflater.s && deflater.s.r));
  }
  let length = 0;
  for (const part of parts) length += part.length;
  const deflated = new Uint8Array(length);
  let at = 0;
  for (const part of parts) { deflated.set(part, at); at += part.length; }
  return deflated;
}

self.onmessage = ({ data: job }) => {
  try {
    const deflate = zlib ? (...a) => zlib.deflate(...a) : deflateInFflate;
    const deflated = deflate(job.data, job.dictionary || undefined, job.last, job.level === undefined ? 6 : job.level);
    self.postMessage({ index: job.index, deflated, data: job.data }, [deflated.buffer, job.data.buffer]);
  } catch (e) {
    self.postMessage({ index: job.index, error: String((e && e.message) || e) });
  }
};

(async () => {
  try {
    zlib = await loadDeflater();
  } catch (e) {
    // fflate does the work.
  }
  self.postMessage({ ready: true });
})();
