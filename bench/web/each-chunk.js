// The reference libraries' reading of a picked file on the bench pages: 2 MiB BYOB reads into one
// buffer, as a page would. The reader is held while it reads: Chromium collects a picked file's
// stream with a read pending when nothing holds it, and that read never settles
// (bench/webdigest/stall.html).
const CHUNK = 2 * 1024 * 1024;
const held = new Set();

export async function eachChunk(file, use) {
  const reader = file.stream().getReader({ mode: 'byob' });
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
