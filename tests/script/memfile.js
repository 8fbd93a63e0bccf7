// Memory files: script arrays read byte by byte, their size, their file type, base64 files, and
// packing them into archives, as a page does it.
var c = newControl();
var BAD_NAME = function (n) {
    return "\u6587\u4ef6\u540d[" + n + "]\u4e0d\u662f\u4e34\u65f6\u76ee\u5f55\u4e2d\u7684\u6587" +
           "\u4ef6\u540d,\u62d2\u7edd\u4f7f\u7528!";
};
var BAD_TYPE = function (t) {
    return "\u6587\u4ef6\u7c7b\u578b[" + t + "]\u4e0d\u80fd\u7528\u4f5c\u6587\u4ef6\u6269\u5c55" +
           "\u540d,\u62d2\u7edd\u4f7f\u7528!";
};
var IN_THE_WAY = function (p) {
    return "\u4e34\u65f6\u76ee\u5f55\u4e2d\u5df2\u6709\u6587\u4ef6[" + p + "],\u4e0d\u80fd\u8986\u76d6!";
};
var ZIP_FAILED = "\u6587\u4ef6\u538b\u7f29\u5931\u8d25";
var PATH_EMPTY = "\u6587\u4ef6\u8def\u5f84\u4e3a\u7a7a";
var PROBE_FILES = /^-?\d+_\d+_\d{12,}\./;

function bytesOf(text) {
    var out = [];
    for (var i = 0; i < text.length; i++) out.push(text.charCodeAt(i));
    return out;
}
function hexOf(bytes) {
    var s = "";
    for (var i = 0; i < bytes.length && i < 15; i++) s += ("0" + (bytes[i] & 255).toString(16)).slice(-2);
    return s.toUpperCase();
}
function base64Of(bytes) {
    var k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", s = "";
    for (var i = 0; i < bytes.length; i += 3) {
        var n = (bytes[i] << 16) | ((i + 1 < bytes.length ? bytes[i + 1] : 0) << 8) |
                (i + 2 < bytes.length ? bytes[i + 2] : 0);
        s += k.charAt(n >> 18 & 63) + k.charAt(n >> 12 & 63) +
             (i + 1 < bytes.length ? k.charAt(n >> 6 & 63) : "=") +
             (i + 2 < bytes.length ? k.charAt(n & 63) : "=");
    }
    return s;
}
function range(n, f) {
    var out = [];
    for (var i = 0; i < n; i++) out.push(f(i));
    return out;
}
// Sets a known earlier failure, so that "the text is kept" can be seen.
function earlierFailure() {
    c.GetLocalFileSize("");
    return c.GetLastErrorInfo();
}

// ---- Sizes and bytes ----
var abc = [65, 66, 67];
eq(c.GetMemFileSize(abc), 3, "size of [65,66,67]");
eq(c.GetMemFileHeadSigned(abc, "bin"), "414243", "the bytes of [65,66,67]");
eq(c.GetMemFileHeadSigned([256, -1, 511], "bin"), "00FFFF", "integers give their low 8 bits");
eq(c.GetMemFileHeadSigned([65.9, -1.5, "66", true, false], "bin"), "41FF420100",
   "fractions are truncated, numeric texts and booleans count as numbers");
var three = range(300, function (i) { return i; });
eq(c.GetMemFileSize(three), 300, "size of 300 elements");
eq(c.GetMemFileHeadSigned(three, "bin"), hexOf(three), "the head of 300 elements is 15 bytes");

var kept = earlierFailure();
eq(c.GetMemFileSize([]), 0, "an empty array has size 0");
eq(c.GetMemFileHeadSigned([], "bin"), "", "an empty array has no type");
eq(c.CreateZipFromMemFile([], "memfile_empty.bin"), "", "an empty array is not packed");
eq(c.GetLastErrorInfo(), kept, "and the earlier text is kept");
ok(!fso.FileExists(TEMP + "memfile_empty.bin"), "no source file was written for it");

// ---- Objects that are not proper memory files ----
eq(c.GetMemFileSize({}), -1, "an object without length");
eq(c.GetLastErrorInfo(), "JSArrayGetAttributeValue's GetIDsOfNames length err!", "names the length");
earlierFailure();
eq(c.GetMemFileHeadSigned({ a: 1 }, "bin"), "", "no type for an object without length");
eq(c.GetLastErrorInfo(), "JSArrayGetAttributeValue's GetIDsOfNames length err!", "same text");

var holey = { length: 5, 0: 1, 1: 2, 2: 3, 4: 5 };
eq(c.GetMemFileSize(holey), 5, "an array-like object reports its length");
eq(c.GetMemFileHeadSigned(holey, "bin"), "", "a missing element ends the read");
eq(c.GetLastErrorInfo(), "JSArrayGetAt's GetIDsOfNames 3 err!", "and names the first missing index");
eq(c.CreateZipFromMemFile(holey, "memfile_holey.bin"), "", "the same for packing");
eq(c.GetLastErrorInfo(), "JSArrayGetAt's GetIDsOfNames 3 err!", "same text");
ok(!fso.FileExists(TEMP + "memfile_holey.bin"), "nothing was written");

