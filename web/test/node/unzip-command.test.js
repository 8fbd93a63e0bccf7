// Reading archives in Node and the command `tarnwick unzip`, over a corpus made at test time by
// tools no one here wrote (unzip-corpus.py: Info-ZIP zip, 7z, Python's zipfile, and hostile
// archives built by hand), with what Debian's unzip, iconv and Python say of each.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn, spawnSync } from 'node:child_process';
import { constants as zlibConstants, crc32, deflateRawSync } from 'node:zlib';
import { createHash, randomBytes } from 'node:crypto';
import { existsSync, lstatSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, readlinkSync, rmSync, statSync, symlinkSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { TarnwickError } from '../../sdk/control/contract.js';
import { Tarnwick } from '../../sdk/tarnwick.js';
import { checkEncoding, decodeComment, decodeName } from '../../sdk/unzip/names.js';
import { extractArchive } from '../../sdk/unzip/extract.js';

const work = mkdtempSync(join(tmpdir(), 'tarnwick-unzip-'));
process.on('exit', () => rmSync(work, { recursive: true, force: true }));
const corpus = join(work, 'corpus');
execFileSync('python3', [fileURLToPath(new URL('../unzip-corpus.py', import.meta.url)), corpus]);
const expected = JSON.parse(readFileSync(join(corpus, 'expected.json'), 'utf8')).archives;
const hex = (s) => (s === null ? null : Uint8Array.from(Buffer.from(s, 'hex')));
const sha = (data) => createHash('sha256').update(data).digest('hex');
const python = (code, ...args) => execFileSync('python3', ['-c', code, ...args], { encoding: 'utf8' });

test('names: every entry of the corpus as Windows shows it, by the rule each one calls for', () => {
  let seen = 0;
  const kinds = new Set();
  for (const [file, archive] of Object.entries(expected)) {
    for (const e of archive.entries || []) {
      const got = decodeName(hex(e.rawName), { utf8Flag: e.utf8Flag, unicodePath: hex(e.unicodePath) });
      assert.deepEqual(got, { name: e.name, nameEncoding: e.nameEncoding }, `${file}: ${e.rawName}`);
      kinds.add(e.nameEncoding);
      seen++;
    }
  }
  assert.ok(seen > 40, `${seen} entries`);
  assert.deepEqual([...kinds].sort(), ['ascii', 'gb18030', 'unicode-path', 'utf-8', 'utf-8-guessed']);
});

test('names: a forced encoding for every entry, cp437 by its table as Python decodes it', () => {
  const high = Uint8Array.from({ length: 128 }, (_, i) => 128 + i);
  assert.deepEqual(decodeName(high, { encoding: 'cp437' }),
    { name: python('import sys; sys.stdout.write(bytes(range(128, 256)).decode("cp437"))'), nameEncoding: 'cp437' });
  // Forced wins over the flag and the Unicode Path field, and is named as the page gave it.
  const gbk = Uint8Array.from([0xd6, 0xd0, 0xce, 0xc4]);
  assert.deepEqual(decodeName(gbk, { utf8Flag: true, encoding: 'GBK' }), { name: '\u4e2d\u6587', nameEncoding: 'GBK' });
  assert.equal(decodeName(gbk, { encoding: 'utf-8' }).name, '\ufffd\ufffd\ufffd\ufffd');
  // Big5 bytes, as Python reads them when told.
  const big5 = Buffer.from('\u7e41\u9ad4\u4e2d\u6587.txt', 'utf8');
  const raw = Buffer.from(python('import sys; sys.stdout.write(sys.argv[1].encode("big5").hex())', big5.toString()), 'hex');
  assert.equal(decodeName(raw, { encoding: 'big5' }).name, '\u7e41\u9ad4\u4e2d\u6587.txt');
  // Guessed, the same bytes read as code page 936 (they are not UTF-8).
  assert.equal(decodeName(raw).nameEncoding, 'gb18030');
});

test('names: a Unicode Path field is used only whole, of version 1, and made for the stored bytes', () => {
  const stored = Buffer.from('old.txt');
  const crc = Number.parseInt(python('import sys, zlib; print(zlib.crc32(sys.argv[1].encode()))', 'old.txt'), 10);
  const field = (version, c, name) => Uint8Array.from([version, c & 255, (c >>> 8) & 255, (c >>> 16) & 255, c >>> 24, ...Buffer.from(name)]);
  assert.deepEqual(decodeName(stored, { unicodePath: field(1, crc, '\u65b0.txt') }), { name: '\u65b0.txt', nameEncoding: 'unicode-path' });
  assert.equal(decodeName(stored, { unicodePath: field(2, crc, '\u65b0.txt') }).name, 'old.txt');
  assert.equal(decodeName(stored, { unicodePath: field(1, crc ^ 1, '\u65b0.txt') }).name, 'old.txt');
  assert.equal(decodeName(stored, { unicodePath: field(1, crc, '').subarray(0, 4) }).name, 'old.txt');
  assert.equal(decodeName(stored, { unicodePath: Uint8Array.from([...field(1, crc, ''), 0xff, 0xfe]) }).name, 'old.txt');
  // The flag comes first.
  assert.deepEqual(decodeName(stored, { utf8Flag: true, unicodePath: field(1, crc, 'x') }), { name: 'old.txt', nameEncoding: 'utf-8' });
});

test('names: comments by the same rules; an unknown label is a RangeError before anything is read', () => {
  const comments = expected['gbk-comment.zip'];
  const gbk = (text) => Buffer.from(python('import sys; sys.stdout.write(sys.argv[1].encode("gbk").hex())', text), 'hex');
  assert.equal(decodeComment(gbk(comments.comment)), comments.comment);
  assert.equal(decodeComment(gbk(comments.entryComments[0])), comments.entryComments[0]);
  assert.equal(decodeComment(Buffer.from(expected['python-utf8.zip'].comment)), expected['python-utf8.zip'].comment);
  assert.equal(decodeComment(Uint8Array.from([0x82]), { encoding: 'cp437' }), '\u00e9');
  assert.equal(decodeComment(Uint8Array.from([0xc3, 0xa9]), { utf8Flag: true }), '\u00e9');
  assert.throws(() => checkEncoding('klingon'), RangeError);
  assert.throws(() => decodeName(Uint8Array.of(0x41), { encoding: 'klingon' }), RangeError);
  assert.throws(() => checkEncoding(936), TypeError);
  for (const label of ['cp437', 'IBM437', 'gbk', 'GB18030', 'big5', 'shift_jis', 'utf-8']) checkEncoding(label);
});

// ---- extraction --------------------------------------------------------------------------------
// An archive with the reader's shape, its entries and bytes given here: extraction on its own.
// `fail`: the entry whose stream errors after its first half (as a CRC check at the end does);
// `hang`: the entry whose stream waits for the cancel.
function fakeArchive(list, { fail, hang } = {}) {
  const entries = list.map(({ name, data = null, modified = new Date(Date.UTC(2021, 2, 4, 5, 6, 8)), unsafe = null }) => Object.freeze({
    name, rawName: Buffer.from(name), nameEncoding: 'ascii', directory: data === null, size: data ? data.length : 0,
    compressedSize: data ? data.length : 0, crc32: 0, method: 0, modified, encrypted: false, comment: '', unsafe, symlink: false,
  }));
  const bytes = new Map(list.map(({ name, data }) => [name, data]));
  return {
    entries,
    stream(entry, { signal } = {}) {
      const data = bytes.get(entry.name);
      return new ReadableStream({
        async pull(c) {
          c.enqueue(Uint8Array.from(data.subarray(0, data.length >> 1)));
          if (entry.name === fail) {
            c.error(Object.assign(new TarnwickError({ method: 'read', text: `bad CRC in ${entry.name}` }), { code: 'bad-crc' }));
            return;
          }
          if (entry.name === hang) await new Promise((_, no) => signal.addEventListener('abort', () => no(signal.reason)));
          c.enqueue(Uint8Array.from(data.subarray(data.length >> 1)));
          c.close();
        },
      });
    },
  };
}

// Everything under a folder: path -> sha256 of a file, or 'folder', or 'link -> target'.
function tree(root) {
  const seen = {};
  for (const name of readdirSync(root, { recursive: true })) {
    const at = join(root, name);
    const s = lstatSync(at);
    seen[name] = s.isSymbolicLink() ? `link -> ${readlinkSync(at)}` : s.isDirectory() ? 'folder' : sha(readFileSync(at));
  }
  return seen;
}
let folders = 0;
const freshFolder = () => { const at = join(work, `x${folders++}`); mkdirSync(at); return at; };
const LIST = [
  { name: 'docs/' },
  { name: 'docs/a.txt', data: Buffer.from('first file') },
  { name: 'docs/deep/er/b.bin', data: randomBytes(300000), modified: new Date(Date.UTC(2001, 0, 2, 3, 4, 6)) },
  { name: '\u62a5\u544a/\u8868.csv', data: Buffer.from('\u540d\u79f0,\u6570\u91cf') },
  { name: 'empty.txt', data: Buffer.alloc(0) },
  { name: 'docs/deep/', modified: new Date(Date.UTC(2010, 6, 7, 8, 9, 10)) },
];

test('extract: every entry written with its bytes and time, into an existing folder too', async () => {
  const target = freshFolder();
  mkdirSync(join(target, 'docs'));
  writeFileSync(join(target, 'docs', 'kept.txt'), 'was there');
  const started = [];
  const progress = [];
  const result = await extractArchive(fakeArchive(LIST), target, { onEntry: (e) => started.push(e.name), onProgress: (done, total) => progress.push([done, total]) });
  const total = LIST.reduce((n, e) => n + (e.data ? e.data.length : 0), 0);
  assert.deepEqual(result, { files: 4, folders: 3, bytes: total });  // docs/ was there
  assert.deepEqual(started, LIST.map((e) => e.name));
  assert.deepEqual(progress.at(-1), [total, total]);
  const want = { docs: 'folder', 'docs/kept.txt': sha('was there'), 'docs/deep': 'folder', 'docs/deep/er': 'folder', '\u62a5\u544a': 'folder' };
  for (const e of LIST) if (e.data) want[e.name] = sha(e.data);
  assert.deepEqual(tree(target), want);
  assert.equal(statSync(join(target, 'docs/deep/er/b.bin')).mtime.getTime(), Date.UTC(2001, 0, 2, 3, 4, 6));
  assert.equal(statSync(join(target, 'docs/deep')).mtime.getTime(), Date.UTC(2010, 6, 7, 8, 9, 10));
  assert.ok(statSync(join(target, 'docs/deep/er')).mtime.getTime() > Date.now() - 600000, 'a folder no entry names');
});

test('extract: an unsafe entry anywhere refuses the archive before anything is written', async () => {
  for (const [name, unsafe, reason] of [['z/../../evil.txt', 'parent', 'parent'], ['con.txt', 'device-name', 'device-name'], ['ok/c:evil', null, 'bad-character'], ['a//b', null, 'empty-part'], ['..', null, 'parent']]) {
    const target = freshFolder();
    await assert.rejects(extractArchive(fakeArchive([...LIST, { name, data: Buffer.from('x'), unsafe }]), target),
      (e) => e.name === 'TarnwickError' && e.code === 'unsafe-name' && e.entry === name && e.reason === reason, name);
    assert.deepEqual(tree(target), {}, name);
  }
});

test('extract: nothing overwritten, no link followed; what the call made is removed on failure and cancel', async () => {
  // A file there already: refused, it keeps its bytes, the folders made before it are removed.
  let target = freshFolder();
  mkdirSync(join(target, '\u62a5\u544a'));
  writeFileSync(join(target, '\u62a5\u544a', '\u8868.csv'), 'mine');
  await assert.rejects(extractArchive(fakeArchive(LIST), target), (e) => e.code === 'exists' && e.entry === '\u62a5\u544a/\u8868.csv');
  assert.deepEqual(tree(target), { '\u62a5\u544a': 'folder', '\u62a5\u544a/\u8868.csv': sha('mine') });
  // A link in the target, to a folder outside and dangling, is never written through.
  const outside = freshFolder();
  for (const [link, to] of [['docs', outside], ['empty.txt', join(outside, 'made-through-link')]]) {
    target = freshFolder();
    symlinkSync(to, join(target, link));
    await assert.rejects(extractArchive(fakeArchive(LIST), target), (e) => e.code === 'exists', link);
    assert.deepEqual(tree(target), { [link]: `link -> ${to}` }, link);
    assert.deepEqual(tree(outside), {}, link);
  }
  // An entry that fails its check half-way: the reader's error as it is, nothing left.
  target = freshFolder();
  mkdirSync(join(target, 'docs'));
  await assert.rejects(extractArchive(fakeArchive(LIST, { fail: 'docs/deep/er/b.bin' }), target), (e) => e.code === 'bad-crc');
  assert.deepEqual(tree(target), { docs: 'folder' });
  // Cancelled while an entry is written: the platform's AbortError, nothing left.
  target = freshFolder();
  const cancel = new AbortController();
  const pending = extractArchive(fakeArchive(LIST, { hang: '\u62a5\u544a/\u8868.csv' }), target, {
    signal: cancel.signal, onEntry: (e) => { if (e.name === '\u62a5\u544a/\u8868.csv') setTimeout(() => cancel.abort(), 50); },
  });
  await assert.rejects(pending, (e) => e.name === 'AbortError');
  assert.deepEqual(tree(target), {});
  await assert.rejects(extractArchive(fakeArchive(LIST), target, { signal: AbortSignal.abort() }), (e) => e.name === 'AbortError');
  // Bad calls.
  await assert.rejects(extractArchive(fakeArchive(LIST), 42), TypeError);
  await assert.rejects(extractArchive({}, target), TypeError);
  await assert.rejects(extractArchive(fakeArchive(LIST), target, { onEntry: 1 }), TypeError);
  await assert.rejects(extractArchive(fakeArchive(LIST), join(target, 'missing')), (e) => e.code === 'not-found');
  assert.deepEqual(tree(target), {});
});

// ---- extraction of real archives through openZip ------------------------------------------------
// unzip's warnings (a Unicode Path field whose CRC is not the name's, bytes before the archive) and
// the blank lines around them.
const notWarning = (line, i, all) => !/^warning[: ]|^ {2}\(attempting to process anyway\)$/.test(line) && !(line === '' && i < all.length - 1);
// unzip -l's size, date and time columns for an entry's stamped time, as Shanghai's clock shows it.
function stampedColumns(e) {
  const parts = Object.fromEntries(new Intl.DateTimeFormat('en-US', { timeZone: 'Asia/Shanghai', hourCycle: 'h23', year: 'numeric',
    month: '2-digit', day: '2-digit', hour: '2-digit', minute: '2-digit' }).formatToParts(new Date(e.stamped * 1000)).map((p) => [p.type, p.value]));
  return `${String(e.size).padStart(9)}  ${parts.year}-${parts.month}-${parts.day} ${parts.hour}:${parts.minute}   `;
}
const reading = typeof Tarnwick.prototype.openZip === 'function' ? {} : { skip: 'openZip is not in this build yet' };
const opens = Object.entries(expected).filter(([, a]) => a.at !== 'open');

test('extract through openZip: every clean archive of the corpus, names decoded; the others leave nothing', reading, async () => {
  const t = await Tarnwick.open();
  try {
    for (const [file, want] of opens) {
      const archive = await t.openZip(join(corpus, file));
      const target = freshFolder();
      try {
        if (want.code === null) {
          const files = {};
          for (const e of want.entries) files[e.name.replace(/\/$/, '')] = e.directory ? 'folder' : e.sha256;
          for (const name of Object.keys(files)) {
            for (let at = name.indexOf('/'); at > 0; at = name.indexOf('/', at + 1)) files[name.slice(0, at)] = 'folder';
          }
          const result = await archive.extract(target);
          assert.deepEqual(tree(target), files, file);
          assert.equal(result.files, want.entries.filter((e) => !e.directory).length, file);
          continue;
        }
        const code = want.at === 'extract' ? 'unsafe-name' : want.code;
        await assert.rejects(archive.extract(target), (e) => {
          const allowed = want.entries.flatMap((x) => [x.unsafe].flat()).filter(Boolean);
          return e.name === 'TarnwickError' && [code].flat().includes(e.code)
            && (e.code !== 'unsafe-name' || (allowed.includes(e.reason) && typeof e.entry === 'string'));
        }, file);
        assert.deepEqual(tree(target), {}, file);
      } finally {
        archive.close();
      }
    }
  } finally {
    t.close();
  }
});

// ---- the command, beside Debian's unzip ---------------------------------------------------------
const bin = fileURLToPath(new URL('../../bin/tarnwick.js', import.meta.url));
// Both in one time zone east of UTC: a DOS time is local, an extended timestamp is UTC.
const zone = { ...process.env, TZ: 'Asia/Shanghai', LC_ALL: 'C.UTF-8' };
const command = (...args) => spawnSync(process.execPath, [bin, 'unzip', ...args], { cwd: corpus, env: zone, encoding: 'utf8' });
const infozip = (...args) => spawnSync('unzip', args, { cwd: corpus, env: zone }).stdout.toString('utf8');

test('command -l: unzip -l\'s table, line for line, the names decoded', reading, () => {
  for (const [file, archive] of opens) {
    const ours = command('-l', file);
    assert.equal(ours.status, 0, `${file}: ${ours.stderr}`);
    const theirs = infozip('-l', file).split('\n').filter(notWarning);
    const lines = ours.stdout.split('\n');
    assert.equal(lines.length, theirs.length, file);
    const names = archive.entries.map((e) => e.name);
    const comments = [archive.comment, ...(archive.entryComments || [])].filter(Boolean);
    // Names and comments unzip prints as we do: only a stamped time may differ.
    const plain = archive.entries.every((e) => e.utf8Flag || e.nameEncoding === 'ascii') && !archive.entryComments
      && !(archive.comment && /[^\x00-\x7f]/.test(archive.comment) && !file.startsWith('python'));
    for (let i = 0; i < lines.length; i++) {
      if (lines[i] === theirs[i]) continue;
      // unzip prints the bytes of a name without the flag (code page 936 here) as they are.
      const entry = /^( {0,8}\d+  \d{4}-\d\d-\d\d \d\d:\d\d   )(.*)$/.exec(lines[i]);
      if (entry) {
        // unzip reads the time of an extended timestamp field, not of an NTFS field (7z writes that).
        const e = archive.entries.find((x) => x.name === entry[2]);
        assert.ok(e, `${file}: ${entry[2]}`);
        const when = e.stamped !== null && !theirs[i].startsWith(entry[1]) ? stampedColumns(e) : theirs[i].slice(0, entry[1].length);
        assert.equal(entry[1], when, `${file}: ${lines[i]}`);
        if (plain) assert.equal(entry[2], theirs[i].slice(entry[1].length), `${file}: the same name`);
      } else {
        assert.ok(comments.includes(lines[i]), `${file}: "${lines[i]}" for "${theirs[i]}"`);
      }
    }
  }
  // Forced: code page 437 for every name, as Python's zipfile reads names without the flag.
  const forced = command('-l', '--names', 'cp437', 'gbk-infozip.zip');
  const python437 = JSON.parse(python('import sys, json, zipfile; print(json.dumps(zipfile.ZipFile(sys.argv[1]).namelist()))', join(corpus, 'gbk-infozip.zip')));
  assert.deepEqual(forced.stdout.split('\n').slice(3, 3 + python437.length).map((l) => l.slice(30)), python437);
});

test('command -t: unzip -t\'s lines and verdict; exit 1 on any error', reading, () => {
  for (const [file, archive] of opens) {
    const ours = command('-t', file);
    const theirs = infozip('-t', file).split('\n').filter((l) => !/^ {2}error:/.test(l)).filter(notWarning);
    const failing = archive.code !== null && archive.at === 'test';
    assert.equal(ours.status, failing ? 1 : 0, `${file}: ${ours.stderr}`);
    const lines = ours.stdout.split('\n');
    if (failing && archive.unzipT < 2) {
      // Refused here, where unzip tests it as fine or with a warning: a local header that disagrees
      // with the directory, a size the data cannot have.
      assert.deepEqual([lines[0], ...lines.slice(-2)], [`Archive:  ${file}`, `At least one error was detected in ${file}.`, ''], file);
      assert.deepEqual(lines.slice(1, -2).map((l) => /^ {4}testing: (.*?) {3,}(\S.*)$/.exec(l)).map((m) => m && [m[1], m[2] === 'OK']),
        archive.entries.map((e) => [e.name, false]), file);
      continue;
    }
    assert.equal(lines.at(-2), theirs.at(-2), file);
    assert.equal(lines.length, theirs.length, file);
    lines.slice(0, -2).forEach((line, i) => {
      if (line === theirs[i] || line === archive.comment) return;
      const m = /^( {3}skipping| {4}testing): (.*?) +(OK|\S.*)$/.exec(line);
      assert.ok(m, `${file}: ${line}`);
      assert.ok(theirs[i].startsWith(m[1]), `${file}: ${line} for ${theirs[i]}`);
      assert.ok(archive.entries.some((e) => e.name === m[2]), `${file}: ${m[2]}`);
      assert.equal(m[3] === 'OK', theirs[i].endsWith('   OK'), `${file}: ${line} for ${theirs[i]}`);
    });
  }
});

test('command -d: entries written with their decoded names; never over a file; unsafe archives refused', reading, () => {
  const into = join(work, 'out');
  const r = command('-d', into, 'gbk-infozip.zip');
  assert.equal(r.status, 0, r.stderr);
  const want = {};
  for (const e of expected['gbk-infozip.zip'].entries) want[e.name.replace(/\/$/, '')] = e.directory ? 'folder' : e.sha256;
  assert.deepEqual(tree(into), want);
  const again = command('-d', into, 'gbk-infozip.zip');
  assert.equal(again.status, 1);
  assert.match(again.stderr, /there already; it is not overwritten/);
  assert.deepEqual(tree(into), want);
  for (const file of ['traversal.zip', 'clash.zip', 'symlink.zip']) {
    const refused = command('-d', join(work, file), file);
    assert.equal(refused.status, 1, file);
    assert.match(refused.stderr, /refused: the entry ".*" may not be extracted \(\w[\w-]*\); nothing was written/, file);
    assert.equal(existsSync(join(work, file)), false, `${file}: the folder it made is gone`);
  }
  const broken = command('-d', join(work, 'broken'), 'bad-crc.zip');
  assert.equal(broken.status, 1);
  assert.equal(existsSync(join(work, 'broken')), false);
});

test('command -d: stopped by a signal while an entry is written, nothing is left, not even the folder it made', reading, async () => {
  // 512 MiB of zeros: 1 MiB deflated once, its blocks (flushed whole) repeated, then an empty last block.
  const block = deflateRawSync(Buffer.alloc(1 << 20), { finishFlush: zlibConstants.Z_FULL_FLUSH });
  const data = Buffer.concat([...Array(512).fill(block), Buffer.from([3, 0])]);
  let crc = 0;
  for (let i = 0; i < 512; i++) crc = crc32(Buffer.alloc(1 << 20), crc);
  const name = Buffer.from('zeros.bin');
  const local = Buffer.alloc(30);
  local.writeUInt32LE(0x04034b50, 0); local.writeUInt16LE(20, 4); local.writeUInt16LE(8, 8);
  local.writeUInt32LE(crc, 14); local.writeUInt32LE(data.length, 18); local.writeUInt32LE(512 << 20, 22); local.writeUInt16LE(name.length, 26);
  const central = Buffer.alloc(46);
  central.writeUInt32LE(0x02014b50, 0); central.writeUInt16LE(20, 4); central.writeUInt16LE(20, 6); central.writeUInt16LE(8, 10);
  central.writeUInt32LE(crc, 16); central.writeUInt32LE(data.length, 20); central.writeUInt32LE(512 << 20, 24); central.writeUInt16LE(name.length, 28);
  const end = Buffer.alloc(22);
  end.writeUInt32LE(0x06054b50, 0); end.writeUInt16LE(1, 8); end.writeUInt16LE(1, 10);
  end.writeUInt32LE(46 + name.length, 12); end.writeUInt32LE(30 + name.length + data.length, 16);
  const archive = join(work, 'zeros.zip');
  writeFileSync(archive, Buffer.concat([local, name, data, central, name, end]));
  for (const [signal, code] of [['SIGINT', 130], ['SIGTERM', 143]]) {
    const into = join(work, 'interrupted', 'deep');
    const child = spawn(process.execPath, [bin, 'unzip', '-d', into, archive], { stdio: 'ignore' });
    const status = await new Promise((resolve) => {
      const poll = setInterval(() => {
        if (existsSync(join(into, 'zeros.bin'))) { clearInterval(poll); child.kill(signal); }
      }, 5);
      child.on('exit', (exit) => { clearInterval(poll); resolve(exit); });
    });
    assert.equal(status, code, signal);
    assert.equal(existsSync(join(work, 'interrupted')), false, signal);
  }
});

test('command: an archive whose own name is not UTF-8 is opened and printed by its bytes, as unzip prints it', reading, () => {
  // 报告.zip in code page 936, given by a shell (a JS string cannot hold the bytes).
  const odd = Buffer.concat([Buffer.from(corpus + '/'), Buffer.from([0xb1, 0xa8, 0xb8, 0xe6]), Buffer.from('.zip')]);
  writeFileSync(odd, readFileSync(join(corpus, 'python-utf8.zip')));
  const shell = (line) => spawnSync('sh', ['-c', line, 'sh', process.execPath, bin], { cwd: corpus, env: zone });
  const name = '"$(printf \'\\261\\250\\270\\346\').zip"';
  for (const option of ['-l', '-t']) {
    const ours = shell(`"$1" "$2" unzip ${option} ${name}`);
    assert.deepEqual([ours.status, ours.stderr.toString()], [0, ''], option);
    assert.deepEqual(ours.stdout, shell(`unzip ${option} ${name}`).stdout, option);
  }
  rmSync(odd);
  const gone = shell(`"$1" "$2" unzip -l ${name}`);
  assert.equal(gone.status, 1);
  assert.match(gone.stderr.toString('latin1'), /^tarnwick: .*\xb1\xa8\xb8\xe6\.zip.* could not be opened: ENOENT/);
});

test('command: usage errors exit 2, an archive that cannot be read 1', () => {
  for (const args of [[], ['-l', '-t', 'a.zip'], ['-l', '-l', 'a.zip'], ['--names', 'klingon', 'a.zip'], ['-d'], ['-x', 'a.zip'], ['a.zip', 'b.zip']]) {
    const r = command(...args);
    assert.equal(r.status, 2, args.join(' '));
    assert.match(r.stderr, /^tarnwick: .*\nTry 'tarnwick unzip --help'\.\n$/, args.join(' '));
  }
  if (reading.skip) return;
  for (const file of ['not-zip.zip', 'missing.zip', 'overlap.zip']) {
    const r = command('-l', file);
    assert.deepEqual([r.status, r.stdout], [1, ''], file);
    assert.match(r.stderr, new RegExp(`^tarnwick: ${file}: \\S.*\\n$`), file);
  }
});
