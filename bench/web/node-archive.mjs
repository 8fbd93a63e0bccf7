// An archive of 20,000 files and 8 GiB in Node: the peak resident memory of `tarnwick zip --into`,
// and of a script streaming zipStream() into a file, beside an idle node process in the same run.
// The folder: 19,900 text files of 0.5-40 KB and 100 of 1-12 MiB in 100 folders, and sparse files
// of 5 GiB and twice 1.5 GiB (they read as zeros).
//   node bench/web/node-archive.mjs
import { execFileSync, spawn } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, truncateSync, writeFileSync, closeSync, openSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';

const web = fileURLToPath(new URL('../../web/', import.meta.url));
const work = mkdtempSync(join(tmpdir(), 'tarnwick-bench-archive-'));
const folder = join(work, 'folder');
const MiB = 1024 * 1024;

// Peak resident memory of a command, polled from /proc every few milliseconds, and its seconds.
function peakOf(command, args, env = {}) {
  return new Promise((resolve, reject) => {
    const started = Date.now();
    const child = spawn(command, args, { stdio: ['ignore', 'pipe', 'inherit'], env: { ...process.env, ...env } });
    let peak = 0, out = '';
    child.stdout.on('data', (d) => { out += d; });
    const poll = setInterval(() => {
      try {
        const pages = Number(readFileSync(`/proc/${child.pid}/statm`, 'utf8').split(' ')[1]);
        peak = Math.max(peak, (pages * 4096) / MiB);
      } catch { /* ended */ }
    }, 3);
    child.on('error', reject);
    child.on('close', (status) => {
      clearInterval(poll);
      if (status !== 0) reject(new Error(`${command} ${args.join(' ')}: exit ${status}`));
      else resolve({ peak, seconds: (Date.now() - started) / 1000, out });
    });
  });
}

try {
  // Text drawn from a fixed vocabulary with a fixed seed, sliced into the files.
  let x = 7;
  const random = () => { x = (x * 1103515245 + 12345) >>> 0; return x >>> 8; };
  const words = Array.from({ length: 400 }, (_, i) => 'word' + i.toString(36) + (i % 7 ? ' ' : '\n'));
  const text = Buffer.from(Array.from({ length: 2_500_000 }, () => words[random() % words.length]).join(''));
  let total = 0;
  for (let i = 0; i < 20000; i++) {
    const dir = join(folder, `part ${i % 100}`);
    if (i < 100) mkdirSync(dir, { recursive: true });
    const size = i % 200 === 199 ? MiB + (random() % (11 * MiB)) : 500 + (random() % 40000);
    const parts = [];
    for (let left = size; left > 0; left -= text.length) parts.push(text.subarray(random() % 1000, Math.min(text.length, 1000 + left)));
    const data = Buffer.concat(parts).subarray(0, size);
    writeFileSync(join(dir, `file ${i}.txt`), data);
    total += size;
  }
  for (const [name, size] of [['five.bin', 5 * 1024 * MiB], ['a.bin', 1536 * MiB], ['b.bin', 1536 * MiB]]) {
    closeSync(openSync(join(folder, name), 'w'));
    truncateSync(join(folder, name), size);
    total += size;
  }
  const script = join(work, 'stream.mjs');
  writeFileSync(script, `import { Tarnwick } from ${JSON.stringify(join(web, 'sdk', 'tarnwick.js'))};
import { createWriteStream } from 'node:fs';
import { Writable } from 'node:stream';
const t = await Tarnwick.open();
await t.zipStream([process.argv[2]]).pipeTo(Writable.toWeb(createWriteStream(process.argv[3])));
t.close();
`);
  const idle = await peakOf(process.execPath, ['-e', 'setTimeout(() => {}, 500)']);
  const archive = join(work, 'out.zip');
  const command = await peakOf(process.execPath, [join(web, 'bin', 'tarnwick.js'), 'zip', '--into', archive, folder]);
  const entries = execFileSync('python3', ['-c', 'import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).infolist()))', archive]).toString().trim();
  rmSync(archive);
  const streamed = await peakOf(process.execPath, [script, folder, archive]);
  rmSync(archive);
  const gib = (total / 1024 / MiB).toFixed(1);
  console.log(`archive in Node, 20,000 files and ${gib} GiB (${entries} entries): peak resident memory above an idle node (${idle.peak.toFixed(0)} MiB), bound 128 MiB`);
  console.log(`  tarnwick zip --into:           +${(command.peak - idle.peak).toFixed(0)} MiB, ${(total / command.seconds / 1e6).toFixed(0)} MB/s`);
  console.log(`  zipStream() piped into a file: +${(streamed.peak - idle.peak).toFixed(0)} MiB, ${(total / streamed.seconds / 1e6).toFixed(0)} MB/s`);
} finally {
  rmSync(work, { recursive: true, force: true });
}
