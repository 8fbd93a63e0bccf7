#!/usr/bin/env bash
# The control's methods under Wine beside the reference tools on the same files, best of three
# runs each, with the ratio (ours / reference, above 1 is faster):
#   GetLocalFileSHA256 vs openssl dgst -sha256, GetLocalFileSM3 without and with the Z value vs
#   openssl dgst -sm3 (1 GiB of random bytes), CreateZipFromLocalFile vs zip -6 (256 MiB, half
#   random, half text; archive sizes compared), and the peak extra memory of a process hashing
#   and packing beside an idle one.
# Usage: bench/control/run.sh [DIST_DIR] [DIGEST_MIB] [ZIP_MIB]   (after make dist)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
dist="${1:-$root/dist/win32}"
digest_mib="${2:-1024}"; zip_mib="${3:-256}"
source "$root/tools/wine-env.sh" 2>/dev/null
work="$(mktemp -d /tmp/tarnwick-bench.XXXXXX)"
trap 'rm -rf "$work"; wineserver -k 2>/dev/null || true' EXIT

head -c $((digest_mib << 20)) /dev/urandom > "$work/data.bin"
python3 - "$work" "$zip_mib" <<'PY'
import os, sys
d, mib = sys.argv[1], int(sys.argv[2])
line = b"The quick brown fox jumps over the lazy dog; 0123456789 tab\there.\r\n"
with open(os.path.join(d, "mixed.bin"), "wb") as f:
    for _ in range(mib // 2):
        f.write(os.urandom(1 << 20)); f.write((line * ((1 << 20) // len(line) + 1))[:1 << 20])
PY
openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:SM2 -nodes -keyout "$work/k.pem" \
    -subj /CN=bench -days 1 -outform DER -out "$work/cert.der" 2>/dev/null
base64 -w0 "$work/cert.der" > "$work/cert.b64"

wine regsvr32 /s "$(winepath -w "$dist/tarnwick.OCX")"
wineserver -p 2>/dev/null || true
wine cmd /c exit >/dev/null 2>&1 || true
winwork="$(winepath -w "$work")"
cat "$work"/*.bin > /dev/null   # both sides read from the page cache

best_ms() {  # best of three runs of a command, in ms
  local best=0 s e ms
  for _ in 1 2 3; do
    s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N); ms=$(( (e - s) / 1000000 ))
    if [ "$best" -eq 0 ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}
mbps() { python3 -c "import sys; print('%8.0f' % (float(sys.argv[1]) / 1e6 / (float(sys.argv[2]) / 1e3)))" "$1" "$2"; }
ratio() { python3 -c "import sys; print('%5.2f' % (float(sys.argv[2]) / float(sys.argv[1])))" "$1" "$2"; }

ours="$(wine cscript //nologo "$(winepath -w "$root/bench/control/methods.js")" "$winwork" | tr -d '\r')"
sha_ref=$(best_ms openssl dgst -sha256 "$work/data.bin")
sm3_ref=$(best_ms openssl dgst -sm3 "$work/data.bin")
zip_ref=$(best_ms sh -c "rm -f '$work/ref.zip'; zip -6 -q '$work/ref.zip' '$work/mixed.bin'")
ref_size=$(stat -c %s "$work/ref.zip")

printf '%-36s %10s %10s %8s\n' "what (best of 3)" "ours MB/s" "ref MB/s" "ratio"
while read -r name bytes ms extra; do
  case "$name" in
    GetLocalFileSHA256) ref=$sha_ref; label="openssl dgst -sha256";;
    GetLocalFileSM3|GetLocalFileSM3+Z) ref=$sm3_ref; label="openssl dgst -sm3";;
    CreateZipFromLocalFile) ref=$zip_ref; label="zip -6; size ours $extra, zip -6 $ref_size ($(python3 -c "print('%+.2f%%' % (100.0 * ($extra - $ref_size) / $ref_size))"))";;
    *) continue;;
  esac
  printf '%-36s %10s %10s %8s  %s\n' "$name" "$(mbps "$bytes" "$ms")" "$(mbps "$bytes" "$ref")" "$(ratio "$ms" "$ref")" "$label"
done <<< "$ours"

# Peak resident memory (VmHWM) of the Windows process that runs the script, polled from /proc.
peak() {
  local before; before="$(pgrep -f 'cscript.exe' | sort || true)"
  wine cscript //nologo "$(winepath -w "$root/bench/control/methods.js")" "$winwork" "$1" 1 >/dev/null 2>&1 &
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
idle=$(peak idle); hashing=$(peak sha256); sm3=$(peak sm3); zipping=$(peak zip)
echo "peak extra resident memory, KiB (beside an idle script of $idle): SHA-256 of ${digest_mib} MiB $((hashing - idle)), SM3 $((sm3 - idle)), zip of ${zip_mib} MiB $((zipping - idle))"
