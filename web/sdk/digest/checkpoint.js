// A digest() job's checkpoint: a record of its own format: a tag, the format's version, a JSON
// body (the source's kind and identity, the options that shape the results, the offset reached,
// the chunk results so far, each algorithm's saved state, what tells the bytes before the offset)
// and a CRC-32 of all that. A record that is damaged, of another version, or of another source or
// other options is refused: a job never resumes into a wrong digest.
//
// What tells the bytes before the offset (digest/lane.js keeps both as the job goes):
//   - of bytes and streams ('data'): the CRC-64 state of every one of them (PREFIX among the
//     states). A resume reads them again anyway (a stream from its start) and checks them all.
//   - of a File, Blob or path ('file'): the CRC-32 of the first WINDOW bytes after each checkpoint
//     (samples), beside the identity (a File's name and lastModified; a path's device, inode,
//     mtime and ctime). A resume does not read the file before the offset: it reads again up to
//     SAMPLES_CHECKED of these windows (the first, the last and some between) and compares.
import { format } from '../control/messages.js';
import { Refused, hexOf, bytesOfHex, encoded } from './options.js';
import { crc32, PREFIX } from './lane.js';

const RECORD_TAG = [0x54, 0x57, 0x44, 0x47];  // "TWDG"
// Bump when the record's body or any algorithm's saved state changes its meaning. 2: the source's
// kind, a path's device, inode and ctime, the prefix's CRC-64 or sampled windows.
const RECORD_VERSION = 2;
export const SAMPLES_CHECKED = 16;

// 'data' for sources a resume reads again from their start, 'file' for the others.
export const kindOf = (source) => (source.blob || source.path ? 'file' : 'data');

function identityOf(source) {
  const id = source.id || {};
  return {
    size: source.size === undefined ? null : source.size, name: source.name || null, modified: source.modified || null,
    device: id.device || null, inode: id.inode || null, changed: id.changed || null,
  };
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

// samples: [[at, length, crc32]] of a file's windows (none for data).
export function encodeRecord(source, opts, offset, chunks, states, samples) {
  const statesHex = {};
  for (const [name, bytes] of Object.entries(states)) statesHex[name] = hexOf(bytes);
  const body = new TextEncoder().encode(JSON.stringify({
    kind: kindOf(source), source: identityOf(source), shape: shapeOf(opts), offset,
    chunks: chunks.map((c) => [c.offset, c.length, encoded(c.raw, 'hex')]),
    states: statesHex,
    samples: kindOf(source) === 'file' ? samples : undefined,
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

// { offset, chunks, states, samples, prefix } of a record that belongs to this source and these
// options as far as the record itself tells; else a Refused naming why. What the bytes before the
// offset must still show is left to the caller: `prefix` (the CRC-64 state of the bytes before
// the offset, of a data record) or `samples` (a file record's windows).
export function decodeRecord(record, source, opts) {
  const damaged = () => new Refused((m, d) => d.checkpointDamaged, 'checkpoint-damaged');
  if (record.length < 13 || RECORD_TAG.some((b, i) => record[i] !== b)) throw damaged();
  const view = new DataView(record.buffer, record.byteOffset, record.byteLength);
  const length = view.getUint32(5, true);
  if (9 + length + 4 !== record.length) throw damaged();
  if (view.getUint32(9 + length, true) !== crc32(record.subarray(0, 9 + length))) throw damaged();
  if (record[4] !== RECORD_VERSION) throw new Refused((m, d) => d.checkpointVersion, 'checkpoint-version');
  let body;
  try {
    body = JSON.parse(new TextDecoder('utf-8', { fatal: true }).decode(record.subarray(9, 9 + length)));
  } catch (e) {
    throw damaged();
  }
  const mismatch = (what) => new Refused((m, d) => format(d.checkpointMismatch, what), 'checkpoint-mismatch');
  const mine = identityOf(source), theirs = body.source || {};
  // A data record's prefix can only be checked by reading it all: a file resumed from one is not.
  if (body.kind !== 'data' && body.kind !== 'file') throw damaged();
  if (body.kind === 'data' && kindOf(source) === 'file') throw mismatch('source');
  for (const key of Object.keys(mine)) {
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
  let prefix = null, samples = [];
  if (body.kind === 'data') {
    prefix = bytesOfHex(body.states[PREFIX]);
    if (!prefix) throw damaged();
  } else {
    samples = body.samples;
    const valid = (w) => Array.isArray(w) && w.length === 3 && w.every((n) => Number.isSafeInteger(n) && n >= 0) && w[0] + w[1] <= offset;
    if (!Array.isArray(samples) || !samples.every(valid)) throw damaged();
    // Every checkpoint after the first pass of a non-empty prefix kept a window.
    if (offset > 0 && !samples.length) throw damaged();
  }
  return { offset, chunks, states, samples, prefix };
}

// The windows of a file record to read again: the first, the last and evenly between them.
export function samplesToCheck(samples) {
  if (samples.length <= SAMPLES_CHECKED) return samples;
  const picked = [];
  for (let i = 0; i < SAMPLES_CHECKED; i++) picked.push(samples[Math.round(i * (samples.length - 1) / (SAMPLES_CHECKED - 1))]);
  return picked;
}

// Refuses a resume whose source's bytes at the windows are not the record's.
export function checkWindow(window, bytes) {
  if (bytes.length !== window[1] || crc32(bytes) !== window[2]) {
    throw new Refused((m, d) => format(d.checkpointMismatch, 'content'), 'checkpoint-mismatch');
  }
}
