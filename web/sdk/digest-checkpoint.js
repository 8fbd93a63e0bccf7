// A digest() job's checkpoint: a record of its own format: a tag, the format's version, a JSON
// body (the source's identity, the options that shape the results, the offset reached, the chunk
// results so far, each algorithm's saved state) and a CRC-32 of all that. A record that is
// damaged, of another version, or of another source or other options is refused: a job never
// resumes into a wrong digest.
import { format } from './messages.js';
import { digestText, Refused, hexOf, bytesOfHex, encoded } from './digest-options.js';

const RECORD_TAG = [0x54, 0x57, 0x44, 0x47];  // "TWDG"
// Bump when the record's body or any algorithm's saved state changes its meaning.
const RECORD_VERSION = 1;

let crcTable = null;
function crc32(bytes) {
  if (!crcTable) {
    crcTable = new Int32Array(256);
    for (let n = 0; n < 256; n++) {
      let c = n;
      for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
      crcTable[n] = c;
    }
  }
  let c = -1;
  for (const b of bytes) c = crcTable[(c ^ b) & 255] ^ (c >>> 8);
  return (c ^ -1) >>> 0;
}

function identityOf(source) {
  return { size: source.size === undefined ? null : source.size, name: source.name || null, modified: source.modified || null };
}

// What of the options shapes the results and the states.
function shapeOf(opts) {
  return {
    algorithms: opts.algorithms,
    chunkSize: opts.chunkSize,
    chunkAlgorithms: opts.chunkAlgorithms,
    cert: opts.cert === undefined ? null : `${opts.cert.length}:${crc32(new TextEncoder().encode(opts.cert)).toString(16)}`,
  };
}

export function encodeRecord(source, opts, offset, chunks, states) {
  const statesHex = {};
  for (const [name, bytes] of Object.entries(states)) statesHex[name] = hexOf(bytes);
  const body = new TextEncoder().encode(JSON.stringify({
    source: identityOf(source), shape: shapeOf(opts), offset,
    chunks: chunks.map((c) => [c.offset, c.length, encoded(c.raw, 'hex')]),
    states: statesHex,
  }));
  const record = new Uint8Array(4 + 1 + 4 + body.length + 4);
  const view = new DataView(record.buffer);
  record.set(RECORD_TAG, 0);
  record[4] = RECORD_VERSION;
  view.setUint32(5, body.length, true);
  record.set(body, 9);
  view.setUint32(9 + body.length, crc32(record.subarray(0, 9 + body.length)), true);
  return record;
}

const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);

// { offset, chunks, states } of a record that belongs to this source and these options; else a
// Refused naming why.
export function decodeRecord(record, source, opts) {
  const damaged = () => new Refused(digestText.checkpointDamaged, 'checkpoint-damaged');
  if (record.length < 13 || RECORD_TAG.some((b, i) => record[i] !== b)) throw damaged();
  const view = new DataView(record.buffer, record.byteOffset, record.byteLength);
  const length = view.getUint32(5, true);
  if (9 + length + 4 !== record.length) throw damaged();
  if (view.getUint32(9 + length, true) !== crc32(record.subarray(0, 9 + length))) throw damaged();
  if (record[4] !== RECORD_VERSION) throw new Refused(digestText.checkpointVersion, 'checkpoint-version');
  let body;
  try {
    body = JSON.parse(new TextDecoder('utf-8', { fatal: true }).decode(record.subarray(9, 9 + length)));
  } catch (e) {
    throw damaged();
  }
  const mismatch = (what) => new Refused(format(digestText.checkpointMismatch, what), 'checkpoint-mismatch');
  const mine = identityOf(source), theirs = body.source || {};
  for (const key of ['size', 'name', 'modified']) {
    if (mine[key] !== null && theirs[key] !== mine[key]) throw mismatch(key);
  }
  const shape = shapeOf(opts);
  for (const key of Object.keys(shape)) if (!same(shape[key], body.shape && body.shape[key])) throw mismatch(key);
  const offset = body.offset;
  if (!Number.isSafeInteger(offset) || offset < 0 || (mine.size !== null && offset > mine.size)) throw damaged();
  if (!Array.isArray(body.chunks) || !body.states || typeof body.states !== 'object') throw damaged();
  const chunks = body.chunks.map(([at, len, digests], index) => {
    const raw = {};
    for (const name of opts.chunkAlgorithms) {
      raw[name] = bytesOfHex(digests && digests[name]);
      if (!raw[name]) throw damaged();
    }
    return { index, offset: at, length: len, raw };
  });
  const expected = opts.chunkSize ? Math.floor(offset / opts.chunkSize) : 0;
  if (chunks.length !== expected || (opts.chunkSize && offset % opts.chunkSize !== 0)) throw damaged();
  const states = {};
  for (const name of opts.algorithms) {
    states[name] = bytesOfHex(body.states[name]);
    if (!states[name]) throw damaged();
  }
  return { offset, chunks, states };
}
