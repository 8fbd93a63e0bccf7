#!/usr/bin/env bash
# What a page ships and when, beside hash-wasm + fflate (weight.mjs); then the module's digest
# speed beside the same module built with every source at -O3 (speed.mjs), the reference built
# here in this run.
set -euo pipefail
cd "$(dirname "$0")/../.."
node bench/weight/weight.mjs
reference="$(mktemp -d)"
trap 'rm -rf "$reference"' EXIT
ALL_O3=1 bash web/module/build.sh "$reference/all-o3.wasm" 2>/dev/null
ls -l web/sdk/tarnwick.wasm "$reference/all-o3.wasm" | awk '{ print $5, $NF }'
node bench/weight/speed.mjs "$reference/all-o3.wasm" web/sdk/tarnwick.wasm 15
