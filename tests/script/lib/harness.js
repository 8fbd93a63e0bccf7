// Tiny test harness for the script suites: ok/eq checks, a summary line, a non-zero exit when
// anything failed. Output stays ASCII: other characters are written as \uXXXX escapes.
var passed = 0, failed = 0;
var FIXTURE = WScript.Arguments.length > 0 ? WScript.Arguments(0) : "";
var BIN = WScript.Arguments.length > 1 ? WScript.Arguments(1) : "";
var fso = new ActiveXObject("Scripting.FileSystemObject");
var TEMP = fso.GetSpecialFolder(2).Path + "\\";

function esc(s) {
    s = String(s);
    var out = "";
    for (var i = 0; i < s.length; i++) {
        var c = s.charCodeAt(i);
        if (c == 13) out += "\\r";
        else if (c == 10) out += "\\n";
        else if (c < 32 || c > 126) out += "\\u" + ("0000" + c.toString(16)).slice(-4);
        else out += s.charAt(i);
    }
    return out;
}
function ok(cond, msg) {
    if (cond) passed++;
    else { failed++; WScript.Echo("FAIL: " + esc(msg)); }
}
function eq(actual, expected, msg) {
    ok(actual === expected, msg + ": expected [" + esc(expected) + "] got [" + esc(actual) + "]");
}
// Runs f and returns the error number it threw (as unsigned hex), or "none".
function errorOf(f) {
    try { f(); } catch (e) { return (e.number >>> 0).toString(16); }
    return "none";
}
function newControl() { return new ActiveXObject("TARNWICK.TarnwickCtrl.1"); }
function fixture(name) { return FIXTURE + "\\" + name; }
// Names in the temporary directory that match a pattern (for leftovers checks).
function tempEntries(re) {
    var out = [];
    var e = new Enumerator(fso.GetFolder(TEMP).Files);
    for (; !e.atEnd(); e.moveNext()) if (re.test(e.item().Name)) out.push(e.item().Name);
    e = new Enumerator(fso.GetFolder(TEMP).SubFolders);
    for (; !e.atEnd(); e.moveNext()) if (re.test(e.item().Name)) out.push(e.item().Name + "\\");
    return out;
}
function finish() {
    WScript.Echo(passed + " passed, " + failed + " failed");
    WScript.Quit(failed > 0 ? 1 : 0);
}