var undef = [1, 2, 3];
undef[1] = undefined;
eq(c.GetMemFileHeadSigned(undef, "bin"), "", "an undefined element is refused");
eq(c.GetLastErrorInfo(), "JSArrayGetAt's Invoke 1 err!", "with the element's text");
eq(c.GetMemFileHeadSigned([1, "x", 3], "bin"), "", "a text that is no number is refused");
eq(c.GetLastErrorInfo(), "JSArrayGetAt's Invoke 1 err!", "with the element's text");

kept = earlierFailure();
eq(c.GetMemFileSize({ length: -1, 0: 1 }), -1, "a length of -1 is given back");
eq(c.GetMemFileHeadSigned({ length: -1, 0: 1 }, "bin"), "", "and reads nothing");
eq(c.GetMemFileHeadSigned({ length: -7 }, "bin"), "", "nor does -7");
eq(c.GetLastErrorInfo(), kept, "without a text of its own");
eq(c.GetMemFileSize({ length: 2.7 }), 2, "a fractional length is truncated");
eq(c.GetMemFileSize({ length: "x" }), -1, "a length that is no number is refused");
eq(c.GetLastErrorInfo(), "JSArrayGetAttributeValue's Invoke length err!", "with the length's text");

eq(c.GetMemFileSize(null), -1, "null is no memory file");
eq(c.GetLastErrorInfo(), "JSArrayGetAttributeValue's object is null err!", "and says so");
earlierFailure();
eq(c.CreateZipFromMemFile(undefined, "memfile_undef.bin"), "", "nor is undefined");
eq(c.GetLastErrorInfo(), "JSArrayGetAttributeValue's object is null err!", "same text");

// ---- File types ----
var text = bytesOf("plain text\r\n\twith a tab\r\n");
var stopped = bytesOf("text with a bell \x07 inside");
eq(c.GetMemFileHeadSigned(text, "txt"), "STRING", "text under the type txt");
eq(c.GetMemFileHeadSigned(text, "t,x,t"), "STRING", "commas are removed from the type");
eq(c.GetMemFileHeadSigned(text, ",,TXT,"), "STRING", "in any place, any letter case");
eq(c.GetMemFileHeadSigned(stopped, "t,x,t"), "", "a stop byte ends text mode under t,x,t as well");
eq(c.GetMemFileHeadSigned(text, "tx"), hexOf(text), "another type gives the head");
eq(c.GetMemFileHeadSigned(text, ""), hexOf(text), "so does no type");
eq(tempEntries(PROBE_FILES).length, 0, "no probe file is left behind");

// The same bytes as base64 text.
var head = range(40, function (i) { return (i * 37 + 11) & 255; });
eq(c.GetMemMD5FileHeadSigned(base64Of(head), "bin"), c.GetMemFileHeadSigned(head, "bin"),
   "base64 and the array give the same head");
eq(c.GetMemMD5FileHeadSigned(base64Of(head), "bin"), hexOf(head), "which is the first 15 bytes");
eq(c.GetMemMD5FileHeadSigned(base64Of(text), "t,x,t"), "STRING", "base64 text under t,x,t");
eq(c.GetMemMD5FileHeadSigned(base64Of(stopped), "txt"), "", "base64 text with a stop byte");
kept = earlierFailure();
eq(c.GetMemMD5FileHeadSigned("", "bin"), "", "an empty base64 text");
eq(c.GetLastErrorInfo(), kept, "has no text of its own");
// Base64 that is valid only in part is refused whole, with a text.
var BAD_BASE64 = "\u6587\u4ef6\u5185\u5bb9\u4e0d\u662f\u6709\u6548\u7684Base64\u7f16\u7801,\u62d2\u7edd\u5904\u7406!";
var partly = ["!!!!", "aGVs=bG8=", "a", "aGVsbG8=x"];
for (var i = 0; i < partly.length; i++) {
    kept = earlierFailure();
    eq(c.GetMemMD5FileHeadSigned(partly[i], "bin"), "", "base64 valid in part: " + partly[i]);
    eq(c.GetLastErrorInfo(), BAD_BASE64, "is refused with a text");
}
eq(c.GetMemMD5FileHeadSigned("aGVs bG8=\r\n", "bin"), "68656C6C6F", "blanks and line breaks between characters are fine");
eq(tempEntries(PROBE_FILES).length, 0, "no probe file is left behind");

// Types that would lead out of the temporary directory.
var badTypes = ["..\\..\\memfile_escape", "a/b", "x:y", "..", "bin\\", "a?b", "bin."];
for (var i = 0; i < badTypes.length; i++) {
    eq(c.GetMemFileHeadSigned(abc, badTypes[i]), "", "the type " + badTypes[i] + " is refused");
    eq(c.GetLastErrorInfo(), BAD_TYPE(badTypes[i]), "with the type's text");
    eq(c.GetMemMD5FileHeadSigned(base64Of(abc), badTypes[i]), "", "also for base64: " + badTypes[i]);
}
eq(c.GetMemFileHeadSigned(abc, ".,.,/x"), "", "commas cannot smuggle a step up");
eq(c.GetLastErrorInfo(), BAD_TYPE("../x"), "the text shows the type without commas");

