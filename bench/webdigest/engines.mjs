// Firefox ESR and WebKitGTK's MiniBrowser for the bench pages, each behind one face: open a page,
// pick files into an input, run a function of the page's and wait for what it resolves to, and
// the resident memory of the browser's processes (all of them: the browser, its content, network
// and web processes, where WebKit keeps what a page reads). Firefox goes through puppeteer-core over
// WebDriver BiDi, WebKitGTK through WebKitWebDriver on a virtual display (as test/browser/others.mjs
// drives them). A browser that is not installed is null.
import { execFileSync, spawn } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createRequire } from 'node:module';
import { treeMiB } from '../../web/tools/chromium.mjs';


const puppeteer = createRequire(new URL('../../web/package.json', import.meta.url))('puppeteer-core');

const FIREFOX = '/usr/bin/firefox-esr';
const DRIVER = '/usr/bin/WebKitWebDriver';
const MINIBROWSER = ['/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser', '/usr/libexec/webkit2gtk-4.1/MiniBrowser'].find(existsSync);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Calls of a page's function are started, then asked after (a job of minutes outlasts one
// WebDriver call): window.__call(name, args) keeps what it settles to in window.__result.
const START = 'window.__result = null; Promise.resolve(window.bench[arguments[0]](...arguments[1]))' +
  '.then((value) => { window.__result = { value }; }, (e) => { window.__result = { error: String(e && e.stack || e) }; }); return 1;';

export async function firefox() {
  if (!existsSync(FIREFOX)) return null;
  const profile = mkdtempSync(join(tmpdir(), 'tarnwick-bench-firefox-'));
  const browser = await puppeteer.launch({ browser: 'firefox', executablePath: FIREFOX, headless: true, protocol: 'webDriverBiDi',
                                           userDataDir: profile, protocolTimeout: 60 * 60 * 1000 });
  const page = await browser.newPage();
  return {
    name: 'Firefox ESR',
    version: (await browser.version()).replace(/^firefox\//i, 'Firefox '),
    async open(url) {
      await page.goto(url);
      await page.waitForFunction('window.ready === true');
    },
    async pick(selector, path) { await (await page.$(selector)).uploadFile(path); },
    async call(name, ...args) {
      return page.evaluate((n, a) => window.bench[n](...a), name, args);
    },
    mib: () => treeMiB(browser.process().pid),
    async close() {
      await browser.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

async function webdriver(base, method, path, body) {
  const r = await fetch(base + path, { method, headers: { 'Content-Type': 'application/json' }, body: body && JSON.stringify(body) });
  const json = await r.json();
  if (!r.ok) throw new Error(`${method} ${path}: ${JSON.stringify(json.value)}`);
  return json.value;
}

export async function webkit() {
  if (!existsSync(DRIVER) || !MINIBROWSER) return null;
  const display = ':' + (90 + (process.pid % 500));
  const xvfb = spawn('Xvfb', [display, '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'], { stdio: 'ignore' });
  const port = 20000 + (process.pid % 20000);
  const driver = spawn(DRIVER, [`--port=${port}`], { stdio: 'ignore', env: { ...process.env, DISPLAY: display } });
  const base = `http://127.0.0.1:${port}`;
  let session = null;
  const close = async () => {
    if (session) await webdriver(base, 'DELETE', `/session/${session}`).catch(() => {});
    driver.kill();
    xvfb.kill();
  };
  try {
    for (let i = 0; i < 50 && !session; i++) {
      await sleep(200);
      try {
        session = (await webdriver(base, 'POST', '/session', { capabilities: { alwaysMatch: {
          'webkitgtk:browserOptions': { binary: MINIBROWSER, args: ['--automation'] } } } })).sessionId;
      } catch (e) {
        if (i === 49) throw e;
      }
    }
  } catch (e) {
    await close();
    throw e;
  }
  const sync = async (script, args = []) => webdriver(base, 'POST', `/session/${session}/execute/sync`, { script, args });
  return {
    name: 'WebKitGTK',
    version: 'WebKitGTK ' + execFileSync('dpkg-query', ['-W', '-f', '${Version}', 'libwebkit2gtk-4.1-0']).toString().replace(/-.*/, ''),
    async open(url) {
      await webdriver(base, 'POST', `/session/${session}/url`, { url });
      for (let i = 0; i < 100; i++) {
        const [ready] = await sync('return [window.ready === true]').catch(() => [false]);
        if (ready) return;
        await sleep(300);
      }
      throw new Error('the page did not get ready');
    },
    async pick(selector, path) {
      const element = await webdriver(base, 'POST', `/session/${session}/element`, { using: 'css selector', value: selector });
      await webdriver(base, 'POST', `/session/${session}/element/${Object.values(element)[0]}/value`, { text: path });
    },
    async call(name, ...args) {
      await sync(START, [name, args]);
      for (;;) {
        await sleep(250);
        const [result] = await sync('return [window.__result]');
        if (result && 'error' in result) throw new Error(result.error);
        if (result) return result.value;
      }
    },
    mib: () => treeMiB(driver.pid),
    close,
  };
}
