// The digest page (digest.html) and the archive page (zip.html) in Firefox ESR and WebKitGTK. The
// digest case: a picked file, every algorithm whole and per chunk against the references, a cancel,
// and a job resumed after a reload. The archive case: picked files (neither browser's automation
// puts a folder into a webkitdirectory input) packed by zip() and zipStream(), a large entry
// deflated in blocks on the deflate workers, each archive judged by unzip, 7z, bsdtar and Python's
// zipfile, and two names Windows sees as one refused. Each page drives itself once its files are
// picked (?auto) and reports to a collector here:
//   - Firefox through puppeteer-core over WebDriver BiDi, whose session ends once the files are
//     picked (with a session open, Firefox now and then stalls a worker's second new Worker());
//   - WebKitGTK's MiniBrowser through WebKitWebDriver, on a virtual display (it has no headless
//     mode here).
// A browser that is not installed is reported as skipped, never as passed.
//   node test/browser/others.mjs [firefox|webkit]
import { execFileSync, spawn } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createHash, randomBytes } from 'node:crypto';
import { collector } from './collector.mjs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';
import { serve } from '../../tools/serve.mjs';
import { judge } from '../judge.mjs';

const here = fileURLToPath(new URL('.', import.meta.url));
const FIREFOX = '/usr/bin/firefox-esr';
const DRIVER = '/usr/bin/WebKitWebDriver';
const MINIBROWSER = ['/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser', '/usr/libexec/webkit2gtk-4.1/MiniBrowser'].find(existsSync);
const work = mkdtempSync(join(tmpdir(), 'tarnwick-others-'));
let passed = 0, failed = 0, skipped = 0;
const ok = (cond, message) => {
  if (cond === true) passed++;
  else { failed++; console.log('FAIL: ' + message); }
};

const upload = join(work, 'upload.bin');
// Every MiB unlike the others (the term of i >> 20), so that a read from a wrong offset shows.
writeFileSync(upload, Buffer.from(Array.from({ length: (6 << 20) + 3 }, (_, i) => (i * 7919 + (i >> 11) + (i >> 20) * 97) & 255)));
const want = JSON.parse(execFileSync('python3', [join(here, '..', 'digests.py'), String(1 << 20), upload]).toString());
// An SM2 signature over the picked file and the signer's certificate, made by OpenSSL.
const sm2 = (...args) => execFileSync('openssl', args, { cwd: work, stdio: ['ignore', 'pipe', 'pipe'] });
sm2('genpkey', '-algorithm', 'EC', '-pkeyopt', 'ec_paramgen_curve:SM2', '-out', 'k.pem');
sm2('req', '-x509', '-new', '-key', 'k.pem', '-sm3', '-sigopt', 'distid:1234567812345678', '-subj', '/CN=signer', '-days', '2', '-out', 'c.pem');
sm2('pkeyutl', '-sign', '-rawin', '-digest', 'sm3', '-inkey', 'k.pem', '-in', upload, '-out', 's.der', '-pkeyopt', 'distid:1234567812345678');
const sm2Args = JSON.stringify([readFileSync(join(work, 's.der')).toString('base64'), readFileSync(join(work, 'c.pem'), 'utf8')]);

