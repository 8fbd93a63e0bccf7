// Archives of many files in Node: every archive judged by tools no one here wrote (judge.mjs:
// unzip -t, 7z t, bsdtar, and Python's zipfile for names by their flag and contents byte for byte).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { createHash, randomBytes } from 'node:crypto';
import { closeSync, createWriteStream, existsSync, mkdirSync, mkdtempSync, openSync, promises, readdirSync, renameSync, rmSync, symlinkSync, writeFileSync, writeSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import { Readable } from 'node:stream';
import { pipeline } from 'node:stream/promises';
import { fileURLToPath } from 'node:url';
import { Tarnwick } from '../../sdk/tarnwick.js';
import { judge } from '../judge.mjs';

const work = mkdtempSync(join(tmpdir(), 'tarnwick-archive-'));
process.on('exit', () => rmSync(work, { recursive: true, force: true }));
const sha = (data) => createHash('sha256').update(data).digest('hex');
const bin = fileURLToPath(new URL('../../bin/tarnwick.js', import.meta.url));

async function save(archive, name) {
  const path = join(work, name);
  const stream = archive instanceof ReadableStream ? archive : archive.stream();
  await pipeline(Readable.fromWeb(stream), createWriteStream(path));
  return path;
}

// A folder with files (small, of a few MiB and large; text and noise), a nested empty folder, and
// names in and out of code page 936.
function makeTree() {
  const root = join(work, '\u6863\u6848');
  mkdirSync(join(root, 'sub', 'empty'), { recursive: true });
  const noise = randomBytes(1600000);
  const large = Buffer.concat([Buffer.from('row of a large text file\n'.repeat(700000)), noise.subarray(0, 70000)]);
  const files = {
    'a.txt': Buffer.from('hello '.repeat(500)),
    'mid.txt': Buffer.concat([Buffer.from('a text of a few MiB\n'.repeat(150000)), noise.subarray(0, 5000)]),
    'noise.bin': noise.subarray(0, 70000),
    'sub/mid-noise.bin': noise,
    'sub/\u8868\u683c.csv': Buffer.from('\u540d\u79f0,\u6570\u91cf\r\n'.repeat(50)),
    'sub/caf\u00e9 \u{1F600}.txt': Buffer.from('a name code page 936 has no place for'),
    'sub/large.txt': large,
    'zero.bin': Buffer.alloc(0),
  };
  for (const [name, data] of Object.entries(files)) writeFileSync(join(root, name), data);
  return { root, files };
}

test('a folder and loose entries, as a File and as a stream, read alike by every tool', async () => {
  const t = await Tarnwick.open();
  const { root, files } = makeTree();
  const loose = { name: '\u8bf4\u660e.txt', source: new TextEncoder().encode('loose bytes, '.repeat(40)), lastModified: Date.UTC(2020, 1, 2) };
  const want = (utf8Everywhere) => [
    ...Object.keys(files).sort().map((name) => ['\u6863\u6848/' + name, sha(files[name])]),
    ['\u6863\u6848/sub/empty/', null],
    [loose.name, sha(loose.source)],
  ].map(([name, digest]) => [name, utf8Everywhere || name.includes('\u{1F600}'), digest]);
  const order = (entries) => [...entries].sort((a, b) => (a[0] < b[0] ? -1 : 1));
  // Python's zipfile as a server runs it, told nothing: the names it gives.
  const plainNames = (path) => JSON.parse(spawnSync('python3', ['-c', 'import sys, json, zipfile; print(json.dumps(zipfile.ZipFile(sys.argv[1]).namelist()))', path], { encoding: 'utf8' }).stdout).sort();
  for (const names of [undefined, 'control', 'utf8']) {
    const seen = [];
    const made = await t.zip([root, loose], { names, onEntry: (name, index) => seen.push([name, index]) });
    assert.equal(made.name, 'archive.zip');
    const path = await save(made, `tree-${names}.zip`);
    const read = await judge(path);
    assert.deepEqual(order(read.entries), order(want(names !== 'control')), names);
    // The default is read right by anyone: every Chinese name as it was given.
    if (names === undefined) assert.deepEqual(plainNames(path), want(true).map(([name]) => name).sort());
    // What deflate does not shrink is stored; what it shrinks is not.
    assert.deepEqual(read.stored.sort(), ['noise.bin', 'sub/caf\u00e9 \u{1F600}.txt', 'sub/mid-noise.bin', 'zero.bin'].map((n) => '\u6863\u6848/' + n), names);
    assert.equal(read.zip64End, false);
    assert.deepEqual(seen.map(([, index]) => index), [...seen.keys()]);
    const streamed = await judge(await save(t.zipStream([root, loose], { names }), `tree-${names}-stream.zip`));
    assert.deepEqual(order(streamed.entries), order(want(names !== 'control')), `${names}, streamed`);
    assert.deepEqual(streamed.stored.sort(), read.stored.sort(), `${names}, streamed`);
  }
  // Times outside what zip's dates hold are stored as the nearest one they hold, as Python reads it.
  const dated = await save(await t.zip([1970, 1999, 2200].map((year) => ({ name: `${year}.txt`, source: new Uint8Array(1), lastModified: new Date(year, 5, 15, 10, 20, 30) }))), 'dates.zip');
  const times = spawnSync('python3', ['-c', 'import sys, zipfile; print([list(i.date_time) for i in zipfile.ZipFile(sys.argv[1]).infolist()])', dated], { encoding: 'utf8' });
  assert.deepEqual(JSON.parse(times.stdout), [[1980, 1, 1, 0, 0, 0], [1999, 6, 15, 10, 20, 30], [2107, 12, 31, 23, 59, 58]]);
  // Level 0 stores everything; level 9 deflates.
  for (const level of [0, 9]) {
    const read = await judge(await save(t.zipStream([join(root, 'sub', 'large.txt')], { level }), `level-${level}.zip`));
    assert.deepEqual(read.entries, [['large.txt', true, sha(files['sub/large.txt'])]]);
  }
});

test('every unsafe name and every clash is refused before a byte goes out, naming the entry', async () => {
  const t = await Tarnwick.open({ language: 'en' });
  const bytes = new Uint8Array([1, 2, 3]);
  const one = (name) => ({ name, source: bytes });
  const cases = [
    [[one('')], 'empty-name', ''], [[one('/etc/passwd')], 'absolute-name', '/etc/passwd'],
    [[one('C:x.txt')], 'drive-name', 'C:x.txt'], [[one('a.txt:hidden')], 'stream-name', 'a.txt:hidden'],
    [[one('a/../../b.txt')], 'dot-name', 'a/../../b.txt'], [[one('docs/con.txt')], 'device-name', 'docs/con.txt'],
    [[one('what?.txt')], 'bad-character', 'what?.txt'], [[one('dots./x.txt')], 'trailing-dot', 'dots./x.txt'],
    [[one('Read.me'), one('READ.ME')], 'duplicate-name', 'READ.ME'],
    [[one('a'), one('A/b.txt')], 'duplicate-name', 'A/b.txt'],
  ];
  for (const [entries, code, entry] of cases) {
    await assert.rejects(t.zip(entries), (e) => e.name === 'TarnwickError' && e.code === code && e.entry === entry &&
      e.message.includes(`"${entry}"`), code);
    const reader = t.zipStream(entries).getReader();
    await assert.rejects(reader.read(), (e) => e.name === 'TarnwickError' && e.code === code, `${code}, streamed`);
  }
  await assert.rejects(t.zip([{ ...one('d.txt'), lastModified: new Date(NaN) }]), { code: 'bad-date', entry: 'd.txt' });
  await assert.rejects(t.zip([join(work, 'missing')]), { code: 'not-found' });
  // Bad options as digest() refuses them: zip() rejects, zipStream() throws at the call.
  for (const [options, type] of [[{ level: 11 }, RangeError], [{ level: '6' }, TypeError], [{ names: 'gbk' }, RangeError],
                                 [{ onEntry: 'show' }, TypeError], [{ signal: {} }, TypeError], [3, TypeError]]) {
    await assert.rejects(t.zip([one('a.txt')], options), type, JSON.stringify(options));
    assert.throws(() => t.zipStream([one('a.txt')], options), type, JSON.stringify(options));
  }
  // Nothing to pack is refused, however it comes; so is a folder's name with bytes to hold.
  const none = async function* () {};
  for (const entries of [[], new Set(), none()]) {
    await assert.rejects(t.zip(entries), { name: 'TarnwickError', code: 'no-entries' });
  }
  await assert.rejects(t.zipStream([]).getReader().read(), { code: 'no-entries' });
  await assert.rejects(t.zip([one('notes/')]), { code: 'folder-with-data', entry: 'notes/' });
  await assert.rejects(t.zip([{ name: 'notes\\', source: new Blob(['x']) }]), { code: 'folder-with-data' });
  // With an empty source it is the folder it names.
  const read = await judge(await save(await t.zip([{ name: 'notes/', source: new Uint8Array(0) }, { name: 'blob/', source: new Blob([]) }]), 'folders.zip'));
  assert.deepEqual(read.entries, [['notes/', true, null], ['blob/', true, null]]);
});

test('fixNames makes every name Windows refuses acceptable and numbers clashes, telling each renaming; what is unsafe stays refused', async () => {
  const t = await Tarnwick.open();
  const entry = (name, text = name) => ({ name, source: new TextEncoder().encode(text) });
  const entries = [
    entry('what?.txt'), entry('x<y>z:w"q|p*\u0001\u007f.txt'), entry('docs/con.txt'), entry('CON'), entry('com1.tar.gz'),
    entry('a/b./c.txt'), entry('dots...'), entry('a/ . /d.txt'), entry('README.md'), entry('readme.md'),
    entry('Readme.MD'), entry('a'), entry('A/e.txt'), entry('file'), entry('FILE/f.txt'), entry('File/g.txt'),
    entry('\u8bf4\u660e?.txt'), { name: 'dir/' }, { name: 'DIR/' }, entry('plain.txt'),
    entry('box'), { name: 'Box/' }, entry('box/h.txt'), { name: 'file/' },
  ];
  const renamed = [
    ['what?.txt', 'what_.txt'], ['x<y>z:w"q|p*\u0001\u007f.txt', 'x_y_z_w_q_p___.txt'], ['docs/con.txt', 'docs/con_.txt'],
    ['CON', 'CON_'], ['com1.tar.gz', 'com1_.tar.gz'], ['a/b./c.txt', 'a/b/c.txt'], ['dots...', 'dots'],
    ['a/ . /d.txt', 'a/_/d.txt'], ['readme.md', 'readme (2).md'], ['Readme.MD', 'Readme (3).MD'], ['a', 'a (2)'],
    ['FILE/f.txt', 'FILE (2)/f.txt'], ['File/g.txt', 'FILE (2)/g.txt'], ['\u8bf4\u660e?.txt', '\u8bf4\u660e_.txt'],
    ['DIR/', 'DIR (2)/'], ['Box/', 'Box (2)/'], ['box/h.txt', 'Box (2)/h.txt'], ['file/', 'FILE (2)/'],
  ];
  const plain = ['README.md', 'A/e.txt', 'file', 'dir/', 'plain.txt'];
  const texts = new Map(entries.map((e) => [(renamed.find(([from]) => from === e.name) || [, e.name])[1], e.source]));
  const want = [...texts].map(([name, source]) => [name, true, source ? sha(source) : null]).sort();
  for (const [how, make] of [['zip', (o) => t.zip(entries, o)], ['zipStream', (o) => t.zipStream(entries, o)]]) {
    const seen = [];
    const read = await judge(await save(await make({ fixNames: true, onRename: (from, to) => seen.push([from, to]) }), `fixed-${how}.zip`));
    assert.deepEqual(read.entries.sort(), want, how);
    assert.deepEqual(seen, renamed, `${how}: each renaming told once, in order`);
    assert.ok(plain.every((name) => !seen.some(([from]) => from === name)), `${how}: an acceptable name is left as it is`);
  }
  // Off (the default), the first such name refuses the archive.
  await assert.rejects(t.zip(entries), { code: 'bad-character', entry: 'what?.txt' });
  await assert.rejects(t.zip(entries, { fixNames: false }), { code: 'bad-character' });
  // Where a file would land is never changed: such names stay refused, fixNames or not.
  for (const [name, code] of [['/etc/passwd', 'absolute-name'], ['C:x.txt', 'drive-name'], ['a/../../b.txt', 'dot-name'],
                              ['./a.txt', 'dot-name'], ['a//b.txt', 'empty-name'], ['', 'empty-name'], ['c:/con?.txt', 'drive-name']]) {
    await assert.rejects(t.zip([entry(name)], { fixNames: true }), (e) => e.code === code && e.entry === name, name);
  }
  await assert.rejects(t.zip([entry('a.txt')], { fixNames: 'yes' }), TypeError);
});

test('an abort rejects the File and errors the stream', async () => {
  const t = await Tarnwick.open();
  const big = { name: 'big.bin', source: new Uint8Array(64 << 20) };
  const controller = new AbortController();
  await assert.rejects(t.zip([big], { signal: controller.signal, onProgress: () => controller.abort() }), { name: 'AbortError' });
  const stream = new AbortController();
  const reader = t.zipStream([big], { signal: stream.signal }).getReader();
  await reader.read();
  stream.abort();
  await assert.rejects(async () => { for (;;) if ((await reader.read()).done) break; }, { name: 'AbortError' });
});

test('a file rewritten while it is packed is refused, never stored under the CRC of other bytes', async () => {
  const t = await Tarnwick.open();
  // Noise of 16 MiB and more does not shrink: zip() reads it a second time to store it. Rewritten
  // (same size) once the first read is over, the second read holds other bytes.
  const folder = join(work, 'rewritten');
  mkdirSync(folder);
  const path = join(folder, 'noise.bin');
  writeFileSync(path, randomBytes(20 << 20));
  let rewritten = false;
  const onProgress = (done, total) => {
    if (done === total && !rewritten) { rewritten = true; writeFileSync(path, randomBytes(20 << 20)); }
  };
  await assert.rejects(t.zip([folder], { onProgress }), (e) => e.code === 'changed' && e.entry === 'rewritten/noise.bin');
  assert.equal(rewritten, true);
  // A file deleted after the walk found it is gone, as a picked file deleted is.
  writeFileSync(join(folder, 'z.txt'), 'last');
  const onEntry = (name, index) => { if (index === 0) rmSync(join(folder, 'z.txt')); };
  await assert.rejects(t.zip([folder], { onEntry }), (e) => e.code === 'gone' && e.entry === 'rewritten/z.txt' && !/ENOENT/.test(e.message));
});

test('a read that rejects with AbortError while no signal is aborted is a read failure, not a cancel', async () => {
  const t = await Tarnwick.open();
  // A picked file deleted after picking, as Firefox reads it: every read of it rejects with an
  // AbortError, a fresh read of its first byte too (gone); a fresh read that says NotFoundError is
  // gone too (Chromium's word), one that reads is of a file changed.
  const aborted = () => new DOMException('The operation was aborted.', 'AbortError');
  class Vanished extends Blob {
    constructor(size, fresh) { super([new Uint8Array(size)]); this.fresh = fresh; }
    arrayBuffer() { return Promise.reject(aborted()); }
    stream() { return new ReadableStream({ pull: (c) => c.error(aborted()) }); }
    slice(...args) {
      const part = super.slice(...args);
      return this.fresh ? Object.assign(part, { arrayBuffer: () => Promise.reject(new DOMException('gone', this.fresh)) }) : part;
    }
  }
  for (const [size, fresh, code] of [[1000, 'AbortError', 'gone'], [17 << 20, 'AbortError', 'gone'], [1000, 'NotFoundError', 'gone'],
                                     [1000, null, 'changed'], [17 << 20, null, 'changed']]) {
    const entries = () => [{ name: 'a.txt', source: new Uint8Array(3) }, { name: 'picked.bin', source: new Vanished(size, fresh) }];
    const signal = new AbortController().signal;
    await assert.rejects(t.zip(entries(), { signal }), (e) => e.name === 'TarnwickError' && e.code === code && e.entry === 'picked.bin', `zip, ${size} bytes, ${code}`);
    const reader = t.zipStream(entries()).getReader();
    await assert.rejects(async () => { for (;;) if ((await reader.read()).done) break; },
      (e) => e.name === 'TarnwickError' && e.code === code && e.entry === 'picked.bin', `zipStream, ${size} bytes, ${code}`);
  }
});

test('names that would be stored alike are refused: lone surrogates beside each other and beside U+FFFD', async () => {
  const t = await Tarnwick.open();
  const one = (name) => ({ name, source: new Uint8Array([1]) });
  for (const names of ['control', 'utf8']) {
    for (const pair of [['x\ud83dy.txt', 'x\ud83ey.txt'], ['x\ufffdy.txt', 'x\udc00y.txt'], ['\ud83d']]) {
      const bad = pair.find((n) => n.length !== [...n].length || /[\ud800-\udfff]/.test(n));
      await assert.rejects(t.zip(pair.map(one), { names }), (e) => e.name === 'TarnwickError' && e.code === 'bad-character' && e.entry === bad, `${names} ${JSON.stringify(pair)}`);
    }
  }
  // A pair kept whole is a character like any other.
  const read = await judge(await save(await t.zip([one('x\u{1F600}y.txt'), one('x\ufffdy.txt')]), 'pairs.zip'));
  assert.deepEqual(read.entries.map(([name]) => name), ['x\u{1F600}y.txt', 'x\ufffdy.txt']);
});

test('aborts and a long-lived signal leave nothing behind: files, module memory, listeners', async () => {
  const t = await Tarnwick.open();
  const { root } = makeTree();
  const memory = () => t._backend.engine._x.memory.buffer.byteLength;
  const openFiles = () => readdirSync('/proc/self/fd').length;
  // Settle the module's and the process's first allocations before counting.
  await save(t.zipStream([root]), 'warm.zip');
  const files = openFiles(), heap = memory();
  for (let i = 0; i < 60; i++) {
    const controller = new AbortController();
    const reader = t.zipStream([root], { signal: controller.signal }).getReader();
    await reader.read();
    controller.abort();
    await assert.rejects(reader.read(), { name: 'AbortError' });
  }
  await new Promise((resolve) => setTimeout(resolve, 50));
  assert.equal(openFiles(), files, 'a file handle stayed open after an abort');
  assert.ok(memory() - heap < (2 << 20), `the module grew by ${memory() - heap} bytes over 60 aborts`);
  // One signal for many calls: each call takes its listener away when it ends.
  const { getEventListeners } = await import('node:events');
  const shared = new AbortController();
  const small = { name: 'a.txt', source: new Uint8Array(1000) };
  for (let i = 0; i < 15; i++) {
    await t.zip([small], { signal: shared.signal });
    await save(t.zipStream([small], { signal: shared.signal }), 'shared.zip');
    const reader = t.zipStream([root], { signal: shared.signal }).getReader();
    await reader.read();
    await reader.cancel();
  }
  assert.equal(getEventListeners(shared.signal, 'abort').length, 0);
});

test('65,535 entries end in plain end records, 65,536 in Zip64 ones', async () => {
  const t = await Tarnwick.open();
  for (const count of [65535, 65536]) {
    const entries = Array.from({ length: count }, (_, i) => ({ name: `d${i >> 10}/${i}.txt`, source: new TextEncoder().encode(String(i)) }));
    const read = await judge(await save(t.zipStream(entries), `count-${count}.zip`));
    assert.equal(read.entries.length, count);
    assert.equal(read.zip64End, count > 65535);
    assert.deepEqual(read.entries[count - 1], [`d${(count - 1) >> 10}/${count - 1}.txt`, true, sha(String(count - 1))]);
  }
});

test('an entry of 4 GiB + 1 (a sparse file) gets Zip64 sizes, and the entry after it a Zip64 offset', async () => {
  const t = await Tarnwick.open();
  const path = join(work, 'sparse.bin');
  const size = 2 ** 32 + 1;
  const fd = openSync(path, 'w');
  writeSync(fd, Buffer.from('start'), 0, 5, 0);
  writeSync(fd, Buffer.from('!'), 0, 1, size - 1);
  closeSync(fd);
  const hash = createHash('sha256');
  for await (const chunk of (await import('node:fs')).createReadStream(path, { highWaterMark: 1 << 22 })) hash.update(chunk);
  const digest = hash.digest('hex');
  const after = { name: 'after.txt', source: new TextEncoder().encode('after the large entry') };
  // Deflated and streamed (a data descriptor with 8-byte sizes; level 1 as it is quicker than 6 on
  // 4 GiB); stored, which puts the next entry beyond 4 GiB.
  for (const level of [1, 0]) {
    const archive = await save(t.zipStream([path, after], { level }), `sparse-${level}.zip`);
    const read = await judge(archive);
    assert.deepEqual(read.entries, [['sparse.bin', true, digest], ['after.txt', true, sha(after.source)]], `level ${level}`);
    assert.equal(read.zip64End, level === 0);
    rmSync(archive);
  }
  rmSync(path);
  assert.deepEqual(readdirSync(work).filter((name) => name.startsWith('sparse')), []);
});

test('the command packs paths into one archive and never overwrites one', async () => {
  const { root, files } = makeTree();
  const into = join(work, 'command.zip');
  const command = (...args) => spawnSync(process.execPath, [bin, 'zip', '--into', into, ...args], { encoding: 'utf8' });
  const made = command(root, join(root, 'a.txt'));
  assert.equal(made.status, 0, made.stderr);
  assert.equal(made.stdout, into + '\n');
  const read = await judge(into);
  assert.deepEqual(read.entries.at(-1), ['a.txt', true, sha(files['a.txt'])]);
  assert.equal(read.entries.length, Object.keys(files).length + 2);
  const again = command(join(root, 'noise.bin'));
  assert.deepEqual([again.status, again.stdout, again.stderr], [1, '', `tarnwick: ${into} exists already; it is not overwritten\n`]);
  assert.deepEqual((await judge(into)).entries, read.entries);
  rmSync(into);
  const refused = command(join(work, 'nowhere'));
  assert.deepEqual([refused.status, refused.stderr], [1, `tarnwick: "${join(work, 'nowhere')}" does not exist\n`]);
  assert.equal(existsSync(into), false);
});

// A folder of many paths: level k links to level k + 1 twice (a, b), so the walk of level 0 meets
// 2^depth paths (no loop: no folder is inside itself). 16 levels take the walk some seconds: an
// abort is heard well before its end, and a walk that does not hear it still ends.
function diamond(name, depth) {
  const root = join(work, name);
  for (let k = 0; k <= depth; k++) mkdirSync(join(root, `L${k}`), { recursive: true });
  for (let k = 0; k < depth; k++) for (const link of ['a', 'b']) symlinkSync(`../L${k + 1}`, join(root, `L${k}`, link));
  writeFileSync(join(root, `L${depth}`, 'f.txt'), 'at the bottom');
  return join(root, 'L0');
}

test('an abort during the walk of a folder of many paths stops the walk', async () => {
  const t = await Tarnwick.open();
  const root = diamond('diamond', 16);
  // The walk's looks at paths, counted (the SDK takes node:fs's promises from Node, this same object).
  const stat = promises.stat;
  let looks = 0;
  promises.stat = function (...args) { looks++; return stat.apply(this, args); };
  try {
    const made = [
      ['zip', (signal) => t.zip([root], { signal })],
      ['zipStream', (signal) => t.zipStream([root], { signal }).getReader().read()],
    ];
    for (const [label, make] of made) {
      const controller = new AbortController();
      const before = looks;
      setTimeout(() => controller.abort(), 300);
      await assert.rejects(make(controller.signal), { name: 'AbortError' }, label);
      assert.ok(looks - before > 50, `${label}: the walk was under way (${looks - before} looks)`);
      const at = looks;
      await new Promise((resolve) => setTimeout(resolve, 500));
      assert.ok(looks - at <= 2, `${label}: the walk went on after the abort: ${looks - at} more looks`);
    }
  } finally {
    promises.stat = stat;
  }
});

test('a walked folder\'s name that is not UTF-8, a path too long and a loop of links are refused as what they are', async () => {
  const t = await Tarnwick.open({ language: 'en' });
  // A name whose bytes are not UTF-8 beside a plain one.
  const odd = join(work, 'odd-names');
  mkdirSync(odd);
  writeFileSync(join(odd, 'plain.txt'), 'plain');
  writeFileSync(Buffer.concat([Buffer.from(odd + '/inv'), Buffer.from([0xff]), Buffer.from('alid.bin')]), 'bytes');
  await assert.rejects(t.zip([odd]), (e) => e.code === 'bad-name-encoding' && e.entry === 'odd-names/inv\uFFFDalid.bin' &&
    e.message.includes('not valid UTF-8'), 'a name not UTF-8');
  const into = join(work, 'odd.zip');
  const command = spawnSync(process.execPath, [bin, 'zip', '--into', into, odd], { encoding: 'utf8' });
  assert.deepEqual([command.status, command.stdout], [1, '']);
  assert.match(command.stderr, /^tarnwick: the name of ".*inv\uFFFDalid\.bin" is not valid UTF-8/);
  assert.equal(existsSync(into), false);
  // A tree deeper than the system's longest path (PATH_MAX, 4096 bytes here), made by wrapping a
  // folder in another again and again, so that no path made on the way is long.
  const deep = join(work, 'deep'), wrap = join(work, 'wrap'), part = 'd'.repeat(60);
  mkdirSync(deep);
  writeFileSync(join(deep, 'bottom.txt'), 'deep down');
  for (let i = 0; i < 80; i++) {
    mkdirSync(wrap);
    renameSync(deep, join(wrap, part));
    renameSync(wrap, deep);
  }
  try {
    await assert.rejects(t.zip([deep]), (e) => e.code === 'name-too-long' && e.message.includes('ENAMETOOLONG'), 'a path too long');
  } finally {
    spawnSync('rm', ['-rf', deep]);
  }
  // A link that leads to itself.
  const looped = join(work, 'looped');
  mkdirSync(looped);
  symlinkSync('self', join(looped, 'self'));
  await assert.rejects(t.zip([looped]), (e) => e.code === 'link-loop' && e.entry === 'looped/self' && e.message.includes('ELOOP'), 'a loop of links');
});

test('the command refuses an archive that would be inside a packed folder reached through a link', async () => {
  const { root } = makeTree();
  const links = join(work, 'links');
  mkdirSync(links);
  symlinkSync(root, join(links, 'to-root'));
  symlinkSync(join(root, 'sub'), join(links, 'to-sub'));
  for (const into of [join(links, 'to-root', 'self.zip'), join(links, 'to-sub', 'empty', 'self.zip')]) {
    const r = spawnSync(process.execPath, [bin, 'zip', '--into', into, root], { encoding: 'utf8' });
    assert.deepEqual([r.status, r.stdout, r.stderr], [1, '', `tarnwick: ${into} would be inside ${root}, which is being packed\n`]);
    assert.equal(existsSync(into), false, into);
  }
});

test('a signal while the command writes an archive leaves no file under its name, nor the temporary one', async () => {
  const big = join(work, 'signal-big.bin');
  writeFileSync(big, randomBytes(96 << 20));
  const cases = [
    ['SIGTERM', 143, big],                          // while the data is written
    ['SIGHUP', 129, diamond('signal-diamond', 16)], // while the folder is walked
  ];
  for (const [signal, status, path] of cases) {
    const into = join(work, `signal-${signal}.zip`);
    const temporary = () => readdirSync(work).filter((name) => name.startsWith(`.signal-${signal}.zip.`) && name.endsWith('.part'));
    const child = spawn(process.execPath, [bin, 'zip', '--into', into, path], { stdio: ['ignore', 'pipe', 'pipe'] });
    const ended = new Promise((resolve) => child.on('exit', (code, killedBy) => resolve([code, killedBy])));
    let stderr = '';
    child.stderr.on('data', (d) => { stderr += d; });
    // Under way: the file being written is there (with data in it when the data is written),
    // under the temporary name, not the asked one.
    const deadline = Date.now() + 30000;
    for (;;) {
      const found = [...temporary(), ...(existsSync(into) ? [basename(into)] : [])];
      if (found.length === 1 && (path !== big || (await promises.stat(join(work, found[0]))).size > 0)) break;
      assert.ok(Date.now() < deadline, `${signal}: no file came`);
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
    assert.equal(existsSync(into), false, `${signal}: a file under the asked name before the archive is whole`);
    child.kill(signal);
    assert.deepEqual(await ended, [status, null], `${signal}: ${stderr}`);
    assert.equal(existsSync(into), false, `${signal}: a file under the asked name`);
    assert.deepEqual(temporary(), [], `${signal}: the temporary file is left`);
  }
  rmSync(big);
});

test('the command refuses an option given twice', () => {
  const into = [join(work, 'twice-a.zip'), join(work, 'twice-b.zip')];
  const cert = join(work, 'twice.b64');
  writeFileSync(cert, 'x');
  const { root } = makeTree();
  for (const args of [
    ['zip', '--into', into[0], '--into', into[1], root], ['zip', '--out', work, '--out', work, join(root, 'a.txt')],
    ['sm3', '--z', cert, '--z', cert, join(root, 'a.txt')],
  ]) {
    const r = spawnSync(process.execPath, [bin, ...args], { encoding: 'utf8' });
    assert.deepEqual([r.status, r.stdout], [2, ''], args.join(' '));
    assert.match(r.stderr, /^tarnwick: --(into|out|z) is given twice\n/, args.join(' '));
  }
  assert.deepEqual(into.filter((path) => existsSync(path)), []);
});
