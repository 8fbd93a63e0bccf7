// Times the control's methods on the files bench/control/run.sh prepared; prints one line per
// measurement: name, bytes, best milliseconds of the runs, and (for the zips) the archive size.
//   methods.js DIR [what] [runs]    what: all, sha256, sm3, zip, ziptext, zipwords, idle
var dir = WScript.Arguments(0);
var what = WScript.Arguments.length > 1 ? WScript.Arguments(1) : "all";
var runs = WScript.Arguments.length > 2 ? parseInt(WScript.Arguments(2), 10) : 3;
var c = new ActiveXObject("TARNWICK.TarnwickCtrl.1");
var fso = new ActiveXObject("Scripting.FileSystemObject");
var cert = fso.FileExists(dir + "\\cert.b64") ? fso.OpenTextFile(dir + "\\cert.b64", 1).ReadAll() : "";
function time(name, path, f) {
    var size = fso.GetFile(path).Size, best = -1, extra = "";
    for (var i = 0; i < runs; i++) {
        var start = new Date().getTime();
        var result = f(path);
        var ms = new Date().getTime() - start;
        if (result === "") { WScript.Echo(name + " " + size + " 0 FAILED " + escape(c.GetLastErrorInfo())); return; }  // escaped: Wine's cscript can corrupt its heap echoing joined CJK text
        if (typeof result == "number") extra = " " + result;
        if (best < 0 || ms < best) best = ms;
    }
    WScript.Echo(name + " " + size + " " + best + extra);
}
function zip(p) {
    var a = c.CreateZipFromLocalFile(p);
    if (!a) return "";
    var size = fso.GetFile(a).Size;
    c.DeleteFileFromCreateZip(a);
    return size;
}
if (what == "all" || what == "sha256")
    time("GetLocalFileSHA256", dir + "\\data.bin", function (p) { return c.GetLocalFileSHA256(p); });
if (what == "all" || what == "sm3") {
    // The crypto engine is loaded and started by the first SM3 call of a process and kept: a small
    // file first, so that the figures below are the hashing alone.
    c.GetLocalFileSM3(WScript.ScriptFullName, 0, "");
    time("GetLocalFileSM3", dir + "\\data.bin", function (p) { return c.GetLocalFileSM3(p, 0, ""); });
    if (cert) time("GetLocalFileSM3+Z", dir + "\\data.bin", function (p) { return c.GetLocalFileSM3(p, 1, cert); });
}
if (what == "all" || what == "ziptext") time("CreateZipFromLocalFile:text", dir + "\\text.bin", zip);
if (what == "all" || what == "zipwords") time("CreateZipFromLocalFile:words", dir + "\\words.bin", zip);
if (what == "all" || what == "zip") time("CreateZipFromLocalFile:mixed", dir + "\\mixed.bin", zip);
if (what == "idle") WScript.Echo("idle 0 0");
