// The names of an archive's entries, before any byte is read: every name checked by the core's
// rules (or, asked to, made acceptable to them) and its stored form fixed (code page 936 or
// UTF-8). A name refused or two entries with one name: an ArchiveFailure naming the entry.
import { gbkBytes } from '../control/naming.js';
import { ArchiveFailure, Slab } from './entries.js';

export const MAX_NAME_BYTES = 0xffff;

// The core's name problems (zipcore::ArchiveNameProblem), in its order: a code and what it means.
const NAME_PROBLEMS = [
  null,
  ['empty-name', 'is empty or has an empty part'],
  ['absolute-name', 'is absolute'],
  ['drive-name', 'names a drive'],
  ['stream-name', 'names an alternate data stream (a \':\')'],
  ['dot-name', 'has a "." or ".." part'],
  ['device-name', 'names a device'],
  ['bad-character', 'has a character Windows does not allow in names'],
  ['trailing-dot', 'has a part that ends in a dot or a blank, which Windows drops'],
];

// A surrogate without its pair is no character: every encoding stores it as U+FFFD, so two names
// that differ only there would be stored as one.
const LONE_SURROGATE = /[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/;

// ---- names --------------------------------------------------------------------------------------

// A name as Windows compares names: each character upper-cased where that gives one character.
function windowsKey(name) {
  let key = '';
  for (const ch of name) {
    const upper = ch.toUpperCase();
    key += upper.length === ch.length ? upper : ch;
  }
  return key;
}

function nameProblem(engine, name) {
  const x = engine._x;
  const pointer = x.tw_alloc(name.length * 2 + 2);
  try {
    const units = new Uint16Array(x.memory.buffer, pointer, name.length);
    for (let i = 0; i < name.length; i++) units[i] = name.charCodeAt(i);
    return x.tw_archive_name_problem(pointer, name.length);
  } finally {
    x.tw_free(pointer);
  }
}

// ---- names made acceptable (fixNames) --------------------------------------------------------------
// What Windows' name rule refuses, changed into what it takes; what is a matter of where a file
// lands (an absolute name, a drive, a "." or ".." part, an empty name or part) is never changed:
// the core refuses it still.

// Characters Windows does not take in a name (':' also names an alternate stream), the controls
// (DEL too), and half of a surrogate pair: each becomes '_'.
const FORBIDDEN = /[<>:"|?*\u0000-\u001f\u007f]|[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/g;
// A device's name as a part's stem (before its first dot; blanks before the dot count for nothing).
const DEVICE = /^(con|prn|aux|nul|conin\$|conout\$|clock\$|(?:com|lpt)[0-9\u00b9\u00b2\u00b3])(?=[ ]*(\.|$))/i;
const DRIVE = /^[A-Za-z]:/;

// One part of a name made acceptable: forbidden characters as '_', dots and blanks at its end
// dropped (nothing left: '_'), a device's name given a '_' after it (con.txt -> con_.txt).
function fixPart(part) {
  if (part === '' || part === '.' || part === '..') return part;
  let fixed = part.replace(FORBIDDEN, '_').replace(/[. ]+$/, '');
  if (fixed === '') fixed = '_';
  return fixed.replace(DEVICE, '$1_');
}

// A whole name made acceptable, its parts one by one; a drive at its start kept, to be refused.
function fixName(name) {
  const drive = DRIVE.test(name) ? name.slice(0, 2) : '';
  const directory = name.endsWith('/');
  const body = (directory ? name.slice(0, -1) : name).slice(drive.length);
  return drive + body.split('/').map(fixPart).join('/') + (directory ? '/' : '');
}

// The n-th name of a part that clashes: "name (n).ext" for a file, "name (n)" for a folder.
function numbered(part, n, file) {
  const dot = file ? part.lastIndexOf('.') : -1;
  return dot > 0 ? `${part.slice(0, dot)} (${n})${part.slice(dot)}` : `${part} (${n})`;
}

/**
 * Checks every name and fixes how it is stored, before any byte goes out. `mode` 'utf8' (the
 * default): UTF-8 with the flag throughout; 'control': code page 936 without the flag where every
 * character has a place there, else UTF-8 with the flag. Two entries with one name, also when Windows would see
 * one name (case aside), or a file where another entry needs a folder, are refused; with `fix`,
 * such names are numbered ("name (2).ext") and names Windows' rule refuses are made acceptable
 * (fixName), each change told to onRename(from, to). A fixed name is checked by the core again.
 */
export function planNames(engine, list, mode = 'utf8', { fix = false, onRename } = {}) {
  const files = new Map(), folders = new Map(), implied = new Map();  // key -> the entry's name
  const moved = new Map();  // fix: a folder's key -> the part it was renamed to
  const taken = (key) => files.has(key) || folders.has(key) || implied.has(key);
  const encoder = new TextEncoder(), names = new Slab(64 * 1024);
  const clash = (name, other) => {
    throw new ArchiveFailure('duplicate-name', name, other === name
      ? `the entry "${name}" is given twice`
      : `the entries "${other}" and "${name}" have one name on Windows, which does not tell case apart in names`);
  };
  for (const entry of list) {
    let name = entry.name.replace(/\\/g, '/');
    if (entry.directory && !name.endsWith('/')) name += '/';
    const given = name;
    if (fix) name = fixName(name);
    if (LONE_SURROGATE.test(name)) {
      throw new ArchiveFailure('bad-character', name, `the entry name "${name}" has half of a surrogate pair, which is no character and cannot be stored`);
    }
    let problem = NAME_PROBLEMS[nameProblem(engine, name)];
    if (problem) throw new ArchiveFailure(problem[0], fix ? given : name, `the entry name "${fix ? given : name}" ${problem[1]}${fix && name !== given ? ` (made "${name}", still refused)` : ''}`);
    let parts = (entry.directory ? name.slice(0, -1) : name).split('/');
    if (fix) {
      // Folders first, each as renamed before (or now, when a file holds its name), then the
      // entry's own last part, numbered while its name is another entry's.
      for (let i = 0; i < parts.length - 1; i++) {
        const key = windowsKey(parts.slice(0, i + 1).join('/'));
        if (moved.has(key)) { parts[i] = moved.get(key); continue; }
        if (!files.has(key)) continue;
        const above = parts.slice(0, i).join('/');
        let n = 2;
        while (taken(windowsKey((above ? above + '/' : '') + numbered(parts[i], n, false)))) n++;
        moved.set(key, numbered(parts[i], n, false));
        parts[i] = moved.get(key);
      }
      const last = parts.length - 1, above = parts.slice(0, last).join('/');
      const keyOf = (part) => windowsKey((above ? above + '/' : '') + part);
      const busy = (part) => entry.directory ? files.has(keyOf(part)) || folders.has(keyOf(part)) : taken(keyOf(part));
      // A folder entry whose folder was renamed before (a file held its name) is that folder; one
      // renamed now is where later entries under it go.
      const own = keyOf(parts[last]);
      if (entry.directory && moved.has(own)) parts[last] = moved.get(own);
      else if (busy(parts[last])) {
        let n = 2;
        while (taken(keyOf(numbered(parts[last], n, !entry.directory)))) n++;
        if (entry.directory && files.has(own)) moved.set(own, numbered(parts[last], n, false));
        parts[last] = numbered(parts[last], n, !entry.directory);
      }
      name = parts.join('/') + (entry.directory ? '/' : '');
      problem = NAME_PROBLEMS[nameProblem(engine, name)];
      if (problem) throw new ArchiveFailure(problem[0], given, `the entry name "${given}" was made "${name}", which ${problem[1]}`);
    }
    const key = windowsKey(parts.join('/'));
    if (files.has(key)) clash(name, files.get(key));
    if (folders.has(key)) clash(name, folders.get(key));
    if (!entry.directory && implied.has(key)) clash(name, implied.get(key));
    (entry.directory ? folders : files).set(key, name);
    for (let i = 1; i < parts.length; i++) {
      const above = windowsKey(parts.slice(0, i).join('/'));
      if (files.has(above)) clash(name, files.get(above));
      if (!implied.has(above)) implied.set(above, name);
    }
    if (fix && name !== given && onRename) onRename(given, name);
    const legacy = mode === 'utf8' ? null : gbkBytes(name);
    const bytes = legacy || encoder.encode(name);
    if (bytes.length > MAX_NAME_BYTES) {
      throw new ArchiveFailure('long-name', name, `the entry name "${name.slice(0, 40)}..." is longer than 65,535 bytes`);
    }
    entry.name = name;
    entry.nameBytes = names.keep(bytes);
    entry.utf8 = !legacy;
  }
  return list;
}
