// The browser suite: the SDK in Debian's Chromium, headless, with real files handed over through
// <input type=file>. Digests are checked against sha256sum and openssl, archives with unzip -t and
// Python's zipfile, texts against the control's; the demo page is run and photographed.
//   node test/browser/run.mjs [--cross BIN_DIR]
// With --cross, the same calls go to the control under Wine (registered in the project's prefix)
// and results and texts must be identical.
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, readFileSync, rmSync, writeFileSync, readdirSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { serve } from '../../tools/serve.mjs';
import { launch } from '../../tools/chromium.mjs';
import { calls } from '../corpus.mjs';
import { runOnControl } from './control.mjs';

const here = fileURLToPath(new URL('.', import.meta.url));
const root = fileURLToPath(new URL('../../..', import.meta.url));
const crossAt = process.argv.indexOf('--cross');
const work = mkdtempSync(join(tmpdir(), 'tarnwick-web-'));
const corpus = join(work, 'corpus');
let passed = 0, failed = 0;

function ok(cond, message) {
  if (cond === true) passed++;
  else { failed++; console.log('FAIL: ' + message + (cond && cond !== false ? ' (' + cond + ')' : '')); }
}

// What Python's zipfile and unzip say about an archive: its one entry, tested, and its bytes (a
// name without the UTF-8 flag is read in code page 936, as the control writes it).
function zipFacts(path) {
  const unzip = spawnSync('unzip', ['-tq', path]);
  const facts = JSON.parse(execFileSync('python3', ['-c', `
import json, sys, zipfile, hashlib
z = zipfile.ZipFile(sys.argv[1])
i = z.infolist()
name = lambda e: e.filename if e.flag_bits & 0x800 else e.filename.encode("cp437").decode("gbk")
print(json.dumps({"names": [name(e) for e in i], "bad": z.testzip(), "crc": [e.CRC for e in i],
  "method": [e.compress_type for e in i], "utf8": [bool(e.flag_bits & 0x800) for e in i],
  "sha256": [hashlib.sha256(z.read(e)).hexdigest().upper() for e in i]}))`, path]).toString());
  facts.unzipOk = unzip.status === 0;
  return facts;
}

