// The calls the browser suite makes on the shared corpus (fixtures.py), each with what its result
// and the last-error text must be. The cross-check makes the same calls on the control under Wine
// (a picked file there is its bare name, the corpus directory being the current one) and
// requires the same results and texts; where the control names a file in its temporary directory,
// a page gets the name alone, and the cross-check compares it so.
const PATH_EMPTY = '\u6587\u4ef6\u8def\u5f84\u4e3a\u7a7a';
const NOT_MINE = (p) => '\u6587\u4ef6[' + p + ']\u975e\u672c\u7a0b\u5e8f\u521b\u5efa\uff0c\u4e0d\u80fd\u5220\u9664!';
const SIZE_ZERO = (p) => '\u6587\u4ef6[' + p + ']\u5927\u5c0f\u4e3a0';
const BAD_TYPE = (t) => '\u6587\u4ef6\u7c7b\u578b[' + t + ']\u4e0d\u80fd\u7528\u4f5c\u6587\u4ef6\u6269\u5c55\u540d,\u62d2\u7edd\u4f7f\u7528!';
const BAD_NAME = (n) => '\u6587\u4ef6\u540d[' + n + ']\u4e0d\u662f\u4e34\u65f6\u76ee\u5f55\u4e2d\u7684\u6587\u4ef6\u540d,\u62d2\u7edd\u4f7f\u7528!';
const UNZIP_FAILED = '\u6587\u4ef6\u538b\u7f29\u5931\u8d25,\u539f\u56e0\u662f';
const SM3_FAILED = (why, code) => 'SM3\u6458\u8981\u8ba1\u7b97\u5931\u8d25,' + why + '(\u9519\u8bef\u78010x' + code + ')';
const NOT_SM2_KEY = '\u8bc1\u4e66\u516c\u94a5\u4e0d\u662fSM2\u516c\u94a5';
const NO_CERTIFICATE = '\u8981\u6c42\u8ba1\u7b97Z\u503c\u4f46\u672a\u63d0\u4f9b\u8bc1\u4e66';
const TOO_SMALL = (p, n) => '\u6587\u4ef6[' + p + ']\u5927\u5c0f\u4e3a' + n + '\u5b57\u8282,\u4e0d\u8d85\u8fc740\u5b57\u8282,\u4e0d\u4e88\u538b\u7f29!';
const BAD_BASE64 = '\u6587\u4ef6\u5185\u5bb9\u4e0d\u662f\u6709\u6548\u7684Base64\u7f16\u7801,\u62d2\u7edd\u5904\u7406!';
const NOT_A_DISK = (p) => '[' + p + ']\u4e0d\u662f\u78c1\u76d8\u6587\u4ef6(\u8bbe\u5907\u3001\u7ba1\u9053\u6216\u63a7\u5236\u53f0),\u62d2\u7edd\u8bfb\u53d6!';

const f = (name) => ({ file: name });
const range = (n, g) => Array.from({ length: n }, (_, i) => g(i));

