// Reading archives in Chromium, Firefox ESR and WebKitGTK (unzip.html): archives of the corpus
// made by tools no one here wrote (test/unzip-corpus.py) picked through a file input, then listed,
// read, tested and extracted into the origin's private file system by the page, which reports to a
// collector here; each result judged against what Python, iconv and Debian's unzip said of it.
// Before that the page extracts an archive of its own making into that file system (written,
// refused over a file there, undone when an entry fails).
//   - Chromium through puppeteer-core;
//   - Firefox through puppeteer-core over WebDriver BiDi, whose session ends once the files are
//     picked (see others.mjs);
//   - WebKitGTK's MiniBrowser through WebKitWebDriver on a virtual display.
// A browser that is not installed is reported as skipped, never as passed.
//   node test/browser/unzip.mjs [chromium|firefox|webkit]
import { execFileSync, spawn } from 'node:child_process';
import { createHash } from 'node:crypto';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { collector } from './collector.mjs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';
import { serve } from '../../tools/serve.mjs';
import { chromiumPath, launch } from '../../tools/chromium.mjs';

const here = fileURLToPath(new URL('.', import.meta.url));
const FIREFOX = '/usr/bin/firefox-esr';
const DRIVER = '/usr/bin/WebKitWebDriver';
const MINIBROWSER = ['/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser', '/usr/libexec/webkit2gtk-4.1/MiniBrowser'].find(existsSync);
const work = mkdtempSync(join(tmpdir(), 'tarnwick-unzip-browsers-'));
let passed = 0, failed = 0, skipped = 0;
const ok = (cond, message) => {
  if (cond === true) passed++;
  else { failed++; console.log('FAIL: ' + message); }
};
// Equal as JSON, objects' keys in any order.
const sorted = (v) => (v && typeof v === 'object' && !Array.isArray(v) ? Object.fromEntries(Object.entries(v).sort().map(([k, x]) => [k, sorted(x)]))
  : Array.isArray(v) ? v.map(sorted) : v);
const same = (a, b) => JSON.stringify(sorted(a)) === JSON.stringify(sorted(b));
const sha = (text) => createHash('sha256').update(text).digest('hex');

const corpus = join(work, 'corpus');
execFileSync('python3', [join(here, '..', 'unzip-corpus.py'), corpus]);
const expected = JSON.parse(readFileSync(join(corpus, 'expected.json'), 'utf8')).archives;
const PICKED = ['gbk-7z.zip', 'gbk-infozip.zip', 'mixed.zip', 'macos.zip', 'unicode-path.zip', 'python-utf8.zip',
  'deflate64.zip', 'streamed.zip', 'sfx-plain.zip', 'bad-crc.zip', 'traversal.zip', 'overlap.zip', 'header-mismatch.zip',
  'impossible-size.zip'];
const paths = PICKED.map((name) => join(corpus, name));

// Extraction on its own into the private file system; false where the browser has none.
function judgeHandles(browser, h) {
  if (h && h.unavailable) {
    skipped++;
    console.log(`SKIP: ${browser}: no private file system to extract into (${h.unavailable})`);
    return false;
  }
  const tree = { a: 'folder', 'a/b': 'folder', 'a/b/c.txt': sha('deep text'), '\u62a5\u544a.txt': sha('\u540d\u79f0'), 'a/d.txt': sha('more') };
  ok(!!h && same(h.written, { files: 3, folders: 2, bytes: 19 }) && same(h.tree, tree),
     `${browser}: extraction into a folder handle writes every entry: ${JSON.stringify(h && [h.written, h.tree])}`);
  ok(!!h && same(h.again, ['TarnwickError', 'exists', 'a/b/c.txt']) && same(h.afterAgain, tree),
     `${browser}: a file there already is refused and what the call wrote before it removed: ${JSON.stringify(h && [h.again, h.afterAgain])}`);
  ok(!!h && same(h.failed, ['TarnwickError', 'bad-crc']) && same(h.afterFailed, {}),
     `${browser}: an entry failing its check leaves nothing: ${JSON.stringify(h && [h.failed, h.afterFailed])}`);
  return true;
}

function judge(browser, got) {
  ok(!got.error, `${browser}: no page error: ${JSON.stringify(got.error)}`);
  const folder = judgeHandles(browser, got.handles && got.handles[0]);
  const archives = got.archives && got.archives[0];
  if (archives === 'no openZip') { skipped++; console.log(`SKIP: ${browser}: openZip is not in this build`); return; }
  if (!archives) { ok(false, `${browser}: the archives' results came back`); return; }
  for (const file of PICKED) {
    const want = expected[file], seen = archives[file];
    if (!seen) { ok(false, `${browser}: ${file} read`); continue; }
    if (want.at === 'open') {
      ok(same(seen.open, ['TarnwickError', want.code]), `${browser}: ${file} refused as ${want.code}: ${JSON.stringify(seen.open)}`);
      continue;
    }
    const entries = want.entries.map((e) => [e.name, e.nameEncoding, e.directory, e.size]);
    ok(same(seen.entries && seen.entries.map((e) => e.slice(0, 4)), entries) && same(seen.iterated, entries.map((e) => e[0])),
       `${browser}: ${file}: names as Windows shows them: ${JSON.stringify(seen.entries)}`);
    const bytes = {};
    for (const e of want.entries) if (!e.directory) bytes[e.name] = e.sha256 !== null ? e.sha256 : ['TarnwickError', want.code];
    ok(same(seen.bytes, bytes), `${browser}: ${file}: each entry's bytes: ${JSON.stringify(seen.bytes)}`);
    const clean = want.code === null || want.at === 'extract';
    ok(!!seen.test && seen.test[0] === clean, `${browser}: ${file}: the test's verdict: ${JSON.stringify(seen.test)}`);
    if (!folder) continue;
    if (clean && want.code === null) {
      const files = {};
      for (const e of want.entries) files[e.name.replace(/\/$/, '')] = e.directory ? 'folder' : e.sha256;
      for (const name of Object.keys(files)) {
        for (let at = name.indexOf('/'); at > 0; at = name.indexOf('/', at + 1)) files[name.slice(0, at)] = 'folder';
      }
      ok(same(seen.tree, files), `${browser}: ${file}: extracted: ${JSON.stringify(seen.tree)}`);
    } else {
      const code = want.at === 'extract' ? 'unsafe-name' : want.code;
      ok(!!seen.extracted && seen.extracted[1] === code && same(seen.tree, {}),
         `${browser}: ${file}: extraction refused as ${code}, nothing left: ${JSON.stringify([seen.extracted, seen.tree])}`);
    }
  }
}

