// SHA-256 and SM3 digests of local and memory files, checked against OpenSSL and coreutils.
var expected = {};
(function () {
    var ts = fso.OpenTextFile(fixture("expected.txt"), 1);
    var lines = ts.ReadAll().split("\n");
    ts.Close();
    for (var i = 0; i < lines.length; i++) {
        var at = lines[i].indexOf("=");
        if (at > 0) expected[lines[i].substr(0, at)] = lines[i].substr(at + 1);
    }
})();
function readBytes(name) {
    var ts = fso.OpenTextFile(fixture(name), 1);
    var parts = ts.ReadAll().replace(/\s+$/, "").split(",");
    ts.Close();
    var out = [];
    for (var i = 0; i < parts.length; i++) out.push(parseInt(parts[i], 10));
    return out;
}
var bytes = readBytes("sample.bytes");
var cert = expected.cert;
var certWithBreaks = expected.certlines.replace(/\|/g, "\r\n");

var c = newControl();
eq(c.GetLocalFileSHA256(fixture("sample.bin")), expected.sha256, "local SHA-256 equals sha256sum");
eq(c.GetMemFileSHA256(bytes), expected.sha256, "memory SHA-256 of the same bytes");
eq(c.GetLocalFileSM3(fixture("sample.bin"), 0, ""), expected.sm3, "local SM3 equals openssl");
eq(c.GetMemFileSM3(bytes, 0, ""), expected.sm3, "memory SM3 of the same bytes");
eq(c.GetLocalFileSM3(fixture("sample.bin"), 0, cert), expected.sm3, "Z flag 0 ignores the certificate");
eq(c.GetLocalFileSM3(fixture("sample.bin"), 1, cert), expected.sm3z, "local SM3 with the Z value");
eq(c.GetMemFileSM3(bytes, 1, cert), expected.sm3z, "memory SM3 with the Z value");
eq(c.GetLocalFileSM3(fixture("sample.bin"), -7, certWithBreaks), expected.sm3z,
   "any non-zero Z flag acts as 1, and line breaks in the base64 are fine");
eq(c.GetMemFileSM3([], 1, cert), "", "an empty memory file gives nothing");
eq(c.GetLocalFileSM3(fixture("empty.bin"), 0, ""), expected.sm3empty, "the engine hashes an empty file");
eq(c.GetLocalFileSM3(fixture("empty.bin"), 1, cert), expected.sm3zempty, "Z alone for an empty file");
eq(c.GetLocalFileSHA256(fixture("huge.bin")), expected.hugesha256, "SHA-256 of 4 GiB + 1 byte equals openssl");
eq(c.GetLocalFileSM3(fixture("huge.bin"), 0, ""), expected.hugesm3, "SM3 of 4 GiB + 1 byte equals openssl");
eq(c.GetLocalFileSize(fixture("huge.bin")), 1, "its size keeps the low 32 bits");
eq(c.GetLastErrorInfo(), "", "no failure so far");

// Failures.
var empty = fixture("empty.bin");
eq(c.GetLocalFileSHA256(empty), "", "an empty local file has no SHA-256 here");
eq(c.GetLastErrorInfo(), "\u6587\u4ef6[" + empty + "]\u5927\u5c0f\u4e3a0", "with the size-0 text");
eq(c.GetMemFileSHA256([]), "", "an empty memory file gives nothing");
eq(c.GetLastErrorInfo(), "\u6587\u4ef6[" + empty + "]\u5927\u5c0f\u4e3a0", "and leaves the text as it was");
eq(c.GetLocalFileSHA256(fixture("sample.bin")), expected.sha256, "a digest after a failure");
eq(c.GetLastErrorInfo(), "\u6587\u4ef6[" + empty + "]\u5927\u5c0f\u4e3a0", "keeps the earlier text");
eq(c.GetLocalFileSHA256(""), "", "an empty path is refused");
eq(c.GetLastErrorInfo(), "\u6587\u4ef6\u8def\u5f84\u4e3a\u7a7a", "by the path check");
eq(c.GetLocalFileSM3(fixture("nope.bin"), 0, ""), "", "a missing file is refused before the engine");
eq(c.GetLastErrorInfo(), "[" + fixture("nope.bin") + "]\u6587\u4ef6\u4e0d\u5b58\u5728", "by the path check");
c.GetLocalFileSize("");
// Engine failures say why, with the engine's status.
function sm3Failed(why, status) { return "SM3\u6458\u8981\u8ba1\u7b97\u5931\u8d25," + why + "(\u9519\u8bef\u78010x" + status + ")"; }
eq(c.GetLocalFileSM3(fixture("sample.bin"), 1, ""), "", "Z flag 1 without a certificate gives nothing");
eq(c.GetLastErrorInfo(), sm3Failed("\u8981\u6c42\u8ba1\u7b97Z\u503c\u4f46\u672a\u63d0\u4f9b\u8bc1\u4e66", "2001"), "and says the certificate is missing");
eq(c.GetLocalFileSM3(fixture("sample.bin"), 1, expected.p256cert), "", "a certificate off the SM2 curve gives nothing");
eq(c.GetLastErrorInfo(), sm3Failed("\u8bc1\u4e66\u516c\u94a5\u4e0d\u662fSM2\u516c\u94a5", "2004"), "and says the key is no SM2 key");
eq(c.GetMemFileSM3(bytes, 1, "not base64 at all!"), "", "garbage instead of a certificate gives nothing");
eq(c.GetLastErrorInfo(), sm3Failed("\u8bc1\u4e66\u4e0d\u662f\u6709\u6548\u7684Base64\u7f16\u7801", "2002"), "and says it is no base64");
c = null;

// Copies of the control beside a missing, an incomplete and a failing engine.
function useCopy(dir) {
    shell.Run("regsvr32 /s \"" + fixture(dir) + "\\tarnwick.OCX\"", 0, true);
    return newControl();
}
var n = useCopy("noengine");
var enginePath = fixture("noengine") + "\\" + ENGINE;
var LOAD_FAILED = "\u9519\u8bef,\u52a8\u6001\u94fe\u63a5\u5e93[" + enginePath + "]\u52a0\u8f7d\u5931\u8d25!";
eq(n.GetLocalFileSM3(fixture("sample.bin"), 0, ""), "", "no engine: no SM3");
eq(n.GetLastErrorInfo(), LOAD_FAILED, "the load text names the path");
n.GetLocalFileSize("");
eq(n.GetMemFileSM3(bytes, 0, ""), "", "the next call tries again");
eq(n.GetLastErrorInfo(), LOAD_FAILED, "and fails again with the load text");
eq(n.GetLocalFileSHA256(fixture("sample.bin")), expected.sha256, "SHA-256 works without the engine");
n = null;

n = useCopy("noexport");
eq(n.GetLocalFileSM3(fixture("sample.bin"), 0, ""), "", "an engine missing an export");
eq(n.GetLastErrorInfo(), "\u9519\u8bef,\u5165\u53e3\u51fd\u6570\u7f3a\u5931!", "gives the missing-entry text");
n = null;

n = useCopy("initfail");
eq(n.GetMemFileSM3(bytes, 0, ""), "", "an engine whose start-up fails");
eq(n.GetLastErrorInfo(), "\u9519\u8bef,\u8fd0\u884cInitialize() Failed!", "gives the Initialize text");
n = null;
shell.Run("regsvr32 /s \"" + BIN + "\\tarnwick.OCX\"", 0, true);
