// The failures of reading an archive, as TarnwickErrors with their code, the entry's name and a
// text in the object's language.
import { TarnwickError } from '../control/contract.js';

const MESSAGES = {
  'not-zip': 'not a zip archive (no end record)',
  'bad-archive': 'the archive\'s end records, counts or offsets do not agree',
  'overlap': 'entries of the archive overlap each other or its directory',
  'header-mismatch': 'a local header disagrees with the central directory',
  'impossible-size': 'the declared size is more than the method can produce from the compressed size',
  'unsupported-method': 'the entry\'s compression method is not supported',
  'encrypted': 'the entry is encrypted',
  'bad-crc': 'the entry\'s CRC-32 does not match its contents',
  'bad-size': 'the entry\'s contents are not of its declared size',
  'bad-data': 'the entry\'s compressed data is damaged',
  'read-failed': 'the archive could not be read',
};

// The same in Chinese, for an object that speaks it (the default).
const MESSAGES_ZH = {
  'not-zip': '\u4e0d\u662fzip\u538b\u7f29\u5305(\u6ca1\u6709\u7ed3\u675f\u8bb0\u5f55)',
  'bad-archive': '\u538b\u7f29\u5305\u7684\u7ed3\u675f\u8bb0\u5f55\u3001\u6761\u76ee\u6570\u6216\u504f\u79fb\u91cf\u4e0d\u4e00\u81f4',
  'overlap': '\u538b\u7f29\u5305\u7684\u6761\u76ee\u76f8\u4e92\u91cd\u53e0\u6216\u4e0e\u5176\u76ee\u5f55\u91cd\u53e0',
  'header-mismatch': '\u672c\u5730\u6587\u4ef6\u5934\u4e0e\u4e2d\u592e\u76ee\u5f55\u4e0d\u4e00\u81f4',
  'impossible-size': '\u58f0\u660e\u7684\u5927\u5c0f\u8d85\u51fa\u4e86\u538b\u7f29\u65b9\u6cd5\u7531\u538b\u7f29\u540e\u5927\u5c0f\u6240\u80fd\u4ea7\u751f\u7684\u5927\u5c0f',
  'unsupported-method': '\u4e0d\u652f\u6301\u8be5\u6761\u76ee\u7684\u538b\u7f29\u65b9\u6cd5',
  'encrypted': '\u6761\u76ee\u5df2\u52a0\u5bc6',
  'bad-crc': '\u6761\u76ee\u7684CRC-32\u4e0e\u5185\u5bb9\u4e0d\u7b26',
  'bad-size': '\u6761\u76ee\u5185\u5bb9\u4e0e\u58f0\u660e\u7684\u5927\u5c0f\u4e0d\u7b26',
  'bad-data': '\u6761\u76ee\u7684\u538b\u7f29\u6570\u636e\u5df2\u635f\u574f',
  'read-failed': '\u538b\u7f29\u5305\u8bfb\u53d6\u5931\u8d25',
};

// An error of the archive, its text in `language` ('zh' or 'en'); detail: [English, Chinese]
// where the code's own text does not say enough.
export function readError(language, code, entry, detail) {
  const zh = language !== 'en';
  const text = (entry ? (zh ? `[${entry.name}]` : `${entry.name}: `) : '')
    + (detail ? detail[zh ? 1 : 0] : (zh ? MESSAGES_ZH : MESSAGES)[code] || (zh ? MESSAGES_ZH['read-failed'] : code));
  const error = new TarnwickError({ method: 'openZip', text }, undefined);
  error.code = code;
  if (entry) error.entry = entry.name;
  return error;
}
