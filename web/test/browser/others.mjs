// The digest page (digest.html) in Firefox ESR and WebKitGTK: a picked file, every algorithm whole
// and per chunk against the references, a cancel, and a job resumed after a reload. The page drives
// itself once the file is picked (?auto) and reports to a collector here:
//   - Firefox through puppeteer-core over WebDriver BiDi, whose session ends once the file is
//     picked (with a session open, Firefox now and then stalls a worker's second new Worker());
//   - WebKitGTK's MiniBrowser through WebKitWebDriver, on a virtual display (it has no headless
//     mode here).
// A browser that is not installed is reported as skipped, never as passed.
//   node test/browser/others.mjs
import { execFileSync, spawn } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';
import { serve } from '../../tools/serve.mjs';

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
writeFileSync(upload, Buffer.from(Array.from({ length: (6 << 20) + 3 }, (_, i) => (i * 7919 + (i >> 11)) & 255)));
const want = JSON.parse(execFileSync('python3', [join(here, '..', 'digests.py'), String(1 << 20), upload]).toString());

// What the page reports, by name; waits for `names` (or an error) within `seconds`.
function collector() {
  const got = {};
  let wake = null;
  const server = createServer((request, response) => {
    let body = '';
    request.on('data', (d) => { body += d; });
    request.on('end', () => {
      try {
        const { what, value } = JSON.parse(body);
        (got[what] = got[what] || []).push(value);
        if (process.env.TARNWICK_OTHERS_VERBOSE) console.log('page:', what, JSON.stringify(value).slice(0, 120));
      } catch { /* not ours */ }
      response.writeHead(204, { 'Access-Control-Allow-Origin': '*' }).end();
      if (wake) wake();
    });
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({
    url: `http://127.0.0.1:${server.address().port}/`,
    async wait(names, seconds) {
      const until = Date.now() + seconds * 1000;
      while (!names.every((n) => got[n]) && !got.error && Date.now() < until) {
        await new Promise((r) => { wake = r; setTimeout(r, 500); });
      }
      return got;
    },
    close: () => new Promise((r) => { server.closeAllConnections(); server.close(r); }),
  })));
}

function judge(browser, got) {
  ok(!got.error, `${browser}: no page error: ${JSON.stringify(got.error)}`);
  const before = got.before && got.before[0];
  const resume = got.resume && got.resume[0];
  ok(!!before && JSON.stringify(before.whole.result) === JSON.stringify(want), `${browser}: digest of a picked file equals the references: ${String(JSON.stringify(before && before.whole.result)).slice(0, 200)}`);
  ok(!!before && JSON.stringify(before.whole.seen) === JSON.stringify(want.chunks), `${browser}: onChunk hands over every chunk in order`);
  ok(!!before && JSON.stringify(before.cancelled) === '["AbortError","995dc9bbdf1939fa"]', `${browser}: a cancel rejects with AbortError, the next job is right: ${JSON.stringify(before && before.cancelled)}`);
  ok(!!resume && JSON.stringify(resume.result) === JSON.stringify(want), `${browser}: resumed after a reload, the same results: ${String(JSON.stringify(resume && resume.result)).slice(0, 200)}`);
  ok(!!resume && JSON.stringify(resume.seen) === '[2,3,4,5,6]', `${browser}: after the reload only the later chunks: ${JSON.stringify(resume && resume.seen)}`);
}

const server = await serve();
const page = (c) => `${server.url}test/browser/digest.html?auto=${encodeURIComponent(c.url)}`;

async function firefox() {
  if (!existsSync(FIREFOX)) { skipped++; console.log('SKIP: Firefox ESR is not installed (make setup)'); return; }
  const c = await collector();
  const browser = await puppeteer.launch({
    browser: 'firefox', executablePath: FIREFOX, headless: true, protocol: 'webDriverBiDi',
    userDataDir: join(work, 'firefox-profile'),
  });
  const pid = browser.process() && browser.process().pid;
  try {
    const tab = await browser.newPage();
    await tab.goto(page(c));
    await tab.waitForFunction('window.ready === true');
    await (await tab.$('#pick')).uploadFile(upload);
    await browser.disconnect();  // the session ends; the page goes on by itself
    judge('Firefox ESR', await c.wait(['before', 'resume'], 180));
  } finally {
    if (pid) try { process.kill(pid); } catch { /* gone */ }
    await c.close();
  }
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
  const c = await collector();
  const display = ':' + (90 + (process.pid % 500));
  const xvfb = spawn('Xvfb', [display, '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'], { stdio: 'ignore' });
  const port = 20000 + (process.pid % 20000);
  const driver = spawn(DRIVER, [`--port=${port}`], { stdio: 'ignore', env: { ...process.env, DISPLAY: display } });
  const base = `http://127.0.0.1:${port}`;
  let session = null;
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
    await webdriver(base, 'POST', `/session/${session}/url`, { url: page(c) });
    const ready = async () => {
      for (let i = 0; i < 100; i++) {
        const [isReady] = await webdriver(base, 'POST', `/session/${session}/execute/sync`, { script: 'return [window.ready === true]', args: [] }).catch(() => [false]);
        if (isReady) return;
        await new Promise((r) => setTimeout(r, 300));
      }
      throw new Error('the page did not get ready');
    };
    await ready();
    const element = await webdriver(base, 'POST', `/session/${session}/element`, { using: 'css selector', value: '#pick' });
    await webdriver(base, 'POST', `/session/${session}/element/${Object.values(element)[0]}/value`, { text: upload });
    const got = await c.wait(['before', 'reloaded'], 180);
    if (got.reloaded && got.reloaded[0] === false) {
      // WebKitGTK's automation session keeps no File in IndexedDB: the file is picked again.
      await ready();
      const again = await webdriver(base, 'POST', `/session/${session}/element`, { using: 'css selector', value: '#pick' });
      await webdriver(base, 'POST', `/session/${session}/element/${Object.values(again)[0]}/value`, { text: upload });
    }
    judge('WebKitGTK', await c.wait(['before', 'resume'], 180));
  } finally {
    if (session) await webdriver(base, 'DELETE', `/session/${session}`).catch(() => {});
    driver.kill();
    xvfb.kill();
    await c.close();
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
