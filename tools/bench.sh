#!/usr/bin/env bash
# Runs every benchmark under bench/ (each prints its figures beside a reference).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
for script in "$root"/bench/*/run.sh; do
  echo "== $(basename "$(dirname "$script")")"
  bash "$script" || echo "(benchmark failed)"
done
