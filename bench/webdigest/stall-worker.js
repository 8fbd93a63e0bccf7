// The worker's half of stall.html: one pass of reads of the Blob it is sent, reported read by read.
const CHUNK = 2 * 1024 * 1024;
self.onmessage = async ({ data: { blob, kind } }) => {
  try {
    const reader = blob.stream().getReader({ mode: 'byob' });
    let at = 0;
    if (kind === 'ahead') {
      let spare = new ArrayBuffer(CHUNK);
      let pending = reader.read(new Uint8Array(new ArrayBuffer(CHUNK), 0, CHUNK));
      for (;;) {
        self.postMessage({ type: 'begin', offset: at });
        const { value, done } = await pending;
        self.postMessage({ type: 'end' });
        if (done) break;
        at += value.length;
        pending = reader.read(new Uint8Array(spare, 0, CHUNK));
        spare = value.buffer;
      }
    } else {
      let buffer = new ArrayBuffer(CHUNK);
      for (;;) {
        self.postMessage({ type: 'begin', offset: at });
        const { value, done } = await reader.read(new Uint8Array(buffer, 0, CHUNK));
        self.postMessage({ type: 'end' });
        if (done) break;
        at += value.length;
        buffer = value.buffer;
      }
    }
    self.postMessage({ type: 'pass', at });
  } catch (e) {
    self.postMessage({ type: 'error', message: String(e) });
  }
};