// The archive case's files: a large text (deflated in 2 MiB blocks on the deflate workers), noise
// (stored), a name in code page 936 and one outside it (stored in UTF-8 with the flag). The page
// packs them, the last again under a folder named in code page 936, and notes/memo.txt from bytes.
const picked = join(work, 'picked');
mkdirSync(picked);
const large = Buffer.from(Array.from({ length: 700000 }, (_, i) => `line ${i} of a scanned page, as text\n`).join(''));
const zipFiles = {
  'large.txt': large,
  'noise.bin': randomBytes(64 << 10),
  '\u9875\u4e00.txt': Buffer.from('\u7b2c\u4e00\u9875\n'.repeat(300)),
  '\ubcf4\uace0\uc11c.txt': Buffer.from('\ubcf4\uace0\uc11c\n'.repeat(200)),
};
for (const [name, data] of Object.entries(zipFiles)) writeFileSync(join(picked, name), data);
const zipPaths = Object.keys(zipFiles).map((name) => join(picked, name));
// Files the page picks and the test deletes (vanishing) or rewrites (changing) before the page
// packs them.
const vanishing = join(work, 'vanishing.txt'), changing = join(work, 'changing.txt');
const pickAgain = () => {
  writeFileSync(vanishing, 'a file deleted after it was picked\n'.repeat(40));
  writeFileSync(changing, 'a file rewritten after it was picked\n'.repeat(40));
};
const changeThem = () => {
  rmSync(vanishing, { force: true });
  writeFileSync(changing, 'rewritten\n'.repeat(70));
};
pickAgain();
const sha256 = (data) => createHash('sha256').update(data).digest('hex');
// [name, UTF-8 flag, SHA-256] of each entry the page packs, sorted.
const zipWant = [
  ...Object.entries(zipFiles).map(([name, data]) => [name, name.includes('\ubcf4'), sha256(data)]),
  ['\u6848\u5377/\ubcf4\uace0\uc11c.txt', true, sha256(zipFiles['\ubcf4\uace0\uc11c.txt'])],
  ['notes/memo.txt', false, sha256('made in the page\n'.repeat(50))],
].sort();
// An empty stored block ends each deflate worker's block but the last.
const SYNC = Buffer.from([0, 0, 255, 255]);

function judgeDigest(browser, got) {
  ok(!got.error, `${browser}: no page error: ${JSON.stringify(got.error)}`);
  const before = got.before && got.before[0];
  const resume = got.resume && got.resume[0];
  ok(!!before && JSON.stringify(before.whole.result) === JSON.stringify(want), `${browser}: digest of a picked file equals the references: ${String(JSON.stringify(before && before.whole.result)).slice(0, 200)}`);
  ok(!!before && JSON.stringify(before.whole.seen) === JSON.stringify(want.chunks), `${browser}: onChunk hands over every chunk in order`);
  ok(!!before && JSON.stringify(before.cancelled) === '["AbortError","995dc9bbdf1939fa"]', `${browser}: a cancel rejects with AbortError, the next job is right: ${JSON.stringify(before && before.cancelled)}`);
  ok(!!before && JSON.stringify(before.verified) === '[true,"CN=signer",false,"TarnwickError:bad-signature"]',
     `${browser}: verifySm2 of a picked file: OpenSSL's signature holds, a bent one does not, one with a byte after it is refused: ${JSON.stringify(before && before.verified)}`);
  ok(!!resume && JSON.stringify(resume.result) === JSON.stringify(want), `${browser}: resumed after a reload, the same results: ${String(JSON.stringify(resume && resume.result)).slice(0, 200)}`);
  ok(!!resume && JSON.stringify(resume.seen) === '[2,3,4,5,6]', `${browser}: after the reload only the later chunks: ${JSON.stringify(resume && resume.seen)}`);
}

