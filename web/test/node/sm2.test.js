// verifySm2(source, options) and `tarnwick verify` in Node, against signatures, keys and
// certificates OpenSSL made: every source digest() takes, DER and raw signatures as bytes, hex
// and base64, keys as certificates and as public keys, a digest already made, damaged signatures
// and a wrong id, refusals with their codes, one level of trust, and the command's exit statuses.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { Tarnwick } from '../../sdk/tarnwick.js';

const work = mkdtempSync(join(tmpdir(), 'tarnwick-sm2-'));
process.on('exit', () => rmSync(work, { recursive: true, force: true }));
const at = (name) => join(work, name);
const openssl = (...args) => execFileSync('openssl', args, { cwd: work, stdio: ['ignore', 'pipe', 'pipe'] });
const command = fileURLToPath(new URL('../../bin/tarnwick.js', import.meta.url));

function pattern(size, seed) {
  const out = new Uint8Array(size);
  let x = seed;
  for (let i = 0; i < size; i++) { x = (x * 1103515245 + 12345) >>> 0; out[i] = x >>> 24; }
  return out;
}

// A CA, a signer's certificate from it, another key, a P-256 key; a file of each size signed with
// the signer's key under the default id and under another.
openssl('genpkey', '-algorithm', 'EC', '-pkeyopt', 'ec_paramgen_curve:SM2', '-out', 'ca.key');
openssl('req', '-x509', '-new', '-key', 'ca.key', '-sm3', '-sigopt', 'distid:1234567812345678', '-subj', '/CN=Test CA', '-days', '30', '-out', 'ca.pem');
openssl('genpkey', '-algorithm', 'EC', '-pkeyopt', 'ec_paramgen_curve:SM2', '-out', 'signer.key');
openssl('req', '-new', '-key', 'signer.key', '-sm3', '-sigopt', 'distid:1234567812345678', '-subj', '/C=CN/O=Tarnwick Test/CN=signer', '-out', 'signer.csr');
openssl('x509', '-req', '-in', 'signer.csr', '-CA', 'ca.pem', '-CAkey', 'ca.key', '-sm3', '-sigopt', 'distid:1234567812345678',
  '-vfyopt', 'distid:1234567812345678', '-set_serial', '0x0123456789', '-days', '10', '-out', 'signer.pem');
openssl('x509', '-in', 'signer.pem', '-outform', 'der', '-out', 'signer.der');
openssl('pkey', '-in', 'signer.key', '-pubout', '-out', 'signer.pub.pem');
openssl('pkey', '-in', 'signer.key', '-pubout', '-outform', 'der', '-out', 'signer.pub.der');
openssl('genpkey', '-algorithm', 'EC', '-pkeyopt', 'ec_paramgen_curve:SM2', '-out', 'other.key');
openssl('req', '-x509', '-new', '-key', 'other.key', '-sm3', '-sigopt', 'distid:1234567812345678', '-subj', '/CN=Other CA', '-days', '30', '-out', 'other.pem');
openssl('genpkey', '-algorithm', 'EC', '-pkeyopt', 'ec_paramgen_curve:prime256v1', '-out', 'p256.key');
openssl('pkey', '-in', 'p256.key', '-pubout', '-out', 'p256.pub.pem');

const SIZES = [0, 1, 64, 100000, (3 << 20) + 7];
const files = SIZES.map((size, i) => {
  const name = `data-${i}`;
  writeFileSync(at(name), pattern(size, i + 1));
  openssl('pkeyutl', '-sign', '-rawin', '-digest', 'sm3', '-inkey', 'signer.key', '-in', name, '-out', `${name}.sig`, '-pkeyopt', 'distid:1234567812345678');
  openssl('pkeyutl', '-sign', '-rawin', '-digest', 'sm3', '-inkey', 'signer.key', '-in', name, '-out', `${name}.alice.sig`, '-pkeyopt', 'distid:ALICE123@YAHOO.COM');
  return { path: at(name), data: readFileSync(at(name)), sig: new Uint8Array(readFileSync(at(`${name}.sig`))), alice: new Uint8Array(readFileSync(at(`${name}.alice.sig`))) };
});
const certPem = readFileSync(at('signer.pem'), 'utf8');
const certDer = new Uint8Array(readFileSync(at('signer.der')));
const pubPem = readFileSync(at('signer.pub.pem'), 'utf8');
const pubDer = new Uint8Array(readFileSync(at('signer.pub.der')));
const point = pubDer.subarray(pubDer.length - 65);
const hex = (b) => Buffer.from(b).toString('hex');
const b64 = (b) => Buffer.from(b).toString('base64');

