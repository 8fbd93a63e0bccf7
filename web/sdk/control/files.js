// What stands where the control takes a path: a picked File or Blob, bytes, or (in Node) a path
// to a local file, checked as the control checks paths.
import { messagesFor, format } from './messages.js';
import { firstByte } from '../engine/reading.js';
import { Refusal } from './contract.js';
import { isNode, nodeModule } from '../engine/platform.js';
import { viewOf, bytesOf, textOf } from './values.js';

const ERROR_ACCESS_DENIED = 5;

export function sizeOf(source) {
  return source.bytes ? source.bytes.length : source.blob.size;
}

// Node: a path is a local file, checked as the control checks paths: a device's name is refused
// wherever it stands, a name that does not exist is not found, anything but a file or directory on
// a disk (a device, pipe or socket) is not a disk file; a directory passes, and fails to open.
// `hostNames`: names as the host sees them (digest()), where a device's name is Windows's rule
// only: elsewhere a file called aux.txt or CON is a file like any other.
async function localPath(path, rules, hostNames, { text }) {
  const fs = nodeModule('node:fs');
  const last = path.replace(/[\\/]+$/, '').split(/[\\/:]/).pop();
  const deviceNames = !hostNames || process.platform === 'win32';
  if (deviceNames && await rules().isDeviceName(last)) return new Refusal(format(text.notADiskFile, path));
  let stat;
  try {
    stat = await fs.promises.stat(path);
  } catch (e) {
    return new Refusal(format(text.fileNotFound, path));
  }
  if (!stat.isFile() && !stat.isDirectory()) return new Refusal(format(text.notADiskFile, path));
  let openFailed = stat.isDirectory() ? ERROR_ACCESS_DENIED : 0;
  if (!openFailed) {
    try {
      await fs.promises.access(path, fs.constants.R_OK);
    } catch (e) {
      openFailed = ERROR_ACCESS_DENIED;
    }
  }
  if (openFailed) return { openFailed, path, source: null };
  const blob = await fs.openAsBlob(path);
  return { source: { blob, path }, path, lastModified: stat.mtimeMs };
}

// What stands where the control takes a path: { source, path, lastModified } ({ openFailed, path }
// for a path that exists but cannot be opened), or a Refusal in the texts of `m` (messagesFor).
// `hostNames`: see localPath.
export async function localFile(value, signal, rules, hostNames = false, m = messagesFor('zh')) {
  const { text } = m;
  if (value === undefined || value === null || value === '') return new Refusal(text.pathEmpty);
  if (typeof Blob === 'function' && value instanceof Blob) {
    const path = typeof value.name === 'string' ? value.name : '';
    if (path && await rules().isDeviceName(path)) return new Refusal(format(text.notADiskFile, path));
    if (value.size === 0) {
      // Empty, or gone before its size was first asked for.
      try {
        await firstByte(value);
      } catch (e) {
        return new Refusal(format(text.fileNotFound, path));
      }
    }
    return { source: { blob: value }, path, lastModified: value.lastModified };
  }
  const isBytes = viewOf(value) || (typeof value === 'object' && 'length' in value);
  if (!isBytes) {
    // Anything else is text to the control: a path.
    const path = textOf(value);
    if (path === '') return new Refusal(text.pathEmpty);
    if (isNode) return localPath(path, rules, hostNames, m);
    return new Refusal(format(text.fileNotFound, path));
  }
  const bytes = await bytesOf(value, signal, m);
  if (bytes instanceof Refusal) return bytes;
  return { source: { bytes }, path: '' };
}
