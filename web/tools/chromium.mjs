// Debian's Chromium, headless, through puppeteer-core: what the browser suite, the demo's
// screenshot test and the benchmarks start.
import puppeteer from 'puppeteer-core';
import { existsSync } from 'node:fs';

export const chromiumPath = ['/usr/bin/chromium', '/usr/lib/chromium/chromium'].find(existsSync);

export async function launch(extraArgs = []) {
  return puppeteer.launch({
    executablePath: chromiumPath,
    headless: true,
    // Large uploads fail with the network domain on ("Too large write data is pending").
    networkEnabled: false,
    args: ['--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage',
           '--js-flags=--expose-gc', '--enable-precise-memory-info', ...extraArgs],
  });
}
