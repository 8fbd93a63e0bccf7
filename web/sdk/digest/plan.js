// How a digest job is spread over lanes (digest/lane.js): its algorithms by cost, each lane
// reading the whole source, or, for a job of CRCs alone over a file, the file in spans read at
// once, whose values are joined at the end.
import { COST, READ_COST } from './lane.js';

// node:crypto's costs where it stands in (chunk digests always; whole ones without checkpoints).
const NODE_COST = { md5: 2, sha1: 0.6, sha256: 0.8 };
const SPAN_MIN = 32 * 1024 * 1024;    // a span of a file read by a lane of its own, at least
const SPAN_STEP = 2 * 1024 * 1024;    // spans start on multiples of the lanes' reads

// The lanes: every (algorithm, whole or chunk) item given to the lane that finishes first (longest
// first), for the number of lanes that ends soonest, each lane paying for its own read.
export function planLanes(whole, chunk, maxLanes, nodeCrypto) {
  const cost = (name) => (nodeCrypto && NODE_COST[name]) || COST[name];
  const items = [...whole.map((name) => ({ name, role: 'whole' })), ...chunk.map((name) => ({ name, role: 'chunk' }))];
  items.sort((a, b) => cost(b.name) - cost(a.name));
  let best = null;
  for (let count = 1; count <= Math.max(1, Math.min(maxLanes, items.length)); count++) {
    const lanes = Array.from({ length: count }, () => ({ whole: [], chunk: [], cost: READ_COST }));
    for (const item of items) {
      const lane = lanes.reduce((a, b) => (b.cost < a.cost ? b : a));
      lane[item.role].push(item.name);
      lane.cost += cost(item.name);
    }
    const span = Math.max(...lanes.map((l) => l.cost));
    if (!best || span < best.span * 0.95) best = { span, lanes };
  }
  return best.lanes.map(({ whole: w, chunk: c }) => ({ whole: w, chunk: c }));
}

// A job of CRCs alone over a whole File or local file, with nothing to save or resume, waits on
// the reading more than on the hashing, and a file read as several streams at once comes faster
// than as one: each lane then takes a span of the file (starting on multiples of SPAN_STEP, none
// under SPAN_MIN), and the spans' values are joined at the end. Else null.
export function spansFor(opts, source, lanes) {
  if (lanes < 2 || !(source.blob || source.path) || opts.resume || opts.checkpoint || opts.chunkSize || opts.cert) return null;
  if (!opts.algorithms.every((name) => JOINABLE.includes(name))) return null;
  const count = Math.min(lanes, Math.floor(source.size / SPAN_MIN));
  if (count < 2) return null;
  const step = Math.ceil(source.size / count / SPAN_STEP) * SPAN_STEP;
  const spans = [];
  for (let start = 0; start < source.size; start += step) spans.push({ start, end: Math.min(source.size, start + step) });
  return spans;
}

// The CRCs, each by its width and reflected polynomial: the values of consecutive spans of a
// source join into the whole source's.
const CRC_FORMS = {
  crc32: [32, 0xEDB88320n], crc32c: [32, 0x82F63B78n],
  crc64ecma: [64, 0xC96C5795D7870F42n], crc64nvme: [64, 0x9A6C9329AC4BC9B5n],
};
const JOINABLE = Object.keys(CRC_FORMS);
const powers = {};   // name: [x^(2^k) mod P for k = 0, 1, ...], in the reflected form

// a * b mod P, polynomials in the reflected form (the top bit is x^0).
function multiplied(a, b, width, polynomial) {
  let m = 1n << BigInt(width - 1), p = 0n;
  for (;;) {
    if (a & m) {
      p ^= b;
      if ((a & (m - 1n)) === 0n) return p;
    }
    m >>= 1n;
    b = b & 1n ? (b >> 1n) ^ polynomial : b >> 1n;
  }
}

// The CRC of A then B (each value as its big-endian bytes) from A's, B's and B's length: A's value
// carried past |B| zero bytes (times x^(8|B|) mod P), then B's added. Every one of these CRCs
// starts from all ones and flips all its bits at the end: the two flips cancel.
function joinCrc(name, a, b, lengthB) {
  const [width, polynomial] = CRC_FORMS[name];
  const big = (bytes) => bytes.reduce((v, byte) => (v << 8n) | BigInt(byte), 0n);
  const x2 = powers[name] || (powers[name] = [1n << BigInt(width - 2)]);
  let p = 1n << BigInt(width - 1);
  for (let n = BigInt(lengthB), k = 3; n; n >>= 1n, k++) {
    while (x2.length <= k) x2.push(multiplied(x2[x2.length - 1], x2[x2.length - 1], width, polynomial));
    if (n & 1n) p = multiplied(x2[k], p, width, polynomial);
  }
  let v = multiplied(p, big(a), width, polynomial) ^ big(b);
  const out = new Uint8Array(width / 8);
  for (let i = out.length - 1; i >= 0; i--, v >>= 8n) out[i] = Number(v & 0xFFn);
  return out;
}

// The whole file's values from the spans' ends ({ end, digests }), in order.
export function joinSpans(algorithms, spans, ends) {
  const digests = {};
  for (const name of algorithms) {
    digests[name] = ends.slice(1).reduce((value, end, n) => joinCrc(name, value, end.digests[name], end.end - spans[n + 1].start), ends[0].digests[name]);
  }
  return digests;
}