execFileSync('python3', [join(here, '..', 'fixtures.py'), corpus]);
const expected = JSON.parse(readFileSync(join(corpus, 'expected.json'), 'utf8'));
const files = expected.files.map((n) => join(corpus, n));
const server = await serve();
const browser = await launch();
const sdkResults = [];
try {
  const page = await browser.newPage();
  page.on('pageerror', (e) => ok(false, 'page error: ' + e.message));
  await page.goto(server.url + 'test/browser/index.html');
  await page.waitForFunction('window.ready === true');
  await (await page.$('#pick')).uploadFile(...files);

  // ---- the corpus calls, with their own expectations ----
  const list = calls(expected);
  mkdirSync(join(work, 'sdk-archives'));
  for (const [method, args, check] of list) {
    const { result, text, boxes } = await page.evaluate((m, a) => window.call(m, a), method, args);
    const label = `${method}(${JSON.stringify(args).slice(0, 60)})`;
    ok(check(result, text), label + ' gave ' + JSON.stringify(result).slice(0, 80));
    let facts = null;
    if (result && result.zip) {
      const path = join(work, 'sdk-archives', result.archive);
      writeFileSync(path, Buffer.from(result.zip, 'base64'));
      facts = zipFacts(path);
      const source = args[0].file !== undefined ? args[0].file : args[1];
      const sourceSha = args[0].file !== undefined ? expected.sha256[source] : null;
      ok(facts.unzipOk && facts.bad === null, label + ': unzip -t and zipfile.testzip pass');
      ok(facts.names.length === 1 && facts.names[0] === source, label + ': one entry named ' + source + ', got ' + facts.names);
      if (sourceSha) ok(facts.sha256[0] === sourceSha, label + ': the entry holds the file');
    }
    // The control shows a box only when it refuses a file of 40 bytes or less.
    const tooSmall = method.startsWith('CreateZip') && result === '' && text.includes('\u4e0d\u8d85\u8fc740\u5b57\u8282');
    const box = method === 'CreateZipFromLocalFile' ? '\u538b\u7f29' : '\u6587\u4ef6\u538b\u7f29\u5931\u8d25';
    ok(JSON.stringify(boxes) === JSON.stringify(tooSmall ? [box] : []), label + ': message boxes ' + JSON.stringify(boxes));
    sdkResults.push({ method, args, result: facts ? facts : result, text });
  }

  // ---- archives: released once, then the deletion fails; another object's are not ours ----
  let r = await page.evaluate(() => window.remove(0));
  ok(r.result === 0, 'an archive this object made is deleted');
  r = await page.evaluate(() => window.remove(0));
  ok(r.result === 1 && r.text === '\u627e\u4e0d\u5230\u6587\u4ef6\u3002\r\n', 'deleting it again fails with the system text: ' + JSON.stringify(r));
  r = await page.evaluate(() => window.remove(new Blob(['x'])));
  ok(r.result === -1, 'a Blob it did not make is refused');

  // ---- long work: progress, then cancelled part-way ----
  r = await page.evaluate(() => window.cancelled());
  ok(r.name === 'AbortError' && r.seen > 0 && r.seen < 128 << 20,
     'an aborted call rejects with AbortError after some progress: ' + JSON.stringify(r));

  // ---- the options a page passes to open() ----
  r = await page.evaluate(() => window.options());
  const abc = 'BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD';
  ok(r.local === abc && r.localWorkers === 0, 'worker: false computes on the page, no worker started: ' + JSON.stringify(r));
  ok(r.worker === abc && r.workers.length === 1 && r.workers[0].endsWith('tarnwick-worker.js?chosen'),
     'workerUrl names the worker started: ' + JSON.stringify(r));
  ok(JSON.stringify(r.missing) === '["refused","refused"]', 'a wasmUrl that is not there fails open(), with and without a worker: ' + JSON.stringify(r));

  // ---- the demo page, as a person uses it ----
  const demo = await browser.newPage();
  await demo.setViewport({ width: 1000, height: 800 });
  await demo.goto(server.url + 'demo/');
  await demo.waitForSelector('#pick');
  await demo.type('#cert', expected.cert);
  await (await demo.$('#pick')).uploadFile(join(corpus, 'sample.bin'));
  await demo.waitForFunction(() => ['done', 'cancelled'].includes(document.getElementById('state').textContent) ||
                                   document.getElementById('state').textContent.startsWith('failed'), { timeout: 60000 });
  const shown = await demo.evaluate(() => Object.fromEntries(
    ['size', 'type', 'sha256', 'sm3', 'sm3z', 'zip', 'state'].map((id) => [id, document.getElementById(id).textContent])));
  const shot = join(root, 'build', 'web', 'demo.png');
  mkdirSync(join(root, 'build', 'web'), { recursive: true });
  await demo.screenshot({ path: shot, fullPage: true });
  ok(shown.state === 'done', 'the demo finished: ' + shown.state);
  ok(shown.size === String(expected.size['sample.bin']), 'the demo shows the size');
  ok(shown.sha256 === expected.sha256['sample.bin'] && shown.sm3 === expected.sm3['sample.bin'] &&
     shown.sm3z === expected.sm3z['sample.bin'], 'the demo shows the digests: ' + JSON.stringify(shown));
  ok(/^\d+_\d{12}\.zip \(\d+ bytes\)$/.test(shown.zip), 'the demo offers the archive: ' + shown.zip);
  console.log('demo screenshot: ' + shot);
} finally {
  await browser.close();
  await server.close();
}

// ---- the cross-check: the same calls on the control under Wine ----
if (crossAt > 0) {
  const control = runOnControl(calls(expected), corpus, process.argv[crossAt + 1], work);
  for (let i = 0; i < sdkResults.length; i++) {
    const sdk = sdkResults[i], ctl = control[i];
    const label = `cross-check ${sdk.method}(${JSON.stringify(sdk.args).slice(0, 50)})`;
    let ctlResult = ctl.result;
    if (ctl.archive) {
      const facts = zipFacts(ctl.archive);
      ok(facts.unzipOk, label + ': the control archive passes unzip -t');
      // Deflate output may differ between zlib builds; the archive must say the same things.
      for (const key of ['names', 'crc', 'method', 'utf8', 'sha256'])
        ok(JSON.stringify(facts[key]) === JSON.stringify(sdk.result[key]),
           `${label}: ${key} ${JSON.stringify(sdk.result[key])} vs control ${JSON.stringify(facts[key])}`);
      continue;
    }
    ok(JSON.stringify(sdk.result) === JSON.stringify(ctlResult),
       `${label}: result ${JSON.stringify(sdk.result)} vs control ${JSON.stringify(ctlResult)}`);
    ok(sdk.text === ctl.text, `${label}: text ${JSON.stringify(sdk.text)} vs control ${JSON.stringify(ctl.text)}`);
  }
}

rmSync(work, { recursive: true, force: true });
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed > 0 ? 1 : 0);
