#!/usr/bin/env bash
# The SDK in headless Chromium beside hash-wasm, crypto.subtle and fflate (bench.mjs says how), then
# the memory of an archive of 20,000 files and 8 GiB in Node (node-archive.mjs), then reading archives
# in Node beside zip.js, yauzl and unzip -t (unzip-node.mjs).
set -euo pipefail
cd "$(dirname "$0")/../.."
node bench/web/bench.mjs
node bench/web/node-archive.mjs
node bench/web/unzip-node.mjs
