#!/usr/bin/env bash
# The control's methods under Wine beside the reference tools on the same files:
#   GetLocalFileSHA256 vs openssl dgst -sha256, GetLocalFileSM3 vs openssl dgst -sm3 (256 MiB),
#   CreateZipFromLocalFile vs zip -6 (100 MiB, half random, half text),
#   the text probe of GetLocalFileHeadSigned (100 MiB text),
#   and the peak memory of a process hashing a 1 GiB file (beside an idle one).
# Usage: bench/control/run.sh [DIST_DIR]   (after make dist)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
dist="${1:-$root/dist/win32}"
source "$root/tools/wine-env.sh" 2>/dev/null
work="$(mktemp -d /tmp/tarnwick-bench.XXXXXX)"
trap 'rm -rf "$work"' EXIT

head -c $((256 << 20)) /dev/urandom > "$work/data.bin"
python3 - "$work" <<'PY'
import os, sys
d = sys.argv[1]
line = b"The quick brown fox jumps over the lazy dog; 0123456789 tab\there.\r\n"
with open(os.path.join(d, "text.txt"), "wb") as f:
    f.write(line * ((100 << 20) // len(line)))
with open(os.path.join(d, "mixed.bin"), "wb") as f:
    for _ in range(50):
        f.write(os.urandom(1 << 20)); f.write(line * ((1 << 20) // len(line)))
PY
truncate -s 1G "$work/big.bin"

wine regsvr32 /s "$(winepath -w "$dist/tarnwick.OCX")"
wineserver -p 2>/dev/null || true
wine cmd /c exit >/dev/null 2>&1 || true
winwork="$(winepath -w "$work")"
# Warm the page cache so both sides read from memory.
cat "$work"/*.bin "$work"/text.txt > /dev/null

mbps() { python3 -c "import sys; b,ms=float(sys.argv[1]),float(sys.argv[2]); print('%8.0f' % (b/1e6/(ms/1e3)) if ms>0 else '     inf')" "$1" "$2"; }
ms_of() { local s e; s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N); echo $(( (e - s) / 1000000 )); }

printf '%-34s %10s %10s\n' "what" "ours MB/s" "ref MB/s"
out="$(wine cscript //nologo "$(winepath -w "$root/bench/control/methods.js")" "$winwork" | tr -d '\r')"
while read -r name bytes ms status; do
  case "$name" in
    GetLocalFileSHA256) ref=$(ms_of openssl dgst -sha256 "$work/data.bin"); label="SHA-256 (openssl dgst)";;
    GetLocalFileSM3) ref=$(ms_of openssl dgst -sm3 "$work/data.bin"); label="SM3 (openssl dgst)";;
    CreateZipFromLocalFile) ref=$(ms_of zip -6 -q "$work/ref.zip" "$work/mixed.bin"); rm -f "$work/ref.zip"; label="zip (zip -6)";;
    *) ref=""; label="text probe (no reference)";;
  esac
  printf '%-34s %10s %10s  %s\n' "$name" "$(mbps "$bytes" "$ms")" "$( [ -n "$ref" ] && mbps "$bytes" "$ref" || echo '       -')" "$label $status"
done <<< "$out"

# Peak resident memory (VmHWM) of the Windows process that runs the script, polled from /proc:
# the wine launcher itself is not the process that does the work.
peak() {
  local before; before="$(pgrep -f 'cscript.exe' | sort || true)"
  wine cscript //nologo "$(winepath -w "$root/bench/control/methods.js")" "$winwork" "$1" >/dev/null 2>&1 &
  local launcher=$! pid="" hwm=0 v
  while kill -0 "$launcher" 2>/dev/null; do
    [ -n "$pid" ] || pid="$(comm -13 <(echo "$before") <(pgrep -f 'cscript.exe' | sort) | tail -n 1)"
    if [ -n "$pid" ]; then
      v="$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)"
      [ -n "$v" ] && [ "$v" -gt "$hwm" ] && hwm="$v"
    fi
    sleep 0.05
  done
  echo "$hwm"
}
cp "$work/big.bin" "$work/data.bin"
idle=$(peak idle); hashing=$(peak sha256)
echo "peak resident memory, KiB: idle script $idle, hashing a 1 GiB file $hashing (difference $((hashing - idle)))"
wineserver -k 2>/dev/null || true
