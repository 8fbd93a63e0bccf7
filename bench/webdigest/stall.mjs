// Loops reads of a picked file in headless Chromium (stall.html) until one never settles, and says
// which: where it ran, the kind of reader, the pass, the offset. Not part of `make bench`.
//   node bench/webdigest/stall.mjs MODE[,MODE...] [PASSES] [MIB]
//   modes: byob ahead default cancel fresh timer gen genturn rooted gc gcidle gcrooted worker
//          worker-ahead byob64k byob8m sdk sdkraw sdkbare digest (see stall.html)
//   env: STALL_MS (a read pending this long is a stall; 10000), STALL_GC_MS (a full garbage
//        collection in the page every so many ms; none), STALL_VERBOSE
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { serve } from '../../web/tools/serve.mjs';
import { launch } from '../../web/tools/chromium.mjs';

const modes = (process.argv[2] || 'byob').split(',');
const passes = Number(process.argv[3] || 50);
const SIZE = Number(process.argv[4] || process.env.STALL_MIB || 512) << 20;
const STALL_MS = Number(process.env.STALL_MS || 10000);
const root = fileURLToPath(new URL('../..', import.meta.url));
const work = mkdtempSync(join(tmpdir(), 'tarnwick-stall-'));
const big = join(work, 'file.bin');
execFileSync('bash', ['-c', `openssl enc -aes-128-ctr -pass pass:x -pbkdf2 -nosalt </dev/zero 2>/dev/null | head -c ${SIZE} > '${big}'`]);
const server = await serve(0, root);
const browser = await launch([], { protocolTimeout: 60000 });
let code = 0;
try {
  const page = await browser.newPage();
  page.on('console', (m) => console.error('page:', m.text()));
  page.on('pageerror', (e) => console.error('page error:', e.message));
  await page.goto(server.url + 'bench/webdigest/stall.html');
  await page.waitForFunction('window.ready === true');
  await (await page.$('#pick')).uploadFile(big);
  await page.evaluate((m, p, g) => window.start(m, p, ['crc32'], g), modes, passes, Number(process.env.STALL_GC_MS || 0));
  const started = Date.now();
  let last = '';
  for (;;) {
    await new Promise((r) => setTimeout(r, 1000));
    const d = await page.evaluate(() => ({ ...window.diag, worker: !!window.diag.worker, log: window.diag.log.slice(-4),
                                           pendingFor: window.diag.pending ? performance.now() - window.diag.pendingSince : 0 }));
    if (d.error) { console.log('error:', d.error); code = 2; break; }
    if (d.finished) {
      const all = await page.evaluate(() => window.diag.log);
      for (const m of modes) {
        const ms = all.filter((e) => e[0] === m).map((e) => e[2]).sort((a, b) => a - b);
        console.log(`${m}: fastest ${ms[0]} ms, median ${ms[ms.length >> 1]} ms, slowest ${ms[ms.length - 1]} ms per pass; ${ms.filter((x) => x > 5000).length} over 5 s`);
      }
      if (d.reads) console.log(`default reads: ${d.reads}, largest ${d.maxChunk} bytes`); console.log(`no stall: ${passes} passes of ${modes.join(',')} in ${((Date.now() - started) / 1000).toFixed(0)} s`); break; }
    const now = `pass ${d.pass} ${d.mode} (${d.where}${d.byob ? ', byob' : ''}) at ${d.offset}`;
    if (now !== last) { last = now; if (process.env.STALL_VERBOSE) console.error(now); }
    if (d.pendingFor > STALL_MS) {
      console.log(`STALL after ${((Date.now() - started) / 1000).toFixed(0)} s: ${now} of ${SIZE}; pending ${(d.pendingFor / 1000).toFixed(1)} s`);
      console.log('last passes [mode, bytes, ms]:', JSON.stringify(d.log));
      console.log('probes after the stall:', JSON.stringify(await page.evaluate(() => window.probe())));
      code = 1;
      break;
    }
  }
} finally {
  await browser.close();
  await server.close();
  rmSync(work, { recursive: true, force: true });
}
process.exit(code);
