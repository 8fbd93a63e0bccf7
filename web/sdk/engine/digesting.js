// The engine's digesting: any kind of the core's table of digests, looked up by its name, through
// the module's one set of digest functions.
import { chunksOf, sizeOf, progressReporter } from './reading.js';

// The kind number of the digest the module names `name` ('sha256', 'sm3', ...), or -1.
export function digestKind(engine, name) {
  if (!engine._kinds) {
    engine._kinds = new Map();
    for (let kind = 0; kind < engine._x.tw_digest_count(); kind++) {
      engine._kinds.set(engine._cString(engine._x.tw_digest_name(kind)), kind);
    }
  }
  const kind = engine._kinds.get(name);
  return kind === undefined ? -1 : kind;
}

// The digest of a source by the kind named `name`, as upper-case hex. With withZ set, the Z
// value of the certificate goes first (the SDK asks for it with SM3); { status } is the crypto
// engine's status for the certificate.
export async function digest(engine, name, source, { withZ = 0, cert = '', onProgress, cancel } = {}) {
  const x = engine._x;
  const kind = digestKind(engine, name);
  if (kind < 0) throw new Error('unknown digest ' + name);
  const context = x.tw_digest_new(kind);
  if (!context) throw new Error('the module is out of memory');
  try {
    if (withZ) {
      const text = engine._text(String(cert || ''));
      const status = x.tw_digest_begin_z(context, text.pointer, text.length, 0);
      x.tw_free(text.pointer);
      if (status !== 0) return { status, hex: '' };
    }
    const total = sizeOf(source);
    const report = progressReporter(total, onProgress);
    let done = 0;
    for await (const chunk of chunksOf(source, cancel)) {
      engine._put(chunk);
      x.tw_digest_update(context, engine._in, chunk.length);
      done += chunk.length;
      report(done);
    }
    x.tw_digest_final(context, engine._out);
    return { status: 0, hex: engine._hex(engine._out, x.tw_digest_size(kind)) };
  } finally {
    x.tw_digest_delete(context);
  }
}

