// What a page ships, and when: a page importing the SDK and a page doing the same with hash-wasm
// and fflate, each built by Vite 8 with its defaults, served and run in Debian's Chromium one step
// at a time. Every file the server hands out (the page, its chunks, workers, modules) is counted
// at the step that first asked for it: bytes as built, and gzip -9 of them.
//   node bench/weight/weight.mjs            the table (markdown) on stdout
// Steps: the page loaded; open(); the methods (SHA-256, SM3, a one-file archive of a small file);
// digest() (md5, sha256, sm3, crc32 of 4 MiB and its 1 MiB parts); zip() of a few small files;
// zip() with an entry of 20 MiB (the deflate workers); verifySm2 (a signature over 4 MiB).
import { execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, statSync, symlinkSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join, normalize } from 'node:path';
import { fileURLToPath } from 'node:url';
import { gzipSync } from 'node:zlib';
import { launch } from '../../web/tools/chromium.mjs';

const web = fileURLToPath(new URL('../../web/', import.meta.url));
const work = mkdtempSync(join(tmpdir(), 'tarnwick-weight-'));

// Steps shared by both pages: each is window.steps[name](input) in the built page.
const STEPS = ['load', 'open', 'methods', 'digest', 'zip', 'zip of a large file', 'verifySm2'];

const sdkPage = `import { Tarnwick } from 'tarnwick';
let t;
window.steps = {
  open: async () => { t = await Tarnwick.open(); return 'open'; },
  methods: async ({ data }) => [await t.GetMemFileSHA256(data), await t.GetMemFileSM3(data, 0, ''),
                                (await t.CreateZipFromMemFile(data.subarray(0, 1000), 'a.txt')).size],
  digest: async ({ data }) => {
    const r = await t.digest(new Blob([data]), { algorithms: ['md5', 'sha256', 'sm3', 'crc32'], chunkSize: 1 << 20 });
    return [r.md5, r.sha256, r.sm3, r.crc32];
  },
  zip: async ({ data }) => (await t.zip([{ name: 'a.txt', source: data.subarray(0, 5000) }, { name: 'b.bin', source: data.subarray(0, 70000) }])).size,
  'zip of a large file': async ({ big }) => (await t.zip([{ name: 'big.txt', source: big }])).size,
  verifySm2: async ({ data, signature, certificate }) => (await t.verifySm2(new Blob([data]), { signature, certificate })).valid,
};
window.ready = true;
`;

const referencePage = `import { createMD5, createSHA256, createSM3, createCRC32 } from 'hash-wasm';
import { Zip, ZipDeflate } from 'fflate';
const hashers = () => Promise.all([createMD5(), createSHA256(), createSM3(), createCRC32()]);
async function digests(data, chunkSize) {
  const whole = await hashers();
  for (const h of whole) h.init();
  const chunks = [];
  for (let at = 0; at < data.length; at += chunkSize) {
    const part = data.subarray(at, at + chunkSize);
    const each = await hashers();
    for (const h of each) { h.init(); h.update(part); }
    chunks.push(each.map((h) => h.digest()));
    for (const h of whole) h.update(part);
  }
  return whole.map((h) => h.digest());
}
function zip(entries) {
  return new Promise((resolve, reject) => {
    const parts = [];
    const z = new Zip((err, chunk, final) => {
      if (err) return reject(err);
      parts.push(chunk);
      if (final) resolve(new Blob(parts).size);
    });
    for (const [name, data] of entries) {
      const entry = new ZipDeflate(name, { level: 6 });
      z.add(entry);
      entry.push(data, true);
    }
    z.end();
  });
}
window.steps = {
  open: async () => 'open',
  methods: async ({ data }) => { const [, sha256, sm3] = await digests(data, data.length); return [sha256, sm3, await zip([['a.txt', data.subarray(0, 1000)]])]; },
  digest: async ({ data }) => digests(data, 1 << 20),
  zip: async ({ data }) => zip([['a.txt', data.subarray(0, 5000)], ['b.bin', data.subarray(0, 70000)]]),
  'zip of a large file': async ({ big }) => zip([['big.txt', big]]),
  verifySm2: async () => 'none',
};
window.ready = true;
`;

// The inputs each step takes, made in the page (a signature made here by OpenSSL over the same bytes).
function pattern(size) {
  const out = Buffer.alloc(size);
  let x = 1;
  for (let i = 0; i < size; i++) { x = (x * 1103515245 + 12345) >>> 0; out[i] = x >>> 24; }
  return out;
}
const data = pattern(4 << 20);
writeFileSync(join(work, 'data.bin'), data);
const openssl = (...args) => execFileSync('openssl', args, { cwd: work, stdio: ['ignore', 'pipe', 'pipe'] });
openssl('genpkey', '-algorithm', 'EC', '-pkeyopt', 'ec_paramgen_curve:SM2', '-out', 'signer.key');
openssl('req', '-x509', '-new', '-key', 'signer.key', '-sm3', '-sigopt', 'distid:1234567812345678', '-subj', '/CN=signer', '-days', '2', '-out', 'signer.pem');
openssl('pkeyutl', '-sign', '-rawin', '-digest', 'sm3', '-inkey', 'signer.key', '-in', 'data.bin', '-out', 'data.sig', '-pkeyopt', 'distid:1234567812345678');
const inputs = {
  data: data.toString('base64'),
  signature: readFileSync(join(work, 'data.sig')).toString('base64'),
  certificate: readFileSync(join(work, 'signer.pem'), 'utf8'),
};

