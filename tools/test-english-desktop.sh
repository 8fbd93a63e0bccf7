#!/usr/bin/env bash
# The script suites once more on an English desktop: a prefix started with en_US.UTF-8, whose
# ANSI code page is 1252. The control's texts must read the same Chinese there as on a code page
# 936 desktop, and names outside the code page must work as everywhere.
# Usage: test-english-desktop.sh WIN32_BUILD SUITE...
set -uo pipefail
win32="$(cd "$1" && pwd)"; shift
root="$(cd "$(dirname "$0")/.." && pwd)"
export TARNWICK_WINEPREFIX="$root/build/wineprefix-1252" TARNWICK_LOCALE=en_US.UTF-8
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  root="$1"; bin="$2"; shift 2
  source "$root/tools/wine-env.sh" 2>/dev/null
  wineserver -p
  wine cmd /c exit >/dev/null 2>&1
  wine regsvr32 /s "$(winepath -w "$bin/tarnwick.OCX")"
  status=0
  for suite in "$@"; do
    if "$root/tools/run-script-test.sh" "$root/tests/script/$suite" "$bin" > /tmp/english-desktop.out 2>&1; then
      echo "english desktop: $suite passed"
    else
      echo "english desktop: $suite FAILED"; cat /tmp/english-desktop.out; status=1
    fi
  done
  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
  exit $status' _ "$root" "$win32/bin" "$@"
