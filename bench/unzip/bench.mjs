// Reading archives in headless Chromium beside zip.js in the same page (bench/unzip/index.html):
// listing 65,536 entries, testing a 1 GiB archive of text, and one entry of 4 GiB + 1 streamed with
// the renderer's memory sampled (Node's rows: bench/web/unzip-node.mjs). Each figure beside its reference from the same run,
// interleaved, the fastest of several calls each; higher ratios are better for us.
//   node bench/unzip/bench.mjs [list|test|stream]   (one kind of row alone)
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import os, { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { serve } from '../../web/tools/serve.mjs';
import { browserMiB, launch } from '../../web/tools/chromium.mjs';

const root = fileURLToPath(new URL('../..', import.meta.url));
const here = fileURLToPath(new URL('.', import.meta.url));
const work = mkdtempSync(join(tmpdir(), 'tarnwick-bench-unzip-'));
const rows = [];
const only = process.argv[2];
const wanted = (kind) => !only || only === kind;
const fastest = async (times, f) => {
  let best = null;
  for (let i = 0; i < times; i++) {
    const r = await f();
    best = best ? { ...r, ours: Math.min(best.ours, r.ours), ref: Math.min(best.ref, r.ref) } : r;
  }
  return best;
};

try {
  execFileSync('python3', [join(here, 'make-archives.py'), work, ...['list', 'test', 'stream'].filter(wanted).map((k) => ({ list: 'many', test: 'text', stream: 'huge' })[k])]);
  const many = join(work, 'many.zip'), text = join(work, 'text.zip'), huge = join(work, 'huge.zip');
  const server = await serve(0, root);
  const browser = await launch([], { protocolTimeout: 1_800_000 });
  try {
    const page = await browser.newPage();
    await page.goto(server.url + 'bench/unzip/index.html');
    await page.waitForFunction('window.ready === true');
    await (await page.$('#pick')).uploadFile(...[[many, 'list'], [text, 'test'], [huge, 'stream']].filter(([, k]) => wanted(k)).map(([f]) => f));
    if (wanted('list')) {
      await page.evaluate(() => window.bench.list('many.zip'));  // warm-up
      const l = await fastest(5, () => page.evaluate(() => window.bench.list('many.zip')));
      rows.push([`list ${l.entries} entries`, l.ours, 'zip.js', l.ref, (l.same ? '' : 'entry counts differ! ') + 'target 1.5']);
    }
    const textBytes = wanted('test') ? readFileSync(text).length : 0;
    for (const check of wanted('test') ? [true, false] : []) {
      const r = await fastest(2, () => page.evaluate((c) => window.bench.test('text.zip', c), check));
      rows.push([`test ${(textBytes / 2 ** 30).toFixed(2)} GiB of text`, r.ours, `zip.js, CRC ${check ? 'on' : 'off'}`, r.ref,
                 `${(r.bytes / r.ours / 1e6).toFixed(0)} MB/s inflated` + (r.ok ? '' : ', our verdict was not ok!') + (check ? ', target 1.2' : '')]);
    }
    if (!wanted('stream')) throw 'done';
    await new Promise((resolve) => setTimeout(resolve, 2000));
    const rest = browserMiB({ renderersOnly: true, browser });
    let peak = rest;
    const sampler = setInterval(() => { peak = Math.max(peak, browserMiB({ renderersOnly: true, browser })); }, 50);
    const s = await page.evaluate(() => window.bench.stream('huge.zip'));
    clearInterval(sampler);
    rows.push([`stream one entry of ${s.size} bytes: ${(s.bytes / s.seconds / 1e6).toFixed(0)} MB/s, peak renderer +${(peak - rest).toFixed(0)} MiB above the page at rest (bound 64 MiB)` + (s.bytes === s.size ? '' : `, got ${s.bytes} bytes!`)]);
  } catch (e) {
    if (e !== 'done') throw e;
  } finally {
    await browser.close();
    await server.close();
  }
} finally {
  rmSync(work, { recursive: true, force: true });
}
const version = execFileSync('chromium', ['--version']).toString().trim();
const load = readFileSync('/proc/loadavg', 'utf8').split(' ').slice(0, 3).join(' ');
console.log(`${version}; seconds, the fastest of several interleaved calls; ${os.cpus().length} cores, load ${load}`);
console.log('what'.padEnd(34) + 'ours s'.padStart(8) + '  reference'.padEnd(22) + 'ref s'.padStart(8) + 'ratio'.padStart(8) + '  notes');
for (const [what, ours, refName, ref, extra] of rows) {
  if (ours === undefined) { console.log(what); continue; }
  console.log(what.padEnd(34) + ours.toFixed(3).padStart(8) + ('  ' + refName).padEnd(22) + ref.toFixed(3).padStart(8) +
              (ref / ours).toFixed(2).padStart(8) + '  ' + extra);
}
