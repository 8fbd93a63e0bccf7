// verifySm2(source, options): an SM2 signature over a whole source, checked in the page. The digest
// is digest()'s SM3 opened by the signer's Z value (made from the key and the id), read in one pass;
// or one the caller already has ({ digest }: what GetLocalFileSM3(path, 1, cert) gives). The
// readers of signatures, keys and certificates and the verification itself are the core's
// (sm2verify, sm2cert) in the module; what is read here is only the signer's names and dates for
// the result, and the signer's certificate as an issuer signed it.
import { digestJob, moduleAt } from '../digest/digest.js';
import { bytesOfHex } from '../digest/options.js';
import { Engine } from '../engine/engine.js';
import { abortError } from '../engine/platform.js';
import { viewOf } from '../control/values.js';
import { format } from '../control/messages.js';

export const DEFAULT_ID = '1234567812345678';

// The texts of this job's failures.
// The texts of its failures, in the languages an object speaks.
const sm2Texts = {
  zh: {
    certNotDer: '\u8bc1\u4e66\u65e0\u6cd5\u89e3\u6790: \u4e0d\u662fDER\u7f16\u7801\u7684X.509\u8bc1\u4e66',
    certDates: '\u8bc1\u4e66\u65e0\u6cd5\u89e3\u6790: \u5176\u540d\u79f0\u548c\u65e5\u671f\u65e0\u6cd5\u8bfb\u53d6',
    issuerDates: '\u8bc1\u4e66\u65e0\u6cd5\u89e3\u6790: \u7b7e\u53d1\u8005\u8bc1\u4e66\u7684\u540d\u79f0\u548c\u65e5\u671f\u65e0\u6cd5\u8bfb\u53d6',
    key: {
      1: 'SM2\u516c\u94a5\u4e0d\u53ef\u7528: \u4e0d\u662f\u53ef\u8bc6\u522b\u683c\u5f0f\u7684SM2\u516c\u94a5',
      2: 'SM2\u516c\u94a5\u4e0d\u53ef\u7528: \u4e0d\u662fSM2\u5bc6\u94a5',
      3: 'SM2\u516c\u94a5\u4e0d\u53ef\u7528: \u8be5\u70b9\u4e0d\u5728SM2\u66f2\u7ebf\u4e0a',
    },
    keyUnreadable: 'SM2\u516c\u94a5\u4e0d\u53ef\u7528: \u65e0\u6cd5\u8bfb\u53d6',
    keyText: 'SM2\u516c\u94a5\u4e0d\u53ef\u7528: \u65e2\u4e0d\u662fPEM\u516c\u94a5,\u4e5f\u4e0d\u662f\u5341\u516d\u8fdb\u5236\u6216Base64\u5b57\u8282',
    signatureText: 'SM2\u7b7e\u540d\u65e0\u6cd5\u8bc6\u522b: \u65e2\u4e0d\u662f\u5341\u516d\u8fdb\u5236\u4e5f\u4e0d\u662fBase64',
    signatureForm: 'SM2\u7b7e\u540d\u65e0\u6cd5\u8bc6\u522b: \u65e2\u4e0d\u662f\u7531\u4e24\u4e2aINTEGER\u7ec4\u6210\u7684DER SEQUENCE,\u4e5f\u4e0d\u662f64\u5b57\u8282\u7684r || s',
    unavailable: 'SDK\u672a\u80fd\u542f\u52a8: %s(\u6a21\u5757 %s)',
  },
  en: {
    certNotDer: 'The certificate cannot be read: not a DER X.509 certificate',
    certDates: 'The certificate cannot be read: its names and dates do not read',
    issuerDates: 'The certificate cannot be read: the issuer\'s names and dates do not read',
    key: {
      1: 'The SM2 public key cannot be used: not an SM2 public key in a form it can take',
      2: 'The SM2 public key cannot be used: not an SM2 key',
      3: 'The SM2 public key cannot be used: the point is not on the SM2 curve',
    },
    keyUnreadable: 'The SM2 public key cannot be used: unreadable',
    keyText: 'The SM2 public key cannot be used: neither a PEM public key nor hex or base64 bytes',
    signatureText: 'The SM2 signature cannot be read: neither hex nor base64',
    signatureForm: 'The SM2 signature cannot be read: neither one DER SEQUENCE of two INTEGERs nor 64 bytes r || s',
    unavailable: 'The SDK did not start: %s (module %s)',
  },
};


