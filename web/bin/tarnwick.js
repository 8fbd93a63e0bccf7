#!/usr/bin/env node
// The command: the control's local-file methods on paths, through the SDK in Node (which reads a
// path as the control does and gives its results and texts).
//   tarnwick size|probe|sha256 PATH...
//   tarnwick sm3 [--z CERT.b64] PATH...
//   tarnwick zip [--out DIR] PATH...
//   tarnwick zip --into ARCHIVE.zip PATH...
// Each path gets an object of its own, as a page script that creates the control for one call:
// the text a call leaves is that call's own. See usage below.
import { createWriteStream, readFileSync, rmSync, statSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, relative, resolve, isAbsolute } from 'node:path';
import { Readable } from 'node:stream';
import { pipeline } from 'node:stream/promises';
import { Worker, isMainThread, parentPort, workerData } from 'node:worker_threads';
import { Tarnwick } from '../sdk/tarnwick.js';
import { progressLine } from './progress.js';

const usage = `Usage: tarnwick COMMAND [OPTIONS] PATH...

The tarnwick control's methods on local files, with its results and texts.

Commands:
  size PATH...                  size in bytes (GetLocalFileSize)
  probe PATH...                 "STRING", "MSEXCEL" or the first 15 bytes in hex (GetLocalFileHeadSigned)
  sha256 PATH...                SHA-256, 64 upper-case hex digits (GetLocalFileSHA256)
  sm3 [--z CERT.b64] PATH...    SM3; with --z, of the signer's Z value and the file, the Z value
                                taken from the base64 SM2 certificate in CERT.b64 (GetLocalFileSM3)
  zip [--out DIR] PATH...       a one-entry zip archive of the file, written to DIR (default: the
                                temporary directory) and its path printed (CreateZipFromLocalFile)
  digest [--md5] [--sha256] ... PATH...
                                MD5, SHA-1, SHA-256, SM3 and CRCs, whole and per chunk, from one
                                read (see 'tarnwick digest --help')
  zip --into ARCHIVE.zip PATH...  one archive of all the paths (folders with everything under
                                them, by their own names), written as it is made; an existing
                                ARCHIVE.zip is never overwritten (zip in the SDK)

One path: its result alone on standard output. Several: one line each, the result, two spaces
and the path. A failure prints the control's text on standard error and nothing on standard
output; a text the control leaves beside a result (why an archive could not be judged) goes to
standard error too. Progress is shown on standard error when it is a terminal.

Exit status: 0 all done, 1 a call failed, 2 the command line was wrong.
Options: -h, --help this text; --version the package's version.
`;

// Command -> [method, failure value].
const COMMANDS = {
  size: ['GetLocalFileSize', -1],
  probe: ['GetLocalFileHeadSigned', ''],
  sha256: ['GetLocalFileSHA256', ''],
  sm3: ['GetLocalFileSM3', ''],
  zip: ['CreateZipFromLocalFile', ''],
};

function wrong(message) {
  process.stderr.write(`tarnwick: ${message}\nTry 'tarnwick --help'.\n`);
  process.exit(2);
}

// The control's texts may end in a line break of their own (system texts do): one is printed.
function say(stream, line) {
  stream.write(String(line).replace(/[\r\n]+$/, '') + '\n');
}

function parse(argv) {
  if (argv.length === 0) wrong('no command given');
  if (argv.includes('-h') || argv.includes('--help')) {
    process.stdout.write(usage);
    process.exit(0);
  }
  if (argv[0] === '--version') {
    const pkg = JSON.parse(readFileSync(new URL('../package.json', import.meta.url), 'utf8'));
    say(process.stdout, pkg.version);
    process.exit(0);
  }
  const [command, ...rest] = argv;
  if (!COMMANDS[command]) wrong(`unknown command '${command}'`);
  const options = { command, paths: [], cert: null, out: null, into: undefined };
  let ended = false;
  for (let i = 0; i < rest.length; i++) {
    const a = rest[i];
    if (!ended && a === '--') { ended = true; continue; }
    if (!ended && (a === '--z' || a === '--out' || a === '--into')) {
      const key = a.slice(2) === 'z' ? 'cert' : a.slice(2);
      if (key === 'cert' ? command !== 'sm3' : command !== 'zip') wrong(`${a} does not go with ${command}`);
      if (i + 1 >= rest.length) wrong(`${a} needs a value`);
      options[key] = rest[++i];
      continue;
    }
    if (!ended && a.startsWith('-') && a !== '-') wrong(`unknown option '${a}'`);
    options.paths.push(a);
  }
  if (options.paths.length === 0) wrong(`${command} needs a path`);
  if (options.into !== undefined && options.out !== null) wrong('--into and --out do not go together');
  return options;
}

// An archive the SDK made, written where it was asked for under the name the SDK gave it; never
// over a file that is there already.
async function writeArchive(archive, dir) {
  const path = resolve(dir, archive.name);
  try {
    await pipeline(Readable.fromWeb(archive.stream()), createWriteStream(path, { flags: 'wx' }));
  } catch (e) {
    if (e.code !== 'EEXIST') rmSync(path, { force: true });
    throw new Error(`cannot write ${path}: ${e.message}`);
  }
  return path;
}

