// Digest throughput of two builds of the module, side by side in Node: every digest kind over the
// same 32 MiB, fed a chunk at a time as the SDK feeds it; the builds interleaved, the fastest of
// ROUNDS runs of each kept, and the new build's speed given as a ratio of the reference's. A run
// is timed by the process's CPU time, not the clock: the machine is shared, and time spent
// waiting for a core is not the module's.
//   node bench/weight/speed.mjs REFERENCE.wasm [CANDIDATE.wasm, default web/sdk/tarnwick.wasm] [ROUNDS]
import { readFileSync } from 'node:fs';
import { fileURLToPath } from 'node:url';
import { Engine } from '../../web/sdk/engine/engine.js';
import { CHUNK } from '../../web/sdk/engine/reading.js';

const [reference, candidate = fileURLToPath(new URL('../../web/sdk/tarnwick.wasm', import.meta.url)), rounds = '9'] = process.argv.slice(2);
if (!reference) {
  console.error('usage: node bench/weight/speed.mjs REFERENCE.wasm [CANDIDATE.wasm] [ROUNDS]');
  process.exit(2);
}
const SIZE = 32 << 20;
const data = new Uint8Array(SIZE);
for (let i = 0, x = 7; i < SIZE; i++) { x = (x * 1103515245 + 12345) >>> 0; data[i] = x >>> 24; }

const engines = { reference: await Engine.load(readFileSync(reference)), candidate: await Engine.load(readFileSync(candidate)) };

// CPU time used so far, in ms.
function cpu() {
  const { user, system } = process.cpuUsage();
  return (user + system) / 1000;
}

// One pass of a kind over the data: the time in ms, and the digest (the two builds must agree).
function pass(engine, kind) {
  const x = engine._x;
  const started = cpu();
  const context = x.tw_digest_new(kind);
  for (let at = 0; at < SIZE; at += CHUNK) {
    const n = Math.min(CHUNK, SIZE - at);
    engine._put(data.subarray(at, at + n));
    x.tw_digest_update(context, engine._in, n);
  }
  x.tw_digest_final(context, engine._out);
  const ms = cpu() - started;
  const hex = engine._hex(engine._out, x.tw_digest_size(kind));
  x.tw_digest_delete(context);
  return { ms, hex };
}

console.log(`digest throughput, ${SIZE >> 20} MiB a run (CPU time), fastest of ${rounds} interleaved runs`);
console.log('| kind | reference MB/s | candidate MB/s | candidate / reference |');
console.log('|---|---|---|---|');
let mismatch = false;
for (const name of ['md5', 'sha1', 'sha256', 'sm3', 'crc32', 'crc32c', 'crc64ecma', 'crc64nvme']) {
  const best = { reference: Infinity, candidate: Infinity };
  const hexes = new Set();
  for (let round = 0; round < Number(rounds); round++) {
    const order = round % 2 ? ['candidate', 'reference'] : ['reference', 'candidate'];
    for (const which of order) {
      const engine = engines[which];
      const kind = engine.digestKind(name);
      if (kind < 0) throw new Error(`${which} has no ${name}`);
      const { ms, hex } = pass(engine, kind);
      best[which] = Math.min(best[which], ms);
      hexes.add(hex);
    }
  }
  if (hexes.size !== 1) { mismatch = true; console.log(`| ${name} | the builds disagree: ${[...hexes].join(' ')} |`); continue; }
  const rate = (ms) => (SIZE / 1e6 / (ms / 1000)).toFixed(0);
  console.log(`| ${name} | ${rate(best.reference)} | ${rate(best.candidate)} | ${(best.reference / best.candidate).toFixed(3)} |`);
}
process.exitCode = mismatch ? 1 : 0;
