#!/usr/bin/env bash
# The SDK in headless Chromium beside hash-wasm, crypto.subtle and fflate (bench.mjs says how).
set -euo pipefail
cd "$(dirname "$0")/../.."
node bench/web/bench.mjs