function build(name, page) {
  const app = join(work, name);
  mkdirSync(app);
  symlinkSync(join(web, 'node_modules'), join(app, 'node_modules'));
  writeFileSync(join(app, 'main.js'), page);
  writeFileSync(join(app, 'index.html'), '<!doctype html><html><head><meta charset="utf-8"></head><body><script type="module" src="./main.js"></script></body></html>');
  // The SDK by its package name, from this tree.
  writeFileSync(join(app, 'vite.config.mjs'), `export default { resolve: { alias: { tarnwick: ${JSON.stringify(join(web, 'sdk', 'tarnwick.js'))} } }, logLevel: 'warn' };`);
  execFileSync(process.execPath, [join(web, 'node_modules', 'vite', 'bin', 'vite.js'), 'build', '--outDir', 'dist'], { cwd: app, stdio: ['ignore', 'ignore', 'inherit'] });
  return join(app, 'dist');
}

// A static server that notes every file it hands out.
function serveLogged(root) {
  const served = [];
  const server = createServer((request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://127.0.0.1').pathname);
    const file = normalize(join(root, path === '/' ? 'index.html' : path));
    try {
      const bytes = readFileSync(file);
      served.push(file.slice(root.length + 1));
      const type = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' }[extname(file)] || 'application/octet-stream';
      response.writeHead(200, { 'Content-Type': type, 'Cache-Control': 'no-store' }).end(bytes);
    } catch {
      response.writeHead(404).end();
    }
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({
    url: `http://127.0.0.1:${server.address().port}/`, served,
    close: () => new Promise((done) => { server.closeAllConnections(); server.close(done); }),
  })));
}

async function measure(browser, dist) {
  const server = await serveLogged(dist);
  const tab = await browser.newPage();
  const errors = [];
  tab.on('pageerror', (e) => errors.push(e.message));
  const rows = [];
  let seen = 0;
  const note = (step) => {
    const files = [...new Set(server.served.slice(seen))];
    seen = server.served.length;
    const size = (f) => statSync(join(dist, f)).size;
    const gz = (f) => gzipSync(readFileSync(join(dist, f)), { level: 9 }).length;
    rows.push({ step, files, bytes: files.reduce((n, f) => n + size(f), 0), gzip: files.reduce((n, f) => n + gz(f), 0) });
  };
  try {
    await tab.goto(server.url);
    await tab.waitForFunction('window.ready === true');
    note('load');
    await tab.evaluate((i) => {
      const bytes = Uint8Array.from(atob(i.data), (c) => c.charCodeAt(0));
      const lines = [];
      for (let n = 0, k = 0; n < 20 << 20; k++) { lines.push(`line ${k} of a large file\n`); n += lines[k].length; }
      window.input = { data: bytes, big: new TextEncoder().encode(lines.join('')), signature: i.signature, certificate: i.certificate };
    }, inputs);
    for (const step of STEPS.slice(1)) {
      const r = await tab.evaluate((s) => window.steps[s](window.input).then((v) => JSON.stringify(v)), step);
      if (step === 'verifySm2' && !r.includes('none') && r !== 'true') errors.push('verifySm2 gave ' + r);
      // Workers fetch on their own time: a pause before the step's files are counted.
      await new Promise((resolve) => setTimeout(resolve, 500));
      note(step);
    }
  } finally {
    await tab.close();
    await server.close();
  }
  if (errors.length) throw new Error(errors.join('; '));
  return rows;
}

const kb = (n) => n.toLocaleString('en-US');
try {
  const dists = { sdk: build('sdk', sdkPage), reference: build('reference', referencePage) };
  const browser = await launch();
  let results;
  try {
    results = { sdk: await measure(browser, dists.sdk), reference: await measure(browser, dists.reference) };
  } finally {
    await browser.close();
  }
  console.log('| step | tarnwick: files fetched | bytes | gzip | hash-wasm + fflate: bytes | gzip |');
  console.log('|---|---|---|---|---|---|');
  const total = { sdk: [0, 0], reference: [0, 0] };
  for (const [i, step] of STEPS.entries()) {
    const s = results.sdk[i], r = results.reference[i];
    for (const [k, row] of [['sdk', s], ['reference', r]]) { total[k][0] += row.bytes; total[k][1] += row.gzip; }
    const names = s.files.map((f) => f.replace(/^assets\//, '').replace(/-[\w-]{8}\./, '.')).join(', ') || '—';
    console.log(`| ${step} | ${names} | ${kb(s.bytes)} | ${kb(s.gzip)} | ${kb(r.bytes)} | ${kb(r.gzip)} |`);
  }
  console.log(`| in all | | ${kb(total.sdk[0])} | ${kb(total.sdk[1])} | ${kb(total.reference[0])} | ${kb(total.reference[1])} |`);
  console.log(`\nratios (tarnwick / hash-wasm + fflate), in all: bytes ${(total.sdk[0] / total.reference[0]).toFixed(2)}, gzip ${(total.sdk[1] / total.reference[1]).toFixed(2)}`);
} finally {
  rmSync(work, { recursive: true, force: true });
}
