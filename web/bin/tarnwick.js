#!/usr/bin/env node
// The command: the control's local-file methods on paths, through the SDK in Node (which reads a
// path as the control does and gives its results and texts).
//   tarnwick size|probe|sha256 PATH...
//   tarnwick sm3 [--z CERT.b64] PATH...
//   tarnwick zip [--out DIR] PATH...
//   tarnwick zip --into ARCHIVE.zip PATH...
//   tarnwick verify --sig SIGFILE (--cert CERT | --key PUBKEY) [--id ID] PATH
//   tarnwick unzip [-l | -t | -d DIR] [--names LABEL] ARCHIVE
// Each path gets an object of its own, as a page script that creates the control for one call:
// the text a call leaves is that call's own. See usage below.
import { createWriteStream, linkSync, lstatSync, openSync, readFileSync, realpathSync, renameSync, rmSync, statSync } from 'node:fs';
import { randomBytes } from 'node:crypto';
import { constants, tmpdir } from 'node:os';
import { basename, dirname, join, relative, resolve, isAbsolute } from 'node:path';
import { Readable } from 'node:stream';
import { pipeline } from 'node:stream/promises';
import { Worker, isMainThread, parentPort, workerData } from 'node:worker_threads';
import { Tarnwick } from '../sdk/tarnwick.js';
import { progressLine } from './progress.js';
import { argBytes, pathArgument, quoted, reason, shown } from './names.js';

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
  verify --sig SIGFILE (--cert CERT | --key PUBKEY) [--id ID] PATH
                                checks an SM2 signature over the file (see
                                'tarnwick verify --help')
  zip --into ARCHIVE.zip PATH...  one archive of all the paths (folders with everything under
                                them, by their own names), written as it is made under a
                                temporary name beside it and given its name when whole; an
                                existing ARCHIVE.zip is never overwritten (zip in the SDK)
  unzip [-l | -t | -d DIR] [--names LABEL] ARCHIVE
                                lists, tests or extracts an archive, names decoded as Windows
                                shows them (see 'tarnwick unzip --help')

One path: its result alone on standard output. Several: one line each, the result, two spaces
and the path. A failure prints the control's text on standard error and nothing on standard
output; a text the control leaves beside a result (why an archive could not be judged) goes to
standard error too. Progress is shown on standard error when it is a terminal.

Exit status: 0 all done, 1 a call failed, 2 the command line was wrong (an option given twice
too), 128+N stopped by signal N while an archive was written (its partial file removed).
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
// Bytes (a name that is not UTF-8 in them) go out as they are.
function say(stream, line) {
  if (Buffer.isBuffer(line)) {
    let end = line.length;
    while (end > 0 && (line[end - 1] === 0x0a || line[end - 1] === 0x0d)) end--;
    stream.write(Buffer.concat([line.subarray(0, end), Buffer.from('\n')]));
    return;
  }
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
  // Each path with its place in process.argv (for its bytes, when they are not UTF-8).
  const options = { command, paths: [], at: [], cert: null, certAt: -1, out: null, into: undefined };
  let ended = false;
  for (let i = 0; i < rest.length; i++) {
    const a = rest[i];
    if (!ended && a === '--') { ended = true; continue; }
    if (!ended && (a === '--z' || a === '--out' || a === '--into')) {
      const key = a.slice(2) === 'z' ? 'cert' : a.slice(2);
      if (key === 'cert' ? command !== 'sm3' : command !== 'zip') wrong(`${a} does not go with ${command}`);
      if (options[key] !== null && options[key] !== undefined) wrong(`${a} is given twice`);
      if (i + 1 >= rest.length) wrong(`${a} needs a value`);
      options[key] = rest[++i];
      if (key === 'cert') options.certAt = i + 3;
      if (argBytes(i + 3) && key !== 'cert') wrong(`${a}: the name is not valid UTF-8`);
      continue;
    }
    if (!ended && a.startsWith('-') && a !== '-') wrong(`unknown option '${a}'`);
    options.paths.push(a);
    options.at.push(i + 3);
  }
  if (options.paths.length === 0) wrong(`${command} needs a path`);
  if (options.into !== undefined && options.out !== null) wrong('--into and --out do not go together');
  return options;
}

