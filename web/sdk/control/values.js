// Script values as the control's script bridge reads them: numbers, texts, and the bytes of a
// memory file (a typed array, an ArrayBuffer, or an array-like of byte values).
import { messagesFor, format } from './messages.js';
import { Refusal } from './contract.js';
import { pause } from '../engine/platform.js';

const YIELD_EVERY = 1 << 20;      // array elements between turns given away

// A text as the page's script turns it into a number (the control's ScriptTextToNumber): blanks
// around, then a decimal number (sign, digits with one optional point, optional exponent) or "0x"
// with hex digits; anything else, and a text without digits, is no number.
function textToNumber(value) {
  const t = value.trim();
  if (/^0[xX][0-9a-fA-F]+$/.test(t)) return parseInt(t.slice(2), 16);
  if (!/^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(t)) return null;
  const n = Number(t);
  return Number.isFinite(n) ? n : null;
}

// A script value as a number the way the control reads array elements and lengths, or null.
export function numberOf(value, forLength) {
  if (typeof value === 'number') return Number.isFinite(value) ? value : null;
  if (typeof value === 'boolean') return forLength ? null : (value ? 1 : 0);
  if (typeof value === 'string') return textToNumber(value);
  return null;
}

// A property of a page's value as the control's array bridge meets it: a getter that throws is a
// failed Invoke.
export function property(object, key) {
  try {
    return { value: object[key] };
  } catch (e) {
    return null;
  }
}

// The buffer behind bytes, or null when it has been detached (transferred away): such bytes are
// an empty memory file, as their length of 0 says.
export function viewOf(array) {
  try {
    if (ArrayBuffer.isView(array)) {
      if (array.buffer.detached) return new Uint8Array(0);
      return array instanceof Uint8Array ? array : new Uint8Array(array.buffer, array.byteOffset, array.byteLength);
    }
    if (array instanceof ArrayBuffer) return array.detached ? new Uint8Array(0) : new Uint8Array(array);
  } catch (e) {
    return new Uint8Array(0);  // detached where the platform has no `detached` to ask
  }
  return null;
}

// The length of a memory file, or a Refusal in the texts of `m` (messagesFor).
export function lengthOf(array, { text } = messagesFor('zh')) {
  if (array === null || array === undefined) return new Refusal(text.attrObjectNull);
  const view = viewOf(array);
  if (view) return view.byteLength;
  if (typeof array !== 'object' && typeof array !== 'function') return new Refusal(format(text.attrLookupFailed, 'length'));
  if (!('length' in array)) return new Refusal(format(text.attrLookupFailed, 'length'));
  const got = property(array, 'length');
  const n = got && numberOf(got.value, true);
  if (n === null || Math.abs(n) >= 2 ** 31) return new Refusal(format(text.attrGetFailed, 'length'));
  return Math.trunc(n);
}

// The bytes of a memory file (a Uint8Array over the page's own memory where it is bytes already),
// or a Refusal. A long array is read with turns given away, so that a cancel is heard.
export async function bytesOf(array, signal, m = messagesFor('zh')) {
  const { text } = m;
  const view = viewOf(array);
  if (view) return view;
  const length = lengthOf(array, m);
  if (length instanceof Refusal) return length;
  const bytes = new Uint8Array(Math.max(length, 0));
  for (let i = 0; i < bytes.length; i++) {
    if (i % YIELD_EVERY === YIELD_EVERY - 1) await pause(signal);
    if (!(i in array)) return new Refusal(format(text.elementLookupFailed, i));
    const got = property(array, i);
    const n = got && numberOf(got.value, false);
    if (n === null) return new Refusal(format(text.elementGetFailed, i));
    bytes[i] = Math.trunc(n) & 255;  // exact for |n| < 2^53
  }
  return bytes;
}

// A value where the control takes text, as the page's script engine turns it into one.
export function textOf(value) {
  if (value === undefined || value === null) return '';
  try {
    return String(value);
  } catch (e) {
    return typeof value === 'symbol' ? value.toString() : '';
  }
}
