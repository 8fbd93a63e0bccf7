// The texts a page can get from GetLastErrorInfo, character for character as the control gives
// them (src/services/*/Messages.h and the control's string table), written as escapes so that
// the file stays ASCII. %s and %d are filled in order.

export const text = {
  // Path check (string table IDS_PATH_EMPTY, IDS_FILE_NOT_FOUND).
  pathEmpty: '\u6587\u4ef6\u8def\u5f84\u4e3a\u7a7a',
  fileNotFound: '[%s]\u6587\u4ef6\u4e0d\u5b58\u5728',
  // Digests.
  sizeZero: '\u6587\u4ef6[%s]\u5927\u5c0f\u4e3a0',
  tooLarge: '\u6587\u4ef6[%s]\u5927\u5c0f\u8d85\u8fc74GB\uff0c\u4e0d\u652f\u6301\u8ba1\u7b97\u6458\u8981',
  readFailed: '\u6587\u4ef6[%s]\u8bfb\u5931\u8d25(%d<>%d)\uff0c%s',
  // Archives.
  unzipFailed: '\u6587\u4ef6\u538b\u7f29\u5931\u8d25,\u539f\u56e0\u662f%s!',
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
  badFileType: '\u6587\u4ef6\u7c7b\u578b[%s]\u4e0d\u80fd\u7528\u4f5c\u6587\u4ef6\u6269\u5c55\u540d,\u62d2\u7edd\u4f7f\u7528!',
};

// The system's texts for the few error codes a page can meet, as the reference system of the
// tests (Wine, code page 936) words them; the control asks the running system instead.
export const systemText = {
  2: '\u627e\u4e0d\u5230\u6587\u4ef6\u3002\r\n',                      // ERROR_FILE_NOT_FOUND
  5: '\u8bbf\u95ee\u88ab\u62d2\u7edd\u3002\r\n',                      // ERROR_ACCESS_DENIED
  8: '\u5185\u5b58\u4e0d\u8db3\u3002\r\n',                            // ERROR_NOT_ENOUGH_MEMORY
  23: 'CRC \u9519\u8bef\u3002\r\n',                                   // ERROR_CRC
  31: '\u4e00\u822c\u6027\u9519\u8bef\u3002\r\n',                     // ERROR_GEN_FAILURE
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
  return template.replace(/%[sd]/g, (spec) => {
    const v = values[i++];
    return spec === '%d' ? String(Math.trunc(Number(v))) : String(v);
  });
}

export function systemMessage(code, withCode) {
  const t = systemText[code] === undefined ? '' : systemText[code];
  return withCode && t ? t + ' (' + code + ')' : t;
}