// ---- archives written whole ----------------------------------------------------------------------
// An archive is written under a temporary name beside the one asked for (".NAME.<random>.part",
// created exclusively) and given the asked name only when whole, by a hard link that fails where
// a file of that name is there already (rename would overwrite it); a file system without hard
// links gets a rename once the name is seen to be free. A signal a terminal or a service manager
// sends removes the temporary file and ends the command with 128 + the signal's number.
const SIGNALS = ['SIGINT', 'SIGTERM', 'SIGHUP', 'SIGQUIT', ...(process.platform === 'win32' ? ['SIGBREAK'] : [])];

function temporaryName(target) {
  return join(dirname(target), `.${basename(target)}.${randomBytes(8).toString('hex')}.part`);
}

// While `stop(signal)` is to be called on a signal: a function that ends that.
function onSignals(stop) {
  const handlers = [];
  for (const signal of SIGNALS) {
    const handler = () => stop(signal);
    try {
      process.on(signal, handler);
      handlers.push([signal, handler]);
    } catch (e) { /* not one this system lets a program catch */ }
  }
  return () => { for (const [signal, handler] of handlers) process.removeListener(signal, handler); };
}

function exitBySignal(signal) {
  process.exit(128 + (constants.signals[signal] || 0));
}

// The whole file `temp` under the name `target` (shown as `asked`), never over a file there; the
// temporary name goes in any case. Synchronous: no signal's handler runs in between. Status.
function publish(temp, target, asked) {
  try {
    try {
      linkSync(temp, target);
    } catch (e) {
      if (!['EPERM', 'ENOTSUP', 'EOPNOTSUPP', 'ENOSYS', 'EMLINK'].includes(e.code)) throw e;
      let free = false;
      try {
        lstatSync(target);
      } catch (missing) {
        free = missing.code === 'ENOENT';
      }
      if (!free) throw Object.assign(new Error('exists'), { code: 'EEXIST' });
      renameSync(temp, target);
    }
    return 0;
  } catch (e) {
    say(process.stderr, e.code === 'EEXIST'
      ? `tarnwick: ${asked} exists already; it is not overwritten`
      : `tarnwick: cannot create ${asked}: ${reason(e)}`);
    return 1;
  } finally {
    rmSync(temp, { force: true });
  }
}

// An archive the SDK made, written where it was asked for under the name the SDK gave it; never
// over a file that is there already.
async function writeArchive(archive, dir) {
  const path = resolve(dir, archive.name);
  const temp = temporaryName(path);
  let fd;
  try {
    lstatSync(path);
    throw new Error(`${path} exists already; it is not overwritten`);
  } catch (e) {
    if (e.code !== 'ENOENT') throw e.code ? new Error(`cannot write ${path}: ${reason(e)}`) : e;
  }
  try {
    fd = openSync(temp, 'wx');
  } catch (e) {
    throw new Error(`cannot write ${path}: ${reason(e)}`);
  }
  const stop = onSignals((signal) => { rmSync(temp, { force: true }); exitBySignal(signal); });
  try {
    await pipeline(Readable.fromWeb(archive.stream()), createWriteStream('', { fd }));
  } catch (e) {
    rmSync(temp, { force: true });
    stop();
    throw new Error(`cannot write ${path}: ${reason(e)}`);
  }
  const status = publish(temp, path, path);
  stop();
  if (status !== 0) throw Object.assign(new Error('said'), { said: true });
  return path;
}