// ---- Packing ----
function isArchivePath(p) {
    return p.substr(0, TEMP.length) == TEMP && /^\d+_\d{12,}\.zip$/.test(p.substr(TEMP.length));
}
var fortyOne = range(41, function (i) { return (i * 13) & 255; });
var archive = c.CreateZipFromMemFile(fortyOne, "memfile_source.bin");
ok(isArchivePath(archive), "41 bytes are packed into the temporary directory: " + esc(archive));
ok(fso.FileExists(archive), "the archive exists");
eq(c.GetLocalFileHeadSigned(archive).substr(0, 8), "504B0304", "and is a zip archive");
ok(!fso.FileExists(TEMP + "memfile_source.bin"), "the source file is gone");
eq(c.DeleteFileFromCreateZip(archive), 0, "the archive is one this object made");
ok(!fso.FileExists(archive), "and is deleted");

var wide = c.CreateZipFromMemFile(fortyOne, "\u8868\u683c.bin");
ok(isArchivePath(wide), "a Chinese name is a plain name too: " + esc(wide));
ok(!fso.FileExists(TEMP + "\u8868\u683c.bin"), "its source file is gone");
eq(c.DeleteFileFromCreateZip(wide), 0, "and its archive deleted");
// In code page 936 the second byte of this character is the byte of "\": it is no separator.
var trail = c.CreateZipFromMemFile(fortyOne, "\u8aa0.bin");
ok(isArchivePath(trail), "a name whose second byte looks like a backslash: " + esc(trail));
ok(!fso.FileExists(TEMP + "\u8aa0.bin"), "its source file is gone");
eq(c.DeleteFileFromCreateZip(trail), 0, "and its archive deleted");

// 40 bytes are too few: the user sees the box, then the call returns nothing.
watchBox();
eq(c.CreateZipFromMemFile(range(40, function (i) { return i; }), "memfile_forty.bin"), "",
   "40 bytes are not packed");
eq(boxSeen(), "tarnwick\n" + ZIP_FAILED, "the user saw the zip failure box");
eq(c.GetLastErrorInfo(), "\u6587\u4ef6[" + TEMP + "memfile_forty.bin]\u5927\u5c0f\u4e3a40\u5b57\u8282,\u4e0d\u8d85\u8fc740\u5b57\u8282,\u4e0d\u4e88\u538b\u7f29!", "and says why");
ok(!fso.FileExists(TEMP + "memfile_forty.bin"), "the source file is gone");

// A file standing under the source name is neither replaced nor deleted.
var standing = TEMP + "memfile_standing.bin";
var ts = fso.CreateTextFile(standing, true);
ts.Write("keep me");
ts.Close();
eq(c.CreateZipFromMemFile(fortyOne, "memfile_standing.bin"), "", "a name in use is refused");
eq(c.GetLastErrorInfo(), IN_THE_WAY(standing), "with a text naming the file");
ok(fso.FileExists(standing) && fso.OpenTextFile(standing, 1).ReadAll() == "keep me",
   "the standing file is untouched");
fso.DeleteFile(standing);

// An empty name names the temporary directory itself, which cannot be written: access denied.
eq(c.CreateZipFromMemFile(fortyOne, ""), "", "an empty name");
ok(/^CreateZipFromMemFile create tempfile err,.+ \(5\)!$/.test(c.GetLastErrorInfo().replace(/[\r\n]/g, " ")),
   "fails as a write with access denied: " + esc(c.GetLastErrorInfo()));
ok(fso.FolderExists(TEMP), "the temporary directory is still there");

// Names that try to leave the temporary directory.
var parent = TEMP.replace(/[^\\]+\\$/, "");
var hostile = [
    ["..\\memfile_escape.bin", parent + "memfile_escape.bin"],
    ["C:\\memfile_escape.bin", "C:\\memfile_escape.bin"],
    ["a/b", TEMP + "a"],
    ["x:y", TEMP + "x"],
    ["..", null],
    ["memfile_sub\\x.bin", TEMP + "memfile_sub"],
    ["nul", null],
    ["COM1.bin", null],
    ["memfile_dot.", TEMP + "memfile_dot"],
    ["a*b", null]
];
for (var i = 0; i < hostile.length; i++) {
    var name = hostile[i][0], where = hostile[i][1];
    eq(c.CreateZipFromMemFile(fortyOne, name), "", "the name " + name + " is refused");
    eq(c.GetLastErrorInfo(), BAD_NAME(name), "with the name's text");
    if (where) ok(!fso.FileExists(where) && !fso.FolderExists(where), "nothing made at " + where);
}
eq(tempEntries(/^memfile_|_\d{12,}\.zip$/).length, 0, "nothing of this suite is left behind");
