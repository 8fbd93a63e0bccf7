// digest() beside the page-side libraries in headless Chromium (a picked 512 MiB file) and beside
// node:crypto and hash-wasm in Node (the same file by path), each figure beside its reference from
// the same run as a ratio (higher is better for us), best of three interleaved runs; then all eight
// algorithms at once against what the cores allow: 1.1 x max(slowest alone, sum alone / cores);
// an upload's job with checkpoints beside the same job without;
// and the memory the page's renderer (the page and its workers) grows by while digest() does all
// eight, in chunks of 8 MiB with checkpoints, over a picked 4 GiB sparse file, from the page with
// the SDK open and no digest worker alive yet, against the 64 MiB allowed.
// Then Firefox ESR and WebKitGTK (engines.mjs): an upload's job (md5, sha256, sm3, crc64nvme,
// 8 MiB parts' MD5s and the ETag) over a picked file of 1.5 GiB, its time and what it grows the
// browser's processes by (all of them, sampled from /proc every 100 ms, peak minus idle), beside
// hash-wasm doing the same job reading the file once on the page, fastest (and largest growth) of two interleaved runs.
// DIGEST_BENCH_ONLY=engines runs that part alone.
import { execFileSync } from 'node:child_process';
import { createReadStream, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import os, { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { createHash } from 'node:crypto';
import { serve } from '../../web/tools/serve.mjs';
import { browserMiB, launch } from '../../web/tools/chromium.mjs';
import { Tarnwick } from '../../web/sdk/tarnwick.js';
import * as engines from './engines.mjs';
import { createRequire } from 'node:module';

const hw = createRequire(new URL('../../web/package.json', import.meta.url))('hash-wasm');
const ALL = ['md5', 'sha1', 'sha256', 'sm3', 'crc32', 'crc32c', 'crc64ecma', 'crc64nvme'];
const ROUNDS = 3;
const root = fileURLToPath(new URL('../..', import.meta.url));
const work = mkdtempSync(join(tmpdir(), 'tarnwick-digest-bench-'));
const big = join(work, 'upload.bin');
const SIZE = Number(process.env.DIGEST_BENCH_MIB || 512) << 20;
execFileSync('bash', ['-c', `openssl enc -aes-128-ctr -pass pass:x -pbkdf2 -nosalt </dev/zero 2>/dev/null | head -c ${SIZE} > '${big}'`]);
const sparse = join(work, 'sparse.bin');
const SPARSE_GIB = Number(process.env.DIGEST_BENCH_SPARSE_GIB || 4);
execFileSync('truncate', ['-s', `${SPARSE_GIB}G`, sparse]);
const MEMORY_BOUND = 64;
const ONLY = process.env.DIGEST_BENCH_ONLY || '';
const ENGINE_MIB = Number(process.env.DIGEST_BENCH_ENGINE_MIB || 1536);
const ENGINE_ROUNDS = 2;
const ENGINE_PATIENCE = 600;  // seconds a job may take before it is given up as not finishing
const rows = [];
const mbps = (s) => SIZE / s / 1e6;
const row = (what, ours, refName, ref, note = '') => rows.push([what, mbps(ours), refName, mbps(ref), note]);
const allRow = (where, alone, together, cores) => {
  const times = Object.values(alone);
  const bound = 1.1 * Math.max(Math.max(...times), times.reduce((a, b) => a + b, 0) / cores);
  rows.push([`all eight, ${where}`, mbps(together), 'bound', mbps(bound), `${together.toFixed(2)} s against ${bound.toFixed(2)} s allowed (${cores} cores)`]);
};

const server = await serve(0, root);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// ---- Chromium ----
if (!ONLY) {
// A 4 GiB digest in one page.evaluate() outlasts puppeteer's 180 s default for a protocol call.
const browser = await launch([], { protocolTimeout: 30 * 60 * 1000 });
try {
  const page = await browser.newPage();
  await page.goto(server.url + 'bench/webdigest/index.html');
  await page.waitForFunction('window.ready === true');
  await (await page.$('#pick')).uploadFile(big);
  const cores = await page.evaluate(() => window.bench.cores());
  await page.evaluate(() => window.bench.ours(['md5']));  // warm-up
  const alone = {};
  for (const name of ALL) {
    let ours = Infinity, ref = Infinity, spark = Infinity, same = true;
    for (let i = 0; i < ROUNDS; i++) {
      const a = await page.evaluate((n) => window.bench.ours([n]), name);
      const b = await page.evaluate((n) => window.bench.hashWasm(n), name);
      ours = Math.min(ours, a.seconds);
      ref = Math.min(ref, b.seconds);
      same = same && a.digests[name] === b.hex;
      if (name === 'md5') {
        const c = await page.evaluate(() => window.bench.spark());
        spark = Math.min(spark, c.seconds);
        same = same && c.hex === a.digests.md5;
      }
    }
    alone[name] = ours;
    console.error(`bench: ${name} in Chromium done`);
    row(`${name}, Chromium`, ours, 'hash-wasm', ref, same ? '' : 'results differ!');
    if (name === 'md5') row('md5, Chromium', ours, 'spark-md5', spark);
  }
  let together = Infinity;
  for (let i = 0; i < ROUNDS; i++) together = Math.min(together, (await page.evaluate((a) => window.bench.ours(a), ALL)).seconds);
  allRow('Chromium', alone, together, cores);
  console.error('bench: all eight in Chromium done');
  // What checkpoints cost an upload's job (md5, sha256, sm3, crc64nvme, 8 MiB parts' MD5s and the
  // ETag): the same job with a no-op checkpoint callback beside it without, interleaved.
  let plain = Infinity, saved = Infinity;
  for (let i = 0; i < ROUNDS; i++) {
    const a = await page.evaluate(() => window.bench.parts(false));
    const b = await page.evaluate(() => window.bench.parts(true));
    plain = Math.min(plain, a.seconds);
    saved = Math.min(saved, b.seconds);
    if (a.etag !== b.etag) throw new Error('a job with checkpoints gave another ETag');
  }
  row('upload job with checkpoints, Chromium', saved, 'without', plain, `${((saved / plain - 1) * 100).toFixed(1)} % (5 % allowed)`);
  // Memory: the digest workers of the runs above end after 10 s idle; then the page is idle.
  await (await page.$('#sparse')).uploadFile(sparse);
  const renderer = () => browserMiB({ renderersOnly: true, browser });
  for (const algorithms of [ALL, ['md5']]) {
    await new Promise((resolve) => setTimeout(resolve, 12000));
    await page.evaluate(() => window.gc && window.gc());
    let idle = Infinity;
    for (let i = 0; i < 10; i++, await new Promise((resolve) => setTimeout(resolve, 100))) idle = Math.min(idle, renderer());
    let peak = idle;
    const watch = setInterval(() => { peak = Math.max(peak, renderer()); }, 100);
    const run = await page.evaluate((a) => window.bench.upload(a), algorithms);
    clearInterval(watch);
    const what = algorithms.length > 1 ? 'all eight' : algorithms[0];
    rows.push([`  memory, ${what}, ${SPARSE_GIB} GiB picked, 8 MiB chunks, checkpoints: +${(peak - idle).toFixed(0)} MiB above idle ` +
               `(${MEMORY_BOUND} MiB allowed${peak - idle > MEMORY_BOUND ? ', OVER' : ''}); ` +
               `${(run.size / run.seconds / 1e6).toFixed(0)} MB/s${run.chunks === run.size / 8388608 ? '' : ', chunks wrong!'}`]);
  }
} finally {
  await browser.close();
}
}

// ---- Firefox ESR and WebKitGTK ----
// One job, with the engine's memory sampled: { seconds, grew (MiB, peak minus idle), etag }; idle
// is taken once the digest workers of the run before have ended (10 s idle). Of the runs, the
// fastest time and the largest growth are kept.
async function measured(e, call, ...args) {
  await sleep(12000);
  let idle = Infinity;
  for (let i = 0; i < 10; i++, await sleep(100)) idle = Math.min(idle, e.mib());
  let peak = idle;
  const watch = setInterval(() => { peak = Math.max(peak, e.mib()); }, 100);
  try {
    const r = await Promise.race([e.call(call, ...args), sleep(ENGINE_PATIENCE * 1000).then(() => null)]);
    return r && { seconds: r.seconds, grew: peak - idle, etag: r.etag };
  } finally {
    clearInterval(watch);
  }
}

if (!ONLY || ONLY === 'engines') {
  const large = join(work, 'large.bin');
  execFileSync('bash', ['-c', `openssl enc -aes-128-ctr -pass pass:y -pbkdf2 -nosalt </dev/zero 2>/dev/null | head -c ${ENGINE_MIB << 20} > '${large}'`]);
  const mb = (r) => (ENGINE_MIB << 20) / r.seconds / 1e6;
  for (const start of [engines.firefox, engines.webkit]) {
    const e = await start();
    if (!e) { rows.push([`  ${start.name}: not installed, SKIPPED`]); continue; }
    try {
      await e.open(server.url + 'bench/webdigest/index.html');
      await e.pick('#pick', large);
      let ours = null, ref = null, same = true, late = false;
      for (let i = 0; i < ENGINE_ROUNDS; i++) {
        const a = await measured(e, 'parts', false);
        const b = await measured(e, 'hashWasmJob');
        if (!a || !b) { late = true; break; }
        ours = !ours ? a : { seconds: Math.min(ours.seconds, a.seconds), grew: Math.max(ours.grew, a.grew), etag: a.etag };
        ref = !ref ? b : { seconds: Math.min(ref.seconds, b.seconds), grew: Math.max(ref.grew, b.grew), etag: b.etag };
        same = same && a.etag === b.etag;
      }
      console.error(`bench: ${e.name} done`);
      if (late) { rows.push([`  ${e.name}: a job did not end within ${ENGINE_PATIENCE} s`]); continue; }
      rows.push([`upload job, ${e.name}`, mb(ours), 'hash-wasm', mb(ref), `${ours.seconds.toFixed(1)} s vs ${ref.seconds.toFixed(1)} s; ${e.version}${same ? '' : '; ETags differ!'}`]);
      rows.push([`  memory, upload job, ${ENGINE_MIB} MiB picked, ${e.name}: +${ours.grew.toFixed(0)} MiB above idle ` +
                 `(${MEMORY_BOUND} MiB allowed${ours.grew > MEMORY_BOUND ? ', OVER' : ''}); hash-wasm reading once: +${ref.grew.toFixed(0)} MiB`]);
    } finally {
      await e.close();
    }
  }
}
await server.close();

// ---- Node ----
if (!ONLY) {
const NODE_REF = { md5: 'md5', sha1: 'sha1', sha256: 'sha256', sm3: 'sm3' };
const HW = {
  md5: () => hw.createMD5(), sha1: () => hw.createSHA1(), sha256: () => hw.createSHA256(), sm3: () => hw.createSM3(),
  crc32: () => hw.createCRC32(), crc32c: () => hw.createCRC32(0x82F63B78), crc64ecma: () => hw.createCRC64(),
  crc64nvme: () => hw.createCRC64('9a6c9329ac4bc9b5'),
};
const time = async (f) => { const s = performance.now(); const r = await f(); return [(performance.now() - s) / 1000, r]; };
const stream = async (update) => { for await (const chunk of createReadStream(big, { highWaterMark: 2 << 20 })) update(chunk); };
const t = await Tarnwick.open();
const nodeAlone = {};
for (const name of ALL) {
  let ours = Infinity, hashWasm = Infinity, crypto = Infinity, same = true;
  for (let i = 0; i < ROUNDS; i++) {
    const [a, r] = await time(() => t.digest(big, { algorithms: [name] }));
    const h = await HW[name]();
    const [b, hex] = await time(async () => { h.init(); await stream((c) => h.update(c)); return h.digest('hex'); });
    ours = Math.min(ours, a);
    hashWasm = Math.min(hashWasm, b);
    same = same && r.digests[name] === hex;
    if (NODE_REF[name]) {
      const [c, hex2] = await time(async () => { const x = createHash(NODE_REF[name]); await stream((d) => x.update(d)); return x.digest('hex'); });
      crypto = Math.min(crypto, c);
      same = same && hex2 === hex;
    }
  }
  nodeAlone[name] = ours;
  const [refName, ref] = crypto < hashWasm ? ['node:crypto', crypto] : ['hash-wasm', hashWasm];
  row(`${name}, Node`, ours, refName, ref, same ? '' : 'results differ!');
}
let nodeTogether = Infinity;
for (let i = 0; i < ROUNDS; i++) nodeTogether = Math.min(nodeTogether, (await time(() => t.digest(big, { algorithms: ALL })))[0]);
allRow('Node', nodeAlone, nodeTogether, os.cpus().length);
t.close();
}
rmSync(work, { recursive: true, force: true });

const version = ONLY ? `Chromium and Node not run (DIGEST_BENCH_ONLY=${ONLY})` : execFileSync('chromium', ['--version']).toString().trim();
const load = readFileSync('/proc/loadavg', 'utf8').split(' ').slice(0, 3).join(' ');
console.log(`digest() on ${ONLY ? ENGINE_MIB : SIZE >> 20} MiB; ${version}, Node ${process.version}; MB/s, best of ${ROUNDS} interleaved; ${os.cpus().length} cores, load ${load.trim()}`);
console.log('what'.padEnd(24) + 'ours'.padStart(8) + '  reference'.padEnd(16) + 'ref'.padStart(8) + 'ratio'.padStart(8) + '  notes');
for (const [what, ours, refName, ref, extra] of rows) {
  if (ours === undefined) { console.log(what); continue; }
  console.log(what.padEnd(24) + ours.toFixed(0).padStart(8) + ('  ' + refName).padEnd(16) + ref.toFixed(0).padStart(8) +
              (ours / ref).toFixed(2).padStart(8) + '  ' + extra);
}