// [method, args, check(result, text) -> true or a complaint]; `same` marks results compared as is.
export function calls(x) {
  const is = (want) => (r) => r === want || `expected ${JSON.stringify(want)}`;
  const textIs = (want) => (r, t) => t === want || `text ${JSON.stringify(t)}, expected ${JSON.stringify(want)}`;
  const both = (...checks) => (r, t) => checks.map((c) => c(r, t)).find((v) => v !== true) || true;
  const archive = (r) => (r && r.archive && /^\d+_\d{12}\.zip$/.test(r.archive)) || 'expected an archive';
  return [
    ['GetLastErrorInfo', [], is('')],
    ['GetLocalFileSize', [f('sample.bin')], both(is(x.size['sample.bin']), textIs(''))],
    ['GetLocalFileSize', [f('empty.bin')], is(0)],
    ['GetLocalFileSize', [''], both(is(-1), textIs(PATH_EMPTY))],
    ['GetLocalFileSHA256', [f('sample.bin')], both(is(x.sha256['sample.bin']), textIs(PATH_EMPTY))],
    ['GetLocalFileSHA256', [f('\u8868\u683c.csv')], is(x.sha256['\u8868\u683c.csv'])],
    ['GetLocalFileSHA256', [f('noise.bin')], is(x.sha256['noise.bin'])],
    ['GetLocalFileSHA256', [f('empty.bin')], both(is(''), textIs(SIZE_ZERO('empty.bin')))],
    ['GetLocalFileSM3', [f('sample.bin'), 0, ''], is(x.sm3['sample.bin'])],
    ['GetLocalFileSM3', [f('sample.bin'), 1, x.cert], is(x.sm3z['sample.bin'])],
    ['GetLocalFileSM3', [f('noise.bin'), -7, x.cert.replace(/(.{64})/g, '$1\r\n')], is(x.sm3z['noise.bin'])],
    ['GetLocalFileSM3', [f('empty.bin'), 0, ''], is(x.sm3['empty.bin'])],
    ['GetLocalFileSM3', [f('empty.bin'), 1, x.cert], is(x.sm3z['empty.bin'])],
    ['GetLocalFileSM3', [f('hello.txt'), 1, x.p256cert], both(is(''), textIs(SM3_FAILED(NOT_SM2_KEY, '2004')))],
    ['GetLocalFileSM3', [f('hello.txt'), 1, ''], both(is(''), textIs(SM3_FAILED(NO_CERTIFICATE, '2001')))],
    ['GetLocalFileSM3', [f('hello.txt'), 1, 'not base64 at all!'], is('')],
    ['GetLocalFileHeadSigned', [f('upper.TXT')], is('STRING')],
    ['GetLocalFileHeadSigned', [f('bell.txt')], is('')],
    ['GetLocalFileHeadSigned', [f('twenty.bin')], is('303132333435363738394142434445')],
    ['GetLocalFileHeadSigned', [f('empty.bin')], is('')],
    ['GetLocalFileHeadSigned', [f('book.xlsx')], both(is('MSEXCEL'), textIs(''))],
    ['GetLocalFileHeadSigned', [f('letter.docx')], (r) => /^504B0304[0-9A-F]{22}$/.test(r) || 'a zip head'],
    ['GetLocalFileSize', [''], is(-1)],
    ['GetLocalFileHeadSigned', [f('head40.zip')], both(is('504B0304000000000000000000000000000000'.slice(0, 30)), textIs(''))],
    ['GetLocalFileHeadSigned', [f('evil.zip')], both((r) => r.startsWith('504B0304') || 'hex head',
      (r, t) => t.startsWith(UNZIP_FAILED) || 'unpack failure text')],
    ['CreateZipFromLocalFile', [f('fortyone.bin')], both(archive, textIs(''))],
    ['CreateZipFromLocalFile', [f('sample.bin')], archive],
    ['CreateZipFromLocalFile', [f('\u8868\u683c.csv')], archive],
    ['CreateZipFromLocalFile', [f('noise.bin')], archive],
    ['GetLocalFileSize', [''], is(-1)],
    ['CreateZipFromLocalFile', [f('forty.bin')], both(is(''), textIs(TOO_SMALL('forty.bin', 40)))],
    ['GetLocalFileSize', [f('nul.bin')], both(is(-1), textIs(NOT_A_DISK('nul.bin')))],
    ['DeleteFileFromCreateZip', ['no-such.zip'], both(is(-1), textIs(NOT_MINE('no-such.zip')))],
    ['GetMemFileSize', [[65, 66, 67]], is(3)],
    ['GetMemFileSize', [null], both(is(-1), textIs("JSArrayGetAttributeValue's object is null err!"))],
    ['GetMemFileSize', [{ length: 2.7 }], is(2)],
    ['GetMemFileHeadSigned', [[256, -1, 511], 'bin'], is('00FFFF')],
    ['GetMemFileHeadSigned', [[65.9, -1.5, '66', true, false], 'bin'], is('41FF420100')],
    ['GetMemFileHeadSigned', [range(20, (i) => i + 48), 't,x,t'], is('STRING')],
    ['GetMemFileHeadSigned', [[1, 'x', 3], 'bin'], both(is(''), textIs("JSArrayGetAt's Invoke 1 err!"))],
    ['GetMemFileHeadSigned', [[65], 'a/b'], both(is(''), textIs(BAD_TYPE('a/b')))],
    ['GetMemFileHeadSigned', [[], 'bin'], both(is(''), textIs(BAD_TYPE('a/b')))],
    ['GetMemMD5FileHeadSigned', ['QUJDREVGR0hJSktMTU5PUFFSUw==', 'bin'], is('4142434445464748494A4B4C4D4E4F')],
    ['GetMemMD5FileHeadSigned', ['!!!!', 'bin'], both(is(''), textIs(BAD_BASE64))],
    ['GetMemMD5FileHeadSigned', ['QUJDR', 'bin'], both(is(''), textIs(BAD_BASE64))],
    ['GetMemMD5FileHeadSigned', ['QUJDRA=', 'bin'], both(is(''), textIs(BAD_BASE64))],
    ['GetMemMD5FileHeadSigned', ['QUJD\r\nRA', 'bin'], is('41424344')],
    ['GetMemFileHeadSigned', [[' 0x41 ', '1e1', '+5', '\t7.9'], 'bin'], is('410A0507')],
    ['GetMemFileHeadSigned', [[1, '1,0'], 'bin'], both(is(''), textIs("JSArrayGetAt's Invoke 1 err!"))],
    ['GetMemFileSHA256', [range(1000, (i) => i)], is(x.memSha256)],
    ['GetMemFileSM3', [range(1000, (i) => i), 1, x.cert], is(x.memSm3z)],
    ['GetMemFileSM3', [[], 0, ''], is('')],
    ['CreateZipFromMemFile', [range(41, (i) => (i * 13) & 255), 'memfile_source.bin'], both(archive, textIs(''))],
    ['CreateZipFromMemFile', [range(41, (i) => i), '\u0e01\u8868.bin'], archive],  // no place in code page 936: UTF-8
    ['CreateZipFromMemFile', [range(41, (i) => i), '..\\x.bin'], both(is(''), textIs(BAD_NAME('..\\x.bin')))],
    ['CreateZipFromMemFile', [range(41, (i) => i), 'a..b.bin'], both(is(''), textIs(BAD_NAME('a..b.bin')))],
    ['CreateZipFromMemFile', [range(40, (i) => i), 'memfile_forty.bin'], both(is(''), textIs(TOO_SMALL('memfile_forty.bin', 40)))],
  ];
}
