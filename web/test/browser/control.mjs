// Runs the corpus calls on the control under Wine: a JScript file made from the same list, run by
// cscript in the corpus directory (so a picked file is its bare name) against the control
// registered in the project's prefix. Archives are copied out before the object lets them go.
import { execFileSync } from 'node:child_process';
import { mkdirSync, writeFileSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = fileURLToPath(new URL('../../..', import.meta.url));

// A JScript literal of a value, ASCII only.
function literal(value) {
  if (value && typeof value === 'object' && 'file' in value) value = value.file;
  return JSON.stringify(value).replace(/[^\x20-\x7e]/g, (c) => '\\u' + c.charCodeAt(0).toString(16).padStart(4, '0'));
}

// fresh: each call on an object of its own (as the command makes them), so the text read after a
// call is that call's own.
export function runOnControl(list, corpus, binDir, work, { fresh = false } = {}) {
  const out = join(work, fresh ? 'control-archives-fresh' : 'control-archives');
  mkdirSync(out, { recursive: true });
  const lines = [
    'var fso = new ActiveXObject("Scripting.FileSystemObject");',
    'var c = new ActiveXObject("TARNWICK.TarnwickCtrl.1");',
    'var OUT = WScript.Arguments(0);',
    'var TEMP = fso.GetSpecialFolder(2).Path + "\\\\";',
    'function untemp(s) { s = String(s); var at = s.indexOf(TEMP); return at < 0 ? s : s.substr(0, at) + s.substr(at + TEMP.length); }',
    'function codes(s) { s = String(s); var a = []; for (var i = 0; i < s.length; i++) a.push(s.charCodeAt(i)); return a.join(","); }',
    'function report(i, r) {',
    '  var kind = typeof r, shown = r;',
    '  if (kind == "string" && /\\.zip$/.test(r) && fso.FileExists(r)) { kind = "archive"; shown = fso.GetFileName(r); fso.CopyFile(r, OUT + "\\\\" + shown); }',
    '  WScript.Echo("R\\t" + i + "\\t" + kind + "\\t" + codes(shown) + "\\t" + codes(untemp(c.GetLastErrorInfo())));',
    '}',
  ];
  list.forEach(([method, args], i) => {
    if (fresh) lines.push('c = null; c = new ActiveXObject("TARNWICK.TarnwickCtrl.1");');
    lines.push(`try { report(${i}, c.${method}(${args.map(literal).join(', ')})); } catch (e) { WScript.Echo("R\\t${i}\\tthrew\\t" + codes(e.message) + "\\t"); }`);
  });
  lines.push('c = null;', 'WScript.Quit(0);');
  const script = join(work, fresh ? 'crosscheck-fresh.js' : 'crosscheck.js');
  writeFileSync(script, lines.join('\r\n') + '\r\n');
  const output = execFileSync('bash', ['-c', `
source "$1/tools/wine-env.sh" 2>/dev/null
cd "$2" && wine cscript //nologo "$(winepath -w "$3")" "$(winepath -w "$4")" 2>/dev/null`, '_', root, corpus, script, out],
  { maxBuffer: 1 << 24 }).toString();
  const results = [];
  const text = (codes) => (codes ? String.fromCharCode(...codes.split(',').map(Number)) : '');
  for (const line of output.split(/\r?\n/)) {
    const [tag, index, kind, result, lastError] = line.split('\t');
    if (tag !== 'R') continue;
    const entry = { text: text(lastError) };
    if (kind === 'number') entry.result = Number(text(result));
    else if (kind === 'archive') entry.archive = join(out, text(result));
    else if (kind === 'threw') entry.result = 'threw: ' + text(result);
    else entry.result = text(result);
    results[Number(index)] = entry;
  }
  if (results.length !== list.length) throw new Error('the control run stopped early:\n' + output.slice(0, 2000));
  return results;
}
