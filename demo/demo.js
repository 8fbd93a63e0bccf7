// Demo page script: what a page sees when it uses the control on the sample files.
// Run by `make demo`; non-ASCII text is printed as \uXXXX escapes and decoded by the runner.
var samples = WScript.Arguments(0);
var c = new ActiveXObject("TARNWICK.TarnwickCtrl.1");

function esc(s) {
    s = String(s);
    var out = "";
    for (var i = 0; i < s.length; i++) {
        var ch = s.charCodeAt(i);
        if (ch == 13) continue;
        out += (ch > 126) ? "\\u" + ("0000" + ch.toString(16)).slice(-4) : s.charAt(i);
    }
    return out;
}
function show(what, value) { WScript.Echo(what + ": " + esc(value)); }
function has(name) {
    try { c[name]; return true; } catch (e) { return false; }
}

WScript.Echo("== sizes");
show("GetLocalFileSize(notes.txt)", c.GetLocalFileSize(samples + "\\notes.txt"));
show("GetLocalFileSize(missing.txt)", c.GetLocalFileSize(samples + "\\missing.txt"));
show("  GetLastErrorInfo", c.GetLastErrorInfo());
show("GetLocalFileSize(\"\")", c.GetLocalFileSize(""));
show("  GetLastErrorInfo", c.GetLastErrorInfo());
show("GetLocalFileSize(samples folder)", c.GetLocalFileSize(samples));
show("  GetLastErrorInfo", c.GetLastErrorInfo());
