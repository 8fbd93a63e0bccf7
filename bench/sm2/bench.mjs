// SM2 verification of a short message ("message digest", an OpenSSL signature, the public key as
// SPKI) in Node: verifySm2() calls per second (key and signature read, Z, SM3, verification) beside `openssl speed sm2` verifications per second run just before and just after (the
// better of the two), as a ratio (higher is better for us). The machine is shared: best of three.
// Then in headless Chromium: verifySm2() beside sm-crypto-v2's doVerifySignature (npm, bundled
// for the page by esbuild at run time) on the same message, signature and key, interleaved, each
// the best of three one-second runs.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { Tarnwick } from '../../web/sdk/tarnwick.js';
import { serve } from '../../web/tools/serve.mjs';
import { launch } from '../../web/tools/chromium.mjs';

const work = mkdtempSync(join(tmpdir(), 'tarnwick-sm2-bench-'));
const openssl = (...args) => execFileSync('openssl', args, { cwd: work, stdio: ['ignore', 'pipe', 'pipe'] }).toString();
openssl('genpkey', '-algorithm', 'EC', '-pkeyopt', 'ec_paramgen_curve:SM2', '-out', 'k.pem');
openssl('pkey', '-in', 'k.pem', '-pubout', '-outform', 'der', '-out', 'pub.der');
writeFileSync(join(work, 'm'), 'message digest');
openssl('pkeyutl', '-sign', '-rawin', '-digest', 'sm3', '-inkey', 'k.pem', '-in', 'm', '-out', 'sig', '-pkeyopt', 'distid:1234567812345678');
const message = new Uint8Array(readFileSync(join(work, 'm')));
const signature = new Uint8Array(readFileSync(join(work, 'sig')));
const publicKey = new Uint8Array(readFileSync(join(work, 'pub.der')));

const opensslRate = () => {
  const out = openssl('speed', '-seconds', '3', 'sm2');
  const line = out.split('\n').find((l) => /SM2/.test(l) && /\d+\.\d+\s+\d+\.\d+\s*$/.test(l));
  return Number(line.trim().split(/\s+/).pop());
};

const t = await Tarnwick.open();
const rate = async (f) => {
  let n = 0;
  const start = performance.now();
  while (performance.now() - start < 3000) {
    if (!(await f())) throw new Error('the signature did not verify');
    n++;
  }
  return n / ((performance.now() - start) / 1000);
};
await t.verifySm2(message, { signature, publicKey });  // warm-up
const reference = [opensslRate()];
let ours = 0;
for (let i = 0; i < 3; i++) {
  ours = Math.max(ours, await rate(async () => (await t.verifySm2(message, { signature, publicKey })).valid));
}
reference.push(opensslRate());
const best = Math.max(...reference);
console.log(`Node verifySm2, short message: ${ours.toFixed(0)}/s; openssl speed sm2 verify: ${best.toFixed(0)}/s; ratio ${(ours / best).toFixed(2)} (target >= 0.4)`);

// A large file: verifySm2() over a path beside digest()'s SM3 with the Z value of the same
// certificate over the same path (the work verifying adds to it is a constant), interleaved.
const SIZE = Number(process.env.SM2_BENCH_MIB || 256) << 20;
const big = join(work, 'big.bin');
execFileSync('bash', ['-c', `openssl enc -aes-128-ctr -pass pass:x -pbkdf2 -nosalt </dev/zero 2>/dev/null | head -c ${SIZE} > '${big}'`]);
openssl('req', '-x509', '-new', '-key', 'k.pem', '-sm3', '-sigopt', 'distid:1234567812345678', '-subj', '/CN=bench', '-days', '2', '-out', 'c.pem');
openssl('pkeyutl', '-sign', '-rawin', '-digest', 'sm3', '-inkey', 'k.pem', '-in', big, '-out', 'big.sig', '-pkeyopt', 'distid:1234567812345678');
const certificate = readFileSync(join(work, 'c.pem'), 'utf8');
const bigSignature = new Uint8Array(readFileSync(join(work, 'big.sig')));
const certBase64 = certificate.replace(/-----[^-]+-----|\s/g, '');
let verifyTime = Infinity, digestTime = Infinity;
for (let i = 0; i < 3; i++) {
  let start = performance.now();
  const { valid } = await t.verifySm2(big, { signature: bigSignature, certificate });
  verifyTime = Math.min(verifyTime, performance.now() - start);
  if (!valid) throw new Error('the large file\'s signature did not verify');
  start = performance.now();
  await t.digest(big, { algorithms: ['sm3'], sm3Cert: certBase64 });
  digestTime = Math.min(digestTime, performance.now() - start);
}
t.close();
const mb = (ms) => (SIZE / 1e6 / (ms / 1000)).toFixed(0);
console.log(`Node verifySm2, ${SIZE >> 20} MiB file: ${mb(verifyTime)} MB/s; digest() SM3 with Z: ${mb(digestTime)} MB/s; ratio ${(digestTime / verifyTime).toFixed(2)} (target: about 1)`);

// ---- Chromium ----
const root = fileURLToPath(new URL('../..', import.meta.url));
execFileSync(join(root, 'web/node_modules/.bin/esbuild'), ['--bundle', '--format=esm', '--log-level=warning',
  join(root, 'web/node_modules/sm-crypto-v2/dist/index.mjs'), `--outfile=${join(root, 'build/bench/sm-crypto-v2.js')}`]);
const server = await serve(0, root);
const browser = await launch();
try {
  const page = await browser.newPage();
  await page.goto(server.url + 'bench/sm2/index.html');
  await page.waitForFunction('window.ready === true');
  const both = await page.evaluate((m, s, k) => window.bench.setup(m, s, k), [...message], [...signature], [...publicKey]);
  if (!both.ours || !both.theirs) throw new Error(`the signature did not verify in the page: ${JSON.stringify(both)}`);
  let mine = 0, theirs = 0;
  for (let i = 0; i < 3; i++) {
    mine = Math.max(mine, await page.evaluate(() => window.bench.ours()));
    theirs = Math.max(theirs, await page.evaluate(() => window.bench.reference()));
  }
  console.log(`Chromium verifySm2, short message: ${mine.toFixed(0)}/s; sm-crypto-v2: ${theirs.toFixed(0)}/s; ratio ${(mine / theirs).toFixed(2)} (target >= 5)`);
} finally {
  await browser.close();
  server.close();
  rmSync(work, { recursive: true, force: true });
}
