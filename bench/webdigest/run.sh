#!/usr/bin/env bash
# digest() beside hash-wasm, spark-md5 and node:crypto, in Chromium and in Node (bench.mjs says how).
set -euo pipefail
cd "$(dirname "$0")/../.."
node bench/webdigest/bench.mjs
