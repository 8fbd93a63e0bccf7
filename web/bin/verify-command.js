// tarnwick verify: an SM2 signature over a local file, checked with the SDK's verifySm2().
import { readFileSync } from 'node:fs';
import { Tarnwick } from '../sdk/tarnwick.js';
import { progressLine } from './progress.js';

export const verifyUsage = `Usage: tarnwick verify --sig SIGFILE (--cert CERT | --key PUBKEY) [--id ID] PATH

Checks the SM2 signature in SIGFILE over the whole file PATH (SM3 of the signer's Z value and the
file, as an SM2 signature with SM3 is made).

  --sig SIGFILE   the signature: DER, 64 bytes r || s, or either as base64 or hex text
  --cert CERT     the signer's SM2 certificate: PEM, DER or base64 text
  --key PUBKEY    the signer's SM2 public key: PEM or DER SubjectPublicKeyInfo, or the point
                  04 || x || y as 65 bytes, hex or base64 text
  --id ID         the signer's id (default 1234567812345678)

Prints "Verified OK" when the signature holds. Otherwise prints why on standard error:
"Verification failure" for a signature that is well formed but does not hold.

Exit status: 0 verified, 1 not verified (or the signature, key, certificate or file could not be
read), 2 the command line was wrong.
`;

class Wrong extends Error {}

export function parseVerify(argv) {
  const o = { sig: null, cert: null, key: null, id: null, paths: [] };
  const flags = { '--sig': 'sig', '--cert': 'cert', '--key': 'key', '--id': 'id' };
  let ended = false;
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (!ended && a === '--') { ended = true; continue; }
    if (!ended && flags[a]) {
      if (o[flags[a]] !== null) throw new Wrong(`${a} is given twice`);
      if (i + 1 >= argv.length) throw new Wrong(`${a} needs a value`);
      o[flags[a]] = argv[++i];
      continue;
    }
    if (!ended && a.startsWith('-') && a !== '-') throw new Wrong(`unknown option '${a}'`);
    o.paths.push(a);
  }
  if (o.sig === null) throw new Wrong('verify needs --sig');
  if ((o.cert === null) === (o.key === null)) throw new Wrong('verify needs one of --cert and --key');
  if (o.paths.length !== 1) throw new Wrong('verify needs one path');
  return o;
}

// A key or certificate file: text when it reads as text (PEM, base64, hex), else its bytes.
function keyFile(bytes) {
  const text = bytes.toString('latin1');
  return /^[\x09\x0a\x0d\x20-\x7e]*$/.test(text) ? text : new Uint8Array(bytes);
}

// A signature file: text (base64 or hex, a line break after) when it is all printable, as DER
// never is (its INTEGERs' tag is 02); else DER or 64 raw bytes, as they are.
function signatureFile(bytes) {
  const text = bytes.toString('latin1');
  if (/^[\x09\x0a\x0d\x20-\x7e]+$/.test(text)) return text.trim();
  return new Uint8Array(bytes);
}

export async function runVerify(argv) {
  let o;
  try {
    o = parseVerify(argv);
  } catch (e) {
    if (!(e instanceof Wrong)) throw e;
    process.stderr.write(`tarnwick verify: ${e.message}\nTry 'tarnwick verify --help'.\n`);
    return 2;
  }
  const read = (name, what) => {
    try {
      return readFileSync(name);
    } catch (e) {
      throw Object.assign(new Error(`cannot read the ${what} ${name}: ${e.message}`), { said: true });
    }
  };
  const options = {};
  try {
    options.signature = signatureFile(read(o.sig, 'signature'));
    if (o.cert !== null) options.certificate = keyFile(read(o.cert, 'certificate'));
    else options.publicKey = keyFile(read(o.key, 'key'));
  } catch (e) {
    if (!e.said) throw e;
    process.stderr.write(`tarnwick verify: ${e.message}\n`);
    return 1;
  }
  if (o.id !== null) options.userId = o.id;
  const controller = new AbortController();
  process.once('SIGINT', () => controller.abort());
  const progress = progressLine(o.paths[0]);
  options.onProgress = progress.onProgress;
  options.signal = controller.signal;
  const t = await Tarnwick.open();
  try {
    const result = await t.verifySm2(o.paths[0], options);
    progress.end();
    if (result.valid) {
      process.stdout.write('Verified OK\n');
      return 0;
    }
    process.stderr.write('Verification failure\n');
    return 1;
  } catch (e) {
    progress.end();
    if (e && e.name === 'AbortError') return 130;
    if (e && (e.name === 'TarnwickError' || e instanceof TypeError || e instanceof RangeError)) {
      process.stderr.write(`tarnwick verify: ${String(e.message).replace(/[\r\n]+$/, '')}\n`);
      return 1;
    }
    throw e;
  } finally {
    t.close();
  }
}
