// tarnwick digest: the SDK's digest() on paths, printing what md5sum and sha256sum print for one
// algorithm, or one JSON object per path.
import { readFileSync } from 'node:fs';
import { Tarnwick } from '../sdk/tarnwick.js';
import { progressLine } from './progress.js';

export const digestUsage = `Usage: tarnwick digest [ALGORITHM...] [--sm3 [--z CERT.b64]] [--chunk SIZE[K|M|G]] [--json] [--base64] PATH...

Digests of local files from one read of each.

Algorithms (one or more): --md5 --sha1 --sha256 --sm3 --crc32 --crc32c --crc64ecma --crc64nvme
  --z CERT.b64     with --sm3: SM3 of the signer's Z value and the file, the Z value from the
                   base64 SM2 certificate in CERT.b64 (the file's whole SM3 only, not its chunks)
  --chunk SIZE     digests of each part of SIZE bytes too (K, M, G: KiB, MiB, GiB), and the S3
                   multipart ETag when --md5 is among them
  --json           one JSON object a path: { "path", "size", "digests", "chunks", "s3Etag" }
  --base64         digests in base64 (as HTTP checksum headers carry them) instead of hex

One algorithm without --json or --chunk prints what md5sum and sha256sum print: the digest, two
spaces and the path. A path that fails prints its text on standard error and the others are still
done. Progress is shown on standard error when it is a terminal.

Exit status: 0 all done, 1 a path failed, 2 the command line was wrong.
`;

const ALGORITHMS = ['md5', 'sha1', 'sha256', 'sm3', 'crc32', 'crc32c', 'crc64ecma', 'crc64nvme'];
const UNITS = { '': 1, K: 1024, M: 1024 ** 2, G: 1024 ** 3 };

function say(stream, line) {
  stream.write(String(line).replace(/[\r\n]+$/, '') + '\n');
}

class Wrong extends Error {}

export function parseDigest(argv) {
  const o = { algorithms: [], paths: [], cert: null, chunk: 0, json: false, base64: false };
  let ended = false;
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (!ended && a === '--') { ended = true; continue; }
    if (!ended && a.startsWith('--') && ALGORITHMS.includes(a.slice(2))) {
      if (!o.algorithms.includes(a.slice(2))) o.algorithms.push(a.slice(2));
      continue;
    }
    if (!ended && (a === '--z' || a === '--chunk')) {
      if (i + 1 >= argv.length) throw new Wrong(`${a} needs a value`);
      const value = argv[++i];
      if (a === '--z') { o.cert = value; continue; }
      const m = /^(\d+)([KMG]?)$/i.exec(value);
      if (!m) throw new Wrong(`--chunk ${value}: a size in bytes, with K, M or G`);
      o.chunk = Number(m[1]) * UNITS[m[2].toUpperCase()];
      if (!Number.isSafeInteger(o.chunk) || o.chunk < 1024) throw new Wrong(`--chunk ${value}: at least 1K`);
      continue;
    }
    if (!ended && a === '--json') { o.json = true; continue; }
    if (!ended && a === '--base64') { o.base64 = true; continue; }
    if (!ended && a.startsWith('-') && a !== '-') throw new Wrong(`unknown option '${a}'`);
    o.paths.push(a);
  }
  if (o.algorithms.length === 0) throw new Wrong('digest needs an algorithm (--md5, --sha256, ...)');
  if (o.cert !== null && !o.algorithms.includes('sm3')) throw new Wrong('--z goes with --sm3');
  if (o.paths.length === 0) throw new Wrong('digest needs a path');
  o.algorithms = ALGORITHMS.filter((n) => o.algorithms.includes(n));
  return o;
}

// Exit status.
export async function runDigest(argv) {
  let o;
  try {
    o = parseDigest(argv);
  } catch (e) {
    if (!(e instanceof Wrong)) throw e;
    process.stderr.write(`tarnwick: ${e.message}\nTry 'tarnwick digest --help'.\n`);
    return 2;
  }
  let cert;
  if (o.cert !== null) {
    try {
      cert = readFileSync(o.cert, 'utf8').trim();
    } catch (e) {
      say(process.stderr, `tarnwick: cannot read the certificate ${o.cert}: ${e.message}`);
      return 1;
    }
  }
  const controller = new AbortController();
  process.once('SIGINT', () => controller.abort());
  const t = await Tarnwick.open();
  const lines = o.algorithms.length === 1 && !o.json && !o.chunk;
  let status = 0;
  try {
    for (const path of o.paths) {
      const progress = progressLine(path);
      let result;
      try {
        result = await t.digest(path, {
          algorithms: o.algorithms, chunkSize: o.chunk || undefined, sm3Cert: cert,
          encoding: o.base64 ? 'base64' : 'hex', onProgress: progress.onProgress, signal: controller.signal,
        });
      } catch (e) {
        progress.end();
        if (e && e.name === 'AbortError') return 130;
        if (!e || e.name !== 'TarnwickError') throw e;
        say(process.stderr, e.message);
        status = 1;
        continue;
      }
      progress.end();
      if (lines) say(process.stdout, `${result.digests[o.algorithms[0]]}  ${path}`);
      else say(process.stdout, JSON.stringify({ path, ...result }));
    }
  } finally {
    t.close();
  }
  return status;
}
