// Runs bench/web/index.html in headless Chromium and prints each figure beside its reference from
// the same run, as a ratio (higher is better for us), with the renderer's peak memory while the
// SDK and hash-wasm hash the 1 GiB file (both in the one renderer: the page and the SDK's worker),
// and the whole browser's while they hash 256 MiB held in memory.
import { execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import os, { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { serve } from '../../web/tools/serve.mjs';
import { browserMiB, launch } from '../../web/tools/chromium.mjs';

const root = fileURLToPath(new URL('../..', import.meta.url));
const work = mkdtempSync(join(tmpdir(), 'tarnwick-bench-'));
const big = join(work, 'big.bin'), mixed = join(work, 'mixed.bin'), text = join(work, 'text.txt');
const huge = join(work, 'huge.bin');  // 4 GiB, sparse: it reads as zeros
// `node bench.mjs zip`: the one-file archive rows alone; `node bench.mjs archive`: the rows of
// archives of many files alone; `node bench.mjs stream`: the streamed archive's memory alone.
const zipOnly = process.argv[2] === 'zip';
const streamOnly = process.argv[2] === 'stream';
const archiveOnly = process.argv[2] === 'archive' || streamOnly;
const folder = join(work, 'folder');
const TEXT_MAKER = `
import random, sys
r = random.Random(7)
words = [("".join(r.choice("etaoinshrdlucmfwypvbgkjqxz"[:8 + i % 18]) for _ in range(2 + i % 9))) for i in range(3000)]
weights = [1 / (i + 1) for i in range(len(words))]
out, size, n = [], 0, 0
while size < 104857600:
    n += 1
    line = "%d " % n + " ".join(r.choices(words, weights, k=12)) + ".\\n"
    out.append(line); size += len(line)
sys.stdout.write("".join(out)[:104857600])`;
// 1 GiB of pseudo-random bytes; 100 MiB half random, half text; 100 MiB of text (numbered lines of
// words drawn from a fixed vocabulary with a fixed seed: it packs about as well as prose).
execFileSync('bash', ['-c', `openssl enc -aes-128-ctr -pass pass:x -pbkdf2 -nosalt </dev/zero 2>/dev/null | head -c ${zipOnly || archiveOnly ? 52428800 : 1073741824} > '${big}'
{ head -c 52428800 '${big}'; yes 'The quick brown fox jumps over the lazy dog, line after line of plain text.' | head -c 52428800; } > '${mixed}'
python3 -c '${TEXT_MAKER}' > '${text}'
truncate -s 4G '${huge}'`]);
// A folder of 2,000 small text files (200 bytes to 16 KiB, slices of the text) in 20 folders.
{
  const all = readFileSync(text);
  for (let i = 0, at = 0; i < 2000; i++) {
    const size = 200 + ((i * 7919) % 16184);
    if (i % 100 === 0) mkdirSync(join(folder, `part ${i / 100}`), { recursive: true });
    writeFileSync(join(folder, `part ${Math.floor(i / 100)}`, `note ${i}.txt`), all.subarray(at, at + size));
    at += size;
  }
}



const server = await serve(0, root);
const browser = await launch();
// The renderers of this browser only (the page and its workers), not another one's on the machine.
const rendererMiB = () => browserMiB({ renderersOnly: true, browser });
const rows = [];
try {
  const page = await browser.newPage();
  await page.goto(server.url + 'bench/web/index.html');
  await page.waitForFunction('window.ready === true');
  await (await page.$('#pick')).uploadFile(big, mixed, text, huge);
  const mbps = (bytes, s) => bytes / s / 1e6;
  const add = (what, r, refName, extra = '') => rows.push([what, mbps(r.bytes, r.ours), refName, mbps(r.bytes, r.ref), extra]);

  // Warm-up, so that both sides run optimised code.
  await page.evaluate(() => window.bench.prepareMemory(16));
  await page.evaluate(() => window.bench.memoryDigest());

  // Each pair runs twice (ours, reference, ours, reference); the better time of each side counts,
  // which keeps the ratio steady on a machine shared with other work.
  const best = async (f) => {
    const a = await page.evaluate(f), b = await page.evaluate(f);
    return { ...a, ours: Math.min(a.ours, b.ours), ref: Math.min(a.ref, b.ref), same: a.same && b.same };
  };
  // The archives: ours and the reference interleaved, best of `times` each.
  const bestOf = async (f, times) => {
    let r = null;
    for (let i = 0; i < times; i++) {
      const a = await page.evaluate(f);
      r = r ? { ...a, ours: Math.min(a.ours, r.ours), ref: Math.min(a.ref, r.ref) } : a;
    }
    return r;
  };
  const zipRows = async () => {
    await page.evaluate(() => window.bench.zip('mixed.bin'));  // warm-up
    // The renderer's peak covers both sides; fflate holds only its output.
    const before = rendererMiB();
    let top = before;
    const watch = setInterval(() => { top = Math.max(top, rendererMiB()); }, 100);
    let z = await bestOf(() => window.bench.zip('text.txt'), 3);
    clearInterval(watch);
    add('zip, 100 MiB text', z, 'fflate -6 stream',
        `size ${(100 * z.oursSize / z.refSize - 100).toFixed(2)} % vs fflate, peak renderer +${(top - before).toFixed(0)} MiB`);
    z = await bestOf(() => window.bench.zip('mixed.bin'), 3);
    add('zip, 100 MiB half random', z, 'fflate -6 stream', `size ${(100 * z.oursSize / z.refSize - 100).toFixed(2)} % vs fflate`);
  };
  // Archives of many files: a folder picked as a page would, with and without one large file.
  const archiveRows = async () => {
    const cdp = await page.createCDPSession();
    const { root: documentNode } = await cdp.send('DOM.getDocument');
    const { nodeId } = await cdp.send('DOM.querySelector', { nodeId: documentNode.nodeId, selector: '#folder' });
    await cdp.send('DOM.setFileInputFiles', { nodeId, files: [folder] });
    // The browser lists a folder's files a moment after it is set.
    await page.waitForFunction(() => document.getElementById('folder').files.length > 0);
    // The stream's memory first, from a page that has not yet held the reference's archives.
    await streamRow();
    if (streamOnly) return;
    await page.evaluate(() => window.bench.archive(false));  // warm-up
    let a = await bestOf(() => window.bench.archive(false), 3);
    add(`archive, ${a.files} small files`, a, 'fflate Zip+Async',
        `${(a.ours * 1e6 / a.files).toFixed(0)} vs ${(a.ref * 1e6 / a.files).toFixed(0)} us a file, size ${(100 * a.oursSize / a.refSize - 100).toFixed(2)} %`);
    const before = rendererMiB();
    let top = before;
    const watch = setInterval(() => { top = Math.max(top, rendererMiB()); }, 100);
    a = await bestOf(() => window.bench.archive(true), 3);
    clearInterval(watch);
    add(`archive, ${a.files - 1} small + 100 MiB`, a, 'fflate Zip+Async',
        `size ${(100 * a.oursSize / a.refSize - 100).toFixed(2)} %, peak renderer +${(top - before).toFixed(0)} MiB (both sides)`);
  };
  const streamRow = async () => {
    // Ours alone, streamed: the renderer's peak (the page and its workers) above the page at rest.
    await new Promise((resolve) => setTimeout(resolve, 2000));
    const rest = rendererMiB();
    let peak = rest;
    const sampler = setInterval(() => { peak = Math.max(peak, rendererMiB()); }, 50);
    const heaps = new Map();
    let probe = null;
    if (process.env.BENCH_HEAPS) {
      const pageClient = await page.target().createCDPSession();
      probe = setInterval(async () => {
        const targets = [['page', { client: pageClient }], ...page.workers().map((w) => [w.url().split('/').pop(), w])];
        for (const [i, [name, t]] of targets.entries()) {
          try {
            const u = await t.client.send('Runtime.getHeapUsage');
            const key = name + '#' + i;
            const was = heaps.get(key) || { used: 0, total: 0, backing: 0 };
            heaps.set(key, { used: Math.max(was.used, u.usedSize), total: Math.max(was.total, u.totalSize), backing: Math.max(was.backing, u.backingStorageSize || 0) });
          } catch (e) { /* gone */ }
        }
      }, 100);
    }
    const s = await page.evaluate(() => window.bench.archiveStream());
    clearInterval(sampler);
    if (probe) {
      clearInterval(probe);
      for (const [k, v] of heaps) console.log(k, Object.entries(v).map(([a, b]) => a + ' ' + (b / 2 ** 20).toFixed(0)).join(', '));
    }
    rows.push([`archive stream, ${s.files} files, ${(s.bytes / 2 ** 30).toFixed(1)} GiB: ${(s.bytes / s.seconds / 1e6).toFixed(0)} MB/s,`
      + ` peak renderer +${(peak - rest).toFixed(0)} MiB above the page at rest (bound: 128 MiB)`]);
  };
  if (zipOnly) { await zipRows(); throw 'done'; }
  if (archiveOnly) { await archiveRows(); throw 'done'; }
  const baseline = rendererMiB();
  let peak = baseline;
  const sampler = setInterval(() => { peak = Math.max(peak, rendererMiB()); }, 100);
  let r = await best(() => window.bench.fileDigest('sha256', 'big.bin'));
  clearInterval(sampler);
  add('SHA-256, 1 GiB picked file', r, 'hash-wasm', `peak renderer +${(peak - baseline).toFixed(0)} MiB` + (r.same ? '' : ', results differ!'));
  r = await best(() => window.bench.fileDigest('sm3', 'big.bin'));
  add('SM3, 1 GiB picked file', r, 'hash-wasm', r.same ? '' : 'results differ!');
  await page.evaluate(() => window.bench.prepareMemory(256));
  await new Promise((resolve) => setTimeout(resolve, 1000));
  const before = browserMiB({ browser });
  let most = before;
  const watch = setInterval(() => { most = Math.max(most, browserMiB({ browser })); }, 50);
  r = await best(() => window.bench.memoryDigest());
  clearInterval(watch);
  add('SHA-256, 256 MiB in memory', r, 'hash-wasm', `peak browser +${(most - before).toFixed(0)} MiB` + (r.same ? '' : ', results differ!'));
  await zipRows();
  await archiveRows();
} catch (e) {
  if (e !== 'done') throw e;
} finally {
  await browser.close();
  await server.close();
  rmSync(work, { recursive: true, force: true });
}
const version = execFileSync('chromium', ['--version']).toString().trim();
const load = readFileSync('/proc/loadavg', 'utf8').split(' ').slice(0, 3).join(' ');
console.log(`${version}, MB/s, each ratio from the same run; ${os.cpus().length} cores, load ${load.trim()}`);
console.log('what'.padEnd(30) + 'ours'.padStart(8) + '  reference'.padEnd(16) + 'ref'.padStart(8) + 'ratio'.padStart(8) + '  notes');
for (const [what, ours, refName, ref, extra] of rows) {
  if (ours === undefined) { console.log(what); continue; }
  console.log(what.padEnd(30) + ours.toFixed(0).padStart(8) + ('  ' + refName).padEnd(16) + ref.toFixed(0).padStart(8) +
              (ours / ref).toFixed(2).padStart(8) + '  ' + extra);
}