// r || s from a DER signature, as the test reads it (two INTEGERs, short lengths).
function raw(der) {
  const out = new Uint8Array(64);
  let i = 2;
  for (const half of [0, 32]) {
    const n = der[i + 1];
    const v = der.subarray(i + 2, i + 2 + n);
    const trimmed = v[0] === 0 ? v.subarray(1) : v;
    out.set(trimmed, half + 32 - trimmed.length);
    i += 2 + n;
  }
  return out;
}

function streamOf(data) {
  let pos = 0;
  return new ReadableStream({
    pull(c) {
      if (pos >= data.length) return c.close();
      c.enqueue(data.slice(pos, pos + 70000));
      pos += 70000;
    },
  });
}

const SOURCES = {
  path: (f) => f.path,
  bytes: (f) => new Uint8Array(f.data),
  blob: (f) => new Blob([f.data]),
  stream: (f) => streamOf(f.data),
};

test('OpenSSL signatures over every source, size, signature form and key form hold', async () => {
  const t = await Tarnwick.open();
  try {
    const keys = { certPem, certDer, certBase64: b64(certDer), pubPem, pubDer, pointHex: hex(point), pointBase64: b64(point) };
    for (const f of files) {
      const sigs = { der: f.sig, derHex: hex(f.sig), derBase64: b64(f.sig), raw: raw(f.sig), rawHex: hex(raw(f.sig)).toUpperCase() };
      for (const [kind, make] of Object.entries(SOURCES)) {
        const got = await t.verifySm2(make(f), { signature: f.sig, certificate: certPem });
        assert.equal(got.valid, true, `${kind}, ${f.data.length} bytes`);
        assert.equal(got.signer.subject, 'C=CN, O=Tarnwick Test, CN=signer');
        assert.equal(got.signer.serial, '0123456789');
        assert.ok(got.signer.notBefore <= new Date() && got.signer.notAfter > new Date());
      }
      for (const [form, signature] of Object.entries(sigs)) {
        for (const [keyForm, key] of Object.entries(keys)) {
          const option = keyForm.startsWith('cert') ? { certificate: key } : { publicKey: key };
          const got = await t.verifySm2(f.path, { signature, ...option });
          assert.equal(got.valid, true, `${f.data.length} bytes, ${form} signature, ${keyForm}`);
          assert.equal('signer' in got, keyForm.startsWith('cert'));
        }
      }
      // Another id: its own signature holds with it, the default one's does not.
      assert.equal((await t.verifySm2(f.path, { signature: f.alice, publicKey: pubPem, userId: 'ALICE123@YAHOO.COM' })).valid, true);
      assert.equal((await t.verifySm2(f.path, { signature: f.alice, publicKey: pubPem })).valid, false);
      assert.equal((await t.verifySm2(f.path, { signature: f.sig, publicKey: pubPem, userId: 'ALICE123@YAHOO.COM' })).valid, false);
    }
  } finally {
    t.close();
  }
});

test('a digest already made: GetLocalFileSM3 with the certificate, and digest() with sm3Cert', async () => {
  const t = await Tarnwick.open();
  try {
    const f = files[3];
    const control = await t.GetLocalFileSM3(f.path, 1, b64(certDer));
    assert.match(control, /^[0-9A-Fa-f]{64}$/);
    const made = await t.digest(f.path, { algorithms: ['sm3'], sm3Cert: b64(certDer), encoding: 'base64' });
    for (const digest of [control, made.digests.sm3, Buffer.from(control, 'hex')]) {
      assert.equal((await t.verifySm2(null, { digest, signature: f.sig, certificate: certDer })).valid, true);
    }
    const wrong = Buffer.from(control, 'hex');
    wrong[31] ^= 1;
    assert.equal((await t.verifySm2(undefined, { digest: wrong, signature: f.sig, publicKey: point })).valid, false);
  } finally {
    t.close();
  }
});

