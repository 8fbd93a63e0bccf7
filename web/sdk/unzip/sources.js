// The archive a page opened, read at any offset. Bytes and a Node path answer synchronously (the
// module's reads go straight through); a Blob and a URL are read ahead asynchronously into a few
// windows, from which the module's synchronous reads are answered, a miss being noted so that the
// caller fetches it and asks again (reader.js, withReads).
import { TarnwickError } from '../control/contract.js';
import { abortError, isNode, nodeModule } from '../engine/platform.js';

const WINDOW = 8 * 1024 * 1024;       // bytes fetched at a time from a Blob or a server
const KEEP = 4;                       // windows kept

// texts: [English, Chinese]; language: the object's.
function failure(language, [en, zh]) {
  const text = language === 'en' ? en : zh;
  const error = new TarnwickError({ method: 'openZip', text }, undefined);
  error.code = 'read-failed';
  return error;
}

export class ReadAhead {
  static async of(source, signal, language = 'zh') {
    if (source instanceof ArrayBuffer) source = new Uint8Array(source);
    if (ArrayBuffer.isView(source)) {
      const bytes = new Uint8Array(source.buffer, source.byteOffset, source.byteLength);
      return new ReadAhead({ size: bytes.length, sync: (o, l) => bytes.subarray(o, o + l) });
    }
    if (typeof source === 'string' && isNode) {
      const fs = nodeModule('node:fs');
      let fd;
      try {
        fd = fs.openSync(source, 'r');
      } catch (e) {
        const error = failure(language, [`${source}: ${e.code === 'ENOENT' ? 'no such file' : e.message}`,
          e.code === 'ENOENT' ? `[${source}]\u6587\u4ef6\u4e0d\u5b58\u5728` : `\u6587\u4ef6[${source}]\u6253\u5f00\u5931\u8d25(${e.code || e.message})`]);
        if (e.code === 'ENOENT') error.code = 'not-found';
        throw error;
      }
      const size = fs.fstatSync(fd).size;
      return new ReadAhead({
        size,
        sync: (o, l) => {
          const bytes = new Uint8Array(l);
          return fs.readSync(fd, bytes, 0, l, o) === l ? bytes : null;
        },
        close: () => fs.closeSync(fd),
      });
    }
    if (typeof Blob === 'function' && source instanceof Blob) {
      const blob = source;
      return new ReadAhead({
        size: blob.size,
        fetch: async (o, l) => new Uint8Array(await blob.slice(o, o + l).arrayBuffer()),
      });
    }
    const url = source instanceof URL ? source : source && typeof source === 'object' && source.url ? new URL(String(source.url), typeof location === 'object' ? location.href : undefined) : null;
    if (url) return ReadAhead.ofUrl(url, signal, language);
    throw new TypeError('openZip: the source must be a File or Blob, bytes, a URL or { url }' + (isNode ? ', or a path' : ''));
  }

  // A server that answers range requests: the size from the first answer's Content-Range.
  static async ofUrl(url, signal, language) {
    const get = async (first, last) => {
      let response;
      try {
        response = await fetch(url, { headers: { Range: `bytes=${first}-${last}` }, signal });
      } catch (e) {
        if (signal && signal.aborted) throw abortError();
        throw failure(language, [`${url}: ${e.message}`, `[${url}]\u8bfb\u53d6\u5931\u8d25`]);
      }
      if (response.status === 404) throw Object.assign(failure(language, [`${url}: not found (404)`, `[${url}]\u4e0d\u5b58\u5728(404)`]), { code: 'not-found' });
      if (response.status !== 206) {
        if (response.body) response.body.cancel().catch(() => {});
        throw failure(language, [`${url}: the server does not answer range requests (status ${response.status}); the archive cannot be read a part at a time`,
          `[${url}]\u670d\u52a1\u5668\u4e0d\u652f\u6301\u5206\u6bb5\u8bf7\u6c42(\u72b6\u6001${response.status}),\u538b\u7f29\u5305\u65e0\u6cd5\u9010\u6bb5\u8bfb\u53d6`]);
      }
      const range = /\/(\d+)\s*$/.exec(response.headers.get('Content-Range') || '');
      return { bytes: new Uint8Array(await response.arrayBuffer()), total: range ? Number(range[1]) : NaN };
    };
    const probe = await get(0, 0);
    if (!Number.isFinite(probe.total)) throw failure(language, [`${url}: the server's answer gives no size (Content-Range)`, `[${url}]\u670d\u52a1\u5668\u7684\u5e94\u7b54\u6ca1\u6709\u7ed9\u51fa\u5927\u5c0f(Content-Range)`]);
    return new ReadAhead({
      size: probe.total,
      fetch: async (o, l) => {
        const { bytes } = await get(o, o + l - 1);
        if (bytes.length !== l) throw failure(language, [`${url}: the server sent ${bytes.length} bytes where ${l} were asked`, `[${url}]\u670d\u52a1\u5668\u53d1\u6765${bytes.length}\u5b57\u8282,\u8bf7\u6c42\u7684\u662f${l}\u5b57\u8282`]);
        return bytes;
      },
    });
  }

  constructor({ size, sync, fetch, close }) {
    this.language = 'zh';  // of the texts of its failures: the object's, set by openZip
    this.size = size;
    this._sync = sync || null;
    this._fetch = fetch || null;
    this._close = close || null;
    this.async = !sync;
    this.window = WINDOW;
    this.missed = null;
    this.keepAll = false;  // while the directory is listed: a directory of any size in as many windows as it takes
    this._windows = [];   // { start, bytes }, most recent last
  }

  // The bytes at [offset, offset + length), or null (a miss, noted) when they are not here yet.
  readSync(offset, length) {
    if (offset + length > this.size) return null;
    if (this._sync) return this._sync(offset, length);
    for (const w of this._windows) {
      if (offset >= w.start && offset + length <= w.start + w.bytes.length) {
        return w.bytes.subarray(offset - w.start, offset - w.start + length);
      }
    }
    if (!this.missed) this.missed = { offset, length };
    return null;
  }

  // Brings [offset, offset + length) in, with the window after it.
  async fetch(offset, length) {
    if (!this._fetch || length <= 0 || this.readSync(offset, length)) {
      this.missed = null;
      return;
    }
    this.missed = null;
    const end = Math.min(this.size, Math.max(offset + length, offset + WINDOW));
    const bytes = await this._fetch(offset, end - offset);
    this._windows.push({ start: offset, bytes });
    while (this._windows.length > (this.keepAll ? Infinity : KEEP)) this._windows.shift();
  }

  // Bytes read asynchronously where they must be (a Blob, a server).
  async read(offset, length) {
    const here = this.readSync(offset, length);
    if (here) return here.slice();
    this.missed = null;
    if (offset + length > this.size) throw failure(this.language, ['the archive ends before the entry does', '\u538b\u7f29\u5305\u5728\u6761\u76ee\u7ed3\u675f\u524d\u5c31\u5df2\u7ed3\u675f']);
    const bytes = await this._fetch(offset, length);
    return bytes;
  }

  close() {
    if (this._close) this._close();
    this._close = null;
    this._windows = [];
  }
}
