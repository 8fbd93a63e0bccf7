// The reference libraries' reading of a picked file on the bench pages: 2 MiB BYOB reads into one
// buffer, as a page would. The reader is held while it reads: Chromium collects a picked file's
// stream with a read pending when nothing holds it, and that read never settles
// (bench/webdigest/stall.html).
const CHUNK = 2 * 1024 * 1024;
const held = new Set();

// WebKit's stream of a File is no byte stream (no BYOB reader): there its chunks are taken as they come.
export async function eachChunk(file, use) {
  const stream = file.stream();
  let reader;
  try {
    reader = stream.getReader({ mode: 'byob' });
  } catch {
    reader = stream.getReader();
    held.add(reader);
    try {
      for (let r = await reader.read(); !r.done; r = await reader.read()) use(r.value);
      return;
    } finally {
      held.delete(reader);
    }
  }
  held.add(reader);
  try {
    let buffer = new ArrayBuffer(CHUNK);
    for (;;) {
      const { value, done } = await reader.read(new Uint8Array(buffer, 0, CHUNK));
      if (done) return;
      use(value);
      buffer = value.buffer;
    }
  } finally {
    held.delete(reader);
  }
}
