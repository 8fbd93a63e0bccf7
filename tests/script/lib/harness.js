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
var shell = new ActiveXObject("WScript.Shell");
// The crypto engine that a control of this script host's architecture loads. (Wine's
// ExpandEnvironmentStrings keeps the terminating NUL in its result: compare the start only.)
var ENGINE = /^AMD64/.test(shell.ExpandEnvironmentStrings("%PROCESSOR_ARCHITECTURE%")) ?
             "OVALON.x64.dll" : "OVALON.x86.dll";
// Names in the temporary directory that match a pattern (for leftovers checks); directories
// end in a backslash. Listed through cmd, as Wine's script runtime cannot enumerate folders.
function tempEntries(re, directory) {
    var where = directory || TEMP;
    var listing = TEMP + "harness-listing.tmp";
    shell.Run("cmd /c dir /b /a-d \"" + where + "\" > \"" + listing + "\" & echo ::dirs>> \"" +
              listing + "\" & dir /b /ad \"" + where + "\" >> \"" + listing + "\"", 0, true);
    var ts = fso.OpenTextFile(listing, 1);
    var lines = ts.AtEndOfStream ? [] : ts.ReadAll().split("\r\n");
    ts.Close();
    fso.DeleteFile(listing);
    var out = [], dirs = false;
    for (var i = 0; i < lines.length; i++) {
        if (lines[i] == "::dirs") { dirs = true; continue; }
        if (lines[i] == "" || lines[i] == "harness-listing.tmp") continue;
        if (re.test(lines[i])) out.push(lines[i] + (dirs ? "\\" : ""));
    }
    return out;
}
// A suite whose checks sit in callbacks states how many it makes: a callback never called
// cannot pass unnoticed.
var planned = -1;
function expectChecks(n) { planned = n; }
function finish() {
    if (planned >= 0 && passed + failed != planned)
        ok(false, (passed + failed) + " checks made, " + planned + " expected");
    WScript.Echo(passed + " passed, " + failed + " failed");
    WScript.Quit(failed > 0 ? 1 : 0);
}
// Starts the message-box watcher for the control's boxes (caption "tarnwick") and returns once it
// watches; boxSeen() ends it and gives "caption\ntext" of the box it closed ("" when none came).
var BOXFILE = TEMP + "harness-box.tmp";
function boxwatch(args, wait) { return shell.Run("\"" + BIN + "\\boxwatch.exe\" " + args, 0, wait); }
function watchBox() {
    if (fso.FileExists(BOXFILE)) fso.DeleteFile(BOXFILE);
    boxwatch("\"" + BOXFILE + "\" 15000 tarnwick", false);
    ok(boxwatch("--ready 15000", true) == 0, "the message-box watcher started");
}
function boxSeen() {
    ok(boxwatch("--stop 20000", true) == 0, "the message-box watcher ended");
    if (!fso.FileExists(BOXFILE)) return "";
    var ts = fso.OpenTextFile(BOXFILE, 1, false, -1);  // UTF-16
    var text = ts.AtEndOfStream ? "" : ts.ReadAll();
    ts.Close();
    fso.DeleteFile(BOXFILE);
    return text;
}
// Lets go of dropped objects where the engine offers it (dropping the last reference is enough
// for Wine's engine, which has no CollectGarbage).
function collect() {
    try { CollectGarbage(); } catch (e) { }
}
