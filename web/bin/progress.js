// Progress on a terminal, for work that takes more than a moment: one line, redrawn at most ten
// times a second, wiped when the call ends.
export function progressLine(path, tty = process.stderr.isTTY) {
  if (!tty) return { onProgress: undefined, end() {} };
  const started = Date.now();
  let drawn = 0, shown = false;
  return {
    onProgress(done, total) {
      const now = Date.now();
      if (now - started < 500 || now - drawn < 100) return;
      drawn = now;
      shown = true;
      const percent = total > 0 ? Math.floor((done * 100) / total) : 100;
      process.stderr.write(`\r\x1b[K${path}: ${percent}% (${Math.floor(done / 1048576)} of ${Math.floor(total / 1048576)} MiB)`);
    },
    end() { if (shown) process.stderr.write('\r\x1b[K'); },
  };
}
