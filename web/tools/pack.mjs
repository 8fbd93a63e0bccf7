// npm pack's hooks for the package made from web/ (run by npm from web/):
//   node tools/pack.mjs prepack    refuses a package whose version is not the one VERSION gives,
//                                  or whose module or deflater copy is missing or older than its
//                                  sources (make web makes them); copies LICENSE and
//                                  THIRD-PARTY-NOTICES in from the root
//   node tools/pack.mjs postpack   removes those copies again
// The package is packed from the repository: VERSION, the root's license files and the Makefile's
// rule for the module are where this looks.
import { execFileSync, spawnSync } from 'node:child_process';
import { copyFileSync, existsSync, readFileSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';

const web = fileURLToPath(new URL('..', import.meta.url));
const root = join(web, '..');
const fromRoot = ['LICENSE', 'THIRD-PARTY-NOTICES'];
const wasm = 'web/sdk/tarnwick.wasm';

function refuse(message) {
  console.error('tarnwick: not packed: ' + message);
  process.exit(1);
}

if (process.argv[2] === 'postpack') {
  for (const name of fromRoot) rmSync(join(web, name), { force: true });
  process.exit(0);
}
if (process.argv[2] !== 'prepack') refuse('usage: pack.mjs prepack | postpack');

if (!existsSync(join(root, 'VERSION'))) refuse('no VERSION beside web/: pack from the repository');
const version = execFileSync(join(root, 'tools', 'version.sh'), ['SEMVER']).toString().trim();
const declared = JSON.parse(readFileSync(join(web, 'package.json'), 'utf8')).version;
if (declared !== version) {
  refuse(`package.json says ${declared}, VERSION gives ${version}: run \`npm pkg set version=${version}\` in web/`);
}

// The modules and the deflater's copy: the Makefile's own rules decide whether either is older than
// what it is made from.
for (const made of [wasm, 'web/sdk/zip/tarnwick-deflate.wasm', 'web/sdk/zip/fflate.js']) {
  if (!existsSync(join(root, made))) refuse(`${made} is missing: run \`make web\` first`);
  const question = spawnSync('make', ['-q', '-C', root, made], { stdio: 'ignore' });
  if (question.status !== 0) refuse(`${made} is older than its sources: run \`make web\` first`);
}

for (const name of fromRoot) copyFileSync(join(root, name), join(web, name));