// zip --into: one archive of every path, streamed into a temporary file beside the asked name
// and given that name when whole (see publish); never over a file that is there already.
// The archive is made on a thread of its own whose young generation is small: over thousands of
// files the collector then frees read and deflated buffers as it goes, where Node's main thread lets
// a hundred MiB of them gather first. The signals come to the main thread, which stops that thread
// and removes the temporary file.
async function zipInto(options) {
  if (!isMainThread) {
    const status = await packInto(options, workerData.temp);
    parentPort.postMessage(status);
    return status;
  }
  const target = resolve(options.into);
  for (let i = 0; i < options.paths.length; i++) {
    if (argBytes(options.at[i])) {
      process.stderr.write(Buffer.concat([Buffer.from('tarnwick: '), quoted({ given: argBytes(options.at[i]) }),
        Buffer.from(': the name is not valid UTF-8, and an archive\'s entries are named in text\n')]));
      return 1;
    }
  }
  const packed = packedFolderAbove(target, options.paths);
  if (packed !== null) {
    say(process.stderr, `tarnwick: ${options.into} would be inside ${packed}, which is being packed`);
    return 1;
  }
  try {
    lstatSync(target);
    say(process.stderr, `tarnwick: ${options.into} exists already; it is not overwritten`);
    return 1;
  } catch (e) {
    if (e.code !== 'ENOENT') {
      say(process.stderr, `tarnwick: cannot create ${options.into}: ${reason(e)}`);
      return 1;
    }
  }
  const temp = temporaryName(target);
  const worker = new Worker(new URL(import.meta.url), {
    argv: process.argv.slice(2), workerData: { tty: !!process.stderr.isTTY, temp },
    resourceLimits: { maxYoungGenerationSizeMb: 6 },
  });
  // A signal: the thread is stopped (it creates the temporary file synchronously, so once it has
  // stopped the file is there or never will be), then the file is removed.
  let stopping = false;
  const stop = onSignals((signal) => {
    if (stopping) return;
    stopping = true;
    worker.terminate().finally(() => {
      rmSync(temp, { force: true });
      exitBySignal(signal);
    });
  });
  let status = 1;
  worker.on('message', (m) => { if (typeof m === 'number') status = m; });
  await new Promise((done) => {
    worker.on('error', (e) => { say(process.stderr, 'tarnwick: ' + (e && e.stack ? e.stack : e)); status = 1; });
    worker.on('exit', done);
  });
  if (stopping) return new Promise(() => {});  // the process ends in stop
  if (status === 0) status = publish(temp, target, options.into);
  rmSync(temp, { force: true });
  stop();
  if (status === 0) say(process.stdout, target);
  return status;
}

// The first of the folders being packed that the archive would be inside: the real folder it
// would be in, or one above it, is one of them (compared by device and inode, so that a link to
// a packed folder, or a name that reaches it another way, is seen), or it is so by the names.
function packedFolderAbove(target, paths) {
  const folders = [];
  for (const path of paths) {
    let stat;
    try {
      stat = statSync(path, { bigint: true });
    } catch (e) {
      continue;  // the SDK says so
    }
    if (!stat.isDirectory()) continue;
    const inside = relative(resolve(path), target);
    if (inside && !inside.startsWith('..') && !isAbsolute(inside)) return path;
    folders.push([path, `${stat.dev}:${stat.ino}`]);
  }
  if (folders.length === 0) return null;
  let dir;
  try {
    dir = realpathSync(dirname(target));
  } catch (e) {
    return null;  // no such folder: nothing is written
  }
  for (;;) {
    let key = null;
    try {
      const stat = statSync(dir, { bigint: true });
      key = `${stat.dev}:${stat.ino}`;
    } catch (e) { /* a folder above that cannot be looked at: go on up */ }
    const found = folders.find(([, k]) => k === key);
    if (found) return found[0];
    const up = dirname(dir);
    if (up === dir) return null;
    dir = up;
  }
}

