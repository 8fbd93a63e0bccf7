// The failure contract: a method resolves with the control's result, on failure with the
// control's failure value and the text for GetLastErrorInfo; a checked call rejects a failure with
// a TarnwickError instead. The control's method list, and the call options a page passes.

// A call's outcome besides its result: the text it leaves (undefined: the shared text is left as
// it was), whether that text tells of a failure, and the engine's or zip's status where there is one.
export class Outcome {
  constructor(method) {
    this.method = method;
    this.text = undefined;
    this.failed = false;
  }

  fail(message, extra) {
    this.text = message;
    this.failed = true;
    return Object.assign(this, extra);
  }
}

export class Refusal {
  constructor(message) { this.message = message; }
}

/** A failure of a checked call: the control's text, with the engine's or zip's status if any. */
export class TarnwickError extends Error {
  constructor(outcome, result) {
    // One line: the control's Windows texts end in a line break before their code ("...\r\n (38)").
    super(outcome.text == null ? undefined : String(outcome.text).replace(/[ \t]*\r?\n[ \t]*/g, ' ').trim());
    this.name = 'TarnwickError';
    this.text = outcome.text;
    this.method = outcome.method;
    this.result = result;
    if (outcome.engineStatus !== undefined) this.engineStatus = outcome.engineStatus;
    if (outcome.zipStatus !== undefined) this.zipStatus = outcome.zipStatus;
    if (outcome.code !== undefined) this.code = outcome.code;  // 'unavailable': the module did not load
  }
}

// The control's methods: how many of the control's own arguments each takes, and the result that
// tells of a failure.
export const METHODS = {
  GetLocalFileSize: [1, -1], GetLocalFileHeadSigned: [1, ''], CreateZipFromLocalFile: [1, ''],
  DeleteFileFromCreateZip: [1, -1], GetLocalFileSHA256: [1, ''], GetLocalFileSM3: [3, ''],
  GetMemFileHeadSigned: [2, ''], GetMemFileSM3: [3, ''], GetMemFileSize: [1, -1],
  GetMemMD5FileHeadSigned: [2, ''], GetMemFileSHA256: [1, ''], CreateZipFromMemFile: [2, ''],
};

// The page's progress callback runs on its own: what it throws is reported as the page's own
// error and does not end the call.
function progressOf(onProgress) {
  if (typeof onProgress !== 'function') return undefined;
  return (done, total) => {
    try {
      onProgress(done, total);
    } catch (e) {
      if (typeof reportError === 'function') reportError(e);
    }
  };
}

// The call options a page passed, read once; anything else (or options that throw when read)
// stands for none.
export function hooksOf(options) {
  if (!options || typeof options !== 'object') return {};
  try {
    const signal = options.signal;
    return {
      onProgress: progressOf(options.onProgress),
      signal: signal && typeof signal === 'object' && 'aborted' in signal && typeof signal.addEventListener === 'function'
        ? signal : undefined,
    };
  } catch (e) {
    return {};
  }
}
