// Where the SDK runs: Node or a browser, and the turns a long loop on the page's thread gives
// away so that a cancel is heard.
export { abortError } from './reading.js';
import { abortError } from './reading.js';

export const isNode = typeof process === 'object' && !!(process.versions && process.versions.node);
// Node's own modules, asked of Node when they are needed: a bundler building a page sees no import
// of them (webpack refuses a node: import, Vite stubs it with a warning).
export const nodeModule = (name) => process.getBuiltinModule(name);

// Turns given to the event loop in long loops on the page's thread, so that a cancel is heard.
export function yieldTurn() {
  return new Promise((resolve) => (typeof setImmediate === 'function' ? setImmediate(resolve) : setTimeout(resolve, 0)));
}

export async function pause(signal) {
  await yieldTurn();
  if (signal && signal.aborted) throw abortError();
}

export function isAbort(e) {
  return !!e && typeof e === 'object' && e.name === 'AbortError';
}
