// The engine's reading: a source a chunk at a time, what a read that failed tells, and progress.
//
// A source is { blob } (a Blob or File, read as a stream and, for archive inspection, by slices),
// { bytes } (a Uint8Array already in memory) or { pull, size } (bytes held elsewhere, fetched a
// chunk at a time by pull(offset, length), which resolves to a Uint8Array).

export const CHUNK = 2 * 1024 * 1024;          // Chromium hands at most 2 MiB per read
const PROGRESS_STEP = 8 * 1024 * 1024;
const BREATHE_EVERY = 4;                // chunks between turns given to the event loop

export function abortError() {
  return typeof DOMException === 'function'
    ? new DOMException('The operation was aborted.', 'AbortError')
    : Object.assign(new Error('The operation was aborted.'), { name: 'AbortError' });
}

// A source that could not be read to its end: { read: { done, size, gone, cause } } rides on the
// error, gone when the file is no longer there (deleted after it was picked) rather than changed;
// cause: what the read threw, if it threw.
export class ReadFailure extends Error {
  constructor(done, size, gone, cause) {
    super(gone ? 'the file is gone' : 'the file could not be read as it was picked');
    this.name = 'ReadFailure';
    this.read = { done, size, gone, cause };
  }
}

// Reads the first byte of a Blob, or the Blob whole when it says it is empty: a picked file that
// went before its size was first asked for says 0 and fails only on a read of its own.
export async function firstByte(blob) {
  return (blob.size === 0 ? blob : blob.slice(0, 1)).arrayBuffer();
}

// Whether a Blob that failed to read is gone: a fresh read of its first byte says NotFoundError,
// or in Firefox AbortError (its word for a picked file no longer there; the fresh read is the
// SDK's own, never cancelled). A read that failed otherwise, NotReadableError among them, may as
// well be of a file that changed: the fresh read tells which.
async function isGone(blob) {
  try {
    await firstByte(blob);
    return false;
  } catch (e) {
    return !!e && (e.name === 'NotFoundError' || e.name === 'AbortError');
  }
}
// A read's failure: what the read threw, told as gone or changed. An AbortError is the caller's
// cancel only when `cancel` is aborted; otherwise it is the browser's word for a read that failed
// (Firefox rejects so a read of a picked file deleted since), and a fresh read tells which.
export async function readFailure(source, done, cause, cancel) {
  if (cause && cause.name === 'AbortError' && cancel && cancel.aborted) return cause;
  if (cause instanceof ReadFailure) return cause;
  const gone = !!source.blob && (!!cause && cause.name === 'NotFoundError' || await isGone(source.blob));
  return new ReadFailure(done, sizeOf(source), gone, cause);
}

async function checkpoint(cancel, count) {
  if (cancel && cancel.breathe && count % BREATHE_EVERY === 0) await cancel.breathe();
  if (cancel && cancel.aborted) throw abortError();
}

// Chunks of a source, each valid until the next one is asked for (one buffer is reused when the
// platform lets a stream read into it). A source that ends early, or whose reads fail, ends in a
// ReadFailure; a cancel, in an AbortError.
export async function* chunksOf(source, cancel) {
  const size = sizeOf(source);
  if (source.bytes) {
    for (let at = 0, count = 1; at < size; at += CHUNK, count++) {
      await checkpoint(cancel, count);
      yield source.bytes.subarray(at, Math.min(at + CHUNK, size));
    }
    return;
  }
  let done = 0;
  if (source.pull) {
    // Two pulls ahead: the next chunks travel while the caller works on this one; the chunk before
    // it, consumed by now, goes back to be filled again (spare), so three buffers serve the file.
    const ahead = [];
    let asked = 0, spare = null;
    const ask = () => {
      if (asked >= size) return;
      const length = Math.min(CHUNK, size - asked);
      ahead.push(source.pull(asked, length, spare && spare.buffer));
      asked += length;
      spare = null;
    };
    ask();
    ask();
    try {
      for (let count = 1; ahead.length; count++) {
        await checkpoint(cancel, count);
        const chunk = await ahead.shift();
        if (cancel && cancel.aborted) throw abortError();
        if (!chunk || chunk.length !== Math.min(CHUNK, size - done)) throw new ReadFailure(done, size, false);
        done += chunk.length;
        ask();
        yield chunk;
        spare = chunk;
      }
    } catch (e) {
      throw await readFailure(source, done, e, cancel);
    } finally {
      for (const pending of ahead) pending.catch(() => {});
    }
    return;
  }
  try {
    for await (const chunk of blobChunks(source.blob, 0, cancel)) {
      done += chunk.length;
      yield chunk;
    }
  } catch (e) {
    throw await readFailure(source, done, e, cancel);
  }
}

// Readers of Blobs awaited. Chromium collects a Blob's stream whose read is pending when nothing
// else holds it, and the read never settles (the code awaiting it goes with it): while the reading
// waits, only the read's promise holds it, so the reader is held here until the read settles (and
// no longer: one left by a caller that gave up on its chunks goes as it should).
const reading = new Set();
// A read of a Blob's stream that has not settled after this long is taken as lost, should one stop
// for any other reason: a new stream of the same Blob reads on from where it stopped. No read of
// 2 MiB takes this long on a sane machine.
export const READ_PATIENCE = 10000;
// Streams opened again at one place, with no byte read in between, before the read fails.
const REOPENS = 3;
const STALLED = Symbol('stalled');

