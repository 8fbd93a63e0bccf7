// tarnwick digest: the SDK's digest() on paths, printing what md5sum and sha256sum print for one
// algorithm, or one JSON object per path.
import { readFileSync } from 'node:fs';
import { Tarnwick } from '../sdk/tarnwick.js';
import { progressLine } from './progress.js';
import { argBytes, pathArgument, shown, sumLine } from './names.js';

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
spaces and the path (a path holding a backslash, line feed or carriage return escaped as they
escape it, so that their -c reads the lines back). A path that fails prints its text on standard
error and the others are still done. Progress is shown on standard error when it is a terminal.

Exit status: 0 all done, 1 a path failed, 2 the command line was wrong (--z or --chunk given
twice too).
`;

const ALGORITHMS = ['md5', 'sha1', 'sha256', 'sm3', 'crc32', 'crc32c', 'crc64ecma', 'crc64nvme'];
const UNITS = { '': 1, K: 1024, M: 1024 ** 2, G: 1024 ** 3 };

// Bytes (a name that is not UTF-8 in them) go out as they are.
function say(stream, line) {
  if (Buffer.isBuffer(line)) stream.write(Buffer.concat([line, Buffer.from('\n')]));
  else stream.write(String(line).replace(/[\r\n]+$/, '') + '\n');
}

class Wrong extends Error {}

// `first`: where argv starts in process.argv (a path's bytes are looked up there).
export function parseDigest(argv, first = -1) {
  const o = { algorithms: [], paths: [], at: [], cert: null, certAt: -1, chunk: 0, json: false, base64: false };
  const seen = new Set();
  let ended = false;
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (!ended && a === '--') { ended = true; continue; }
    if (!ended && a.startsWith('--') && ALGORITHMS.includes(a.slice(2))) {
      if (!o.algorithms.includes(a.slice(2))) o.algorithms.push(a.slice(2));
      continue;
    }
    if (!ended && (a === '--z' || a === '--chunk')) {
      if (seen.has(a)) throw new Wrong(`${a} is given twice`);
      seen.add(a);
      if (i + 1 >= argv.length) throw new Wrong(`${a} needs a value`);
      const value = argv[++i];
      if (a === '--z') { o.cert = value; o.certAt = first < 0 ? -1 : first + i; continue; }
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
    o.at.push(first < 0 ? -1 : first + i);
  }
  if (o.algorithms.length === 0) throw new Wrong('digest needs an algorithm (--md5, --sha256, ...)');
  if (o.cert !== null && !o.algorithms.includes('sm3')) throw new Wrong('--z goes with --sm3');
  if (o.paths.length === 0) throw new Wrong('digest needs a path');
  o.algorithms = ALGORITHMS.filter((n) => o.algorithms.includes(n));
  return o;
}

// Exit status. `first`: where argv starts in process.argv.
export async function runDigest(argv, first = -1) {
  let o;
  try {
    o = parseDigest(argv, first);
  } catch (e) {
    if (!(e instanceof Wrong)) throw e;
    process.stderr.write(`tarnwick: ${e.message}\nTry 'tarnwick digest --help'.\n`);
    return 2;
  }
  let cert;
  if (o.cert !== null) {
    try {
      cert = readFileSync(argBytes(o.certAt) || o.cert, 'utf8').trim();
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
    for (let i = 0; i < o.paths.length; i++) {
      const path = o.paths[i];
      const name = pathArgument(path, o.at[i]);
      if (name.refusal) {
        say(process.stderr, name.refusal);
        status = 1;
        continue;
      }
      const progress = progressLine(path);
      let result;
      try {
        result = await t.digest(name.path, {
          algorithms: o.algorithms, chunkSize: o.chunk || undefined, sm3Cert: cert,
          encoding: o.base64 ? 'base64' : 'hex', onProgress: progress.onProgress, signal: controller.signal,
        });
      } catch (e) {
        progress.end();
        if (e && e.name === 'AbortError') return 130;
        if (!e || e.name !== 'TarnwickError') throw e;
        say(process.stderr, shown(e.message, name));
        status = 1;
        continue;
      } finally {
        name.close();
      }
      progress.end();
      if (lines) process.stdout.write(sumLine(result.digests[o.algorithms[0]], name.given));
      else say(process.stdout, JSON.stringify({ path, ...result }));
    }
  } finally {
    t.close();
  }
  return status;
}
