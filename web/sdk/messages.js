// The texts a page can get from GetLastErrorInfo, character for character as the control gives
// them (src/services/*/Messages.h and the control's string table), written as escapes so that
// the file stays ASCII. %s, %d, %lu, %lld and %04X are filled in order.

export const text = {
  // Path check (string table IDS_PATH_EMPTY, IDS_FILE_NOT_FOUND).
  pathEmpty: '\u6587\u4ef6\u8def\u5f84\u4e3a\u7a7a',
  fileNotFound: '[%s]\u6587\u4ef6\u4e0d\u5b58\u5728',
  notADiskFile: '[%s]\u4e0d\u662f\u78c1\u76d8\u6587\u4ef6(\u8bbe\u5907\u3001\u7ba1\u9053\u6216\u63a7\u5236\u53f0),\u62d2\u7edd\u8bfb\u53d6!',
  // Digests.
  sizeZero: '\u6587\u4ef6[%s]\u5927\u5c0f\u4e3a0',
  sm3Failed: 'SM3\u6458\u8981\u8ba1\u7b97\u5931\u8d25,%s(\u9519\u8bef\u78010x%04X)',
  readFailed: '\u6587\u4ef6[%s]\u8bfb\u5931\u8d25(%d<>%d)\uff0c%s',
  openFailed: '\u6587\u4ef6[%s]\u6253\u5f00\u5931\u8d25\uff0c%s',
  // Archives.
  unzipFailed: '\u6587\u4ef6\u538b\u7f29\u5931\u8d25,\u539f\u56e0\u662f%s!',
  zipFailed: '\u6587\u4ef6[%s]\u538b\u7f29\u5931\u8d25,\u539f\u56e0\u662f%s',
  zipTooSmall: '\u6587\u4ef6[%s]\u5927\u5c0f\u4e3a%lu\u5b57\u8282,\u4e0d\u8d85\u8fc740\u5b57\u8282,\u4e0d\u4e88\u538b\u7f29!',
  zipBox: '\u538b\u7f29',
  notCreatedHere: '\u6587\u4ef6[%s]\u975e\u672c\u7a0b\u5e8f\u521b\u5efa\uff0c\u4e0d\u80fd\u5220\u9664!',
  // Memory files and the script array bridge.
  attrLookupFailed: "JSArrayGetAttributeValue's GetIDsOfNames %s err!",
  attrGetFailed: "JSArrayGetAttributeValue's Invoke %s err!",
  elementLookupFailed: "JSArrayGetAt's GetIDsOfNames %d err!",
  elementGetFailed: "JSArrayGetAt's Invoke %d err!",
  attrObjectNull: "JSArrayGetAttributeValue's object is null err!",
  zipWriteFailed: 'CreateZipFromMemFile create tempfile err,%s!',
  zipFailedBox: '\u6587\u4ef6\u538b\u7f29\u5931\u8d25',
  badFileName: '\u6587\u4ef6\u540d[%s]\u4e0d\u662f\u4e34\u65f6\u76ee\u5f55\u4e2d\u7684\u6587\u4ef6\u540d,\u62d2\u7edd\u4f7f\u7528!',
  badBase64: '\u6587\u4ef6\u5185\u5bb9\u4e0d\u662f\u6709\u6548\u7684Base64\u7f16\u7801,\u62d2\u7edd\u5904\u7406!',
  badFileType: '\u6587\u4ef6\u7c7b\u578b[%s]\u4e0d\u80fd\u7528\u4f5c\u6587\u4ef6\u6269\u5c55\u540d,\u62d2\u7edd\u4f7f\u7528!',
};