// zip --into: one archive of every path, streamed into a file this command creates (never one that
// is there already); on failure the partial file goes again.
// The archive is made on a thread of its own whose young generation is small: over thousands of
// files the collector then frees read and deflated buffers as it goes, where Node's main thread lets
// a hundred MiB of them gather first.
async function zipInto(options) {
  if (isMainThread) {
    const worker = new Worker(new URL(import.meta.url), {
      argv: process.argv.slice(2), workerData: { tty: !!process.stderr.isTTY },
      resourceLimits: { maxYoungGenerationSizeMb: 6 },
    });
    const interrupt = () => worker.postMessage('abort');
    process.once('SIGINT', interrupt);
    let status = 1;
    worker.on('message', (m) => { if (typeof m === 'number') status = m; });
    return new Promise((done) => {
      worker.on('error', (e) => { say(process.stderr, 'tarnwick: ' + (e && e.stack ? e.stack : e)); status = 1; });
      worker.on('exit', () => { process.removeListener('SIGINT', interrupt); done(status); });
    });
  }
  const status = await packInto(options);
  parentPort.postMessage(status);
  return status;
}

async function packInto(options) {
  const target = resolve(options.into);
  for (const path of options.paths) {
    let folder = false;
    try { folder = statSync(path).isDirectory(); } catch (e) { /* the SDK says so below */ }
    const inside = relative(resolve(path), target);
    if (folder && inside && !inside.startsWith('..') && !isAbsolute(inside)) {
      say(process.stderr, `tarnwick: ${options.into} would be inside ${path}, which is being packed`);
      return 1;
    }
  }
  let output;
  try {
    output = createWriteStream(target, { flags: 'wx' });
    await new Promise((done, failed) => { output.once('open', done); output.once('error', failed); });
  } catch (e) {
    say(process.stderr, e.code === 'EEXIST'
      ? `tarnwick: ${options.into} exists already; it is not overwritten`
      : `tarnwick: cannot create ${options.into}: ${e.message}`);
    return 1;
  }
  const controller = new AbortController();
  parentPort.on('message', (m) => { if (m === 'abort') controller.abort(); });
  parentPort.unref();
  const t = await Tarnwick.open();
  const progress = progressLine(options.into, workerData.tty);
  try {
    const stream = t.zipStream(options.paths, { onProgress: progress.onProgress, signal: controller.signal });
    await pipeline(Readable.fromWeb(stream), output);
  } catch (e) {
    progress.end();
    rmSync(target, { force: true });
    if (e && e.name === 'AbortError') return 130;
    say(process.stderr, 'tarnwick: ' + (e && e.name === 'TarnwickError' ? e.message : `cannot write ${options.into}: ${e && e.message}`));
    return 1;
  } finally {
    t.close();
  }
  progress.end();
  say(process.stdout, target);
  return 0;
}

async function main() {
  const options = parse(process.argv.slice(2));
  if (options.into !== undefined) return zipInto(options);
  const [method, failureValue] = COMMANDS[options.command];
  let cert = '';
  if (options.cert !== null) {
    try {
      cert = readFileSync(options.cert, 'utf8');
    } catch (e) {
      say(process.stderr, `tarnwick: cannot read the certificate ${options.cert}: ${e.message}`);
      return 1;
    }
  }
  const controller = new AbortController();
  process.once('SIGINT', () => controller.abort());
  const several = options.paths.length > 1;
  let status = 0;
  for (const path of options.paths) {
    const t = await Tarnwick.open();
    const progress = progressLine(path);
    const hooks = { onProgress: progress.onProgress, signal: controller.signal };
    const args = method === 'GetLocalFileSM3' ? [path, options.cert !== null ? 1 : 0, cert] : [path];
    let result;
    try {
      result = await t[method](...args, hooks);
    } catch (e) {
      progress.end();
      if (e && e.name === 'AbortError') return 130;
      throw e;
    }
    progress.end();
    const text = await t.GetLastErrorInfo();
    t.close();
    if (result === failureValue && text !== '') {
      say(process.stderr, text);
      status = 1;
      continue;
    }
    if (text !== '') say(process.stderr, text);
    if (method === 'CreateZipFromLocalFile') {
      try {
        result = await writeArchive(result, options.out || tmpdir());
      } catch (e) {
        say(process.stderr, 'tarnwick: ' + e.message);
        status = 1;
        continue;
      }
    }
    say(process.stdout, several ? `${result}  ${path}` : result);
  }
  return status;
}

// digest has options of its own (bin/digest-command.js).
const run = process.argv[2] === 'digest'
  ? import('./digest-command.js').then(({ runDigest, digestUsage }) => {
    if (process.argv.includes('-h') || process.argv.includes('--help')) { process.stdout.write(digestUsage); return 0; }
    return runDigest(process.argv.slice(3));
  })
  : main();
run.then((status) => { process.exitCode = status; }, (e) => {
  say(process.stderr, 'tarnwick: ' + (e && e.stack ? e.stack : e));
  process.exitCode = 1;
});
