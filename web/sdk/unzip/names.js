// Entry names and comments as Windows shows them. A name is UTF-8 when the entry says so (general
// purpose bit 11); else the UTF-8 name in Info-ZIP's Unicode Path field (0x7075) when that field's
// CRC-32 is the stored name's (a tool that renamed the entry without knowing the field leaves it
// stale); else ASCII as it is; else UTF-8 when the bytes are valid UTF-8 (macOS writes names so,
// without the flag) and code page 936 when they are not (Chinese Windows tools write that, without
// the flag), decoded as GB18030, which holds all of code page 936. One archive may hold both kinds,
// so this is judged per entry. A page may force one encoding for every entry instead.
// Pure functions, no I/O.

// Code page 437's upper half (the lower half is ASCII).
const CP437_HIGH =
  '\u00c7\u00fc\u00e9\u00e2\u00e4\u00e0\u00e5\u00e7\u00ea\u00eb\u00e8\u00ef\u00ee\u00ec\u00c4\u00c5' +
  '\u00c9\u00e6\u00c6\u00f4\u00f6\u00f2\u00fb\u00f9\u00ff\u00d6\u00dc\u00a2\u00a3\u00a5\u20a7\u0192' +
  '\u00e1\u00ed\u00f3\u00fa\u00f1\u00d1\u00aa\u00ba\u00bf\u2310\u00ac\u00bd\u00bc\u00a1\u00ab\u00bb' +
  '\u2591\u2592\u2593\u2502\u2524\u2561\u2562\u2556\u2555\u2563\u2551\u2557\u255d\u255c\u255b\u2510' +
  '\u2514\u2534\u252c\u251c\u2500\u253c\u255e\u255f\u255a\u2554\u2569\u2566\u2560\u2550\u256c\u2567' +
  '\u2568\u2564\u2565\u2559\u2558\u2552\u2553\u256b\u256a\u2518\u250c\u2588\u2584\u258c\u2590\u2580' +
  '\u03b1\u00df\u0393\u03c0\u03a3\u03c3\u00b5\u03c4\u03a6\u0398\u03a9\u03b4\u221e\u03c6\u03b5\u2229' +
  '\u2261\u00b1\u2265\u2264\u2320\u2321\u00f7\u2248\u00b0\u2219\u00b7\u221a\u207f\u00b2\u25a0\u00a0';

const isCp437 = (label) => typeof label === 'string' && /^\s*(cp|ibm)[-_]?437\s*$/i.test(label);

function cp437(bytes) {
  let s = '';
  for (const b of bytes) s += b < 0x80 ? String.fromCharCode(b) : CP437_HIGH[b - 0x80];
  return s;
}

// A decoder a label names, or a RangeError saying the label is unknown.
const decoders = new Map();
function decoderFor(label, fatal = false) {
  const key = `${fatal ? '!' : ''}${label}`;
  let d = decoders.get(key);
  if (!d) {
    try {
      d = new TextDecoder(label, { fatal, ignoreBOM: true });
    } catch (e) {
      throw new RangeError(`names: '${label}' is not an encoding this platform knows (any TextDecoder label, or 'cp437')`);
    }
    decoders.set(key, d);
  }
  return d;
}

/** Throws a RangeError for a label neither TextDecoder nor 'cp437' knows. */
export function checkEncoding(label) {
  if (typeof label !== 'string') throw new TypeError('names: an encoding is named by a string');
  if (!isCp437(label)) decoderFor(label);
}

function forced(raw, label) {
  return isCp437(label) ? cp437(raw) : decoderFor(label).decode(raw);
}

const ascii = (raw) => raw.every((b) => b < 0x80);

// Valid UTF-8 decoded, or null.
function strictUtf8(raw) {
  try {
    return decoderFor('utf-8', true).decode(raw);
  } catch (e) {
    return null;
  }
}

let crcTable = null;
function crc32(bytes) {
  if (!crcTable) {
    crcTable = new Uint32Array(256);
    for (let n = 0; n < 256; n++) {
      let c = n;
      for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
      crcTable[n] = c >>> 0;
    }
  }
  let c = 0xffffffff;
  for (const b of bytes) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

// The field's UTF-8 name when the field is whole, of version 1, and made for these stored bytes.
function unicodePathName(field, raw) {
  if (!field || field.length < 5 || field[0] !== 1) return null;
  const crc = (field[1] | (field[2] << 8) | (field[3] << 16) | (field[4] << 24)) >>> 0;
  if (crc !== crc32(raw)) return null;
  return strictUtf8(field.subarray(5));
}

function bytesOf(raw) {
  if (raw instanceof Uint8Array) return raw;
  if (raw instanceof ArrayBuffer) return new Uint8Array(raw);
  throw new TypeError('names: the stored bytes are a Uint8Array');
}

/**
 * The name an entry's stored bytes stand for, and which rule gave it: 'utf-8' (the flag),
 * 'unicode-path', 'ascii', 'utf-8-guessed', 'gb18030', or the forced label as given.
 */
export function decodeName(raw, { utf8Flag = false, unicodePath = null, encoding } = {}) {
  const bytes = bytesOf(raw);
  if (encoding !== undefined) {
    checkEncoding(encoding);
    return { name: forced(bytes, encoding), nameEncoding: encoding };
  }
  if (utf8Flag) return { name: decoderFor('utf-8').decode(bytes), nameEncoding: 'utf-8' };
  const fromField = unicodePath ? unicodePathName(bytesOf(unicodePath), bytes) : null;
  if (fromField !== null) return { name: fromField, nameEncoding: 'unicode-path' };
  return guessed(bytes);
}

function guessed(bytes) {
  if (ascii(bytes)) return { name: decoderFor('utf-8').decode(bytes), nameEncoding: 'ascii' };
  const utf8 = strictUtf8(bytes);
  if (utf8 !== null) return { name: utf8, nameEncoding: 'utf-8-guessed' };
  return { name: decoderFor('gb18030').decode(bytes), nameEncoding: 'gb18030' };
}

/** An archive's or an entry's comment, by the same rules (there is no Unicode field for it). */
export function decodeComment(raw, { utf8Flag = false, encoding } = {}) {
  const bytes = bytesOf(raw);
  if (encoding !== undefined) {
    checkEncoding(encoding);
    return forced(bytes, encoding);
  }
  if (utf8Flag) return decoderFor('utf-8').decode(bytes);
  return guessed(bytes).name;
}
