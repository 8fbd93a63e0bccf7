// The npm package as a page author meets it: packed by npm, installed by name into a scratch
// project, and then
//   - served as it is (an import map naming it), built by Vite 8 and 7 and by webpack 5: each page
//     run in Debian's Chromium, a file picked through <input type=file>, its size, type, SHA-256,
//     SM3 (plain and with the Z value) and archive checked against sha256sum, openssl, unzip -t
//     and Python's zipfile (the corpus's expected.json);
//   - imported by name in Node, and its command run on the corpus's path calls, which must give
//     the results and texts the SDK gives in Node for the same paths;
//   - the package's contents (npm pack --dry-run) and its pack step's refusals.
//   node test/package/run.mjs
import { execFileSync, spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { cpSync, mkdirSync, mkdtempSync, readFileSync, rmSync, utimesSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { serve } from '../../tools/serve.mjs';
import { launch } from '../../tools/chromium.mjs';
import { calls } from '../corpus.mjs';
import { commandCalls, printed, runCommand } from '../command.mjs';

const web = fileURLToPath(new URL('../..', import.meta.url));
const root = join(web, '..');
const work = mkdtempSync(join(tmpdir(), 'tarnwick-package-'));
const app = join(work, 'app');
const corpus = join(work, 'corpus');
let passed = 0, failed = 0;

function ok(cond, message) {
  if (cond === true) passed++;
  else { failed++; console.log('FAIL: ' + message + (cond && cond !== false ? ' (' + cond + ')' : '')); }
}

function run(cmd, args, cwd) {
  const r = spawnSync(cmd, args, { cwd, encoding: 'utf8', maxBuffer: 1 << 26 });
  if (r.status !== 0) throw new Error(`${cmd} ${args.join(' ')} failed:\n${r.stdout}\n${r.stderr}`);
  return r.stdout;
}

function zipFacts(path) {
  const unzip = spawnSync('unzip', ['-tq', path]);
  const facts = JSON.parse(execFileSync('python3', ['-c', `
import json, sys, zipfile, hashlib
z = zipfile.ZipFile(sys.argv[1])
name = lambda e: e.filename if e.flag_bits & 0x800 else e.filename.encode("cp437").decode("gbk")
print(json.dumps({"names": [name(e) for e in z.infolist()], "bad": z.testzip(),
  "sha256": [hashlib.sha256(z.read(e)).hexdigest().upper() for e in z.infolist()]}))`, path]).toString());
  return { ...facts, unzipOk: unzip.status === 0 };
}

function within(ms, promise, what) {
  let timer;
  return Promise.race([promise, new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`${what}: no answer in ${ms / 1000} s`)), ms);
  })]).finally(() => clearTimeout(timer));
}

