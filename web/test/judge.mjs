// Archives judged by tools no one here wrote: unzip -t, 7z t and bsdtar read every entry (CRCs
// checked), Python's zipfile (judge.py) gives each entry's name by its flag and the SHA-256 of its
// contents. The tools run at once (an archive of 4 GiB takes each of them a while).
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { fileURLToPath } from 'node:url';

const judgeScript = fileURLToPath(new URL('./judge.py', import.meta.url));

function run(command, args, keep) {
  return new Promise((resolve) => {
    const child = spawn(command, args, { stdio: ['ignore', keep ? 'pipe' : 'ignore', 'pipe'] });
    const out = [], err = [];
    if (keep) child.stdout.on('data', (d) => out.push(d));
    child.stderr.on('data', (d) => err.push(d));
    child.on('error', (e) => resolve({ status: -1, stdout: '', stderr: `${command}: ${e.message}` }));
    child.on('close', (status) => resolve({ status, stdout: Buffer.concat(out).toString(), stderr: Buffer.concat(err).toString() }));
  });
}

/** { entries: [[name, utf8 flag, sha256 or null for a folder]...], zip64End }; throws when a tool refuses. */
export async function judge(path) {
  const checks = [['unzip', ['-tq', path]], ['7z', ['t', path]], ['bsdtar', ['-xOf', path]]];
  const [listed, python, ...tools] = await Promise.all([
    run('bsdtar', ['-tf', path], true), run('python3', [judgeScript, path], true),
    ...checks.map(([command, args]) => run(command, args, false)),
  ]);
  tools.forEach((r, i) => assert.equal(r.status, 0, `${checks[i][0]} ${checks[i][1].join(' ')}: ${r.stderr}`));
  assert.equal(python.status, 0, python.stderr);
  const read = JSON.parse(python.stdout);
  assert.equal(listed.stdout.split('\n').filter(Boolean).length, read.entries.length, 'bsdtar lists every entry');
  return read;
}