// ---- the options ------------------------------------------------------------------------------------

const isBytes = (v) => v instanceof ArrayBuffer || ArrayBuffer.isView(v);

function bytesOrText(options, name) {
  const v = options[name];
  if (typeof v === 'string') return v;
  if (isBytes(v)) return new Uint8Array(viewOf(v));  // a copy: the page may change its own
  throw new TypeError(`verifySm2: ${name} must be bytes or text`);
}

export function readSm2Options(source, options) {
  if (options === null || typeof options !== 'object') throw new TypeError('verifySm2: options with a signature are needed');
  if (options.signature === undefined) throw new TypeError('verifySm2: options.signature is needed');
  const signature = bytesOrText(options, 'signature');
  const hasCert = options.certificate !== undefined, hasKey = options.publicKey !== undefined;
  if (hasCert === hasKey) throw new TypeError('verifySm2: give one of certificate and publicKey');
  const key = hasCert ? { certificate: bytesOrText(options, 'certificate') } : { publicKey: bytesOrText(options, 'publicKey') };
  let userId = DEFAULT_ID;
  if (options.userId !== undefined) {
    if (typeof options.userId !== 'string') throw new TypeError('verifySm2: userId must be text');
    userId = options.userId;
  }
  const id = new TextEncoder().encode(userId);
  if (id.length > 8191) throw new RangeError('verifySm2: userId is longer than 8191 bytes');
  let digest = null;
  if (options.digest !== undefined) {
    if (source !== undefined && source !== null) throw new TypeError('verifySm2: a source and a digest: give one of them');
    const v = bytesOrText(options, 'digest');
    digest = typeof v === 'string' ? decodeText(v) : v;
    if (!digest || digest.length !== 32) throw new RangeError('verifySm2: digest must be 32 bytes (as bytes, hex or base64)');
  } else if (source === undefined || source === null) {
    throw new TypeError('verifySm2: a source (or options.digest) is needed');
  }
  let issuer = null, at = null;
  if (options.issuer !== undefined) {
    if (!hasCert) throw new TypeError('verifySm2: issuer needs the signer\'s certificate');
    issuer = bytesOrText(options, 'issuer');
  }
  if (options.at !== undefined) {
    if (issuer === null) throw new TypeError('verifySm2: at needs issuer');
    if (!(options.at instanceof Date) || Number.isNaN(options.at.getTime())) throw new TypeError('verifySm2: at must be a valid Date');
    at = options.at;
  }
  if (options.onProgress !== undefined && typeof options.onProgress !== 'function') throw new TypeError('verifySm2: onProgress must be a function');
  const signal = options.signal;
  if (signal !== undefined && !(signal && typeof signal === 'object' && 'aborted' in signal && typeof signal.addEventListener === 'function')) {
    throw new TypeError('verifySm2: signal must be an AbortSignal');
  }
  return { signature, ...key, id, digest, issuer, at, onProgress: options.onProgress, signal };
}

// ---- encodings --------------------------------------------------------------------------------------

// Hex (either case) or base64 (blanks skipped, padding as base64 has it); null when it is neither.
export function decodeText(text) {
  const t = text.replace(/\s+/g, '');
  if (t.length && t.length % 2 === 0 && /^[0-9a-fA-F]+$/.test(t)) return bytesOfHex(t.toLowerCase());
  if (!t.length || t.length % 4 || !/^[A-Za-z0-9+/]+={0,2}$/.test(t)) return null;
  const s = atob(t);
  const out = new Uint8Array(s.length);
  for (let i = 0; i < s.length; i++) out[i] = s.charCodeAt(i);
  return out;
}

// The base64 of the first PEM block with this label, decoded; undefined when there is none.
function pemBlock(text, label) {
  const m = new RegExp(`-----BEGIN ${label}-----([^-]*)-----END ${label}-----`).exec(text);
  if (!m) return undefined;
  return decodeText(m[1]);
}

// ---- the module's readers ------------------------------------------------------------------------

