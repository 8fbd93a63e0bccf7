// The central directory's records as the module packs them, made into what a page sees: the DOS
// time as a Date, and each entry judged by the rule zip() and the control use (why it may not be
// extracted), names equal as Windows compares them marked.

// The packed listing (module.cpp, Pack) as plain records.
export function unpack(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  let at = 0;
  const u8 = () => view.getUint8(at++);
  const u16 = () => { const v = view.getUint16(at, true); at += 2; return v; };
  const u32 = () => { const v = view.getUint32(at, true); at += 4; return v; };
  const f64 = () => { const v = view.getFloat64(at, true); at += 8; return v; };
  const raw = () => { const n = u32(); const b = bytes.slice(at, at + n); at += n; return b; };
  const count = u32();
  const prepended = f64();
  const comment = raw();
  const records = [];
  for (let i = 0; i < count; i++) {
    const r = { madeBy: u16(), flags: u16(), method: u16(), dosTime: u16(), dosDate: u16(), crc32: u32(),
      attributes: u32(), compressedSize: f64(), size: f64(), localOffset: f64(), unixTime: f64(), ntfsTime: f64() };
    r.rawName = raw();
    const hasUnicodePath = u8() === 1;
    const unicodePath = raw();
    r.unicodePath = hasUnicodePath ? unicodePath : null;
    r.comment = raw();
    records.push(r);
  }
  return { prepended, comment, records };
}

export function dosDate(date, time) {
  return new Date(1980 + (date >> 9), ((date >> 5) & 15) - 1, date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2);
}

const NAME_PROBLEMS = [null, 'empty-part', 'absolute', 'drive', 'bad-character', 'parent', 'device-name', 'bad-character', 'trailing-dot-or-space'];

// Why the entry may not be extracted, by the rule zip() and the control use, or null.
export function unsafeOf(engine, name, symlink) {
  if (symlink) return 'symlink';
  const path = name.replace(/\\/g, '/');
  const bare = path.replace(/\/+$/, '');
  if (bare === '') return 'empty-part';
  if (/^[A-Za-z]:/.test(bare)) return 'drive';
  if (bare.startsWith('/')) return 'absolute';
  const parts = bare.split('/');
  if (parts.includes('..')) return 'parent';
  const pointer = engine._x.tw_alloc(bare.length * 2 + 2);
  try {
    const units = new Uint16Array(engine._x.memory.buffer, pointer, bare.length);
    for (let i = 0; i < bare.length; i++) units[i] = bare.charCodeAt(i);
    const code = engine._x.tw_archive_name_problem(pointer, bare.length);
    if (code !== 0) return NAME_PROBLEMS[code] || 'bad-character';
  } finally {
    engine._x.tw_free(pointer);
  }
  if (parts.some((p) => p.length > 255) || bare.length > 32000) return 'too-long';
  return null;
}

// Marks entries whose names are equal as Windows compares them (case aside), a file's name equal
// to another entry's folder among them.
export function markClashes(entries) {
  const seen = new Map();
  const key = (s) => s.replace(/\\/g, '/').replace(/\/+$/, '').toUpperCase();
  const folders = new Set();
  for (const e of entries) {
    const parts = key(e.name).split('/');
    for (let i = 1; i < parts.length; i++) folders.add(parts.slice(0, i).join('/'));
  }
  return entries.map((e) => {
    const k = key(e.name);
    const earlier = seen.get(k);
    seen.set(k, e);
    const clash = (earlier && !(earlier.directory && e.directory)) || (!e.directory && folders.has(k));
    return clash && !e.unsafe ? 'clash' : null;
  });
}
