#!/usr/bin/env bash
# Reading archives in Chromium beside zip.js in the same page: bench.mjs says how.
set -euo pipefail
cd "$(dirname "$0")/../.."
node bench/unzip/bench.mjs