const engines = new Map();
async function engineAt(wasmUrl) {
  const key = String(wasmUrl);
  if (!engines.has(key)) {
    const made = moduleAt(wasmUrl).then((m) => Engine.load(m));
    made.catch(() => engines.delete(key));
    engines.set(key, made);
  }
  return engines.get(key);
}

// Calls f(pointers) with each of `inputs` copied into the module and `outputs` bytes made for
// each output; returns [result, ...outputs as bytes].
function call(x, inputs, outputs, f) {
  const pointers = [];
  try {
    for (const bytes of inputs) {
      const p = x.tw_alloc(Math.max(bytes.length, 1));
      new Uint8Array(x.memory.buffer).set(bytes, p);
      pointers.push(p);
    }
    for (const size of outputs) pointers.push(x.tw_alloc(size));
    const result = f(...pointers);
    const heap = new Uint8Array(x.memory.buffer);
    return [result, ...outputs.map((size, i) => heap.slice(pointers[inputs.length + i], pointers[inputs.length + i] + size))];
  } finally {
    for (const p of pointers) x.tw_free(p);
  }
}

// x || y of the signer, and the certificate's DER when one was given.
// t: the texts of the object's language (sm2Texts).
function readKey(x, opts, makeError, t) {
  if (opts.certificate !== undefined) {
    const c = opts.certificate;
    const bytes = typeof c === 'string' ? new TextEncoder().encode(c) : c;
    const [status, xy] = call(x, [bytes], [64], (p, out) => x.tw_sm2_key(p, bytes.length, typeof c === 'string' ? 3 : 2, out));
    if (status === 4) throw makeError(t.certNotDer, 'bad-certificate');
    if (status !== 0) throw makeError(t.key[status] || t.keyUnreadable, 'bad-key');
    return { xy, der: typeof c === 'string' ? certificateBytes(c) : c };
  }
  const k = opts.publicKey;
  let bytes = k;
  if (typeof k === 'string') {
    bytes = /-----BEGIN /.test(k) ? pemBlock(k, 'PUBLIC KEY') : decodeText(k);
    if (!bytes) throw makeError(t.keyText, 'bad-key');
  }
  const form = bytes.length === 65 && bytes[0] === 4 ? 0 : 1;
  const [status, xy] = call(x, [bytes], [64], (p, out) => x.tw_sm2_key(p, bytes.length, form, out));
  if (status !== 0) throw makeError(t.key[status] || t.keyUnreadable, 'bad-key');
  return { xy, der: null };
}

// r || s from DER (strict) or 64 raw bytes, as bytes or as hex or base64 text.
function readSignature(x, signature, makeError, t) {
  const bytes = typeof signature === 'string' ? decodeText(signature) : signature;
  if (!bytes) throw makeError(t.signatureText, 'bad-signature');
  const [ok, rs] = call(x, [bytes], [64], (p, out) => x.tw_sm2_signature(p, bytes.length, out));
  if (ok === 1) return rs;
  if (bytes.length === 64) return bytes;
  throw makeError(t.signatureForm, 'bad-signature');
}

function zOf(x, xy, id) {
  const [ok, z] = call(x, [xy, id], [32], (k, i, out) => x.tw_sm2_z(k, i, id.length, out));
  if (ok !== 1) throw new RangeError('verifySm2: userId is too long');
  return z;
}

// SM3 of z || bytes with this engine: a short message is not worth a digest() job (whose lane
// loads a module of its own).
const SMALL = 1 << 20;
function sm3Here(engine, z, bytes) {
  const x = engine._x;
  const context = x.tw_digest_new(engine.digestKind('sm3'));
  if (!context) throw new Error('the module is out of memory');
  try {
    const [, out] = call(x, [z, bytes], [32], (pz, pb, po) => {
      x.tw_digest_update(context, pz, z.length);
      x.tw_digest_update(context, pb, bytes.length);
      x.tw_digest_final(context, po);
    });
    return out;
  } finally {
    x.tw_digest_delete(context);
  }
}

function verified(x, e, xy, rs) {
  return call(x, [e, xy, rs], [], (pe, pk, ps) => x.tw_sm2_verify(pe, pk, ps))[0] === 1;
}

// ---- the certificate's names and dates --------------------------------------------------------------

