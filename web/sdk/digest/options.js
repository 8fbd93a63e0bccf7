// What a digest() job is asked and how it answers: the options read and checked (every misuse a
// TypeError or RangeError before any byte is read), the page's callbacks guarded, the failures
// only this job has, and the digests written in hex or base64. The job is digest.js.
import { ALGORITHMS } from './lane.js';

const MIN_CHUNK = 1024;

// The texts of failures only this job has (the control's own texts serve the rest), in the
// languages an object speaks.
export const digestTexts = {};
export const digestText = digestTexts.zh = {
  checkpointDamaged: '\u65ad\u70b9\u8bb0\u5f55\u5df2\u635f\u574f,\u62d2\u7edd\u7eed\u7b97!',
  checkpointVersion: '\u65ad\u70b9\u8bb0\u5f55\u6765\u81ea\u5176\u4ed6\u7248\u672c,\u62d2\u7edd\u7eed\u7b97!',
  checkpointMismatch: '\u65ad\u70b9\u8bb0\u5f55\u4e0d\u5c5e\u4e8e\u6b64\u6587\u4ef6\u6216\u8fd9\u4e9b\u9009\u9879(%s),\u62d2\u7edd\u7eed\u7b97!',
  workerFailed: '\u6458\u8981\u8ba1\u7b97\u5931\u8d25,%s',
};
digestTexts.en = {
  checkpointDamaged: 'The checkpoint is damaged; the job is not resumed!',
  checkpointVersion: 'The checkpoint comes from another version; the job is not resumed!',
  checkpointMismatch: 'The checkpoint is not of this file or these options (%s); the job is not resumed!',
  workerFailed: 'The digest failed: %s',
};

// A refusal with the control's text (or this job's) and the code a page sees.
// Its text is made in the object's language when the failure reaches the page: `message` is the
// text, or what makes it, (messages, digestTexts[language]) => text.
export class Refused extends Error {
  constructor(message, code) {
    super(typeof message === 'function' ? code : message);
    this.render = typeof message === 'function' ? message : () => message;
    this.code = code;
  }
}

// What a callback of the page's throws is the page's own error: reported, and the job goes on.
function guarded(f) {
  if (f === undefined) return undefined;
  return (...args) => {
    try {
      f(...args);
    } catch (e) {
      if (typeof reportError === 'function') reportError(e);
    }
  };
}

// ---- the options ------------------------------------------------------------------------------------

function names(value, what, allowEmpty) {
  if (!Array.isArray(value)) throw new TypeError(`digest: ${what} must be an array of algorithm names`);
  const seen = new Set();
  for (const name of value) {
    if (typeof name !== 'string') throw new TypeError(`digest: ${what} must be an array of algorithm names`);
    if (!ALGORITHMS.includes(name)) throw new RangeError(`digest: unknown algorithm '${name}' (one of ${ALGORITHMS.join(', ')})`);
    seen.add(name);
  }
  if (!allowEmpty && seen.size === 0) throw new RangeError(`digest: ${what} names no algorithm`);
  return ALGORITHMS.filter((n) => seen.has(n));
}

function callback(options, name) {
  const f = options[name];
  if (f !== undefined && typeof f !== 'function') throw new TypeError(`digest: ${name} must be a function`);
  return f;
}

export function readOptions(options) {
  if (options === undefined) throw new TypeError('digest: options with algorithms are needed');
  if (options === null || typeof options !== 'object') throw new TypeError('digest: options must be an object');
  const algorithms = names(options.algorithms, 'algorithms', false);
  let chunkSize = 0;
  if (options.chunkSize !== undefined) {
    if (typeof options.chunkSize !== 'number') throw new TypeError('digest: chunkSize must be a number');
    if (!Number.isSafeInteger(options.chunkSize) || options.chunkSize < MIN_CHUNK) {
      throw new RangeError(`digest: chunkSize must be a whole number of bytes, at least ${MIN_CHUNK}`);
    }
    chunkSize = options.chunkSize;
  }
  let chunkAlgorithms = [];
  if (options.chunkAlgorithms !== undefined) {
    if (!chunkSize) throw new TypeError('digest: chunkAlgorithms needs chunkSize');
    chunkAlgorithms = names(options.chunkAlgorithms, 'chunkAlgorithms', true);
  } else if (chunkSize) {
    chunkAlgorithms = algorithms;
  }
  const encoding = options.encoding === undefined ? 'hex' : options.encoding;
  if (typeof encoding !== 'string') throw new TypeError('digest: encoding must be a string');
  if (encoding !== 'hex' && encoding !== 'base64') throw new RangeError("digest: encoding must be 'hex' or 'base64'");
  let cert;
  if (options.sm3Cert !== undefined) {
    if (typeof options.sm3Cert !== 'string') throw new TypeError('digest: sm3Cert must be base64 text');
    if (!algorithms.includes('sm3')) throw new TypeError("digest: sm3Cert needs 'sm3' among the algorithms");
    cert = options.sm3Cert;
  }
  let resume;
  if (options.resume !== undefined && options.resume !== null) {
    const r = options.resume;
    if (r instanceof ArrayBuffer) resume = new Uint8Array(r);
    else if (ArrayBuffer.isView(r)) resume = new Uint8Array(r.buffer, r.byteOffset, r.byteLength);
    else throw new TypeError('digest: resume must be the bytes a checkpoint gave');
  }
  const signal = options.signal;
  if (signal !== undefined && !(signal && typeof signal === 'object' && 'aborted' in signal && typeof signal.addEventListener === 'function')) {
    throw new TypeError('digest: signal must be an AbortSignal');
  }
  return {
    algorithms, chunkSize, chunkAlgorithms, encoding, cert, resume, signal,
    onChunk: guarded(callback(options, 'onChunk')),
    checkpoint: guarded(callback(options, 'checkpoint')),
    onProgress: guarded(callback(options, 'onProgress')),
  };
}

// ---- encodings --------------------------------------------------------------------------------------

export function hexOf(bytes) {
  let s = '';
  for (const b of bytes) s += (b < 16 ? '0' : '') + b.toString(16);
  return s;
}

export function bytesOfHex(hex) {
  if (typeof hex !== 'string' || hex.length % 2 || /[^0-9a-f]/.test(hex)) return null;
  const out = new Uint8Array(hex.length / 2);
  for (let i = 0; i < out.length; i++) out[i] = parseInt(hex.substr(2 * i, 2), 16);
  return out;
}

function base64Of(bytes) {
  let s = '';
  for (const b of bytes) s += String.fromCharCode(b);
  return btoa(s);
}

export function encoded(digests, encoding) {
  const out = {};
  for (const name of ALGORITHMS) {
    if (digests[name]) out[name] = encoding === 'hex' ? hexOf(digests[name]) : base64Of(digests[name]);
  }
  return out;
}
