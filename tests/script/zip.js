// Packing local files into archives in the temporary directory, and deleting them again.
var c = newControl();
var NOT_MINE = function (p) {
    return "\u6587\u4ef6[" + p + "]\u975e\u672c\u7a0b\u5e8f\u521b\u5efa\uff0c\u4e0d\u80fd\u5220\u9664!";
};
function isArchivePath(p) {
    var rest = p.substr(TEMP.length);
    return p.substr(0, TEMP.length) == TEMP && /^\d+_\d{12,}\.zip$/.test(rest);
}

var a1 = c.CreateZipFromLocalFile(fixture("fortyone.bin"));
ok(isArchivePath(a1), "a 41-byte file is packed into the temporary directory: " + esc(a1));
ok(fso.FileExists(a1), "the archive exists");
eq(c.GetLocalFileHeadSigned(a1).substr(0, 8), "504B0304", "and is a zip archive");

var a2 = c.CreateZipFromLocalFile(fixture("text.txt"));
ok(isArchivePath(a2) && a2 != a1, "a second archive gets its own name");
ok(c.GetLocalFileSize(a2) > 40 && c.GetLocalFileSize(a2) < c.GetLocalFileSize(fixture("text.txt")),
   "text is compressed");

// Only the exact path this object returned is accepted.
eq(c.DeleteFileFromCreateZip(a1.toUpperCase()), -1, "a path differing in case is refused");
eq(c.GetLastErrorInfo(), NOT_MINE(a1.toUpperCase()), "with the not-created-here text");
eq(c.DeleteFileFromCreateZip(a1.replace(/\\/g, "/")), -1, "forward slashes are refused");
eq(c.DeleteFileFromCreateZip(fixture("text.txt")), -1, "a file this object did not make is refused");
ok(fso.FileExists(fixture("text.txt")), "and left alone");

eq(c.DeleteFileFromCreateZip(a1), 0, "the exact path is deleted");
ok(!fso.FileExists(a1), "the archive is gone");
eq(c.DeleteFileFromCreateZip(a1), 1, "deleting it again fails at the deletion");
ok(/\r\n$/.test(c.GetLastErrorInfo()) && c.GetLastErrorInfo().length > 2,
   "with the system's text: " + esc(c.GetLastErrorInfo()));

// Another object neither deletes this one's archives nor keeps them alive.
var d = newControl();
var b1 = d.CreateZipFromLocalFile(fixture("text.txt"));
ok(isArchivePath(b1), "the other object makes its own archive");
eq(c.DeleteFileFromCreateZip(b1), -1, "this object refuses the other's archive");
ok(fso.FileExists(b1), "which stays");
d = null;
collect();
ok(!fso.FileExists(b1), "destroying the other object deletes its archive");
ok(fso.FileExists(a2), "but not this object's");

// Refusals before the library is reached.
eq(c.CreateZipFromLocalFile(""), "", "an empty path is refused");
eq(c.GetLastErrorInfo(), "\u6587\u4ef6\u8def\u5f84\u4e3a\u7a7a", "with the empty-path text");

// 40 bytes are too few: the user sees the box, then the call returns nothing.
watchBox();
eq(c.CreateZipFromLocalFile(fixture("forty.bin")), "", "a 40-byte file is not packed");
eq(boxSeen(), "tarnwick\n\u538b\u7f29", "the user saw the zip box");
eq(c.GetLastErrorInfo(), "\u6587\u4ef6[" + fixture("forty.bin") + "]\u5927\u5c0f\u4e3a40\u5b57\u8282,\u4e0d\u8d85\u8fc740\u5b57\u8282,\u4e0d\u4e88\u538b\u7f29!", "and says why");

c = null;
collect();
ok(!fso.FileExists(a2), "destroying the object deletes its remaining archive");

// A name with a character outside GBK, through every path method and both zip methods; the
// archives go to the fixture directory for Python's zipfile and unzip (zip.post.sh).
var rareName = "\u738b\u4dae\u8eab\u4efd\u8bc1.txt";
var rare = fixture(rareName);
var facts = fso.OpenTextFile(fixture("rare.txt"), 1).ReadAll().split("\n");
var r = newControl();
eq(r.GetLocalFileSize(rare), parseInt(facts[0], 10), "its size");
eq(r.GetLocalFileSHA256(rare), facts[1], "its SHA-256 equals sha256");
eq(r.GetLocalFileSM3(rare, 0, ""), facts[2], "its SM3 equals openssl");
eq(r.GetLocalFileHeadSigned(rare), "STRING", "its type");
var rz = r.CreateZipFromLocalFile(rare);
ok(isArchivePath(rz), "it is packed: " + esc(r.GetLastErrorInfo()));
if (rz) fso.CopyFile(rz, fixture("rare-local.zip"));
var bytes = [];
for (var i = 0; i < 64; i++) bytes.push(65 + i % 26);
var mz = r.CreateZipFromMemFile(bytes, "\u738b\u4dae.txt");
ok(isArchivePath(mz), "a memory file under such a name is packed: " + esc(r.GetLastErrorInfo()));
if (mz) fso.CopyFile(mz, fixture("rare-mem.zip"));
var gz = r.CreateZipFromMemFile(bytes, "\u738b\u4f1f.txt");
if (gz) fso.CopyFile(gz, fixture("gbk-mem.zip"));
r = null;
collect();
