// tarnwick unzip: list, test and extract an archive through the SDK's openZip, printing what
// Info-ZIP's unzip prints for -l and -t, with every name decoded as Windows shows it.
import { mkdirSync, rmdirSync, statSync } from 'node:fs';
import { constants } from 'node:os';
import { dirname, resolve } from 'node:path';
import { Tarnwick } from '../sdk/tarnwick.js';
import { checkEncoding } from '../sdk/unzip/names.js';
import { pathArgument } from './names.js';

export const unzipUsage = `Usage: tarnwick unzip [-l | -t | -d DIR] [--names LABEL] ARCHIVE

Lists, tests or extracts a zip archive. Names are decoded per entry as Windows shows them: UTF-8
where the entry says so or its Unicode Path field holds the name, else UTF-8 where the bytes are
UTF-8 and code page 936 where they are not.

  -l               the entries: size, date, time and name, as unzip -l prints them
  -t               every entry read and its CRC and size checked, as unzip -t does
  -d DIR           the entries written under DIR (made if missing; the current folder without -d);
                   nothing there is overwritten, and an archive holding a name that may not be
                   extracted (absolute, a drive, '..', a device name, characters Windows forbids,
                   names Windows takes for one, symbolic links) is refused before anything is
                   written; on failure what was written is removed
  --names LABEL    one encoding for every name and comment (any WHATWG encoding label, or cp437)

Exit status: 0 all done, 1 the archive could not be read or an entry failed its test or could
not be written, 2 the command line was wrong, 128+N stopped by signal N (SIGINT, SIGTERM, SIGHUP,
SIGQUIT; what an extraction wrote is removed).
`;

class Wrong extends Error {}

const SIGNALS = ['SIGINT', 'SIGTERM', 'SIGHUP', 'SIGQUIT', ...(process.platform === 'win32' ? ['SIGBREAK'] : [])];

// `first`: where argv starts in process.argv (the archive's bytes are looked up there).
export function parseUnzip(argv, first = -1) {
  const o = { mode: null, dir: null, names: undefined, archive: null, at: -1 };
  const setMode = (mode) => {
    if (o.mode !== null && o.mode !== mode) throw new Wrong('-l, -t and -d do not go together');
    if (o.mode === mode) throw new Wrong(`${mode === 'extract' ? '-d' : mode === 'list' ? '-l' : '-t'} is given twice`);
    o.mode = mode;
  };
  let ended = false;
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (!ended && a === '--') { ended = true; continue; }
    if (!ended && a === '-l') { setMode('list'); continue; }
    if (!ended && a === '-t') { setMode('test'); continue; }
    if (!ended && (a === '-d' || a === '--names')) {
      if (i + 1 >= argv.length) throw new Wrong(`${a} needs a value`);
      const value = argv[++i];
      if (a === '-d') { setMode('extract'); o.dir = value; continue; }
      if (o.names !== undefined) throw new Wrong('--names is given twice');
      try {
        checkEncoding(value);
      } catch (e) {
        throw new Wrong(`--names ${value}: not an encoding (a WHATWG encoding label, or cp437)`);
      }
      o.names = value;
      continue;
    }
    if (!ended && a.startsWith('-') && a !== '-') throw new Wrong(`unknown option '${a}'`);
    if (o.archive !== null) throw new Wrong('unzip takes one archive');
    o.archive = a;
    o.at = first < 0 ? -1 : first + i;
  }
  if (o.archive === null) throw new Wrong('unzip needs an archive');
  if (o.mode === null) { o.mode = 'extract'; o.dir = '.'; }
  return o;
}

// Names as unzip prints them: control characters as ^X.
const shownName = (name) => name.replace(/[\u0000-\u001f\u007f]/g, (c) => (c === '\u007f' ? '^?' : '^' + String.fromCharCode(c.charCodeAt(0) + 64)));
const bytesOf = (text) => Buffer.byteLength(text, 'utf8');
const padded = (text, width) => text + ' '.repeat(Math.max(0, width - bytesOf(text)));
const two = (n) => String(n).padStart(2, '0');

function dateTime(date) {
  if (!(date instanceof Date) || Number.isNaN(date.getTime())) return '0000-00-00 00:00';
  return `${date.getFullYear()}-${two(date.getMonth() + 1)}-${two(date.getDate())} ${two(date.getHours())}:${two(date.getMinutes())}`;
}

/** unzip -l's table: its text before and after the archive's name as given. */
export function listing(archive, shownArchive) {
  const out = [];
  if (archive.comment) out.push(archive.comment.replace(/\r\n?/g, '\n').replace(/\n$/, ''));
  out.push('  Length      Date    Time    Name', '---------  ---------- -----   ----');
  let total = 0;
  for (const e of archive.entries) {
    total += e.size;
    out.push(`${String(e.size).padStart(9)}  ${dateTime(e.modified)}   ${shownName(e.name)}`);
    if (e.comment) out.push(e.comment.replace(/\r\n?/g, '\n').replace(/\n$/, ''));
  }
  const count = archive.entries.length;
  out.push('---------                     -------', `${String(total).padStart(9)}                     ${count} file${count === 1 ? '' : 's'}`);
  return ['Archive:  ', shownArchive, '\n' + out.join('\n') + '\n'];
}

