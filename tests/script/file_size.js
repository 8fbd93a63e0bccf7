// The file size method, the path check and the last-error text, as a page sees them.
var c = newControl();
var PATH_EMPTY = "\u6587\u4ef6\u8def\u5f84\u4e3a\u7a7a";
var NOT_FOUND = "\u6587\u4ef6\u4e0d\u5b58\u5728";

eq(c.GetLastErrorInfo(), "", "a fresh object has no error text");

eq(c.GetLocalFileSize(fixture("hello.txt")), 5, "size of a 5-byte file");
eq(c.GetLastErrorInfo(), "", "a successful size query leaves the text empty");
eq(c.GetLocalFileSize(fixture("empty.bin")), 0, "an empty file has size 0");

eq(c.GetLocalFileSize(""), -1, "empty path");
eq(c.GetLastErrorInfo(), PATH_EMPTY, "empty path text");
eq(c.GetLastErrorInfo(), PATH_EMPTY, "reading the text twice gives it twice");

var missing = fixture("Missing File.TXT");
eq(c.GetLocalFileSize(missing), -1, "missing file");
eq(c.GetLastErrorInfo(), "[" + missing + "]" + NOT_FOUND, "missing file text names the path as given");

eq(c.GetLocalFileSize("   "), -1, "a blank path is not trimmed and does not exist");
eq(c.GetLastErrorInfo(), "[   ]" + NOT_FOUND, "blank path text");

eq(c.GetLocalFileSize(fixture("hello.txt")), 5, "size after a failure");
eq(c.GetLastErrorInfo(), "", "a successful size query empties an earlier failure's text");

// 3 GiB: the low 32 bits read as a signed number.
eq(c.GetLocalFileSize(fixture("sparse3g.bin")), 3 * 1024 * 1024 * 1024 - 4294967296,
   "a 3 GiB file gives its low 32 bits as a negative number");

// A directory passes the check, but opening it fails: the system's text, its line break kept,
// then a blank and the code in parentheses.
eq(c.GetLocalFileSize(fixture("folder")), -1, "a directory has no size");
var text = c.GetLastErrorInfo();
ok(/^[^\r\n]+\r\n \(\d+\)$/.test(text), "directory text is 'system text CRLF (code)': " + esc(text));

// A character the code page cannot hold reaches the file system as it is.
var thai = fixture("\u0e01.txt");
eq(c.GetLocalFileSize(thai), 8, "a name outside the code page is sized");

// Two objects keep separate texts.
var d = newControl();
c.GetLocalFileSize("");
eq(d.GetLastErrorInfo(), "", "another object's failure does not show in this one");
d.GetLocalFileSize(missing);
eq(c.GetLastErrorInfo(), PATH_EMPTY, "this object's text is its own");

// The dispatch layer: wrong argument counts and types follow the platform.
eq(errorOf(function () { c.GetLocalFileSize(); }), "8002000e", "no argument: bad parameter count");
eq(errorOf(function () { c.GetLocalFileSize("a", "b"); }), "8002000e", "two arguments: bad parameter count");
eq(c.GetLocalFileSize(12345), -1, "a number is coerced to its text and looked up as a path");
eq(c.GetLastErrorInfo(), "[12345]" + NOT_FOUND, "coerced number text");