try {
  execFileSync('python3', [join(web, 'test', 'fixtures.py'), corpus]);
  const expected = JSON.parse(readFileSync(join(corpus, 'expected.json'), 'utf8'));

  // ---- what the package holds ----
  const version = execFileSync(join(root, 'tools', 'version.sh'), ['SEMVER']).toString().trim();
  const [dry] = JSON.parse(run('npm', ['pack', '--dry-run', '--json'], web));
  const want = ['LICENSE', 'MIGRATING.md', 'README.md', 'THIRD-PARTY-NOTICES', 'bin/digest-command.js', 'bin/names.js', 'bin/progress.js', 'bin/tarnwick.js', 'bin/verify-command.js', 'package.json',
    'sdk/zip/deflate.js', 'sdk/zip/entries.js', 'sdk/zip/front.js', 'sdk/zip/local.js', 'sdk/zip/names.js', 'sdk/zip/archive.js', 'sdk/engine/backends.js', 'sdk/control/contract.js',
    'sdk/zip/deflate-module.js', 'sdk/digest/checkpoint.js', 'sdk/digest/lane.js', 'sdk/digest/options.js', 'sdk/digest/plan.js', 'sdk/digest/pool.js', 'sdk/digest/source.js', 'sdk/digest/digest.js', 'sdk/engine/digesting.js',
    'sdk/engine/engine.js', 'sdk/engine/module.js', 'sdk/control/naming.js',
    'sdk/zip/fflate.js', 'sdk/control/files.js', 'sdk/control/messages.js', 'sdk/engine/packing.js', 'sdk/engine/platform.js',
    'sdk/engine/reading.js', 'sdk/sm2/verify.js', 'sdk/workers/tarnwick-deflate.js', 'sdk/zip/tarnwick-deflate.wasm', 'sdk/workers/tarnwick-digest-worker.js', 'sdk/tarnwick-ie.js', 'sdk/workers/tarnwick-worker.js',
    'bin/unzip-command.js', 'sdk/unzip/names.js', 'sdk/unzip/extract.js', 'sdk/unzip/reader.js', 'sdk/unzip/failures.js', 'sdk/unzip/listing.js', 'sdk/unzip/sources.js',
    'sdk/tarnwick.d.ts', 'sdk/tarnwick.js', 'sdk/tarnwick.wasm', 'sdk/control/values.js'].sort();
  const got = dry.files.map((f) => f.path).sort();
  ok(JSON.stringify(got) === JSON.stringify([...want].sort()), 'the package holds what a page or Node loads and nothing else: ' + got.join(' '));
  ok(dry.name === 'tarnwick' && dry.version === version, `tarnwick@${version}, got ${dry.name}@${dry.version}`);

  const [packed] = JSON.parse(run('npm', ['pack', '--json', '--pack-destination', work], web));
  mkdirSync(app);
  writeFileSync(join(app, 'package.json'), JSON.stringify({ name: 'scratch-page', private: true, type: 'module' }));
  run('npm', ['install', '--offline', '--no-audit', '--no-fund', '--loglevel=error', join(work, packed.filename)], app);
  const installed = join(app, 'node_modules', 'tarnwick');
  const manifest = JSON.parse(readFileSync(join(installed, 'package.json'), 'utf8'));
  ok(manifest.license === 'MIT' && !manifest.private && manifest.sideEffects === false, 'MIT, not private, no side effects');
  for (const name of ['LICENSE', 'THIRD-PARTY-NOTICES'])
    ok(readFileSync(join(installed, name), 'utf8') === readFileSync(join(root, name), 'utf8'), name + ' is the root\'s');

  // ---- the types, found by name through the exports map, as a bundler's and Node's resolution finds them ----
  writeFileSync(join(app, 'typed.ts'), `import { Tarnwick, TarnwickError } from 'tarnwick';
export async function digest(file: File): Promise<string> {
  const t = await Tarnwick.open();
  try { return await t.checked.GetLocalFileSHA256(file); } catch (e) { return e instanceof TarnwickError ? e.message : ''; }
}
`);
  // TypeScript 5.9 and 7 (`typescript7`, an alias).
  for (const ts of ['typescript', 'typescript7']) {
    for (const resolution of [['bundler', 'esnext'], ['node16', 'node16']]) {
      const tsc = spawnSync(process.execPath, [join(web, 'node_modules', ts, 'bin', 'tsc'), '--strict', '--noEmit',
        '--target', 'es2022', '--lib', 'es2022,dom', '--module', resolution[1], '--moduleResolution', resolution[0],
        join(app, 'typed.ts')], { cwd: app, encoding: 'utf8' });
      ok(tsc.status === 0, `${ts}: the types resolve by name (moduleResolution ${resolution[0]}): ${tsc.stdout}${tsc.stderr}`);
    }
  }

  // ---- the page, three ways ----
  const page = `import { Tarnwick } from 'tarnwick';

async function base64(blob) {
  const bytes = new Uint8Array(await blob.arrayBuffer());
  let s = '';
  for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(s);
}

window.check = async (cert) => {
  const file = document.getElementById('pick').files[0];
  const t = await Tarnwick.open();
  const out = {
    size: await t.GetLocalFileSize(file),
    probe: await t.GetLocalFileHeadSigned(file),
    sha256: await t.GetLocalFileSHA256(file),
    sm3: await t.GetLocalFileSM3(file, 0, ''),
    sm3z: await t.GetLocalFileSM3(file, 1, cert),
  };
  const zip = await t.CreateZipFromLocalFile(file);
  out.zipName = zip.name;
  out.zip = await base64(zip);
  out.text = await t.GetLastErrorInfo();
  // A large file goes to the deflate workers, which the bundle must have emitted.
  out.bigZip = await base64(await t.CreateZipFromMemFile(bigText(), 'big.txt'));
  t.close();
  return out;
};
function bigText() {
  const lines = [];
  for (let i = 0, n = 0; n < BIG; i++) { lines.push('line ' + i + ' of a file packed in blocks\\n'); n += lines[i].length; }
  return new TextEncoder().encode(lines.join('')).subarray(0, BIG);
}
const BIG = (18 << 20) + 777;
window.ready = true;
`;
  const html = (head, script) => `<!doctype html><html><head><meta charset="utf-8">${head}</head><body>
<input type="file" id="pick">${script}</body></html>`;
  writeFileSync(join(app, 'main.js'), page);
  writeFileSync(join(app, 'index.html'), html('', '<script type="module" src="./main.js"></script>'));
  writeFileSync(join(app, 'static.html'), html(
    '<script type="importmap">{ "imports": { "tarnwick": "./node_modules/tarnwick/sdk/tarnwick.js" } }</script>',
    '<script type="module" src="./main.js"></script>'));
  // Vite 8 and Vite 7 with their defaults (7's workers are iife, which cannot hold split code).
  run(process.execPath, [join(web, 'node_modules', 'vite', 'bin', 'vite.js'), 'build', '--outDir', 'dist-vite', '--logLevel', 'warn'], app);
  run(process.execPath, [join(web, 'node_modules', 'vite7', 'bin', 'vite.js'), 'build', '--outDir', 'dist-vite7', '--logLevel', 'warn'], app);
  run(process.execPath, [join(web, 'node_modules', 'webpack-cli', 'bin', 'cli.js'), '--mode', 'production',
    '--entry', './main.js', '--output-path', join(app, 'dist-webpack')], app);
  writeFileSync(join(app, 'dist-webpack', 'index.html'), html('', '<script src="./main.js"></script>'));
  // The page's own code holds the methods alone: digest(), verifySm2, the archives' gathering and
  // openZip's reader are split out by each bundler (loaded by their first call), fflate stays in
  // the workers.
  for (const [how, dir] of [['Vite', 'dist-vite'], ['Vite 7', 'dist-vite7'], ['webpack', 'dist-webpack']]) {
    const entry = how === 'webpack' ? join(app, dir, 'main.js')
      : join(app, dir, /src="\/?(assets\/index-[^"]+\.js)"/.exec(readFileSync(join(app, dir, 'index.html'), 'utf8'))[1]);
    const code = readFileSync(entry, 'utf8');
    const held = ['checkpoint-damaged', 'bad-signature', 'is inside itself', 'tw_unzip_open', 'invalid zip data'].filter((m) => code.includes(m));
    ok(held.length === 0 && code.length < 60000, `${how}: the page's code (${code.length} bytes) holds none of digest, verifySm2, the archives' gathering, openZip's reader or fflate: ${held.join(', ')}`);
  }

  const picked = join(corpus, 'sample.bin');
  const SYNC = Buffer.from([0, 0, 255, 255]);
  const bigLines = [];
  for (let i = 0, n = 0; n < (18 << 20) + 777; i++) { bigLines.push('line ' + i + ' of a file packed in blocks\n'); n += bigLines[i].length; }
  const bigSha = createHash('sha256').update(Buffer.from(bigLines.join('')).subarray(0, (18 << 20) + 777)).digest('hex').toUpperCase();
  const pages = [['served as it is', app, 'static.html'], ['Vite', join(app, 'dist-vite'), 'index.html'],
                 ['Vite 7', join(app, 'dist-vite7'), 'index.html'],
                 ['webpack', join(app, 'dist-webpack'), 'index.html']];
  const browser = await launch();
  try {
    for (const [how, dir, entry] of pages) {
      const server = await serve(0, dir + '/');
      try {
        const tab = await browser.newPage();
        const errors = [];
        tab.on('pageerror', (e) => errors.push(e.message));
        tab.on('requestfailed', (r) => errors.push('request failed: ' + r.url()));
        tab.on('response', (r) => { if (r.status() >= 400) errors.push(r.status() + ' ' + r.url()); });
        await tab.goto(server.url + entry);
        await tab.waitForFunction('window.ready === true', { timeout: 10000 });
        await (await tab.$('#pick')).uploadFile(picked);
        const r = await within(30000, tab.evaluate((cert) => window.check(cert), expected.cert), how);
        const zipPath = join(work, `${how.replace(/ /g, '-')}.zip`);
        writeFileSync(zipPath, Buffer.from(r.zip, 'base64'));
        const facts = zipFacts(zipPath);
        ok(errors.length === 0, `${how}: no page error or failed request: ${errors.join('; ')}`);
        ok(r.size === expected.size['sample.bin'] && r.probe.length === 30, `${how}: size and head ${r.size} ${r.probe}`);
        ok(r.sha256 === expected.sha256['sample.bin'], `${how}: SHA-256 as sha256sum gives it: ${r.sha256}`);
        ok(r.sm3 === expected.sm3['sample.bin'] && r.sm3z === expected.sm3z['sample.bin'], `${how}: SM3 and SM3 with Z as openssl gives them`);
        ok(/^1_\d{12}\.zip$/.test(r.zipName) && facts.unzipOk && facts.bad === null &&
           JSON.stringify(facts.names) === '["sample.bin"]' && facts.sha256[0] === expected.sha256['sample.bin'],
           `${how}: the archive passes unzip -t and holds the file: ${JSON.stringify(facts)}`);
        ok(r.text === '', `${how}: no text left: ${JSON.stringify(r.text)}`);
        const bigPath = join(work, `${how.replace(/ /g, '-')}-big.zip`);
        const big = Buffer.from(r.bigZip, 'base64');
        writeFileSync(bigPath, big);
        const bigFacts = zipFacts(bigPath);
        let marks = 0;
        for (let at = big.indexOf(SYNC); at >= 0; at = big.indexOf(SYNC, at + 1)) marks++;
        ok(bigFacts.unzipOk && bigFacts.bad === null && bigFacts.sha256[0] === bigSha && marks >= 9,
           `${how}: an 18 MiB file packed in blocks on the deflate workers passes unzip -t and holds the file (${marks} block ends)`);
        await tab.close();
      } catch (e) {
        ok(false, `${how}: ${e.message}`);
      } finally {
        await server.close();
      }
    }
  } finally {
    await browser.close();
  }

  // ---- Node, by name, and the command on the corpus's path calls ----
  const list = commandCalls(calls(expected), work, corpus);
  writeFileSync(join(app, 'node-check.mjs'), `import { Tarnwick } from 'tarnwick';
const out = [];
for (const { method, args } of JSON.parse(process.argv[2])) {
  const t = await Tarnwick.open();
  let result = await t[method](...args.map((a) => (a && typeof a === 'object' ? a.file : a)));
  if (result instanceof Blob) result = { archive: result.name };
  out.push({ result, text: await t.GetLastErrorInfo() });
  t.close();
}
console.log(JSON.stringify(out));
`);
  const sdk = JSON.parse(run(process.execPath, [join(app, 'node-check.mjs'), JSON.stringify(list)], corpus));
  ok(sdk[0].result === expected.size[list[0].args[0].file], 'Node imports the package by name: ' + JSON.stringify(sdk[0]));
  const bin = join(app, 'node_modules', '.bin', 'tarnwick');
  list.forEach((call, i) => {
    const label = `tarnwick ${call.argv.filter((a) => !a.startsWith(work)).join(' ')}`;
    const got = runCommand(bin, corpus, call);
    const want = sdk[i];
    if (got.archive) {
      const facts = zipFacts(got.archive);
      const source = call.args[0].file;
      ok(want.result && want.result.archive && facts.unzipOk && JSON.stringify(facts.names) === JSON.stringify([source]) &&
         facts.sha256[0] === expected.sha256[source], `${label}: an archive holding the file: ${JSON.stringify(facts)}`);
      rmSync(got.archive);
    } else {
      ok(JSON.stringify(got.result) === JSON.stringify(want.result), `${label}: result ${JSON.stringify(got.result)}, the SDK's ${JSON.stringify(want.result)}`);
    }
    ok(got.text === printed(want.text), `${label}: text ${JSON.stringify(got.text)}, the SDK's ${JSON.stringify(want.text)}`);
    const wantStatus = want.text !== '' && (want.result === '' || want.result === -1) ? 1 : 0;
    ok(got.status === wantStatus, `${label}: exit status ${got.status}`);
  });

  // ---- the pack step refuses a module that is missing or older than its sources, or a version
  // that is not VERSION's (on a copy of what it looks at) ----
  const copy = join(work, 'repo');
  for (const p of ['Makefile', 'VERSION', 'LICENSE', 'THIRD-PARTY-NOTICES', 'tools/version.sh', 'src/core',
                   'web/package.json', 'web/tools/pack.mjs', 'web/module', 'web/sdk/tarnwick.wasm', 'web/sdk/zip/tarnwick-deflate.wasm',
                   'web/node_modules/fflate/esm/browser.js', 'web/sdk/zip/fflate.js'])
    cpSync(join(root, p), join(copy, p), { recursive: true, preserveTimestamps: true });
  const prepack = () => spawnSync(process.execPath, [join(copy, 'web/tools/pack.mjs'), 'prepack'], { encoding: 'utf8' });
  let r = prepack();
  ok(r.status === 0, 'the copy packs: ' + r.stderr);
  const later = new Date(Date.now() + 60000);
  utimesSync(join(copy, 'web/node_modules/fflate/esm/browser.js'), later, later);
  r = prepack();
  ok(r.status === 1 && /sdk\/zip\/fflate\.js is older than its sources/.test(r.stderr), 'a deflater copy older than the installed package is refused: ' + r.stderr);
  utimesSync(join(copy, 'src/core/sha256.cpp'), later, later);
  r = prepack();
  ok(r.status === 1 && /older than its sources: run `make web`/.test(r.stderr), 'a stale module is refused: ' + r.stderr);
  rmSync(join(copy, 'web/sdk/tarnwick.wasm'));
  r = prepack();
  ok(r.status === 1 && /missing: run `make web`/.test(r.stderr), 'a missing module is refused: ' + r.stderr);
  writeFileSync(join(copy, 'VERSION'), readFileSync(join(root, 'VERSION'), 'utf8').replace(/^PRODUCT_VERSION=.*$/m, 'PRODUCT_VERSION=7.0.0.1'));
  r = prepack();
  ok(r.status === 1 && r.stderr.includes('VERSION gives 7.0.0'), 'a version that is not VERSION\'s is refused: ' + r.stderr);
} catch (e) {
  ok(false, e.stack || String(e));
} finally {
  rmSync(work, { recursive: true, force: true });
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed > 0 ? 1 : 0);
