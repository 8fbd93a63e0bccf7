// Naming: the archive entry's name and time as the control stores them, and the archive's own name.

// MS-DOS date and time of a moment, in local time, as zip entries carry them. They hold 1980 to
// 2107: a moment before is stored as the first second of 1980, one after as the last one 2107
// holds (23:59:58 on 31 December), the whole moment, not its year alone.
export function dosDateTime(ms) {
  let d = new Date(ms);
  if (!(d.getFullYear() >= 1980)) d = new Date(1980, 0, 1, 0, 0, 0);
  else if (d.getFullYear() > 2107) d = new Date(2107, 11, 31, 23, 59, 58);
  const year = d.getFullYear();
  return {
    dosDate: ((year - 1980) << 9) | ((d.getMonth() + 1) << 5) | d.getDate(),
    dosTime: (d.getHours() << 11) | (d.getMinutes() << 5) | (d.getSeconds() >> 1),
  };
}

// Code page 936 (GBK) bytes of each character that has a place there, built once from the
// platform's decoder (2-byte codes only, as Windows' code page 936 has them).
let gbkCodes = null;
// The name's bytes in code page 936, or null when a character has no place there.
export function gbkBytes(name) {
  if (/^[\x00-\x7f]*$/.test(name)) return new TextEncoder().encode(name);  // no table needed
  if (typeof TextDecoder !== 'function') return null;
  if (!gbkCodes) {
    gbkCodes = new Map();
    const decoder = new TextDecoder('gbk');
    for (let lead = 0x81; lead <= 0xfe; lead++) {
      for (let trail = 0x40; trail <= 0xfe; trail++) {
        if (trail === 0x7f) continue;
        const ch = decoder.decode(Uint8Array.of(lead, trail));
        if (ch.length === 1 && ch !== '\ufffd' && !gbkCodes.has(ch)) gbkCodes.set(ch, (lead << 8) | trail);
      }
    }
  }
  const out = [];
  for (const ch of name) {
    const c = ch.codePointAt(0);
    if (c < 0x80) { out.push(c); continue; }
    const code = gbkCodes.get(ch);
    if (code === undefined) return null;
    out.push(code >> 8, code & 255);
  }
  return Uint8Array.from(out);
}

// The entry's name as the control stores it: its last path component, in code page 936 when
// every character has a place there (what Chinese zip tools expect), else UTF-8 flagged as such.
export function entryFor(name, modified) {
  const stored = name.split(/[\\/]/).pop() || 'data.bin';
  const legacy = gbkBytes(stored);
  return {
    name: stored,
    nameBytes: legacy || new TextEncoder().encode(stored),
    utf8: !legacy,
    ...dosDateTime(modified),
  };
}

let nameCounter = 0;
export function archiveName() {
  nameCounter = nameCounter >= 9999 ? 0 : nameCounter + 1;
  const four = (n) => String(n).padStart(4, '0');
  const process4 = Math.floor(Math.random() * 9999), random4 = Math.floor(Math.random() * 9999);
  return '1_' + four(process4) + four(random4) + four(nameCounter) + '.zip';
}
