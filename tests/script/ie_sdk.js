// The IE-mode build of the page SDK (web/sdk/tarnwick-ie.js), loaded as a page's classic script
// would be, driving the registered control: same results and texts, thenables without Promise.
eval(fso.OpenTextFile(fixture("tarnwick-ie.js"), 1).ReadAll());
var want = fso.OpenTextFile(fixture("sample.sha256"), 1).ReadLine();
ok(Tarnwick.available(), "ActiveXObject is there");

var sdk = null, order = [];
Tarnwick.open().then(function (t) { sdk = t; order.push("opened"); });
order.push("after open");
eq(order.join(","), "opened,after open", "the thenable calls its handler at once");

// Results are checked outside the handlers: a call that rejects leaves its "unset" behind.
var got = {sha: "unset", size: "unset", head: "unset"};
sdk.GetLocalFileSHA256(fixture("sample.bin")).then(function (hex) { got.sha = hex; });
sdk.GetLocalFileSize(fixture("sample.bin")).then(function (n) { got.size = n; });
sdk.GetMemFileHeadSigned([65, 66, 67], "bin").then(function (h) { got.head = h; });
eq(got.sha, want, "SHA-256 equals sha256sum");
eq(got.size, 8000, "size");
eq(got.head, "414243", "memory head");

// Chained: the failure text of one call comes through the next.
var seen = "";
sdk.GetLocalFileSize("").then(function () { return sdk.GetLastErrorInfo(); })
   .then(function (text) { seen = text; });
eq(seen, "\u6587\u4ef6\u8def\u5f84\u4e3a\u7a7a", "the empty-path text through a chain");

// What a handler throws rejects the next thenable; catch gets it and the chain goes on.
var caught = "none";
sdk.GetLocalFileSize(fixture("sample.bin")).then(function () { throw new Error("handler"); })
   ["catch"](function (e) { caught = e.message; return 5; })
   .then(function (v) { caught += v; });
eq(caught, "handler5", "a throwing handler rejects, catch recovers");

var archive = "";
sdk.CreateZipFromLocalFile(fixture("sample.bin")).then(function (path) { archive = path; });
ok(fso.FileExists(archive), "an archive path in the temporary directory: " + esc(archive));
var deleted = "unset";
sdk.DeleteFileFromCreateZip(archive).then(function (r) { deleted = r; });
eq(deleted, 0, "and it is deleted again");
// Reading archives needs the WebAssembly build: a clear refusal, not a missing method.
var refused = null;
sdk.openZip(fixture("sample.bin"))["catch"](function (e) { refused = e; });
ok(refused !== null && refused.name === "TarnwickError" && refused.code === "unavailable" && refused.method === "openZip",
   "openZip is refused as unavailable");
sdk.close();
expectChecks(10);
