// The WebAssembly module, fetched (read, in Node) and compiled once per address for everything
// on this page: the digest jobs' workers are handed the compiled module; the SDK's worker compiles
// its own (the page thread compiles nothing for the methods) and gives it back, or is handed the
// page's when a digest job compiled it first. A fetch or compile that failed is forgotten, so a
// later call tries again.
import { isNode, nodeModule } from './platform.js';

const compiled = new Map();   // address -> the module's promise
const settled = new Map();    // address -> the module, once compiled

export function moduleAt(wasmUrl) {
  const key = String(wasmUrl);
  if (!compiled.has(key)) {
    const bytes = isNode
      ? nodeModule('node:fs/promises').readFile(wasmUrl)
      : fetch(wasmUrl).then((r) => {
        if (!r.ok) throw new Error(`${key}: ${r.status}`);
        return r.arrayBuffer();
      });
    const made = bytes.then((b) => WebAssembly.compile(b));
    made.then((module) => settled.set(key, module), () => compiled.delete(key));
    compiled.set(key, made);
  }
  return compiled.get(key);
}

// The module compiled at this address, if it is here already.
export function compiledModule(wasmUrl) {
  return settled.get(String(wasmUrl));
}

// A module compiled elsewhere (the SDK's worker) for this address, kept unless one is here.
export function keepModule(wasmUrl, module) {
  const key = String(wasmUrl);
  if (compiled.has(key)) return;
  compiled.set(key, Promise.resolve(module));
  settled.set(key, module);
}