const server = await serve();
const page = (c) => `${server.url}test/browser/unzip.html?auto=${encodeURIComponent(c.url)}`;
const WANT = ['handles', 'archives'];

async function chromium() {
  if (!chromiumPath) { skipped++; console.log('SKIP: Chromium is not installed (make setup)'); return; }
  const c = await collector();
  const browser = await launch();
  try {
    const tab = await browser.newPage();
    await tab.goto(page(c));
    await tab.waitForFunction('window.ready === true');
    await (await tab.$('#archives')).uploadFile(...paths);
    judge('Chromium', await c.wait(WANT, 120));
  } finally {
    await browser.close();
    await c.close();
  }
}

async function firefox() {
  if (!existsSync(FIREFOX)) { skipped++; console.log('SKIP: Firefox ESR is not installed (make setup)'); return; }
  const c = await collector();
  const browser = await puppeteer.launch({
    browser: 'firefox', executablePath: FIREFOX, headless: true, protocol: 'webDriverBiDi',
    userDataDir: mkdtempSync(join(work, 'firefox-profile-')),
  });
  const pid = browser.process() && browser.process().pid;
  try {
    const tab = await browser.newPage();
    await tab.goto(page(c));
    await tab.waitForFunction('window.ready === true');
    await (await tab.$('#archives')).uploadFile(...paths);
    await browser.disconnect();  // the session ends; the page goes on by itself
    judge('Firefox ESR', await c.wait(WANT, 120));
  } finally {
    if (pid) try { process.kill(pid); } catch { /* gone */ }
    await c.close();
  }
}

async function webdriver(base, method, path, body) {
  const r = await fetch(base + path, { method, headers: { 'Content-Type': 'application/json' }, body: body && JSON.stringify(body) });
  const json = await r.json();
  if (!r.ok) throw new Error(`${method} ${path}: ${JSON.stringify(json.value)}`);
  return json.value;
}

async function webkit() {
  if (!existsSync(DRIVER) || !MINIBROWSER) { skipped++; console.log('SKIP: WebKitGTK\'s WebDriver or MiniBrowser is not installed (make setup)'); return; }
  const display = ':' + (90 + ((process.pid + 250) % 500));
  const xvfb = spawn('Xvfb', [display, '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'], { stdio: 'ignore' });
  const port = 20000 + ((process.pid + 7000) % 20000);
  const driver = spawn(DRIVER, [`--port=${port}`], { stdio: 'ignore', env: { ...process.env, DISPLAY: display } });
  const base = `http://127.0.0.1:${port}`;
  let session = null;
  const c = await collector();
  try {
    for (let i = 0; i < 50 && !session; i++) {
      await new Promise((r) => setTimeout(r, 200));
      try {
        session = (await webdriver(base, 'POST', '/session', { capabilities: { alwaysMatch: {
          // WebKitGTK ships the origin's private file system (and its writable streams) switched off.
          'webkitgtk:browserOptions': { binary: MINIBROWSER, args: ['--automation', '--features=+StorageAPI,+FileSystem,+FileSystemWritableStream'] } } } })).sessionId;
      } catch (e) {
        if (i === 49) throw e;
      }
    }
    await webdriver(base, 'POST', `/session/${session}/url`, { url: page(c) });
    for (let i = 0; ; i++) {
      const [isReady] = await webdriver(base, 'POST', `/session/${session}/execute/sync`, { script: 'return [window.ready === true]', args: [] }).catch(() => [false]);
      if (isReady) break;
      if (i === 100) throw new Error('the page did not get ready');
      await new Promise((r) => setTimeout(r, 300));
    }
    // Files go into an input as their paths, one a line.
    const element = await webdriver(base, 'POST', `/session/${session}/element`, { using: 'css selector', value: '#archives' });
    await webdriver(base, 'POST', `/session/${session}/element/${Object.values(element)[0]}/value`, { text: paths.join('\n') });
    judge('WebKitGTK', await c.wait(WANT, 120));
  } finally {
    if (session) await webdriver(base, 'DELETE', `/session/${session}`).catch(() => {});
    driver.kill();
    xvfb.kill();
    await c.close();
  }
}

try {
  const engines = { chromium, firefox, webkit };
  for (const run of process.argv[2] ? [engines[process.argv[2]]] : Object.values(engines)) {
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