test('damaged signatures, messages and keys do not hold; malformed ones reject with their codes', async () => {
  const t = await Tarnwick.open();
  try {
    const f = files[2];
    const rs = raw(f.sig);
    for (const bit of [0, 100, 255, 256, 300, 511]) {
      const bent = rs.slice();
      bent[bit >> 3] ^= 1 << (bit & 7);
      assert.equal((await t.verifySm2(f.path, { signature: bent, publicKey: point })).valid, false, `bit ${bit}`);
    }
    const changed = new Uint8Array(f.data);
    changed[10] ^= 0x80;
    assert.equal((await t.verifySm2(changed, { signature: f.sig, publicKey: point })).valid, false);
    assert.equal((await t.verifySm2(f.path, { signature: f.sig, certificate: readFileSync(at('other.pem'), 'utf8') })).valid, false);
    // r = 0, s = n: well formed, out of range: does not hold.
    const n = Buffer.from('FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123', 'hex');
    const zeroR = new Uint8Array(64);
    zeroR.set(rs.subarray(32), 32);
    assert.equal((await t.verifySm2(f.path, { signature: zeroR, publicKey: point })).valid, false);
    const nS = rs.slice();
    nS.set(n, 32);
    assert.equal((await t.verifySm2(f.path, { signature: nS, publicKey: point })).valid, false);

    const refused = async (options, code, source = f.path) => {
      await assert.rejects(t.verifySm2(source, options), (e) => e.name === 'TarnwickError' && e.code === code && e.method === 'verifySm2',
        `${code}: ${JSON.stringify(Object.keys(options))}`);
    };
    const trailing = new Uint8Array([...f.sig, 0]);
    const longForm = new Uint8Array([f.sig[0], 0x81, ...f.sig.subarray(1)]);
    for (const signature of [trailing, longForm, rs.subarray(0, 63), 'not a signature!', '']) {
      await refused({ signature, publicKey: point }, 'bad-signature');
    }
    const offCurve = point.slice();
    offCurve[64] ^= 1;
    const compressed = new Uint8Array([2 | (point[64] & 1), ...point.subarray(1, 33)]);
    for (const publicKey of [offCurve, hex(offCurve), compressed, readFileSync(at('p256.pub.pem'), 'utf8'), pubDer.subarray(0, pubDer.length - 1)]) {
      await refused({ signature: f.sig, publicKey }, 'bad-key');
    }
    await refused({ signature: f.sig, certificate: certDer.subarray(0, 200) }, 'bad-certificate');
    await refused({ signature: f.sig, certificate: 'bm90IGEgY2VydGlmaWNhdGU=' }, 'bad-certificate');
    // A bad signature is refused before the source is read: a missing file is not reported.
    await refused({ signature: trailing, publicKey: point }, 'bad-signature', at('no-such-file'));
    await refused({ signature: f.sig, publicKey: point }, 'not-found', at('no-such-file'));
  } finally {
    t.close();
  }
});

// The curve in BigInt, affine, for signatures made from public values: pick r and a small s, take
// (x1, y1) = [s]G + [t]P and the digest e = r - x1 mod n, for which (r, s) holds. The same with s + n
// (below 2^256) would hold too were s not checked against n; r = 0 and r + s = n likewise.
const P = 0xFFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFFn;
const N = 0xFFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123n;
const G = [0x32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7n, 0xBC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0n];
const mod = (a, m = P) => ((a % m) + m) % m;
const inv = (a) => { let r = 1n, b = mod(a), e = P - 2n; while (e) { if (e & 1n) r = r * b % P; b = b * b % P; e >>= 1n; } return r; };
function add(p, q) {
  if (!p) return q;
  if (!q) return p;
  if (p[0] === q[0] && mod(p[1] + q[1]) === 0n) return null;
  const l = p[0] === q[0] ? mod(3n * p[0] * p[0] - 3n) * inv(2n * p[1]) % P : mod(q[1] - p[1]) * inv(q[0] - p[0]) % P;
  const x = mod(l * l - p[0] - q[0]);
  return [x, mod(l * (p[0] - x) - p[1])];
}
function mul(k, p) {
  let r = null;
  for (let b = BigInt(k.toString(2).length) - 1n; b >= 0n; b--) { r = add(r, r); if ((k >> b) & 1n) r = add(r, p); }
  return r;
}
const big = (bytes) => BigInt('0x' + (hex(bytes) || '0'));
const be32 = (v) => Buffer.from(v.toString(16).padStart(64, '0'), 'hex');