async function judgeZip(browser, got) {
  ok(!got.error, `${browser}: no page error on the archive page: ${JSON.stringify(got.error)}`);
  for (const key of ['made', 'streamed']) {
    const archive = got[key] && got[key][0];
    if (!archive) { ok(false, `${browser}: the ${key} archive came back`); continue; }
    const path = join(work, `${browser.split(' ')[0]}-${key}.zip`);
    writeFileSync(path, archive);
    try {
      const read = (await judge(path)).entries.sort();
      // made in the control's naming, streamed in the default: every name UTF-8 with the flag.
      const want = key === 'made' ? zipWant : zipWant.map(([name, , digest]) => [name, true, digest]);
      ok(JSON.stringify(read) === JSON.stringify(want), `${browser}: the ${key} archive (${archive.length} bytes) holds the picked files, names in both encodings: ${JSON.stringify(read)}`);
    } catch (e) {
      ok(false, `${browser}: the ${key} archive: ${e.message}`);
    }
    let ends = 0;
    for (let at = archive.indexOf(SYNC); at >= 0; at = archive.indexOf(SYNC, at + 1)) ends++;
    ok(ends >= Math.ceil(large.length / (2 << 20)) - 1, `${browser}: the ${key} archive's ${large.length >> 20} MiB entry was deflated in blocks on the deflate workers: ${ends} block ends`);
  }
  const done = got.done && got.done[0];
  ok(!!done && done.name === 'archive.zip' && done.seen === zipWant.length && done.parts > 1,
     `${browser}: zip() names its File and reports each entry, zipStream() gives the archive in parts: ${JSON.stringify(done)}`);
  ok(!!done && JSON.stringify(done.refused) === '["TarnwickError","duplicate-name","Notes/MEMO.txt"]',
     `${browser}: two names Windows sees as one are refused: ${JSON.stringify(done && done.refused)}`);
  const vanished = got.vanished && got.vanished[0];
  // WebKitGTK answers every read of a file rewritten since it was picked with NotFoundError, as
  // for one deleted: there a rewritten file may be called gone; never an AbortError anywhere.
  for (const [name, code] of [['vanishing.txt', 'gone'], ['changing.txt', 'changed']]) {
    const seen = vanished && vanished[name];
    const codes = code === 'changed' && browser.startsWith('WebKit') ? ['changed', 'gone'] : [code];
    const fits = (got) => codes.some((c) => JSON.stringify(got) === JSON.stringify(['TarnwickError', c, name]));
    ok(!!seen && fits(seen.made) && fits(seen.streamed),
       `${browser}: a picked file ${code === 'gone' ? 'deleted' : 'rewritten'} before zip() and zipStream() read it is ${code}, never an AbortError: ${JSON.stringify(seen)}`);
  }
}

const server = await serve();
const page = (name, c) => `${server.url}test/browser/${name}?auto=${encodeURIComponent(c.url)}${name === 'digest.html' ? '&sm2=' + encodeURIComponent(sm2Args) : ''}`;

// One page in a Firefox of its own: `pick` puts the files in, the session ends, and the page goes
// on by itself until it reported `names`.
async function firefoxPage(name, pick, names, seconds, then) {
  const c = await collector();
  const browser = await puppeteer.launch({
    browser: 'firefox', executablePath: FIREFOX, headless: true, protocol: 'webDriverBiDi',
    userDataDir: mkdtempSync(join(work, 'firefox-profile-')),
  });
  const pid = browser.process() && browser.process().pid;
  try {
    const tab = await browser.newPage();
    await tab.goto(page(name, c));
    await tab.waitForFunction('window.ready === true');
    await pick(tab);
    await browser.disconnect();  // the session ends; the page goes on by itself
    return then ? await then(c) : await c.wait(names, seconds);
  } finally {
    if (pid) try { process.kill(pid); } catch { /* gone */ }
    await c.close();
  }
}

async function firefox() {
  if (!existsSync(FIREFOX)) { skipped++; console.log('SKIP: Firefox ESR is not installed (make setup)'); return; }
  judgeDigest('Firefox ESR', await firefoxPage('digest.html', async (tab) => (await tab.$('#pick')).uploadFile(upload),
                                               ['before', 'resume'], 180));
  // Firefox's input.setFiles takes files only (a folder is refused as one): they are picked one by one.
  const pick = async (tab) => {
    await (await tab.$('#files')).uploadFile(...zipPaths);
    await (await tab.$('#vanish')).uploadFile(vanishing, changing);
  };
  await judgeZip('Firefox ESR', await firefoxPage('zip.html', pick, [], 0, async (c) => {
    await c.wait(['vanish-picked'], 60);
    changeThem();
    return c.wait(['made', 'streamed', 'done', 'vanished'], 90);
  }));
  pickAgain();
}