// The DER of a certificate given as text: its first PEM block, or the whole text as base64.
function certificateBytes(text) {
  return pemBlock(text, 'CERTIFICATE') || (/-----/.test(text) ? null : decodeText(text.replace(/\s+/g, '')));
}

function element(bytes, at) {
  const tag = bytes[at];
  let length = bytes[at + 1], head = 2;
  if (length & 0x80) {
    const count = length & 0x7f;
    length = 0;
    for (let i = 0; i < count; i++) length = length * 256 + bytes[at + 2 + i];
    head += count;
  }
  if (at + head + length > bytes.length) throw new Error('short element');
  return { tag, start: at, body: at + head, end: at + head + length };
}

function children(bytes, e) {
  const out = [];
  for (let at = e.body; at < e.end;) {
    const c = element(bytes, at);
    out.push(c);
    at = c.end;
  }
  return out;
}

function oidText(b) {
  const parts = [Math.floor(b[0] / 40), b[0] % 40];
  let v = 0;
  for (let i = 1; i < b.length; i++) {
    v = v * 128 + (b[i] & 0x7f);
    if (!(b[i] & 0x80)) {
      parts.push(v);
      v = 0;
    }
  }
  return parts.join('.');
}

const NAMES = { '2.5.4.3': 'CN', '2.5.4.6': 'C', '2.5.4.7': 'L', '2.5.4.8': 'ST', '2.5.4.10': 'O', '2.5.4.11': 'OU',
  '2.5.4.5': 'serialNumber', '1.2.840.113549.1.9.1': 'emailAddress' };

function stringOf(bytes, e) {
  const b = bytes.subarray(e.body, e.end);
  if (e.tag === 0x1e) {  // BMPString
    let s = '';
    for (let i = 0; i + 1 < b.length; i += 2) s += String.fromCharCode(b[i] * 256 + b[i + 1]);
    return s;
  }
  if (e.tag === 0x0c) return new TextDecoder().decode(b);
  return String.fromCharCode(...b);
}

function nameOf(bytes, e) {
  const parts = [];
  for (const rdn of children(bytes, e)) {
    for (const attribute of children(bytes, rdn)) {
      const [type, value] = children(bytes, attribute);
      const oid = oidText(bytes.subarray(type.body, type.end));
      parts.push(`${NAMES[oid] || oid}=${stringOf(bytes, value)}`);
    }
  }
  return parts.join(', ');
}

function timeOf(bytes, e) {
  const s = String.fromCharCode(...bytes.subarray(e.body, e.end));
  const m = e.tag === 0x17 ? /^(\d\d)(\d\d)(\d\d)(\d\d)(\d\d)(\d\d)Z$/.exec(s) : /^(\d{4})(\d\d)(\d\d)(\d\d)(\d\d)(\d\d)Z$/.exec(s);
  if (!m) throw new Error('time');
  let year = Number(m[1]);
  if (e.tag === 0x17) year += year < 50 ? 2000 : 1900;
  return new Date(Date.UTC(year, Number(m[2]) - 1, Number(m[3]), Number(m[4]), Number(m[5]), Number(m[6])));
}

// { subject, issuer, serial, notBefore, notAfter, tbs, signatureAlgorithm, signature } of a
// certificate the module has read.
export function certificateFields(der) {
  const cert = element(der, 0);
  const [tbs, algorithm, signature] = children(der, cert);
  const fields = children(der, tbs);
  let i = fields[0].tag === 0xa0 ? 1 : 0;
  const serial = fields[i++], issuer = fields[i + 1], validity = fields[i + 2], subject = fields[i + 3];
  const [notBefore, notAfter] = children(der, validity);
  let serialBytes = der.subarray(serial.body, serial.end);
  if (serialBytes.length > 1 && serialBytes[0] === 0) serialBytes = serialBytes.subarray(1);
  const [oid] = children(der, algorithm);
  return {
    subject: nameOf(der, subject),
    issuer: nameOf(der, issuer),
    issuerDer: der.subarray(issuer.start, issuer.end),
    subjectDer: der.subarray(subject.start, subject.end),
    serial: Array.from(serialBytes, (b) => b.toString(16).padStart(2, '0')).join(''),
    notBefore: timeOf(der, notBefore),
    notAfter: timeOf(der, notAfter),
    tbs: der.subarray(tbs.start, tbs.end),
    signatureAlgorithm: oidText(der.subarray(oid.body, oid.end)),
    signature: der.subarray(signature.body + 1, signature.end),  // past the unused-bits byte
  };
}

