// The file type probe of local files.
var c = newControl();
var NOT_FOUND = "\u6587\u4ef6\u4e0d\u5b58\u5728";

eq(c.GetLocalFileHeadSigned(fixture("upper.TXT")), "STRING",
   "upper-case TXT with tabs, line breaks and zero bytes is text");
eq(c.GetLocalFileHeadSigned(fixture("bell.txt")), "", "a byte 7 in a .txt file is not text");
eq(c.GetLocalFileHeadSigned(fixture("empty.txt")), "STRING", "an empty .txt file is text");
eq(c.GetLocalFileHeadSigned(fixture("zip-as.txt")), "", "a zip saved as .txt stops the text scan");
eq(c.GetLocalFileHeadSigned(fixture("three.bin")), "414243", "a 3-byte head");
eq(c.GetLocalFileHeadSigned(fixture("twenty.bin")), "303132333435363738394142434445",
   "a head is 15 bytes, 30 hex digits");
eq(c.GetLocalFileHeadSigned(fixture("empty.bin")), "", "an empty non-text file gives nothing");

var before = tempEntries(/^\.xlsx\d+_/).length;
eq(c.GetLocalFileHeadSigned(fixture("book.xlsx")), "MSEXCEL", "a workbook in zip form");
eq(c.GetLastErrorInfo(), "", "unpacking a readable archive empties the text");
eq(tempEntries(/^\.xlsx\d+_/).length, before, "the unpack directory is gone afterwards");

var doc = c.GetLocalFileHeadSigned(fixture("letter.docx"));
eq(doc.length, 30, "a document zip gives its hex head");
eq(doc.substr(0, 8), "504B0304", "which starts with the zip signature");
eq(tempEntries(/^docx\d+_/).length, 0, "no unpack directory left for the document");

eq(c.GetLocalFileHeadSigned(fixture("head40.zip")), "504B0304000000000000000000000000000000".substr(0, 30),
   "a 40-byte zip head is not unpacked and gives its hex");
eq(c.GetLastErrorInfo(), "", "the size query left the text empty");

// An archive whose entry climbs out is refused as a whole: hex head, nothing written.
var evil = c.GetLocalFileHeadSigned(fixture("evil.zip"));
eq(evil.substr(0, 8), "504B0304", "a hostile archive gives its hex head");
ok(c.GetLastErrorInfo().indexOf("\u6587\u4ef6\u538b\u7f29\u5931\u8d25,\u539f\u56e0\u662f") == 0,
   "and the unpack failure text: " + esc(c.GetLastErrorInfo()));
ok(!fso.FileExists(TEMP + "escaped.txt"), "nothing escaped into the temporary directory");
eq(tempEntries(/^\.zip\d+_/).length, 0, "no partial unpack directory left");

var missing = FIXTURE + "\\Mixed\\NoSuch.BIN";
eq(c.GetLocalFileHeadSigned(missing), "", "missing file");
eq(c.GetLastErrorInfo(), "[" + missing.toLowerCase() + "]" + NOT_FOUND,
   "the missing-file text names the lower-cased path");
eq(c.GetLocalFileHeadSigned(FIXTURE + "\\Mixed\\Case.BIN"), "78", "mixed-case paths are probed lower-cased");
eq(c.GetLocalFileHeadSigned(""), "", "empty path");

// A path whose last four characters carry "..\\" must not put the unpack directory outside the
// temporary directory.
var parent = TEMP + "..\\";
var outsideBefore = tempEntries(/^a\d+_/, parent).length;
eq(c.GetLocalFileHeadSigned(FIXTURE + "\\sub\\..\\a"), "MSEXCEL", "a workbook reached through sub\\..\\a");
eq(tempEntries(/^a\d+_/, parent).length, outsideBefore, "nothing was unpacked beside the temporary directory");
