#!/usr/bin/env bash
# Runs every test: the Linux-native suites of the pure pieces (once: they do not depend on the
# Windows architecture), beside them the unit and script suites under Wine for each
# architecture, each in its own prefix (32-bit: build/wineprefix; 64-bit: build/wineprefix64,
# through Wine's 64-bit loader), then the packaging checks (signatures, CAB, MSI under Wine).
# Usage: test.sh [--native-only] WIN32_BUILD WIN64_BUILD NATIVE_BUILD
set -uo pipefail
native_only=0
if [ "${1:-}" = "--native-only" ]; then native_only=1; shift; fi
win32="$1"; win64="$2"; native="$3"
root="$(cd "$(dirname "$0")/.." && pwd)"
status=0
# Every GoogleTest program writes its report here; the run ends with the list of skipped cases.
reports="$root/build/test-reports"
rm -rf "$reports"; mkdir -p "$reports/native" "$reports/win32" "$reports/win64"
skips() {  # the list of skipped cases; with CI=true a skip fails unless the machine cannot run it
  local args=("native:$reports/native:1") arch build
  for arch in win32 win64; do
    [ $native_only -eq 1 ] && break
    build="$win32"; [ $arch = win64 ] && build="$win64"
    args+=("$arch:$reports/$arch:$(ls "$build"/bin/test_*.exe 2>/dev/null | wc -l)")
  done
  python3 "$root/tools/report-skips.py" "${args[@]}"
}
stamp() { printf '   (%s s)\n' "$(( $(date +%s) - $1 ))"; }

web_node() {
  bash "$root/tests/tools/web-build-fails.sh" || return 1
  echo "== web: the SDK in Node"
  local out
  if ! out="$(cd "$root/web" && npm test 2>&1)"; then echo "$out" | tail -40; return 1; fi
  echo "$out" | grep -E '^# (tests|pass|fail) '
}
# The npm package as a page author installs it: packed, installed by name into a scratch project,
# pages served as they are and built by Vite and webpack run in Chromium, Node, the command.
web_package() {
  echo "== web: the npm package (static, Vite and webpack pages in Chromium; Node; the command)"
  local t; t=$(date +%s)
  node "$root/web/test/package/run.mjs" || { stamp $t; return 1; }
  stamp $t
}
native_suites() {
  local t; t=$(date +%s)
  echo "== native suites"
  cmake -S "$root/tests/native" -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
    cmake --build "$native" -j "$(nproc)" >/dev/null &&
    (cd "$native" && GTEST_OUTPUT="xml:$reports/native/" ctest --output-on-failure -j 2)
  local rc=$?
  stamp $t
  return $rc
}
if [ $native_only -eq 1 ]; then native_suites || status=1; web_node || status=1; web_package || status=1; skips || status=1; exit $status; fi

# The native suites are mostly computing (builds, fuzzers, a 4 GiB archive), the Wine suites
# mostly waiting on Wine: they run side by side, and the native report follows the others.
native_log="$(mktemp)"
native_suites > "$native_log" 2>&1 &
native_pid=$!

# Message boxes need a display: the suites run under a virtual one. A wineserver started
# without a display keeps its display-less desktop, so it is restarted inside; kept persistent,
# it also keeps ctest from waiting on pipes held by Wine's helper processes.
wine_suites() {  # ARCH BUILD_DIR
  echo "== unit and script suites under Wine, $1 ($2)"
  local t; t=$(date +%s)
  TARNWICK_ARCH=$1 bash -c 'source "$1/tools/wine-env.sh" 2>/dev/null; wineserver -k 2>/dev/null; wineserver -w 2>/dev/null' _ "$root"
  TARNWICK_ARCH=$1 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    source "$1/tools/wine-env.sh" 2>/dev/null
    wineserver -p
    "$TARNWICK_WINE" cmd /c exit >/dev/null 2>&1
    export GTEST_OUTPUT="xml:$(winepath -w "$3" 2>/dev/null)\\"
    cd "$2" && ctest --output-on-failure
    rc=$?
    wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
    exit $rc' _ "$root" "$2" "$reports/$1" || status=1
  stamp $t
}
wine_suites win32 "$win32"
wine_suites win64 "$win64"

echo "== script suites on an English desktop (code page 1252, 32-bit)"
t=$(date +%s)
TARNWICK_ARCH=win32 "$root/tools/test-english-desktop.sh" "$win32" file_size.js memfile.js zip.js probe.js vbscript.vbs || status=1
stamp $t

echo "== packaging: signatures, versions, CAB, MSI"
t=$(date +%s)
for check in "$root"/tests/packaging/test-*.sh; do
  [ -f "$check" ] || continue
  echo "-- $(basename "$check")"
  bash "$check" "$root/dist" || { echo "FAILED: $(basename "$check")"; status=1; }
done
stamp $t

web_node || status=1
web_package || status=1

# The browser suite in headless Chromium, then the same corpus through the control registered
# in the project's code page 936 prefix (without a display now: the control's message boxes
# return at once).
echo "== web: the SDK in Chromium, and the cross-check of the SDK and the command with the control"
t=$(date +%s)
node "$root/web/test/browser/run.mjs" --cross "$win32/bin" || status=1
stamp $t
echo "== web: digest(), zip() and zipStream() in Firefox ESR and WebKitGTK"
t=$(date +%s)
node "$root/web/test/browser/others.mjs" || status=1
stamp $t
echo "== web: reading archives (openZip, extraction into the private file system) in Chromium, Firefox ESR and WebKitGTK"
t=$(date +%s)
node "$root/web/test/browser/unzip.mjs" || status=1
stamp $t

wait $native_pid || status=1
cat "$native_log"; rm -f "$native_log"
skips || status=1
exit $status
