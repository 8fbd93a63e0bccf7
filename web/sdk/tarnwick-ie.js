// The SDK for IE-mode pages (classic script, ES3): the same Tarnwick object as tarnwick.js, driving
// the control itself. Load it with <script src="tarnwick-ie.js"></script>; it defines the global
// Tarnwick.
//
//   Tarnwick.open().then(function (t) {
//       t.GetLocalFileSHA256(path).then(function (hex) { ... });
//   });
//
// No built-in Promise is needed: every method returns a small thenable. The control answers at
// once, so the thenable is settled when it is returned and calls the handlers given to then()
// right away (before then() returns); then() returns a new thenable for chaining, and
// ["catch"](f) is then(null, f). Arguments go to the control as they are: a path where it takes a
// path (the value of an <input type=file> in IE mode), a script array where it takes one (typed
// arrays are copied into one). Archives are the control's temporary paths, released by
// DeleteFileFromCreateZip or when the page lets the object go. A trailing options argument
// ({ onProgress, signal }, as for the WebAssembly build) is accepted and ignored.
var Tarnwick = (function () {
    var PROG_ID = "TARNWICK.TarnwickCtrl.1";

    function Settled(ok, value) {
        this.ok = ok;
        this.value = value;
    }
    Settled.prototype.then = function (onFulfilled, onRejected) {
        var handler = this.ok ? onFulfilled : onRejected;
        if (typeof handler !== "function") return this;
        try {
            var next = handler(this.value);
            if (next && typeof next.then === "function" && !(next instanceof Settled)) {
                var outcome = null;
                next.then(function (v) { outcome = new Settled(true, v); },
                          function (e) { outcome = new Settled(false, e); });
                return outcome || new Settled(false, new Error("the thenable did not settle"));
            }
            return next instanceof Settled ? next : new Settled(true, next);
        } catch (e) {
            return new Settled(false, e);
        }
    };
    Settled.prototype["catch"] = function (onRejected) {
        return this.then(null, onRejected);
    };

    function attempt(f) {
        try {
            return new Settled(true, f());
        } catch (e) {
            return new Settled(false, e);
        }
    }

    // A typed array (IE 10 and later) becomes a script array for the control.
    function scriptArray(value) {
        if (value && typeof value === "object" && typeof value.byteLength === "number" &&
            typeof value.length === "number" && !(value instanceof Array)) {
            var out = [];
            for (var i = 0; i < value.length; i++) out.push(value[i]);
            return out;
        }
        return value;
    }

    function Control(control) {
        this._control = control;
    }
    var p = Control.prototype;
    p.GetLocalFileSize = function (path) { var c = this._control; return attempt(function () { return c.GetLocalFileSize(path); }); };
    p.GetLocalFileHeadSigned = function (path) { var c = this._control; return attempt(function () { return c.GetLocalFileHeadSigned(path); }); };
    p.CreateZipFromLocalFile = function (path) { var c = this._control; return attempt(function () { return c.CreateZipFromLocalFile(path); }); };
    p.DeleteFileFromCreateZip = function (path) { var c = this._control; return attempt(function () { return c.DeleteFileFromCreateZip(path); }); };
    p.GetLocalFileSHA256 = function (path) { var c = this._control; return attempt(function () { return c.GetLocalFileSHA256(path); }); };
    p.GetLocalFileSM3 = function (path, withZ, cert) { var c = this._control; return attempt(function () { return c.GetLocalFileSM3(path, withZ, cert); }); };
    p.GetLastErrorInfo = function () { var c = this._control; return attempt(function () { return c.GetLastErrorInfo(); }); };
    p.GetMemFileHeadSigned = function (a, type) { var c = this._control; a = scriptArray(a); return attempt(function () { return c.GetMemFileHeadSigned(a, type); }); };
    p.GetMemFileSM3 = function (a, withZ, cert) { var c = this._control; a = scriptArray(a); return attempt(function () { return c.GetMemFileSM3(a, withZ, cert); }); };
    p.GetMemFileSize = function (a) { var c = this._control; a = scriptArray(a); return attempt(function () { return c.GetMemFileSize(a); }); };
    p.GetMemMD5FileHeadSigned = function (text, type) { var c = this._control; return attempt(function () { return c.GetMemMD5FileHeadSigned(text, type); }); };
    p.GetMemFileSHA256 = function (a) { var c = this._control; a = scriptArray(a); return attempt(function () { return c.GetMemFileSHA256(a); }); };
    p.CreateZipFromMemFile = function (a, name) { var c = this._control; a = scriptArray(a); return attempt(function () { return c.CreateZipFromMemFile(a, name); }); };
    // Archives of many files are the WebAssembly build's alone: the control packs one file.
    function notOverTheControl() {
        var e = new Error("zip and zipStream are not available over the control (IE mode): load tarnwick.js in a current browser");
        e.name = "TarnwickError";
        e.code = "not-available";
        return new Settled(false, e);
    }
    p.zip = notOverTheControl;
    p.zipStream = notOverTheControl;
    // Lets the control go (its archives are deleted with it).
    p.close = function () { this._control = null; };
    // The control has no such method: digest() is the WebAssembly build's only.
    p.digest = function () {
        var e = new Error("digest() is not available over the control: it needs the WebAssembly build of the SDK (tarnwick.js)");
        e.name = "TarnwickError";
        e.code = "unavailable";
        e.method = "digest";
        return new Settled(false, e);
    };
    // Nor this: verifySm2() reads the source as digest() does.
    p.verifySm2 = function () {
        var e = new Error("verifySm2() is not available over the control: it needs the WebAssembly build of the SDK (tarnwick.js)");
        e.name = "TarnwickError";
        e.code = "unavailable";
        e.method = "verifySm2";
        return new Settled(false, e);
    };
    // Nor this: reading archives is the WebAssembly build's only.
    p.openZip = function () {
        var e = new Error("openZip() is not available over the control: it needs the WebAssembly build of the SDK (tarnwick.js)");
        e.name = "TarnwickError";
        e.code = "unavailable";
        e.method = "openZip";
        return new Settled(false, e);
    };

    return {
        // A thenable for the object, or rejected when the control cannot be created here.
        open: function () {
            return attempt(function () { return new Control(new ActiveXObject(PROG_ID)); });
        },
        // Whether this page can use this build at all.
        available: function () {
            return typeof ActiveXObject !== "undefined";
        }
    };
})();