// What the crypto engine's status says (the control's EngineStatusText).
export const engineStatusText = {
  0x1001: '\u53c2\u6570\u65e0\u6548', 0x1002: '\u5bc6\u7801\u5f15\u64ce\u672a\u521d\u59cb\u5316',
  0x1003: '\u5bc6\u7801\u5e93\u521d\u59cb\u5316\u5931\u8d25', 0x1004: '\u5185\u5b58\u4e0d\u8db3',
  0x1005: '\u5bc6\u7801\u5e93\u8fd0\u7b97\u5931\u8d25', 0x2001: '\u8981\u6c42\u8ba1\u7b97Z\u503c\u4f46\u672a\u63d0\u4f9b\u8bc1\u4e66',
  0x2002: '\u8bc1\u4e66\u4e0d\u662f\u6709\u6548\u7684Base64\u7f16\u7801', 0x2003: '\u8bc1\u4e66\u683c\u5f0f\u9519\u8bef\u6216\u4e0d\u5b8c\u6574',
  0x2004: '\u8bc1\u4e66\u516c\u94a5\u4e0d\u662fSM2\u516c\u94a5', 0x2005: '\u8bc1\u4e66\u516c\u94a5\u4e0d\u662fSM2\u66f2\u7ebf\u4e0a\u7684\u70b9',
  0x3001: '\u6587\u4ef6\u65e0\u6cd5\u6253\u5f00', 0x3002: '\u6587\u4ef6\u8bfb\u53d6\u5931\u8d25',
  0x5001: '\u5bc6\u7801\u5f15\u64ce\u4e0d\u652f\u6301\u8be5\u64cd\u4f5c',
};
export const engineUnknown = '\u672a\u77e5\u9519\u8bef';

// The system's texts for the few error codes a page can meet, as the reference system of the
// tests (Wine, code page 936) words them; the control asks the running system instead.
export const systemText = {
  2: '\u627e\u4e0d\u5230\u6587\u4ef6\u3002\r\n',                      // ERROR_FILE_NOT_FOUND
  5: '\u8bbf\u95ee\u88ab\u62d2\u7edd\u3002\r\n',                      // ERROR_ACCESS_DENIED
  8: '\u5185\u5b58\u4e0d\u8db3\u3002\r\n',                            // ERROR_NOT_ENOUGH_MEMORY
  23: 'CRC \u9519\u8bef\u3002\r\n',                                   // ERROR_CRC
  31: '\u4e00\u822c\u6027\u9519\u8bef\u3002\r\n',                     // ERROR_GEN_FAILURE
  38: '\u6587\u4ef6\u5c3e\u3002\r\n',                             // ERROR_HANDLE_EOF
  50: '\u8bf7\u6c42\u4e0d\u88ab\u652f\u6301\u3002\r\n',               // ERROR_NOT_SUPPORTED
  123: '\u65e0\u6548\u540d\u5b57\u3002\r\n',                          // ERROR_INVALID_NAME
  223: '',                                                            // ERROR_FILE_TOO_LARGE
  1392: '\u6587\u4ef6\u6216\u76ee\u5f55\u5df2\u635f\u574f\u3002\r\n', // ERROR_FILE_CORRUPT
};

// The code the zip companion reports for each zip core status.
export const zipStatusCode = {
  'out of memory': 8, 'not an archive': 1392, 'corrupt entry data': 1392, 'size mismatch': 1392,
  'CRC mismatch': 23, 'unsafe name': 123, unsupported: 50, 'too many entries': 223, 'too large': 223,
  'read failed': 31, 'write failed': 31, 'source changed': 1392,
};

export function format(template, ...values) {
  let i = 0;
  return template.replace(/%(?:[sd]|lu|lld|04X)/g, (spec) => {
    const v = values[i++];
    if (spec === '%s') return String(v);
    if (spec === '%04X') return (Number(v) >>> 0).toString(16).toUpperCase().padStart(4, '0');
    return String(Math.trunc(Number(v)));
  });
}

export function systemMessage(code, withCode) {
  const t = systemText[code] === undefined ? '' : systemText[code];
  return withCode && t ? t + ' (' + code + ')' : t;
}
