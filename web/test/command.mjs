// The command (bin/tarnwick.js) on the shared corpus: the corpus calls made on a path, as command
// lines, and what the command gives for each: the result (the failure value when it failed) and
// the text of that call (its standard error; the control's texts printed without their own
// trailing line break).
import { spawnSync } from 'node:child_process';
import { writeFileSync } from 'node:fs';
import { basename, join } from 'node:path';

const COMMANDS = {
  GetLocalFileSize: ['size', -1], GetLocalFileHeadSigned: ['probe', ''], GetLocalFileSHA256: ['sha256', ''],
  GetLocalFileSM3: ['sm3', ''], CreateZipFromLocalFile: ['zip', ''],
};

// The calls of a corpus list the command makes: { index, method, args, argv }. A certificate
// is handed over in a file of its own in `work`; archives are written to `out`.
export function commandCalls(list, work, out) {
  const made = [];
  list.forEach(([method, args], index) => {
    if (!COMMANDS[method]) return;
    const path = args[0] && typeof args[0] === 'object' ? args[0].file : args[0];
    const argv = [COMMANDS[method][0]];
    if (method === 'GetLocalFileSM3' && Math.trunc(Number(args[1]) || 0) !== 0) {
      const cert = join(work, `cert-${index}.b64`);
      writeFileSync(cert, args[2]);
      argv.push('--z', cert);
    }
    if (method === 'CreateZipFromLocalFile') argv.push('--out', out);
    made.push({ index, method, args, argv: [...argv, '--', path] });
  });
  return made;
}

// Runs the command in the corpus directory: { result, text, status, archive (its path) }.
export function runCommand(bin, corpus, call) {
  const run = spawnSync(process.execPath, [bin, ...call.argv], { cwd: corpus, encoding: 'utf8' });
  const text = run.stderr.replace(/\n$/, '');
  const failureValue = COMMANDS[call.method][1];
  if (run.status !== 0) return { result: failureValue, text, status: run.status };
  const line = run.stdout.replace(/\n$/, '');
  if (call.method === 'CreateZipFromLocalFile') return { result: { archive: basename(line) }, archive: line, text, status: 0 };
  return { result: call.method === 'GetLocalFileSize' ? Number(line) : line, text, status: 0 };
}

// A text of the control or the SDK as the command prints it.
export function printed(text) {
  return String(text).replace(/[\r\n]+$/, '');
}
