// Times the control's methods on the files bench/control/run.sh prepared; prints one line per
// measurement: name, bytes, milliseconds.
var dir = WScript.Arguments(0);
var what = WScript.Arguments.length > 1 ? WScript.Arguments(1) : "all";
var c = new ActiveXObject("TARNWICK.TarnwickCtrl.1");
var fso = new ActiveXObject("Scripting.FileSystemObject");
function time(name, path, f) {
    var size = fso.GetFile(path).Size;
    var start = new Date().getTime();
    var result = f(path);
    var ms = new Date().getTime() - start;
    WScript.Echo(name + " " + size + " " + ms + " " + (result === "" ? "FAILED" : "ok"));
}
if (what == "all" || what == "sha256")
    time("GetLocalFileSHA256", dir + "\\data.bin", function (p) { return c.GetLocalFileSHA256(p); });
if (what == "all" || what == "sm3")
    time("GetLocalFileSM3", dir + "\\data.bin", function (p) { return c.GetLocalFileSM3(p, 0, ""); });
if (what == "all" || what == "probe")
    time("GetLocalFileHeadSigned(text)", dir + "\\text.txt", function (p) { return c.GetLocalFileHeadSigned(p); });
if (what == "all" || what == "zip")
    time("CreateZipFromLocalFile", dir + "\\mixed.bin", function (p) {
        var a = c.CreateZipFromLocalFile(p);
        if (a) c.DeleteFileFromCreateZip(a);
        return a;
    });
if (what == "idle") WScript.Echo("idle 0 0 ok");
