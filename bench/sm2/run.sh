#!/usr/bin/env bash
# verifySm2() on a short message beside `openssl speed sm2` verifications (bench.mjs says how).
set -euo pipefail
cd "$(dirname "$0")/../.."
node bench/sm2/bench.mjs