/** unzip -t's line for one entry's result. */
export function testLine({ name, ok, code, message }) {
  if (ok) return `    testing: ${padded(shownName(name), 22)}   OK`;
  // The reader's text may begin with the entry's name, which the line shows already.
  let text = String(message || code).replace(/[\r\n]+/g, ' ');
  if (text.startsWith(`${name}: `)) text = text.slice(name.length + 2);
  if (code === 'encrypted' || code === 'unsupported-method') return `   skipping: ${padded(shownName(name), 22)}  ${text}`;
  return `    testing: ${padded(shownName(name), 22)}   ${text}`;
}

// The folder to extract into, made where missing; what was made, to be removed if nothing is
// written into it.
function targetFolder(dir) {
  const path = resolve(dir);
  let top = null;
  for (let at = path; ; at = dirname(at)) {
    try {
      statSync(at);
      break;
    } catch (e) {
      if (e.code !== 'ENOENT') break;
      top = at;
      if (dirname(at) === at) break;
    }
  }
  if (top !== null) mkdirSync(path, { recursive: true });
  return {
    path,
    unmake() {
      if (top === null) return;
      for (let at = path; ; at = dirname(at)) {
        try {
          rmdirSync(at);
        } catch (e) {
          return;
        }
        if (at === top) return;
      }
    },
  };
}

// Exit status.
export async function runUnzip(argv, first = -1) {
  let o;
  try {
    o = parseUnzip(argv, first);
  } catch (e) {
    if (!(e instanceof Wrong)) throw e;
    process.stderr.write(`tarnwick: ${e.message}\nTry 'tarnwick unzip --help'.\n`);
    return 2;
  }
  const controller = new AbortController();
  // A signal a terminal or a service manager sends stops the work; what an extraction wrote is
  // removed, and the command ends with 128 + the signal's number.
  let stoppedBy = 'SIGINT';
  for (const signal of SIGNALS) {
    try {
      process.once(signal, () => { stoppedBy = signal; controller.abort(); });
    } catch (e) { /* not one this system lets a program catch */ }
  }
  const stopped = () => 128 + (constants.signals[stoppedBy] || 2);
  // A name that is not UTF-8 is opened by its bytes (Linux) and printed as given.
  const name = pathArgument(o.archive, o.at);
  if (name.refusal) {
    process.stderr.write(Buffer.concat([Buffer.from(name.refusal), Buffer.from('\n')]));
    return 1;
  }
  o.shown = Buffer.from(name.given);
  const t = await Tarnwick.open({ language: 'en' });
  let archive;
  try {
    try {
      archive = await t.openZip(name.path, { names: o.names, signal: controller.signal });
    } catch (e) {
      if (e && e.name === 'AbortError') return stopped();
      if (!e || e.name !== 'TarnwickError') throw e;
      say(`tarnwick: `, o.shown, `: ${e.message}\n`);
      return 1;
    }
    if (o.mode === 'list') {
      if (archive.entries.length === 0) {
        write(process.stdout, 'Archive:  ', o.shown, '\n');
        say('tarnwick: ', o.shown, ': the archive is empty\n');
        return 1;
      }
      write(process.stdout, ...listing(archive, o.shown));
      return 0;
    }
    write(process.stdout, 'Archive:  ', o.shown, '\n');
    if (archive.comment) process.stdout.write(archive.comment.replace(/\r\n?/g, '\n').replace(/\n$/, '') + '\n');
    if (o.mode === 'test') return await testArchive(archive, o, controller.signal);
    return await extract(archive, o, controller.signal);
  } catch (e) {
    if (e && e.name === 'AbortError') return stopped();
    throw e;
  } finally {
    if (archive) archive.close();
    t.close();
    name.close();
  }
}

// Text and the archive's name as given (bytes where it is not UTF-8), written as one.
function write(stream, ...parts) {
  stream.write(Buffer.concat(parts.map((p) => (Buffer.isBuffer(p) ? p : Buffer.from(p)))));
}
const say = (...parts) => write(process.stderr, ...parts);

async function testArchive(archive, o, signal) {
  // Each entry's line as soon as it is tested.
  const result = await archive.test({ signal, onEntry: (entry) => process.stdout.write(testLine(entry) + '\n') });
  if (result.ok && result.entries.every((e) => e.ok)) {
    write(process.stdout, 'No errors detected in compressed data of ', o.shown, '.\n');
    return 0;
  }
  write(process.stdout, 'At least one error was detected in ', o.shown, '.\n');
  return 1;
}

async function extract(archive, o, signal) {
  let target;
  try {
    target = targetFolder(o.dir);
  } catch (e) {
    process.stderr.write(`tarnwick: cannot make the folder ${o.dir}: ${e.message}\n`);
    return 1;
  }
  const shownPath = (name) => (o.dir === '.' ? name : `${o.dir.replace(/\/+$/, '')}/${name}`);
  try {
    await archive.extract(target.path, {
      signal,
      onEntry: (entry) => {
        const verb = entry.directory ? '   creating:' : entry.method === 0 ? ' extracting:' : '  inflating:';
        process.stdout.write(`${verb} ${shownName(shownPath(entry.name))}\n`);
      },
    });
  } catch (e) {
    target.unmake();
    if (e && e.name === 'AbortError') throw e;
    if (!e || e.name !== 'TarnwickError') throw e;
    const why = e.code === 'unsafe-name'
      ? `the archive is refused: the entry "${shownName(e.entry || '')}" may not be extracted (${e.reason}); nothing was written`
      : e.code === 'exists'
        ? `"${shownName(shownPath(e.entry || ''))}" is there already; it is not overwritten, and what this extraction wrote is removed`
        : `${e.message}; what this extraction wrote is removed`;
    say('tarnwick: ', o.shown, `: ${why}\n`);
    return 1;
  }
  return 0;
}
