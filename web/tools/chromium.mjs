// Debian's Chromium, headless, through puppeteer-core: what the browser suite, the demo's
// screenshot test and the benchmarks start.
import puppeteer from 'puppeteer-core';
import { existsSync, readFileSync, readdirSync } from 'node:fs';

export const chromiumPath = ['/usr/bin/chromium', '/usr/lib/chromium/chromium'].find(existsSync);

// `options` go to puppeteer as they are (protocolTimeout, for one).
export async function launch(extraArgs = [], options = {}) {
  return puppeteer.launch({
    executablePath: chromiumPath,
    headless: true,
    // Large uploads fail with the network domain on ("Too large write data is pending").
    networkEnabled: false,
    args: ['--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage',
           '--js-flags=--expose-gc', '--enable-precise-memory-info', ...extraArgs],
    ...options,
  });
}

// Resident memory of the browser's processes, in MiB: all of them, or the renderers only (the
// page and its dedicated workers, which live in the renderer) when `renderersOnly` is set. With
// `browser` (what launch() gave), only that browser's processes are counted, not those of another
// Chromium running on the machine at the same time.
export function browserMiB({ renderersOnly = false, browser = null } = {}) {
  const pids = readdirSync('/proc').filter((d) => /^\d+$/.test(d));
  const ours = browser ? descendants(browser.process().pid, pids) : null;
  let kib = 0;
  for (const pid of pids) {
    try {
      if (ours && !ours.has(pid)) continue;
      const cmd = readFileSync(`/proc/${pid}/cmdline`, 'utf8');
      if (!cmd.includes('chromium') || (renderersOnly && !cmd.includes('--type=renderer'))) continue;
      kib += Number(/VmRSS:\s+(\d+)/.exec(readFileSync(`/proc/${pid}/status`, 'utf8'))[1]);
    } catch { /* gone, or a kernel thread */ }
  }
  return kib / 1024;
}

// The process `root` and all below it, as /proc names (`pids`: the names of /proc's processes).
export function descendants(root, pids) {
  const children = new Map();
  for (const pid of pids) {
    try {
      const stat = readFileSync(`/proc/${pid}/stat`, 'utf8');
      const parent = stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1];
      if (!children.has(parent)) children.set(parent, []);
      children.get(parent).push(pid);
    } catch { /* gone */ }
  }
  const found = [String(root)];
  for (let i = 0; i < found.length; i++) found.push(...(children.get(found[i]) || []));
  return new Set(found);
}

// The summed resident memory (MiB) of the process `root` and all below it, whatever the browser.
export function treeMiB(root) {
  let kib = 0;
  for (const pid of descendants(root, readdirSync('/proc').filter((d) => /^\d+$/.test(d)))) {
    try {
      kib += Number(/VmRSS:\s+(\d+)/.exec(readFileSync(`/proc/${pid}/status`, 'utf8'))[1]);
    } catch { /* gone, or a kernel thread */ }
  }
  return kib / 1024;
}
