#!/usr/bin/env bash
# `make web` on a broken module source: make fails, says why, and leaves no module behind (not
# the old one, not a half-written one), so nothing stale is tested or shipped.
# Run on a copy of the sources the module is built from.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/web/sdk" "$work/src"
cp "$root/Makefile" "$work/"
cp -r "$root/web/module" "$work/web/"
cp -r "$root/src/core" "$work/src/"
printf 'stale module' > "$work/web/sdk/tarnwick.wasm"
touch -d '2000-01-01' "$work/web/sdk/tarnwick.wasm"
echo 'this is not C++;' >> "$work/web/module/module.cpp"
if make -C "$work" --no-print-directory web/sdk/tarnwick.wasm > "$work/log" 2>&1; then
  echo "web-build-fails: FAIL: make succeeded on a broken module source"; exit 1
fi
grep -q "did not build" "$work/log" || { cat "$work/log"; echo "web-build-fails: FAIL: no word of the failure"; exit 1; }
left="$(ls -A "$work/web/sdk")"
[ -z "$left" ] || { echo "web-build-fails: FAIL: left in web/sdk: $left"; exit 1; }
echo "web-build-fails: ok: a broken module source fails make and leaves no module"