function within(promise, ms) {
  let timer;
  return Promise.race([promise, new Promise((resolve) => { timer = setTimeout(resolve, ms, STALLED); })])
    .finally(() => clearTimeout(timer));
}

// A Blob from `start` to its end, a chunk at a time, each valid until the next one is asked for:
// two buffers where the platform lets a stream read into them, the next read under way while the
// caller works on the chunk it was given. A read that does not settle within `patience` is given
// up: that stream is cancelled and a new one opened at the byte where it stopped. A Blob that ends
// early, whose reads fail or that never answers ends in a ReadFailure; a cancel, in an AbortError.
export async function* blobChunks(blob, start, cancel, patience = READ_PATIENCE) {
  const size = blob.size;
  let done = start, reopens = 0, reader = null, byob = false, pending = null, spare = null;
  const read = () => {
    if (!byob) return reader.read();
    const view = new Uint8Array(spare || new ArrayBuffer(CHUNK), 0, CHUNK);
    spare = null;
    // Filled before it settles (else a read gives what the pipe held, 64-256 KiB in Chromium, and
    // each costs its turn): a browser that does not know `min` gives what it has, as before.
    return reader.read(view, { min: Math.max(1, Math.min(CHUNK, size - done)) });
  };
  const open = () => {
    const stream = (done === 0 ? blob : blob.slice(done)).stream();
    try {
      reader = stream.getReader({ mode: 'byob' });
      byob = true;
    } catch (e) {
      reader = stream.getReader();
      byob = false;
    }
    pending = read();
  };
  const drop = () => {
    // The read under way goes too, and nothing is left to reject unheard.
    if (pending) pending.catch(() => {});
    if (reader) reader.cancel().catch(() => {});
    pending = reader = null;
  };
  try {
    open();
    for (let count = 1; ; count++) {
      // Reads of a Blob in memory settle without giving queued messages (a cancel) their turn.
      await checkpoint(cancel, count);
      const held = reader;
      reading.add(held);
      const result = await within(pending, patience).finally(() => reading.delete(held));
      if (result === STALLED) {
        drop();
        if (++reopens > REOPENS) throw new ReadFailure(done, size, await isGone(blob));
        open();
        continue;
      }
      const { value, done: end } = result;
      if (end) { pending = null; break; }
      reopens = 0;
      done += value.length;
      pending = read();
      yield value;
      if (byob) spare = value.buffer;
    }
  } finally {
    // Stopped early (a text scan that found its answer, a cancel, a failure) or at the end.
    drop();
  }
  if (done !== size) throw new ReadFailure(done, size, await isGone(blob));
}

// WebKit (Safari, WebKitGTK) keeps what a stream of a picked file gave in its network and web
// processes until long after (a 1 GiB file read once grew WebKitGTK 2.50 by 1.3 GiB) and reads it
// slowly, yet frees a slice's bytes read whole at once: there a File is read by slices. No feature
// tells this: it is keyed on the engine's name in the user agent (Chromium's and Edge's name
// AppleWebKit too, with Chrome/ after it).
export const readsBySlices = typeof navigator === 'object' && !!navigator && typeof navigator.userAgent === 'string' &&
  /AppleWebKit\//.test(navigator.userAgent) && !/Chrome\/|Chromium\//.test(navigator.userAgent);

// A Blob from `start` to its end in slices of CHUNK, each read whole: in a worker by a
// FileReaderSync (faster than a slice's arrayBuffer() in WebKit, 3.0 s against 4.1 s for 1 GiB),
// elsewhere by arrayBuffer(); a turn between slices now and then, so that a cancel is heard. A
// slice that reads short, or a read that fails, ends in a ReadFailure or what the read threw.
export async function* blobSlices(blob, start, cancel) {
  const size = blob.size;
  const reader = typeof FileReaderSync === 'function' ? new FileReaderSync() : null;
  let done = start;
  for (let count = 1; done < size; count++) {
    await checkpoint(cancel, count);
    if (reader && count % BREATHE_EVERY === 0) await new Promise((resolve) => setTimeout(resolve, 0));
    if (cancel && cancel.aborted) throw abortError();
    const want = Math.min(CHUNK, size - done);
    const slice = blob.slice(done, done + want);
    const bytes = new Uint8Array(reader ? reader.readAsArrayBuffer(slice) : await slice.arrayBuffer());
    if (bytes.length !== want) throw new ReadFailure(done, size, await isGone(blob));
    done += bytes.length;
    yield bytes;
  }
}

export function sizeOf(source) {
  return source.bytes ? source.bytes.length : source.blob ? source.blob.size : source.size;
}

// Reports progress at most every few MiB and at the end.
export function progressReporter(total, onProgress) {
  let next = 0;
  return (done) => {
    if (!onProgress) return;
    if (done >= next || done === total) {
      next = done + PROGRESS_STEP;
      onProgress(done, total);
    }
  };
}