// WebDriver's classic protocol over HTTP, as much as this needs.
async function webdriver(base, method, path, body) {
  const r = await fetch(base + path, { method, headers: { 'Content-Type': 'application/json' }, body: body && JSON.stringify(body) });
  const json = await r.json();
  if (!r.ok) throw new Error(`${method} ${path}: ${JSON.stringify(json.value)}`);
  return json.value;
}

async function webkit() {
  if (!existsSync(DRIVER) || !MINIBROWSER) { skipped++; console.log('SKIP: WebKitGTK\'s WebDriver or MiniBrowser is not installed (make setup)'); return; }
  const display = ':' + (90 + (process.pid % 500));
  const xvfb = spawn('Xvfb', [display, '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'], { stdio: 'ignore' });
  const port = 20000 + (process.pid % 20000);
  const driver = spawn(DRIVER, [`--port=${port}`], { stdio: 'ignore', env: { ...process.env, DISPLAY: display } });
  const base = `http://127.0.0.1:${port}`;
  let session = null, c = null;
  try {
    for (let i = 0; i < 50 && !session; i++) {
      await new Promise((r) => setTimeout(r, 200));
      try {
        session = (await webdriver(base, 'POST', '/session', { capabilities: { alwaysMatch: {
          'webkitgtk:browserOptions': { binary: MINIBROWSER, args: ['--automation'] } } } })).sessionId;
      } catch (e) {
        if (i === 49) throw e;
      }
    }
    const ready = async () => {
      for (let i = 0; i < 100; i++) {
        const [isReady] = await webdriver(base, 'POST', `/session/${session}/execute/sync`, { script: 'return [window.ready === true]', args: [] }).catch(() => [false]);
        if (isReady) return;
        await new Promise((r) => setTimeout(r, 300));
      }
      throw new Error('the page did not get ready');
    };
    // Files go into an input as their paths, one a line.
    const pick = async (selector, paths) => {
      const element = await webdriver(base, 'POST', `/session/${session}/element`, { using: 'css selector', value: selector });
      await webdriver(base, 'POST', `/session/${session}/element/${Object.values(element)[0]}/value`, { text: paths.join('\n') });
    };

    c = await collector();
    await webdriver(base, 'POST', `/session/${session}/url`, { url: page('digest.html', c) });
    await ready();
    await pick('#pick', [upload]);
    let got = await c.wait(['before', 'reloaded'], 180);
    if (got.reloaded && got.reloaded[0] === false) {
      // WebKitGTK's automation session keeps no File in IndexedDB: the file is picked again.
      await ready();
      await pick('#pick', [upload]);
    }
    judgeDigest('WebKitGTK', await c.wait(['before', 'resume'], 180));
    await c.close();

    // WebKitWebDriver puts a folder into an input as a file of its own: files are picked one by one.
    c = await collector();
    await webdriver(base, 'POST', `/session/${session}/url`, { url: page('zip.html', c) });
    await ready();
    await pick('#files', zipPaths);
    await pick('#vanish', [vanishing, changing]);
    await c.wait(['vanish-picked'], 60);
    changeThem();
    got = await c.wait(['made', 'streamed', 'done', 'vanished'], 90);
    await judgeZip('WebKitGTK', got);
  } finally {
    if (session) await webdriver(base, 'DELETE', `/session/${session}`).catch(() => {});
    driver.kill();
    xvfb.kill();
    if (c) await c.close();
  }
}

try {
  for (const run of process.argv[2] ? [{ firefox, webkit }[process.argv[2]]] : [firefox, webkit]) {
    try {
      await run();
    } catch (e) {
      ok(false, `${run.name}: ${e.message}`);
    }
  }
} finally {
  await server.close();
  rmSync(work, { recursive: true, force: true });
}
console.log(`${passed} passed, ${failed} failed, ${skipped} skipped`);
process.exit(failed > 0 ? 1 : 0);