// On the archive's thread: the temporary file, created here (synchronously) and written; removed
// on failure. Status.
async function packInto(options, temp) {
  let fd;
  try {
    fd = openSync(temp, 'wx');
  } catch (e) {
    say(process.stderr, `tarnwick: cannot create ${options.into}: ${reason(e)}`);
    return 1;
  }
  const output = createWriteStream('', { fd });
  const t = await Tarnwick.open({ language: 'en' });
  const progress = progressLine(options.into, workerData.tty);
  try {
    const stream = t.zipStream(options.paths, { onProgress: progress.onProgress });
    await pipeline(Readable.fromWeb(stream), output);
  } catch (e) {
    progress.end();
    output.destroy();
    rmSync(temp, { force: true });
    say(process.stderr, 'tarnwick: ' + (e && e.name === 'TarnwickError' ? e.message : `cannot write ${options.into}: ${e && e.message}`));
    return 1;
  } finally {
    t.close();
  }
  progress.end();
  return 0;
}

async function main() {
  const options = parse(process.argv.slice(2));
  if (options.into !== undefined) return zipInto(options);
  const [method, failureValue] = COMMANDS[options.command];
  let cert = '';
  if (options.cert !== null) {
    try {
      cert = readFileSync(argBytes(options.certAt) || options.cert, 'utf8');
    } catch (e) {
      say(process.stderr, `tarnwick: cannot read the certificate ${options.cert}: ${e.message}`);
      return 1;
    }
  }
  const controller = new AbortController();
  process.once('SIGINT', () => controller.abort());
  const several = options.paths.length > 1;
  let status = 0;
  for (let i = 0; i < options.paths.length; i++) {
    const name = pathArgument(options.paths[i], options.at[i], {
      utf8Only: method === 'CreateZipFromLocalFile' ? "the archive's entry is named in text" : null,
    });
    if (name.refusal) {
      say(process.stderr, name.refusal);
      status = 1;
      continue;
    }
    const t = await Tarnwick.open();
    const progress = progressLine(options.paths[i]);
    const hooks = { onProgress: progress.onProgress, signal: controller.signal };
    const args = method === 'GetLocalFileSM3' ? [name.path, options.cert !== null ? 1 : 0, cert] : [name.path];
    let result;
    try {
      result = await t[method](...args, hooks);
    } catch (e) {
      progress.end();
      if (e && e.name === 'AbortError') return 130;
      throw e;
    } finally {
      name.close();
    }
    progress.end();
    const text = await t.GetLastErrorInfo();
    t.close();
    if (result === failureValue && text !== '') {
      say(process.stderr, shown(text, name));
      status = 1;
      continue;
    }
    if (text !== '') say(process.stderr, shown(text, name));
    if (method === 'CreateZipFromLocalFile') {
      try {
        result = await writeArchive(result, options.out || tmpdir());
      } catch (e) {
        if (!e.said) say(process.stderr, 'tarnwick: ' + e.message);
        status = 1;
        continue;
      }
    }
    say(process.stdout, several ? Buffer.concat([Buffer.from(`${result}  `), Buffer.from(name.given)]) : result);
  }
  return status;
}

// digest, verify and unzip have options of their own (bin/*-command.js).
const run = process.argv[2] === 'unzip'
  ? import('./unzip-command.js').then(({ runUnzip, unzipUsage }) => {
    if (process.argv.includes('-h') || process.argv.includes('--help')) { process.stdout.write(unzipUsage); return 0; }
    return runUnzip(process.argv.slice(3), 3);
  })
  : process.argv[2] === 'verify'
  ? import('./verify-command.js').then(({ runVerify, verifyUsage }) => {
    if (process.argv.includes('-h') || process.argv.includes('--help')) { process.stdout.write(verifyUsage); return 0; }
    return runVerify(process.argv.slice(3));
  })
  : process.argv[2] === 'digest'
  ? import('./digest-command.js').then(({ runDigest, digestUsage }) => {
    if (process.argv.includes('-h') || process.argv.includes('--help')) { process.stdout.write(digestUsage); return 0; }
    return runDigest(process.argv.slice(3), 3);
  })
  : main();
run.then((status) => { process.exitCode = status; }, (e) => {
  say(process.stderr, 'tarnwick: ' + (e && e.stack ? e.stack : e));
  process.exitCode = 1;
});
