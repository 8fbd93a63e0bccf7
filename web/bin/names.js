// Names as the command line gave them, and as md5sum and sha256sum print them.
//
// Node reads its arguments as UTF-8 and puts U+FFFD where the bytes are not UTF-8, so a file whose
// name is not UTF-8 cannot be opened by its argument. On Linux /proc/self/cmdline still holds the
// bytes: such a file is opened by them and handed to the SDK as /proc/self/fd/N, and its name is
// printed as it was given.
import { closeSync, constants, openSync, readFileSync, statSync } from 'node:fs';

const strict = new TextDecoder('utf-8', { fatal: true });

export function isUtf8(bytes) {
  try {
    strict.decode(bytes);
    return true;
  } catch (e) {
    return false;
  }
}

let given;
// The bytes of each of process.argv's arguments where they are not UTF-8 (null for the others,
// and for all where the bytes cannot be had: not Linux, or a command line that does not match).
function givenBytes() {
  if (given !== undefined) return given;
  given = process.argv.map(() => null);
  let line;
  try {
    line = readFileSync('/proc/self/cmdline');
  } catch (e) {
    return given;
  }
  const parts = [];
  for (let start = 0, i = 0; i < line.length; i++) {
    if (line[i] === 0) { parts.push(line.subarray(start, i)); start = i + 1; }
  }
  // The command's arguments are the last ones (Node's own options come before the script).
  const count = process.argv.length - 2;
  if (count < 0 || parts.length < count) return given;
  const last = parts.slice(parts.length - count);
  const found = process.argv.map(() => null);
  for (let j = 0; j < count; j++) {
    const arg = process.argv[j + 2], bytes = last[j];
    if (isUtf8(bytes)) {
      if (bytes.toString('utf8') !== arg) return given;
    } else {
      if (!arg.includes('\uFFFD')) return given;
      found[j + 2] = Buffer.from(bytes);
    }
  }
  given = found;
  return given;
}

// The bytes of process.argv[index] when they are not UTF-8, else null.
export function argBytes(index) {
  return index >= 0 ? givenBytes()[index] || null : null;
}

// Without the `, open '...'` Node adds to a system error's text.
export function reason(e) {
  return String((e && e.message) || e).replace(/, \w+ '.*'$/s, '');
}

// A text with `path` in it shown with the name as given (bytes that are not UTF-8 kept).
export function shown(text, name) {
  if (!Buffer.isBuffer(name.given)) return String(text);
  const parts = String(text).split(name.path);
  const out = [];
  parts.forEach((part, i) => { if (i) out.push(name.given); out.push(Buffer.from(part)); });
  return Buffer.concat(out);
}

export function quoted(name) {
  return Buffer.isBuffer(name.given) ? Buffer.concat([Buffer.from('"'), name.given, Buffer.from('"')]) : `"${name.given}"`;
}

// A path argument (process.argv[index], read as `arg`) as the SDK can take it:
//   { path, given, close() }: `path` for the SDK, `given` the name to print (a string, or the bytes
//   of a name that is not UTF-8, whose file is then open and named as /proc/self/fd/N);
//   { refusal }: why it cannot be (a text for standard error, a string or bytes).
// A path the system refuses for its length (ENAMETOOLONG) or a loop of links (ELOOP) is refused
// here as what it is; any other path goes to the SDK, which gives the control's texts.
export function pathArgument(arg, index, { utf8Only = null } = {}) {
  const bytes = arg.includes('\uFFFD') ? argBytes(index) : null;
  if (!bytes) {
    try {
      statSync(arg);
    } catch (e) {
      if (e.code === 'ENAMETOOLONG') return { refusal: `tarnwick: "${arg}" is a longer path or name than this system opens (ENAMETOOLONG)` };
      if (e.code === 'ELOOP') return { refusal: `tarnwick: "${arg}" is a link that leads round in a loop (ELOOP: too many levels of links)` };
      if (e.code === 'ENOENT' && arg.includes('\uFFFD') && process.platform !== 'linux' && process.platform !== 'win32') {
        return { refusal: `tarnwick: "${arg}" does not exist, or its name is not valid UTF-8 (shown with U+FFFD), which this command opens on Linux only` };
      }
    }
    return { path: arg, given: arg, close() {} };
  }
  const name = { path: '\0', given: bytes };
  const said = (text) => ({ refusal: Buffer.concat([Buffer.from('tarnwick: '), quoted(name), Buffer.from(text)]) });
  if (utf8Only) return said(`: the name is not valid UTF-8; ${utf8Only}`);
  let fd;
  try {
    // Not blocking: a pipe of that name is refused by the SDK, not waited on.
    fd = openSync(bytes, constants.O_RDONLY | (constants.O_NONBLOCK || 0));
  } catch (e) {
    return said(` (a name that is not valid UTF-8) could not be opened: ${reason(e)}`);
  }
  return { path: `/proc/self/fd/${fd}`, given: bytes, close() { closeSync(fd); } };
}

// What md5sum and sha256sum (GNU coreutils 9) print for a file: a name holding a backslash, a line
// feed or a carriage return has them escaped (\\, \n, \r) and the line starts with a backslash,
// so that their -c reads it back; other bytes go out as they are.
export function sumLine(digest, given) {
  const bytes = Buffer.isBuffer(given) ? given : Buffer.from(String(given));
  const out = [];
  let escaped = false;
  for (const b of bytes) {
    if (b === 0x5c || b === 0x0a || b === 0x0d) {
      out.push(0x5c, b === 0x5c ? 0x5c : b === 0x0a ? 0x6e : 0x72);
      escaped = true;
    } else {
      out.push(b);
    }
  }
  return Buffer.concat([Buffer.from(`${escaped ? '\\' : ''}${digest}  `), Buffer.from(out), Buffer.from('\n')]);
}
