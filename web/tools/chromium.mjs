// Debian's Chromium, headless, through puppeteer-core: what the browser suite, the demo's
// screenshot test and the benchmarks start.
import puppeteer from 'puppeteer-core';
import { existsSync, readFileSync, readdirSync } from 'node:fs';

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

// Resident memory of the browser's processes, in MiB: all of them, or the renderers only (the
// page and its workers) when `renderersOnly` is set.
export function browserMiB({ renderersOnly = false } = {}) {
  let kib = 0;
  for (const pid of readdirSync('/proc').filter((d) => /^\d+$/.test(d))) {
    try {
      const cmd = readFileSync(`/proc/${pid}/cmdline`, 'utf8');
      if (!cmd.includes('chromium') || (renderersOnly && !cmd.includes('--type=renderer'))) continue;
      kib += Number(/VmRSS:\s+(\d+)/.exec(readFileSync(`/proc/${pid}/status`, 'utf8'))[1]);
    } catch { /* gone, or a kernel thread */ }
  }
  return kib / 1024;
}