test('values out of range that the arithmetic alone would take are refused', async () => {
  const t = await Tarnwick.open();
  try {
    const key = [big(point.subarray(1, 33)), big(point.subarray(33))];
    const craft = (r, s) => {
      const [x1] = add(mul(s, G), mul(mod(r + s, N), key));
      return { digest: be32(mod(r - x1, N)), signature: new Uint8Array([...be32(r), ...be32(s)]), publicKey: point };
    };
    const r = 0x1234567890ABCDEF1234567890ABCDEF1234567890ABCDEF1234567890ABCDEFn, s = 12345n;
    assert.equal((await t.verifySm2(null, craft(r, s))).valid, true, 'the crafting holds');
    assert.equal((await t.verifySm2(null, craft(r, s + N))).valid, false, 's + n');
    assert.equal((await t.verifySm2(null, craft(0n, s))).valid, false, 'r = 0');
    assert.equal((await t.verifySm2(null, craft(N - s, s))).valid, false, 'r + s = n');
  } finally {
    t.close();
  }
});

test('options are checked as digest() checks them, before anything is read', async () => {
  const t = await Tarnwick.open();
  try {
    const f = files[1];
    const cases = [
      [undefined, TypeError],
      [{ publicKey: point }, TypeError],
      [{ signature: 5, publicKey: point }, TypeError],
      [{ signature: f.sig }, TypeError],
      [{ signature: f.sig, publicKey: point, certificate: certPem }, TypeError],
      [{ signature: f.sig, publicKey: point, userId: 7 }, TypeError],
      [{ signature: f.sig, publicKey: point, userId: 'x'.repeat(8192) }, RangeError],
      [{ signature: f.sig, publicKey: point, digest: '00'.repeat(32) }, TypeError],  // a source too
      [{ signature: f.sig, publicKey: point, signal: {} }, TypeError],
      [{ signature: f.sig, publicKey: point, onProgress: 1 }, TypeError],
      [{ signature: f.sig, publicKey: point, issuer: certPem }, TypeError],  // issuer needs a certificate
    ];
    for (const [options, type] of cases) await assert.rejects(t.verifySm2(f.path, options), type, JSON.stringify(options && Object.keys(options)));
    await assert.rejects(t.verifySm2(null, { signature: f.sig, publicKey: point, digest: '00'.repeat(31) }), RangeError);
    await assert.rejects(t.verifySm2(null, { signature: f.sig, publicKey: point }), TypeError);
    const controller = new AbortController();
    controller.abort();
    await assert.rejects(t.verifySm2(f.path, { signature: f.sig, publicKey: point, signal: controller.signal }), { name: 'AbortError' });
    let last = null;
    const big = files[4];
    await t.verifySm2(big.path, { signature: big.sig, publicKey: point, onProgress: (done, total) => { last = [done, total]; } });
    assert.deepEqual(last, [big.data.length, big.data.length]);
  } finally {
    t.close();
  }
});

