// The browser suite: the SDK in Debian's Chromium, headless, with real files handed over through
// <input type=file>. Digests are checked against sha256sum and openssl, archives with unzip -t and
// Python's zipfile, texts against the control's; the demo page is run and photographed.
//   node test/browser/run.mjs [--cross BIN_DIR]
// With --cross, the same calls go to the control under Wine (registered in the project's prefix)
// and results and texts must be identical.
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, readFileSync, rmSync, writeFileSync, unlinkSync, utimesSync } from 'node:fs';
import { createHash } from 'node:crypto';
import { crc32 } from 'node:zlib';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { serve } from '../../tools/serve.mjs';
import { browserMiB, launch } from '../../tools/chromium.mjs';
import { calls } from '../corpus.mjs';
import { runOnControl } from './control.mjs';
import { commandCalls, printed, runCommand } from '../command.mjs';
import { judge } from '../judge.mjs';

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
const SYNC = Buffer.from([0, 0, 255, 255]);

function zipFacts(path) {
  const unzip = spawnSync('unzip', ['-tq', path]);
  // An archive zipfile cannot read (a bad CRC raises) is a failed case, not the end of the run.
  const python = spawnSync('python3', ['-c', `
import json, sys, zipfile, hashlib
z = zipfile.ZipFile(sys.argv[1])
i = z.infolist()
name = lambda e: e.filename if e.flag_bits & 0x800 else e.filename.encode("cp437").decode("gbk")
print(json.dumps({"names": [name(e) for e in i], "bad": z.testzip(), "crc": [e.CRC for e in i],
  "method": [e.compress_type for e in i], "utf8": [bool(e.flag_bits & 0x800) for e in i],
  "sha256": [hashlib.sha256(z.read(e)).hexdigest().upper() for e in i]}))`, path]);
  const facts = python.status === 0 ? JSON.parse(python.stdout.toString())
    : { names: [], bad: 'zipfile: ' + python.stderr.toString().trim().split('\n').pop(), crc: [], method: [], utf8: [], sha256: [] };
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
  let pageErrors = 0;
  page.on('pageerror', (e) => { pageErrors++; ok(false, 'page error: ' + e.message); });
  // Every way the page thread could compile or instantiate a module, counted from the start.
  await page.evaluateOnNewDocument(() => {
    performance.setResourceTimingBufferSize(100000);
    window.moduleLoads = [];
    for (const name of ['instantiate', 'instantiateStreaming', 'compile', 'compileStreaming']) {
      const real = WebAssembly[name];
      WebAssembly[name] = function (...args) { window.moduleLoads.push(name); return real.apply(this, args); };
    }
    WebAssembly.Module = new Proxy(WebAssembly.Module, {
      construct(target, args, newTarget) { window.moduleLoads.push('Module'); return Reflect.construct(target, args, newTarget); },
    });
  });
  await page.goto(server.url + 'test/browser/index.html');
  await page.waitForFunction('window.ready === true && window.sturdyReady === true');
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

  // ---- calls at once: two on one object, twenty mixed on one object and on three objects ----
  const sha = (n) => createHash('sha256').update(readFileSync(join(corpus, n))).digest('hex').toUpperCase();
  const kinds = [
    [['GetLocalFileSHA256', ['sample.bin']], sha('sample.bin')],
    [['GetLocalFileSM3', ['sample.bin', 1, expected.cert]], expected.sm3z['sample.bin']],
    [['GetLocalFileSHA256', ['noise.bin']], sha('noise.bin')],
    [['GetLocalFileHeadSigned', ['book.xlsx']], 'MSEXCEL'],
    [['CreateZipFromLocalFile', ['noise.bin']], 'archive'],
    [['GetMemFileSHA256', [Array.from({ length: 1000 }, (_, i) => i)]], expected.memSha256],
    [['GetLocalFileSM3', ['hello.txt', 0, '']], expected.sm3['hello.txt']],
    [['GetLocalFileSize', ['sample.bin']], expected.size['sample.bin']],
  ];
  for (const [count, objects] of [[2, 1], [20, 1], [20, 3]]) {
    const plan = Array.from({ length: count }, (_, i) => kinds[count === 2 ? 0 : i % kinds.length]);
    const got = await page.evaluate((p, o) => window.atOnce(p, o), plan.map((k) => k[0]), objects);
    const want = plan.map((k) => k[1]);
    ok(JSON.stringify(got) === JSON.stringify(want), `${count} calls at once on ${objects} object(s) all settle right: ` +
       JSON.stringify(got).slice(0, 300));
  }

  // ---- files changed or deleted on disk after they were picked ----
  const changing = join(work, 'changing.bin'), going = join(work, 'going.bin');
  writeFileSync(changing, Buffer.alloc(3 << 20, 1));
  writeFileSync(going, Buffer.alloc(5000, 2));
  await (await page.$('#later')).uploadFile(changing, going);
  writeFileSync(changing, Buffer.alloc(3 << 20, 3));
  utimesSync(changing, new Date(), new Date(Date.now() + 5000));
  unlinkSync(going);
  r = await page.evaluate(() => window.afterPick());
  const EOF = '\u6587\u4ef6\u5c3e\u3002\r\n';
  const changedWant = [
    [-1, EOF + ' (38)'],
    ['', '\u6587\u4ef6[changing.bin]\u8bfb\u5931\u8d25(0<>3145728)\uff0c' + EOF + ' (38)'],
    ['', 'SM3\u6458\u8981\u8ba1\u7b97\u5931\u8d25,\u6587\u4ef6\u8bfb\u53d6\u5931\u8d25(\u9519\u8bef\u78010x3002)'],
    ['', EOF],
    ['', '\u6587\u4ef6[changing.bin]\u538b\u7f29\u5931\u8d25,\u539f\u56e0\u662f\u6587\u4ef6\u6216\u76ee\u5f55\u5df2\u635f\u574f\u3002\r\n (1392)'],
  ];
  ok(JSON.stringify(r.changed) === JSON.stringify(changedWant), 'a file changed after picking: the control\'s failure values and read-failure texts: ' + JSON.stringify(r.changed));
  const goneText = '[going.bin]\u6587\u4ef6\u4e0d\u5b58\u5728';
  ok(JSON.stringify(r.gone) === JSON.stringify([[-1, goneText], ['', goneText], ['', goneText], ['', goneText], ['', goneText]]),
     'a file deleted after picking is not found by every method: ' + JSON.stringify(r.gone));
  // Its message on one line; the control's text as it stands beside it.
  ok(JSON.stringify(r.checked) === JSON.stringify(['TarnwickError', changedWant[1][1].replace(/[ \t]*\r?\n[ \t]*/g, ' '), changedWant[1][1], 'GetLocalFileSHA256', '']),
     'a checked call rejects with its own text: ' + JSON.stringify(r.checked));

  // Until now every object had a worker: the module was fetched and instantiated there alone.
  r = await page.evaluate(() => ({ loads: window.moduleLoads,
    fetched: performance.getEntriesByType('resource').map((e) => e.name).filter((n) => n.includes('.wasm')) }));
  ok(r.loads.length === 0 && r.fetched.length === 0,
     'calls on picked and memory files with a worker never fetch or instantiate the module on the page thread: ' + JSON.stringify(r));
  r = await page.evaluate(() => window.afterPickDigestZip());
  ok(JSON.stringify(r.digest[0]) === JSON.stringify(['TarnwickError', 'not-found', goneText]) &&
     r.digest[1][0] === 'TarnwickError' && r.digest[1][1] === 'read-failed',
     'digest(): a deleted file is not-found with the control\'s text, a changed one read-failed: ' + JSON.stringify(r.digest));
  ok(JSON.stringify(r.zip) === JSON.stringify(['gone', 'changed']), 'zip(): a deleted file is gone, a changed one changed: ' + JSON.stringify(r.zip));

  // ---- what else a page may pass ----
  r = await page.evaluate(() => window.oddValues());
  const NOT_FOUND = (p) => '[' + p + ']\u6587\u4ef6\u4e0d\u5b58\u5728';
  const NO_LENGTH = "JSArrayGetAttributeValue's GetIDsOfNames length err!";
  const NULL_OBJECT = "JSArrayGetAttributeValue's object is null err!";
  const PATH_EMPTY = '\u6587\u4ef6\u8def\u5f84\u4e3a\u7a7a';
  const oddWant = {
    // [GetMemFileSHA256, GetLocalFileSHA256, GetMemFileSize]; an empty memory file leaves the text
    detached: [['', PATH_EMPTY], ['', '\u6587\u4ef6[]\u5927\u5c0f\u4e3a0'], [0, '\u6587\u4ef6[]\u5927\u5c0f\u4e3a0']],
    detachedView: [['', PATH_EMPTY], ['', '\u6587\u4ef6[]\u5927\u5c0f\u4e3a0'], [0, '\u6587\u4ef6[]\u5927\u5c0f\u4e3a0']],
    number: [['', NO_LENGTH], ['', NOT_FOUND(5)], [-1, NO_LENGTH]],
    object: [['', NO_LENGTH], ['', NOT_FOUND('[object Object]')], [-1, NO_LENGTH]],
    nul: [['', NULL_OBJECT], ['', PATH_EMPTY], [-1, NULL_OBJECT]],
    symbol: [['', NO_LENGTH], ['', NOT_FOUND('Symbol(s)')], [-1, NO_LENGTH]],
    throwing: [['', "JSArrayGetAt's Invoke 1 err!"], ['', "JSArrayGetAt's Invoke 1 err!"], [3, "JSArrayGetAt's Invoke 1 err!"]],
  };
  for (const k of Object.keys(oddWant))
    ok(JSON.stringify(r[k]) === JSON.stringify(oddWant[k]), `${k} settles with the control's values and texts: ` + JSON.stringify(r[k]));

  // ---- cancel on every path, each followed by a right answer ----
  r = await page.evaluate(() => window.cancels());
  const abc = createHash('sha256').update(Buffer.from([1, 2, 3])).digest('hex').toUpperCase();
  for (const [k, [name, seen, next]] of Object.entries(r)) {
    if (k === 'waiting') continue;
    ok(name === 'AbortError' && seen > 0 && seen < 64 << 20 && next === abc,
       `${k}: progress, then AbortError, then a right answer: ` + JSON.stringify([name, seen, next]));
  }
  ok(r.waiting[0] === 'AbortError' && r.waiting[1] === createHash('sha256').update(Buffer.alloc(64 << 20, 97)).digest('hex').toUpperCase(),
     'a call waiting its turn is cancelled, the one before it finishes right: ' + JSON.stringify(r.waiting));

  // ---- memory files of several chunks packed, deflated and stored ----
  r = await page.evaluate(() => window.memoryZips());
  ok(r.length === 3, 'three memory files packed');
  r.forEach((zip, i) => {
    const bytes = Buffer.alloc((3 << 20) + [2 << 20, 0, (21 << 20) + 12345][i]);
    const words = ['line ', 'of ', 'text ', 'in ', 'blocks ', 'joined ', 'again\n'];
    let x = 2463534242;
    for (let j = 0; j < 3 << 20; j++) { x ^= x << 13; x ^= x >>> 17; x ^= x << 5; x >>>= 0; bytes[j] = x & 255; }
    for (let j = 3 << 20, word = '', at = 0; j < bytes.length; j++, at++) {
      if (at === word.length) { x ^= x << 13; x ^= x >>> 17; x ^= x << 5; x >>>= 0; word = words[x % 7]; at = 0; }
      bytes[j] = word.charCodeAt(at);
    }
    const path = join(work, `memory-${i}.zip`);
    const archive = Buffer.from(zip, 'base64');
    writeFileSync(path, archive);
    const facts = zipFacts(path);
    ok(facts.unzipOk && facts.bad === null && facts.method[0] === (i === 1 ? 0 : 8) && facts.crc[0] === crc32(bytes) &&
       facts.sha256[0] === createHash('sha256').update(bytes).digest('hex').toUpperCase(),
       `a memory file of ${bytes.length} bytes packed (${i === 1 ? 'stored' : 'deflated'}) holds its bytes: ` + JSON.stringify(facts));
    if (i === 2) {
      // Joined from blocks deflated apart: each block but the last ends in an empty stored block.
      let marks = 0;
      for (let at = archive.indexOf(SYNC); at >= 0; at = archive.indexOf(SYNC, at + 1)) marks++;
      ok(marks >= 12, `a ${bytes.length >> 20} MiB file is deflated in blocks and joined: ${marks} block ends`);
    }
  });

  // ---- a deleted archive is let go ----
  r = await page.evaluate(() => window.archiveLife());
  ok(r.deletedGone && r.keptHeld && r.again === 1, 'a deleted archive is collected, a kept one held: ' + JSON.stringify(r));

  // ---- a memory file of 256 MiB: the browser's memory while the SDK hashes it ----
  const memory = Buffer.alloc(256 << 20);
  for (let i = 0; i < memory.length; i += 4096) memory[i] = (i >>> 12) & 255;
  const memorySha = createHash('sha256').update(memory).digest('hex').toUpperCase();
  await page.evaluate(() => window.memoryFile(256));
  await new Promise((resolve) => setTimeout(resolve, 1000));
  const baseline = browserMiB();
  let peak = baseline;
  const sampler = setInterval(() => { peak = Math.max(peak, browserMiB()); }, 50);
  const hashed = await page.evaluate(() => window.hashMemoryFile());
  clearInterval(sampler);
  ok(hashed === memorySha, 'the 256 MiB memory file hashes right');
  ok(peak - baseline < 128, `the browser grows by less than 128 MiB hashing 256 MiB in memory: +${(peak - baseline).toFixed(0)} MiB`);
  console.log(`256 MiB memory file: the browser's processes grew by ${(peak - baseline).toFixed(0)} MiB at most`);

  // ---- long work: progress, then cancelled part-way ----
  r = await page.evaluate(() => window.cancelled());
  ok(r.name === 'AbortError' && r.seen > 0 && r.seen < 128 << 20,
     'an aborted call rejects with AbortError after some progress: ' + JSON.stringify(r));

  // ---- the options a page passes to open() ----
  r = await page.evaluate(() => window.options());
  const abcDigest = 'BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD';
  ok(r.local === abcDigest && r.localWorkers === 0, 'worker: false computes on the page, no worker started: ' + JSON.stringify(r));
  ok(r.worker === abcDigest && r.workers.length === 1 && r.workers[0].endsWith('tarnwick-worker.js?chosen'),
     'workerUrl names the worker started: ' + JSON.stringify(r));
  ok(JSON.stringify(r.missing) === '["refused","refused","refused"]',
     'open() fetches nothing; a wasmUrl or workerUrl that is not there fails the first call (one try for two calls at once, code unavailable, named) and the next tries again, with and without a worker: ' + JSON.stringify(r));

  // ---- digest(): a picked file, every algorithm whole and per chunk, cancel, resume after a reload ----
  const digestFile = join(work, 'upload.bin');
  writeFileSync(digestFile, Buffer.from(Array.from({ length: (6 << 20) + 3 }, (_, i) => (i * 7919 + (i >> 11)) & 255)));
  const [digestWant] = JSON.parse('[' + execFileSync('python3', [join(here, '..', 'digests.py'), String(1 << 20), digestFile]).toString().trim() + ']');
  const dpage = await browser.newPage();
  dpage.on('pageerror', (e) => { pageErrors++; ok(false, 'digest page error: ' + e.message); });
  const pickDigestFile = async () => {
    await dpage.waitForFunction('window.ready === true');
    await (await dpage.$('#pick')).uploadFile(digestFile);
  };
  await dpage.goto(server.url + 'test/browser/digest.html');
  await pickDigestFile();
  r = await dpage.evaluate(() => window.whole(1 << 20));
  ok(JSON.stringify(r.result) === JSON.stringify(digestWant), 'digest of a picked file equals the references: ' + JSON.stringify(r.result).slice(0, 300));
  ok(JSON.stringify(r.seen) === JSON.stringify(digestWant.chunks), 'onChunk hands over every chunk in order');
  ok(JSON.stringify(r.progress) === JSON.stringify([digestWant.size, digestWant.size]), 'digest progress reaches the size: ' + JSON.stringify(r.progress));
  r = await dpage.evaluate(() => window.cancel());
  ok(JSON.stringify(r) === '["AbortError","995dc9bbdf1939fa"]', 'a cancelled digest rejects with AbortError, the next one is right: ' + JSON.stringify(r));
  // verifySm2 over the picked file, against a signature and certificate OpenSSL made.
  const sm2Dir = join(work, 'sm2');
  mkdirSync(sm2Dir);
  const sm2 = (...args) => execFileSync('openssl', args, { cwd: sm2Dir, stdio: ['ignore', 'pipe', 'pipe'] });
  sm2('genpkey', '-algorithm', 'EC', '-pkeyopt', 'ec_paramgen_curve:SM2', '-out', 'k.pem');
  sm2('req', '-x509', '-new', '-key', 'k.pem', '-sm3', '-sigopt', 'distid:1234567812345678', '-subj', '/CN=signer', '-days', '2', '-out', 'c.pem');
  sm2('pkeyutl', '-sign', '-rawin', '-digest', 'sm3', '-inkey', 'k.pem', '-in', digestFile, '-out', 's.der', '-pkeyopt', 'distid:1234567812345678');
  r = await dpage.evaluate((s, c) => window.verifySm2(s, c), readFileSync(join(sm2Dir, 's.der')).toString('base64'), readFileSync(join(sm2Dir, 'c.pem'), 'utf8'));
  ok(JSON.stringify(r) === '[true,"CN=signer",false,"TarnwickError:bad-signature"]',
     'verifySm2 of a picked file: OpenSSL\'s signature holds, a bent one does not, one with a byte after it is refused: ' + JSON.stringify(r));
  await Promise.all([dpage.waitForNavigation(), dpage.evaluate(() => window.startAndReload(1 << 20))]);
  await pickDigestFile();
  r = await dpage.evaluate(() => window.resume(1 << 20));
  ok(JSON.stringify(r.result) === JSON.stringify(digestWant), 'a digest resumed after a reload equals one uninterrupted run: ' + JSON.stringify(r.result).slice(0, 200));
  ok(JSON.stringify(r.seen) === '[2,3,4,5,6]', 'after the reload only the chunks past the checkpoint are handed over: ' + JSON.stringify(r.seen));
  ok((await dpage.evaluate(() => window.unhandled)).length === 0, 'no unhandled rejection on the digest page');
  await dpage.close();
  // ---- an archive of a picked folder, a picked file and a folder handle ----
  const folder = join(work, '\u6848\u5377');
  mkdirSync(join(folder, 'scans'), { recursive: true });
  const folderFiles = {
    'scans/large.txt': Buffer.from('a line of a scanned page, as text\n'.repeat(600000)),
    'scans/\u9875\u4e00.txt': Buffer.from('\u7b2c\u4e00\u9875\n'.repeat(300)),
    'list caf\u00e9 \u{1F4C4}.csv': Buffer.from('a,b\r\n'.repeat(40)),
  };
  for (const [name, data] of Object.entries(folderFiles)) writeFileSync(join(folder, name), data);
  const cdp = await page.createCDPSession();
  const { root: documentNode } = await cdp.send('DOM.getDocument');
  const { nodeId } = await cdp.send('DOM.querySelector', { nodeId: documentNode.nodeId, selector: '#folder' });
  await cdp.send('DOM.setFileInputFiles', { nodeId, files: [folder] });
  // The browser lists a folder's files a moment after it is set.
  await page.waitForFunction(() => document.getElementById('folder').files.length > 0);
  r = await page.evaluate(() => window.packFolder());
  const hex = (data) => createHash('sha256').update(data).digest('hex');
  const wantEntries = [
    ...Object.entries(folderFiles).map(([name, data]) => ['\u6848\u5377/' + name, name.includes('\u{1F4C4}'), hex(data)]),
    ['hello.txt', false, hex(readFileSync(join(corpus, 'hello.txt')))],
    ['\u53e6\u4e00\u5377/empty/', false, null],
    ['\u53e6\u4e00\u5377/sub/note.txt', false, hex('from a folder handle\n'.repeat(100))],
    ['shared/a.bin', false, hex(Buffer.from(r.shared, 'base64').subarray(0, 300000))],
    ['shared/b.bin', false, hex(Buffer.from(r.shared, 'base64').subarray(300000))],
  ].sort((a, b) => (a[0] < b[0] ? -1 : 1));
  for (const key of ['made', 'streamed']) {
    const path = join(work, `folder-${key}.zip`);
    writeFileSync(path, Buffer.from(r[key], 'base64'));
    try {
      const read = await judge(path);
      const got = read.entries.sort((a, b) => (a[0] < b[0] ? -1 : 1));
      // made in the control's naming, streamed in the default: every name UTF-8 with the flag.
      const want = key === 'made' ? wantEntries : wantEntries.map(([name, , digest]) => [name, true, digest]);
      ok(JSON.stringify(got) === JSON.stringify(want), `the ${key} archive of a folder, a file and a folder handle holds them: ` + JSON.stringify(got));
    } catch (e) {
      ok(false, `the ${key} archive of a folder, a file and a folder handle: ${e.message}`);
    }
  }
  ok(r.name === 'archive.zip' && r.seen.length === wantEntries.length && r.seen.every(([, index], i) => index === i),
     'zip names its File and reports each entry in turn: ' + JSON.stringify([r.name, r.seen]));
  ok(JSON.stringify(r.refused) === JSON.stringify(['TarnwickError', 'duplicate-name', 'HELLO.TXT']),
     'two entries with one name on Windows are refused: ' + JSON.stringify(r.refused));
  const renamed = [['what?.txt', 'what_.txt'], ['WHAT_.txt', 'WHAT_ (2).txt']];
  try {
    const path = join(work, 'fixed.zip');
    writeFileSync(path, Buffer.from(r.fixed, 'base64'));
    const names = (await judge(path)).entries.map(([name]) => name);
    ok(JSON.stringify(r.renamed) === JSON.stringify(renamed) && JSON.stringify(names) === JSON.stringify(renamed.map(([, to]) => to)),
       'fixNames in the worker: each renaming told on the page, the archive holds the fixed names: ' + JSON.stringify([r.renamed, names]));
  } catch (e) {
    ok(false, `the archive of fixed names: ${e.message}`);
  }

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
  // The demo's folder archive, of the folder packed above.
  const demoCdp = await demo.createCDPSession();
  const { root: demoDocument } = await demoCdp.send('DOM.getDocument');
  const { nodeId: demoFolder } = await demoCdp.send('DOM.querySelector', { nodeId: demoDocument.nodeId, selector: '#folder' });
  await demoCdp.send('DOM.setFileInputFiles', { nodeId: demoFolder, files: [folder] });
  await demo.waitForFunction(() => !['ready', 'packing'].includes(document.getElementById('packState').textContent), { timeout: 60000 });
  const packed = await demo.evaluate(() => ['entry', 'archive', 'packState'].map((id) => document.getElementById(id).textContent));
  ok(packed[2] === 'done' && Object.keys(folderFiles).some((name) => packed[0] === `${Object.keys(folderFiles).length}: \u6848\u5377/${name}`) &&
     /^\u6848\u5377\.zip \(\d+ bytes\)$/.test(packed[1]), 'the demo packs a picked folder, shows its last entry and offers the archive: ' + JSON.stringify(packed));
  const shot = join(root, 'build', 'web', 'demo.png');
  mkdirSync(join(root, 'build', 'web'), { recursive: true });
  await demo.screenshot({ path: shot, fullPage: true });
  ok(shown.state === 'done', 'the demo finished: ' + shown.state);
  ok(shown.size === String(expected.size['sample.bin']), 'the demo shows the size');
  ok(shown.sha256 === expected.sha256['sample.bin'] && shown.sm3 === expected.sm3['sample.bin'] &&
     shown.sm3z === expected.sm3z['sample.bin'], 'the demo shows the digests: ' + JSON.stringify(shown));
  ok(/^\d+_\d{12}\.zip \(\d+ bytes\)$/.test(shown.zip), 'the demo offers the archive: ' + shown.zip);
  await (await demo.$('#dpick')).uploadFile(join(corpus, 'sample.bin'));
  await demo.waitForFunction(() => /^(done|cancelled|failed)/.test(document.getElementById('dstate').textContent), { timeout: 60000 });
  const dshown = await demo.evaluate(() => [document.getElementById('dstate').textContent, document.getElementById('d-sha256').textContent,
                                            document.getElementById('dchunks').children.length]);
  ok(JSON.stringify(dshown) === JSON.stringify(['done', expected.sha256['sample.bin'].toLowerCase(), 1]),
     'the demo\'s upload section shows the digests and the parts: ' + JSON.stringify(dshown));
  console.log('demo screenshot: ' + shot);
  ok(pageErrors === 0, 'no page error in the whole run');
  r = await page.evaluate(() => window.unhandled);
  ok(r.length === 0, 'no unhandled rejection on the page: ' + JSON.stringify(r));
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

// ---- the command on the same files: each path call on an object of its own, on both sides ----
if (crossAt > 0) {
  const list = commandCalls(calls(expected), work, join(work, 'command-archives'));
  mkdirSync(join(work, 'command-archives'));
  const control = runOnControl(list.map((c) => [c.method, c.args]), corpus, process.argv[crossAt + 1], work, { fresh: true });
  list.forEach((call, i) => {
    const got = runCommand(join(root, 'web', 'bin', 'tarnwick.js'), corpus, call), ctl = control[i];
    const label = `command ${call.argv.filter((a) => !a.startsWith(work)).join(' ')}`;
    if (ctl.archive || got.archive) {
      const mine = got.archive && zipFacts(got.archive), theirs = ctl.archive && zipFacts(ctl.archive);
      for (const key of ['names', 'crc', 'utf8', 'sha256'])
        ok(!!mine && !!theirs && JSON.stringify(mine[key]) === JSON.stringify(theirs[key]),
           `${label}: ${key} ${JSON.stringify(mine && mine[key])} vs control ${JSON.stringify(theirs && theirs[key])}`);
    } else {
      ok(JSON.stringify(got.result) === JSON.stringify(ctl.result), `${label}: result ${JSON.stringify(got.result)} vs control ${JSON.stringify(ctl.result)}`);
    }
    ok(got.text === printed(ctl.text), `${label}: text ${JSON.stringify(got.text)} vs control ${JSON.stringify(ctl.text)}`);
  });
}

rmSync(work, { recursive: true, force: true });
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed > 0 ? 1 : 0);
