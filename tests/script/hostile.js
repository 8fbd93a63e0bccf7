// Hostile input: devices, archives built to take long or to leave things behind, a file of
// 2 GiB. Every call returns, says why it
// refused, and leaves nothing behind (the runner checks the temporary directory).
var c = newControl();
var NOT_A_DISK = function (p) {
    return "[" + p + "]\u4e0d\u662f\u78c1\u76d8\u6587\u4ef6(\u8bbe\u5907\u3001\u7ba1\u9053\u6216\u63a7\u5236\u53f0),\u62d2\u7edd\u8bfb\u53d6!";
};

// Devices in any folder, with any extension, are refused before anything reads them.
var devices = ["COM1", "AUX", "C:\\any\\COM1.txt", "C:\\any\\AUX.bin", "nul", "C:\\x\\lpt1.dat", "CONIN$"];
for (var i = 0; i < devices.length; i++) {
    eq(c.GetLocalFileHeadSigned(devices[i]), "", "probe of " + devices[i]);
    eq(c.GetLastErrorInfo(), NOT_A_DISK(devices[i].toLowerCase()), "refused as no disk file");
    eq(c.GetLocalFileSM3(devices[i], 0, ""), "", "SM3 of " + devices[i]);
    eq(c.GetLastErrorInfo(), NOT_A_DISK(devices[i]), "refused as no disk file");
    eq(c.GetLocalFileSize(devices[i]), -1, "size of " + devices[i]);
}

// Archives: the probe answers and removes its unpack directory whatever the names and lengths.
var HEAD = "504B0304";
eq(c.GetLocalFileHeadSigned(fixture("at1000.xlsx")), "MSEXCEL", "1,000 entries are unpacked");
eq(c.GetLocalFileHeadSigned(fixture("past1000.xlsx")).substr(0, 8), HEAD, "1,001 entries are not: the hex head");
// The bounds' refusals say why (the system may have no text of its own for the code).
var TOO_LARGE = "\u6587\u4ef6\u538b\u7f29\u5931\u8d25,\u539f\u56e0\u662f" +
    "\u6587\u4ef6\u5927\u5c0f\u8d85\u51fa\u5141\u8bb8\u7684\u9650\u5236\uff0c\u65e0\u6cd5\u4fdd\u5b58\u3002\r\n!";
eq(c.GetLastErrorInfo(), TOO_LARGE, "too many entries: the reason is given");
eq(c.GetLocalFileHeadSigned(fixture("at256m.xlsx")), "MSEXCEL", "256 MiB unpacked are taken");
eq(c.GetLocalFileHeadSigned(fixture("past256m.xlsx")).substr(0, 8), HEAD, "256 MiB and one byte are not");
eq(c.GetLastErrorInfo(), TOO_LARGE, "too large: the reason is given");
eq(c.GetLocalFileHeadSigned(fixture("thai.xlsx")), "MSEXCEL", "names outside the code page");
eq(c.GetLocalFileHeadSigned(fixture("deep.xlsx")), "MSEXCEL", "unpacked paths beyond 260 characters");
eq(c.GetLocalFileHeadSigned(fixture("bomb.xlsx")).substr(0, 8), HEAD, "a 300 MiB bomb under a Thai name");
eq(tempEntries(/^\.xlsx/).length, 0, "no unpack directory is left");

// A file of 2 GiB and more is packed (its low 32 bits read as signed are negative).
var big = c.CreateZipFromLocalFile(fixture("big.bin"));
ok(big.length > 0, "2 GiB + 1 byte is packed: " + esc(c.GetLastErrorInfo()));
if (big.length > 0) {
    fso.CopyFile(big, fixture("big.zip"));  // read back by unzip and Python's zipfile afterwards
    eq(c.DeleteFileFromCreateZip(big), 0, "which is deleted again");
}

// A local path of 300 characters: measured, digested, probed and packed like any other.
var longFacts = fso.OpenTextFile(fixture("longpath.txt"), 1).ReadAll().split("\n");
var longPath = fixture(longFacts[0]);
eq(longPath.length, 300, "the path is 300 characters long");
eq(c.GetLocalFileSize(longPath), Number(longFacts[1]), "its size: " + esc(c.GetLastErrorInfo()));
eq(c.GetLocalFileSHA256(longPath), longFacts[2], "its SHA-256: " + esc(c.GetLastErrorInfo()));
eq(c.GetLocalFileHeadSigned(longPath), "MSEXCEL", "its type: " + esc(c.GetLastErrorInfo()));
var longZip = c.CreateZipFromLocalFile(longPath);
ok(longZip.length > 0, "it is packed: " + esc(c.GetLastErrorInfo()));
if (longZip.length > 0) {
    fso.CopyFile(longZip, fixture("long.zip"));
    eq(c.DeleteFileFromCreateZip(longZip), 0, "and its archive deleted");
}
