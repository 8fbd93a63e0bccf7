// A deflate worker of the SDK's zip for large files: deflates the blocks the engine hands it, each
// primed with the 32 KiB before it, and ends each block but the file's last at a byte boundary
// with an empty stored block, so that the blocks joined in order are one raw deflate stream.
// Messages in: { index, data, dictionary, last, level (6 when absent) }; out: { ready } once,
// then for each block { index, deflated, data } (the block's buffer going back for reuse) or
// { index, error }.
//
// The blocks go through zlib in tarnwick-deflate.wasm, whose memory serves every block again: the
// deflated bytes handed back are the only new memory a block costs. Where the module cannot be
// loaded, fflate does the work (a few MiB of short-lived buffers a block).

let zlib = null;      // { x, deflaters: Map level -> stream, buffers: { in, out, dictionary } }
let fflate = null;

async function loadModule() {
  const response = await fetch(new URL('./tarnwick-deflate.wasm', import.meta.url));
  if (!response.ok) throw new Error('no deflate module');
  const { instance } = await WebAssembly.instantiate(await response.arrayBuffer(),
    { env: { emscripten_notify_memory_growth() {} } });
  const x = instance.exports;
  if (x._initialize) x._initialize();
  return { x, deflaters: new Map(), buffers: {}, sizes: {} };
}

// A buffer of the module's memory of at least `size` bytes, kept for the next block.
function buffer(name, size) {
  const { x, buffers, sizes } = zlib;
  if (!(sizes[name] >= size)) {
    if (buffers[name]) x.tw_free(buffers[name]);
    buffers[name] = x.tw_alloc(size);
    sizes[name] = buffers[name] ? size : 0;
    if (!buffers[name]) throw new Error('out of memory');
  }
  return buffers[name];
}

function deflateInModule(data, dictionary, last, level) {
  const { x, deflaters } = zlib;
  let stream = deflaters.get(level);
  if (!stream) {
    stream = x.tw_deflate_open(level);
    if (!stream) throw new Error('zlib refused level ' + level);
    deflaters.set(level, stream);
  }
  const capacity = x.tw_deflate_bound(stream, data.length);
  const input = buffer('in', Math.max(data.length, 1)), output = buffer('out', capacity);
  const primer = dictionary ? buffer('dictionary', dictionary.length) : 0;
  const heap = new Uint8Array(x.memory.buffer);
  heap.set(data, input);
  if (dictionary) heap.set(dictionary, primer);
  const length = x.tw_deflate_block(stream, input, data.length, primer, dictionary ? dictionary.length : 0,
    last ? 1 : 0, output, capacity);
  if (length < 0) throw new Error('zlib failed on a block');
  return new Uint8Array(x.memory.buffer, output, length).slice();
}

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
    const deflate = zlib ? deflateInModule : deflateInFflate;
    const deflated = deflate(job.data, job.dictionary || undefined, job.last, job.level === undefined ? 6 : job.level);
    self.postMessage({ index: job.index, deflated, data: job.data }, [deflated.buffer, job.data.buffer]);
  } catch (e) {
    self.postMessage({ index: job.index, error: String((e && e.message) || e) });
  }
};

(async () => {
  try {
    zlib = await loadModule();
  } catch (e) {
    try {
      fflate = await import('./fflate.js');
    } catch (e2) {
      self.postMessage({ ready: false });
      return;
    }
  }
  self.postMessage({ ready: true });
})();
