#!/usr/bin/env bash
# Registers the control from dist/win32 in the project's Wine prefix and runs the demo page
# script on the sample files in demo/. The script writes \uXXXX escapes (Wine's console host
# cannot print CJK text to a pipe); they are turned back into characters here.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/tools/wine-env.sh" 2>/dev/null
wine regsvr32 /s "$(winepath -w "$root/dist/win32/tarnwick.OCX")"
wine cscript //nologo "$(winepath -w "$root/demo/demo.js")" "$(winepath -w "$root/demo/samples")" |
  tr -d '\r' | python3 -c 'import sys,re; sys.stdout.write(re.sub(r"\\u([0-9a-fA-F]{4})", lambda m: chr(int(m.group(1),16)), sys.stdin.read()))'
