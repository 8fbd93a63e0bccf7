// Names in code page 936, as the control stores an entry's name when every character of it has a
// place there (what Chinese zip tools expect without the UTF-8 flag).

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
