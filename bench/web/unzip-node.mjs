// Reading archives in Node, each figure beside its reference from the same run, as a ratio (higher
// is better for us): listing an archive of 65,536 entries (zip.js's ZipReader over a BlobReader,
// and yauzl), and testing a 262 MiB text file's archive, deflate and Deflate64 (zip.js reading
// every entry with its CRC check on; yauzl, which checks no CRC, reading every entry; unzip -t as
// a floor). Fastest of several interleaved runs.
//   node bench/web/unzip-node.mjs
// zip.js and yauzl are web/'s devDependencies (TARNWICK_BENCH_MODULES: another node_modules).
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { Tarnwick } from '../../web/sdk/tarnwick.js';

const root = fileURLToPath(new URL('../..', import.meta.url));
const modules = process.env.TARNWICK_BENCH_MODULES;
const require = createRequire(modules ? join(modules, 'x.js') : join(root, 'web', 'package.json'));
const zipjs = await import(pathToFileURL(require.resolve('@zip.js/zip.js')));
const yauzl = require('yauzl');
zipjs.configure({ useWebWorkers: false });

const work = mkdtempSync(join(tmpdir(), 'tarnwick-unzip-bench-'));
process.on('exit', () => rmSync(work, { recursive: true, force: true }));
execFileSync('python3', ['-c', `
import sys, zipfile
with zipfile.ZipFile(sys.argv[1] + "/many.zip", "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(65536):
        z.writestr("dir%d/file%05d.txt" % (i % 16, i), b"entry %d" % i)
with open(sys.argv[1] + "/text.txt", "w") as f:
    for i in range(4400000):
        f.write("line %d of some text that compresses, with a number %d\\n" % (i, i * 7919 % 100003))
`, work]);
execFileSync('bash', ['-c', `cd '${work}' && zip -q -6 text.zip text.txt && 7z a -tzip -mm=Deflate64 text64.zip text.txt > /dev/null`]);

const t = await Tarnwick.open();
const blobOf = (name) => new Blob([readFileSync(join(work, name))]);

const ours = {
  list: async () => (await t.openZip(join(work, 'many.zip'))).close(),
  test: async (name) => {
    const a = await t.openZip(join(work, name));
    const v = await a.test();
    a.close();
    if (!v.ok) throw new Error('test failed');
  },
};
const theirs = {
  zipjsList: async () => {
    const reader = new zipjs.ZipReader(new zipjs.BlobReader(blobOf('many.zip')));
    if ((await reader.getEntries()).length !== 65536) throw new Error('zip.js listed otherwise');
    await reader.close();
  },
  zipjsTest: async (name) => {
    const reader = new zipjs.ZipReader(new zipjs.BlobReader(blobOf(name)), { checkSignature: true });
    for (const entry of await reader.getEntries()) {
      if (!entry.directory) await entry.getData(new WritableStream(), { checkSignature: true });
    }
    await reader.close();
  },
  yauzl: (name, read) => new Promise((resolve, reject) => {
    yauzl.open(join(work, name), { lazyEntries: true }, (err, zip) => {
      if (err) return reject(err);
      let n = 0;
      zip.on('entry', (entry) => {
        n++;
        if (!read) return zip.readEntry();
        zip.openReadStream(entry, (e, stream) => {
          if (e) return reject(e);
          stream.on('data', () => {});
          stream.on('end', () => zip.readEntry());
        });
      });
      zip.on('end', () => resolve(n));
      zip.readEntry();
    });
  }),
};

async function fastest(runs, fns) {
  const best = fns.map(() => Infinity);
  for (let r = 0; r < runs; r++) {
    for (const [i, fn] of fns.entries()) {
      const start = performance.now();
      await fn();
      best[i] = Math.min(best[i], performance.now() - start);
    }
  }
  return best;
}
const row = (what, ms, refName, refMs) =>
  console.log(`${what.padEnd(44)} ${ms.toFixed(0).padStart(6)} ms   ${refName.padEnd(28)} ${refMs.toFixed(0).padStart(6)} ms   ${(refMs / ms).toFixed(2)}x`);

{
  const [a, b, c] = await fastest(7, [ours.list, theirs.zipjsList, () => theirs.yauzl('many.zip', false)]);
  row('list 65,536 entries', a, 'zip.js ZipReader+BlobReader', b);
  row('list 65,536 entries', a, 'yauzl', c);
}
for (const name of ['text.zip', 'text64.zip']) {
  const unzip = () => execFileSync('unzip', ['-tq', join(work, name)]);
  const fns = [() => ours.test(name), async () => unzip()];
  if (name === 'text.zip') fns.push(() => theirs.zipjsTest(name), () => theirs.yauzl(name, true));
  const [a, u, z, y] = await fastest(3, fns);
  const label = `test 262 MiB of text (${name === 'text.zip' ? 'deflate' : 'Deflate64'})`;
  row(label, a, 'unzip -t', u);
  if (z !== undefined) row(label, a, 'zip.js, CRC check on', z);
  if (y !== undefined) row(label, a, 'yauzl (no CRC check)', y);
}