// ---- the job ----------------------------------------------------------------------------------------

const SM2_WITH_SM3 = '1.2.156.10197.1.501';
const sameBytes = (a, b) => a.length === b.length && a.every((v, i) => v === b[i]);

// The signer's certificate as the issuer signed it, and both valid at `at`.
function trustOf(engine, signerFields, opts, makeError, t) {
  const x = engine._x;
  const asIssuer = (message, code) => makeError(message, code === 'bad-key' || code === 'bad-certificate' ? 'bad-issuer' : code);
  const issuerKey = readKey(x, { certificate: opts.issuer }, asIssuer, t);
  let issuerFields;
  try {
    issuerFields = certificateFields(issuerKey.der);
  } catch (e) {
    throw asIssuer(t.issuerDates, 'bad-certificate');
  }
  const at = opts.at || new Date();
  const why = [];
  if (!sameBytes(signerFields.issuerDer, issuerFields.subjectDer)) why.push('the signer\'s issuer is not the issuer\'s subject');
  if (signerFields.signatureAlgorithm !== SM2_WITH_SM3) why.push('the signer\'s certificate is not signed with SM2 and SM3');
  else {
    const [ok, rs] = call(x, [signerFields.signature], [64], (p, out) => x.tw_sm2_signature(p, signerFields.signature.length, out));
    let holds = false;
    if (ok === 1) {
      const z = zOf(x, issuerKey.xy, new TextEncoder().encode(DEFAULT_ID));
      const e = sm3Here(engine, z, signerFields.tbs);
      holds = verified(x, e, issuerKey.xy, rs);
    }
    if (!holds) why.push('the issuer\'s signature on the signer\'s certificate does not hold');
  }
  for (const [who, f] of [['signer', signerFields], ['issuer', issuerFields]]) {
    if (at < f.notBefore) why.push(`the ${who}'s certificate is not yet valid`);
    if (at > f.notAfter) why.push(`the ${who}'s certificate has expired`);
  }
  return why.length ? { trusted: false, why: why.join('; ') } : { trusted: true };
}

// env: digest()'s env (wasmUrl, useWorkers, localFile, messages, makeError, md5).
export async function verifySm2Job(source, options, env) {
  const opts = readSm2Options(source, options);
  const makeError = env.makeError;
  const t = sm2Texts[env.messages && env.messages.language] || sm2Texts.zh;
  if (opts.signal && opts.signal.aborted) throw abortError();
  let engine;
  try {
    engine = await engineAt(env.wasmUrl);
  } catch (e) {
    throw makeError(format(t.unavailable, e.message || e, env.wasmUrl), 'unavailable');
  }
  const x = engine._x;
  const key = readKey(x, opts, makeError, t);
  let fields = null;
  if (key.der) {
    try {
      fields = certificateFields(key.der);
    } catch (e) {
      throw makeError(t.certDates, 'bad-certificate');
    }
  }
  const rs = readSignature(x, opts.signature, makeError, t);
  let e = opts.digest;
  const z = e ? null : zOf(x, key.xy, opts.id);
  const small = !e && isBytes(source) ? viewOf(source) : null;
  if (small && small.length <= SMALL) {
    e = sm3Here(engine, z, small);
    if (opts.onProgress) opts.onProgress(small.length, small.length);
  }
  if (!e) {
    const digestOptions = { algorithms: ['sm3'] };
    if (opts.onProgress) digestOptions.onProgress = opts.onProgress;
    if (opts.signal) digestOptions.signal = opts.signal;
    const made = await digestJob(source, digestOptions, { ...env, z });
    e = bytesOfHex(made.digests.sm3);
  }
  const result = { valid: verified(x, e, key.xy, rs) };
  if (fields) {
    const { subject, serial, notBefore, notAfter } = fields;
    result.signer = { subject, serial, notBefore, notAfter };
  }
  if (opts.issuer) Object.assign(result, trustOf(engine, fields, opts, makeError, t));
  return result;
}
