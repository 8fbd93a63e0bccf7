// Demo page script: what a page sees when it uses the control on the sample files.
// Run by `make demo`; non-ASCII text is printed as \uXXXX escapes and decoded by the runner.
var samples = WScript.Arguments(0);
var c = new ActiveXObject("TARNWICK.TarnwickCtrl.1");
var fso = new ActiveXObject("Scripting.FileSystemObject");

function esc(s) {
    s = String(s);
    var out = "";
    for (var i = 0; i < s.length; i++) {
        var ch = s.charCodeAt(i);
        if (ch == 13) continue;
        if (ch == 10) { out += " "; continue; }
        out += (ch > 126) ? "\\u" + ("0000" + ch.toString(16)).slice(-4) : s.charAt(i);
    }
    return out;
}
function show(what, value) { WScript.Echo("  " + what + " -> " + esc(value)); }
function call(what, f) {
    try { show(what, f()); } catch (e) { show(what, "(not available: " + (e.number >>> 0).toString(16) + ")"); }
}
function sample(name) { return samples + "\\" + name; }
function readText(name) {
    var ts = fso.OpenTextFile(sample(name), 1);
    var text = ts.ReadAll();
    ts.Close();
    return text;
}

WScript.Echo("== sizes and error texts");
call("GetLocalFileSize(notes.txt)", function () { return c.GetLocalFileSize(sample("notes.txt")); });
call("GetLocalFileSize(missing.txt)", function () { return c.GetLocalFileSize(sample("missing.txt")); });
show("GetLastErrorInfo()", c.GetLastErrorInfo());
call("GetLocalFileSize(\"\")", function () { return c.GetLocalFileSize(""); });
show("GetLastErrorInfo()", c.GetLastErrorInfo());
call("GetLocalFileSize(samples folder)", function () { return c.GetLocalFileSize(samples); });
show("GetLastErrorInfo()", c.GetLastErrorInfo());

WScript.Echo("== file types");
call("GetLocalFileHeadSigned(notes.txt)", function () { return c.GetLocalFileHeadSigned(sample("notes.txt")); });
call("GetLocalFileHeadSigned(budget.xlsx)", function () { return c.GetLocalFileHeadSigned(sample("budget.xlsx")); });
call("GetLocalFileHeadSigned(picture.gif)", function () { return c.GetLocalFileHeadSigned(sample("picture.gif")); });

WScript.Echo("== archives");
var archive = "";
call("CreateZipFromLocalFile(notes.txt)", function () { return archive = c.CreateZipFromLocalFile(sample("notes.txt")); });
if (archive) {
    show("archive exists", fso.FileExists(archive));
    call("DeleteFileFromCreateZip(archive)", function () { return c.DeleteFileFromCreateZip(archive); });
    show("archive exists", fso.FileExists(archive));
    call("DeleteFileFromCreateZip(archive) again", function () { return c.DeleteFileFromCreateZip(archive); });
    show("GetLastErrorInfo()", c.GetLastErrorInfo());
}
call("DeleteFileFromCreateZip(notes.txt)", function () { return c.DeleteFileFromCreateZip(sample("notes.txt")); });
show("GetLastErrorInfo()", c.GetLastErrorInfo());

WScript.Echo("== digests of notes.txt");
var cert = readText("sm2-cert.b64");
call("GetLocalFileSHA256", function () { return c.GetLocalFileSHA256(sample("notes.txt")); });
call("GetLocalFileSM3 (no Z)", function () { return c.GetLocalFileSM3(sample("notes.txt"), 0, ""); });
call("GetLocalFileSM3 (Z of the demo certificate)", function () { return c.GetLocalFileSM3(sample("notes.txt"), 1, cert); });

WScript.Echo("== a memory file: the bytes of \"Hello, memory file! ...\" as a script array");
var bytes = [];
var text = "Hello, memory file! This array of byte values stands for a file the page holds.";
for (var i = 0; i < text.length; i++) bytes.push(text.charCodeAt(i));
call("GetMemFileSize", function () { return c.GetMemFileSize(bytes); });
call("GetMemFileHeadSigned(bytes, \"txt\")", function () { return c.GetMemFileHeadSigned(bytes, "txt"); });
call("GetMemFileHeadSigned(bytes, \"bin\")", function () { return c.GetMemFileHeadSigned(bytes, "bin"); });
call("GetMemMD5FileHeadSigned(base64 of a GIF, \"gif\")", function () {
    return c.GetMemMD5FileHeadSigned("R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==", "gif");
});
call("GetMemFileSHA256", function () { return c.GetMemFileSHA256(bytes); });
call("GetMemFileSM3 (no Z)", function () { return c.GetMemFileSM3(bytes, 0, ""); });
var memArchive = "";
call("CreateZipFromMemFile(bytes, \"memo.txt\")", function () { return memArchive = c.CreateZipFromMemFile(bytes, "memo.txt"); });
if (memArchive) call("DeleteFileFromCreateZip(that archive)", function () { return c.DeleteFileFromCreateZip(memArchive); });
call("CreateZipFromMemFile(bytes, \"..\\\\escape.txt\")", function () { return c.CreateZipFromMemFile(bytes, "..\\escape.txt"); });
show("GetLastErrorInfo()", c.GetLastErrorInfo());
