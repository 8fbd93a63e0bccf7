// zlib's deflate in tarnwick-deflate.wasm: a block at a time (raw deflate, primed with the 32 KiB
// before it, ended by a sync flush or as the stream's last), in the module's memory, which serves
// every block again: the deflated bytes handed back are the only new memory a block costs.
// Used by the deflate workers and, for a small entry's bytes, on the archive's own thread.

// The module's deflater, or a rejection where it cannot be loaded (absent, or no WebAssembly).
export async function loadDeflater(url = new URL('./tarnwick-deflate.wasm', import.meta.url)) {
  const response = await fetch(url);
  if (!response.ok) throw new Error('no deflate module');
  const { instance } = await WebAssembly.instantiate(await response.arrayBuffer(),
    { env: { emscripten_notify_memory_growth() {} } });
  return new Deflater(instance.exports);
}

class Deflater {
  constructor(x) {
    this.x = x;
    if (x._initialize) x._initialize();
    this.streams = new Map();       // level -> the module's deflate stream
    this.buffers = {};              // name -> [address, size]
  }

  // A buffer of the module's memory of at least `size` bytes, kept for the next block.
  buffer(name, size) {
    const had = this.buffers[name];
    if (had && had[1] >= size) return had[0];
    if (had) this.x.tw_free(had[0]);
    const at = this.x.tw_alloc(size);
    if (!at) { delete this.buffers[name]; throw new Error('out of memory'); }
    this.buffers[name] = [at, size];
    return at;
  }

  // `data` deflated at `level`, primed with `dictionary` (or none), ended as the stream's last or
  // with a sync flush.
  deflate(data, dictionary, last, level) {
    const { x } = this;
    let stream = this.streams.get(level);
    if (!stream) {
      stream = x.tw_deflate_open(level);
      if (!stream) throw new Error('zlib refused level ' + level);
      this.streams.set(level, stream);
    }
    const capacity = x.tw_deflate_bound(stream, data.length);
    const input = this.buffer('in', Math.max(data.length, 1)), output = this.buffer('out', capacity);
    const primer = dictionary ? this.buffer('dictionary', dictionary.length) : 0;
    const heap = new Uint8Array(x.memory.buffer);
    heap.set(data, input);
    if (dictionary) heap.set(dictionary, primer);
    const length = x.tw_deflate_block(stream, input, data.length, primer, dictionary ? dictionary.length : 0,
      last ? 1 : 0, output, capacity);
    if (length < 0) throw new Error('zlib failed on a block');
    return new Uint8Array(x.memory.buffer, output, length).slice();
  }
}