test('one level of trust: the issuer signed the signer\'s certificate, both valid at the time', async () => {
  const t = await Tarnwick.open();
  try {
    const f = files[1];
    const ca = readFileSync(at('ca.pem'), 'utf8');
    const base = { signature: f.sig, certificate: certPem };
    assert.deepEqual((({ valid, trusted }) => ({ valid, trusted }))(await t.verifySm2(f.path, { ...base, issuer: ca })), { valid: true, trusted: true });
    const other = await t.verifySm2(f.path, { ...base, issuer: readFileSync(at('other.pem'), 'utf8') });
    assert.equal(other.valid, true);
    assert.equal(other.trusted, false);
    assert.match(other.why, /issuer/);
    const late = await t.verifySm2(f.path, { ...base, issuer: ca, at: new Date(Date.now() + 20 * 86400e3) });
    assert.equal(late.trusted, false);
    assert.match(late.why, /signer's certificate has expired/);
    // The signer's certificate with one byte of its signed part changed: the issuer's signature fails.
    const bent = certDer.slice();
    const serialAt = Buffer.from(bent).indexOf(Buffer.from('0123456789', 'hex'));
    bent[serialAt + 4] ^= 1;
    const forged = await t.verifySm2(null, { digest: '00'.repeat(32), signature: f.sig, certificate: bent, issuer: ca });
    assert.equal(forged.trusted, false);
    assert.match(forged.why, /signature on the signer's certificate does not hold/);
    await assert.rejects(t.verifySm2(f.path, { ...base, issuer: 'not a certificate' }), { code: 'bad-issuer' });
  } finally {
    t.close();
  }
});

test('tarnwick verify: Verified OK and 0, Verification failure and 1, a wrong command line 2', () => {
  const f = files[3];
  writeFileSync(at('sig.b64'), b64(f.sig) + '\n');
  writeFileSync(at('sig.raw'), raw(f.sig));
  // Hex text of r || s with r's first digit 0 (text that starts with the byte DER starts with).
  const zeroFirst = raw(f.sig);
  zeroFirst[0] &= 0x0f;
  writeFileSync(at('sig.zero.hex'), hex(zeroFirst) + '\n');
  writeFileSync(at('alice.sig'), f.alice);
  writeFileSync(at('bad.sig'), new Uint8Array([...f.sig, 0]));
  const run = (...args) => spawnSync(process.execPath, [command, 'verify', ...args], { cwd: work, encoding: 'utf8' });
  for (const sig of [`${f.path}.sig`, 'sig.b64', 'sig.raw']) {
    for (const key of [['--cert', 'signer.pem'], ['--cert', 'signer.der'], ['--key', 'signer.pub.pem'], ['--key', 'signer.pub.der']]) {
      const r = run('--sig', sig, ...key, f.path);
      assert.equal(r.status, 0, `${sig} ${key}: ${r.stderr}`);
      assert.equal(r.stdout, 'Verified OK\n');
    }
  }
  const zero = run('--sig', 'sig.zero.hex', '--key', 'signer.pub.pem', f.path);
  assert.equal(zero.status, zeroFirst[0] === raw(f.sig)[0] ? 0 : 1, zero.stderr);
  assert.match(zero.status ? zero.stderr : zero.stdout, zero.status ? /^Verification failure\n$/ : /^Verified OK\n$/);
  const ok = run('--sig', 'alice.sig', '--key', 'signer.pub.pem', '--id', 'ALICE123@YAHOO.COM', f.path);
  assert.equal(ok.status, 0, ok.stderr);
  const failure = run('--sig', 'alice.sig', '--key', 'signer.pub.pem', f.path);
  assert.equal(failure.status, 1);
  assert.equal(failure.stdout, '');
  assert.equal(failure.stderr, 'Verification failure\n');
  const bad = run('--sig', 'bad.sig', '--key', 'signer.pub.pem', f.path);
  assert.equal(bad.status, 1);
  assert.match(bad.stderr, /SM2/);
  assert.doesNotMatch(bad.stderr, /Verification failure/);
  const badKey = run('--sig', 'sig.raw', '--key', 'p256.pub.pem', f.path);
  assert.equal(badKey.status, 1);
  for (const args of [[f.path], ['--sig', 'sig.raw', f.path], ['--sig', 'sig.raw', '--key', 'signer.pub.pem', '--cert', 'signer.pem', f.path],
    ['--sig', 'sig.raw', '--key', 'signer.pub.pem'], ['--sig', 'sig.raw', '--key', 'signer.pub.pem', '--bogus', f.path]]) {
    const r = run(...args);
    assert.equal(r.status, 2, args.join(' '));
    assert.match(r.stderr, /tarnwick verify: /);
  }
});
