// SM2 verification of a short message ("message digest", an OpenSSL signature, the public key as
// SPKI) in Node: verifySm2() calls per second (key and signature read, Z, SM3, verification) beside `openssl speed sm2` verifications per second run just before and just after (the
// better of the two), as a ratio (higher is better for us). The machine is shared: best of three.
// The Chromium row beside sm-crypto-v2 needs that package in web/package.json's devDependencies.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { Tarnwick } from '../../web/sdk/tarnwick.js';

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
t.close();
rmSync(work, { recursive: true, force: true });
const best = Math.max(...reference);
console.log(`Node verifySm2, short message: ${ours.toFixed(0)}/s; openssl speed sm2 verify: ${best.toFixed(0)}/s; ratio ${(ours / best).toFixed(2)} (target >= 0.4)`);
