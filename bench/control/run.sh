#!/usr/bin/env bash
# The control's methods under Wine, 32-bit and 64-bit, beside the reference tools on the same
# files in the same run, with the ratio (ours / reference, above 1 is faster):
#   GetLocalFileSHA256 vs `openssl speed -evp sha256` (16 KiB blocks in memory: the CPU's limit)
#     and `openssl dgst -sha256`; GetLocalFileSM3 without and with the Z value vs `openssl speed
#     -evp sm3` and `openssl dgst -sm3` (1 GiB of random bytes);
#   CreateZipFromLocalFile vs `pigz -6 -p <cores>` and `zip -6` on 256 MiB of text, on 256 MiB of
#     plainer text that deflate gets through nearly three times as fast (bench/texts.py: lines of
#     12 words drawn evenly from 5,000 random lowercase words; there what is not deflate shows
#     most) and on 256 MiB half random, half text (archive sizes against zip -6's);
#   the peak extra memory of a process hashing and packing beside an idle one.
# Every figure is the best of three rounds; each round runs ours and every reference once, in
# turn, so that load from elsewhere on the machine falls on all of them alike. `openssl speed`
# runs with -elapsed: wall-clock time, as every other figure here (its default divides by CPU
# time, which on a busy machine is not what the others get).
# Usage: bench/control/run.sh [DIST_DIR] [DIGEST_MIB] [ZIP_MIB] [WHAT]   (after make dist)
#   WHAT: the figures to take, from "sha256 sm3 text words mixed memory" (all of them by default)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
dist="${1:-$root/dist}"
digest_mib="${2:-1024}"; zip_mib="${3:-256}"; what=" ${4:-sha256 sm3 text words mixed memory} "
wanted() { [[ "$what" == *" $1 "* ]]; }
rounds=3
cores="$(nproc)"
work="$(mktemp -d /tmp/tarnwick-bench.XXXXXX)"
archs=(win32 win64)
inwine() {  # ARCH COMMAND...: runs a Windows program in that architecture's prefix
  local arch="$1"; shift
  TARNWICK_ARCH="$arch" bash -c 'source "$1/tools/wine-env.sh" 2>/dev/null; shift; exec "$@"' _ "$root" "$@"
}
wine_of() { [ "$1" = win64 ] && echo /usr/lib/wine/wine64 || echo wine; }
cleanup() {
  rm -rf "$work"
  for arch in "${archs[@]}"; do inwine "$arch" wineserver -k 2>/dev/null || true; done
}
trap cleanup EXIT

head -c $((digest_mib << 20)) /dev/urandom > "$work/data.bin"
# The two texts (bench/texts.py), then a file half random, half text.
python3 "$root/bench/texts.py" "$work" "$zip_mib" text words
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

for arch in "${archs[@]}"; do
  inwine "$arch" wineserver -p 2>/dev/null || true
  inwine "$arch" "$(wine_of "$arch")" regsvr32 /s "$(inwine "$arch" winepath -w "$dist/$arch/tarnwick.OCX")"
  inwine "$arch" "$(wine_of "$arch")" cmd /c exit >/dev/null 2>&1 || true
done
winwork="$(inwine win32 winepath -w "$work")"
methods="$(inwine win32 winepath -w "$root/bench/control/methods.js")"
cat "$work"/*.bin > /dev/null   # both sides read from the page cache

declare -A best size
keep() {  # KEY MS [SIZE]: keeps the smallest time of a key
  if [ -z "${best[$1]:-}" ] || [ "$2" -lt "${best[$1]}" ]; then best[$1]=$2; fi
  [ -z "${3:-}" ] || size[$1]=$3
}
timed() {  # KEY COMMAND...: runs it once, keeps its time
  local key="$1" s e; shift
  s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N)
  keep "$key" $(( (e - s) / 1000000 ))
}
speed() {  # KEY ALGORITHM: openssl speed's 16 KiB figure, kept as the ms for DIGEST_MIB
  local kbps; kbps=$(openssl speed -elapsed -evp "$2" -bytes 16384 -seconds 3 2>/dev/null | awk 'END { print $2 }')
  kbps=${kbps%k}
  keep "$1" "$(python3 -c "import sys; print(int(round(float(sys.argv[1]) * 1048576 / (float(sys.argv[2]) * 1000) * 1000)))" "$digest_mib" "$kbps")"
}
ours() {  # ARCH WHAT: the control's methods, one run each
  local name bytes ms extra
  while read -r name bytes ms extra; do
    case "$extra" in FAILED*) echo "$1 $name failed: $extra" >&2; continue;; esac
    keep "$1:$name" "$ms" "$extra"
  done < <(inwine "$1" "$(wine_of "$1")" cscript //nologo "$methods" "$winwork" "$2" 1 | tr -d '\r')
}
zip6() { rm -f "$work/ref.zip"; (cd "$work" && zip -6 -q ref.zip "$1"); size[zip6:$1]=$(stat -c %s "$work/ref.zip"); }

for _ in $(seq $rounds); do
  if wanted sha256; then
    for arch in "${archs[@]}"; do ours "$arch" sha256; done
    speed speed:sha256 sha256
    timed dgst:sha256 openssl dgst -sha256 "$work/data.bin"
  fi
  if wanted sm3; then
    for arch in "${archs[@]}"; do ours "$arch" sm3; done
    speed speed:sm3 sm3
    timed dgst:sm3 openssl dgst -sm3 "$work/data.bin"
  fi
  for file in text words mixed; do
    wanted $file || continue
    for arch in "${archs[@]}"; do ours "$arch" "$(case $file in text) echo ziptext;; words) echo zipwords;; *) echo zip;; esac)"; done
    timed "pigz:$file" sh -c "pigz -6 -p $cores -c '$work/$file.bin' > '$work/ref.gz'"
    s=$(date +%s%N); zip6 "$file.bin"; e=$(date +%s%N); keep "zip6:$file" $(( (e - s) / 1000000 ))
  done
done

mbps() { python3 -c "import sys; print('%.0f' % (float(sys.argv[1]) / 1e6 / (float(sys.argv[2]) / 1e3)))" "$1" "$2"; }
ratio() { python3 -c "import sys; print('%.2f' % (float(sys.argv[2]) / float(sys.argv[1])))" "$1" "$2"; }
digest_bytes=$((digest_mib << 20)); zip_bytes=$(stat -c %s "$work/text.bin")
echo "control under Wine, best of $rounds rounds (load average at the end: $(cut -d' ' -f1-3 /proc/loadavg), $cores cores)"
printf '%-30s %-6s %9s  %-28s %9s %7s\n' "what" "arch" "ours MB/s" "reference" "ref MB/s" "ratio"
row() {  # NAME BYTES OURS_KEY REF_KEY|LABEL...: a line for each architecture and reference
  local name="$1" bytes="$2" key="$3" arch ref; shift 3
  for arch in "${archs[@]}"; do
    [ -n "${best[$arch:$key]:-}" ] || { printf '%-30s %-6s %9s\n' "$name" "$arch" "failed"; continue; }
    for ref in "$@"; do
      printf '%-30s %-6s %9s  %-28s %9s %7s\n' "$name" "$arch" "$(mbps "$bytes" "${best[$arch:$key]}")" "${ref#*|}" \
        "$(mbps "$bytes" "${best[${ref%%|*}]}")" "$(ratio "${best[$arch:$key]}" "${best[${ref%%|*}]}")"
    done
  done
}
! wanted sha256 || row "GetLocalFileSHA256 ${digest_mib} MiB" "$digest_bytes" GetLocalFileSHA256 "speed:sha256|openssl speed -evp sha256" "dgst:sha256|openssl dgst -sha256"
! wanted sm3 || row "GetLocalFileSM3" "$digest_bytes" GetLocalFileSM3 "speed:sm3|openssl speed -evp sm3" "dgst:sm3|openssl dgst -sm3"
! wanted sm3 || row "GetLocalFileSM3 with Z" "$digest_bytes" GetLocalFileSM3+Z "speed:sm3|openssl speed -evp sm3" "dgst:sm3|openssl dgst -sm3"
! wanted text || row "CreateZip ${zip_mib} MiB text" "$zip_bytes" CreateZipFromLocalFile:text "pigz:text|pigz -6 -p $cores" "zip6:text|zip -6"
! wanted words || row "CreateZip ${zip_mib} MiB words" "$zip_bytes" CreateZipFromLocalFile:words "pigz:words|pigz -6 -p $cores" "zip6:words|zip -6"
! wanted mixed || row "CreateZip ${zip_mib} MiB mixed" "$zip_bytes" CreateZipFromLocalFile:mixed "pigz:mixed|pigz -6 -p $cores" "zip6:mixed|zip -6"
for file in text words mixed; do
  wanted $file || continue
  for arch in "${archs[@]}"; do
    s="${size[$arch:CreateZipFromLocalFile:$file]:-}"; [ -n "$s" ] || continue
    echo "archive of the $file, $arch: $s bytes, zip -6 ${size[zip6:$file.bin]} ($(python3 -c "import sys; print('%+.2f%%' % (100.0 * (int(sys.argv[1]) - int(sys.argv[2])) / int(sys.argv[2])))" "$s" "${size[zip6:$file.bin]}"))"
  done
done

# Peak resident memory (VmHWM) of the Windows process that runs the script, polled from /proc.
peak() {  # ARCH WHAT
  local before; before="$(pgrep -f 'cscript.exe' | sort || true)"
  inwine "$1" "$(wine_of "$1")" cscript //nologo "$methods" "$winwork" "$2" 1 >/dev/null 2>&1 &
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
wanted memory || exit 0
for arch in "${archs[@]}"; do
  idle=$(peak "$arch" idle); hashing=$(peak "$arch" sha256); sm3=$(peak "$arch" sm3)
  text=$(peak "$arch" ziptext); mixed=$(peak "$arch" zip)
  echo "peak extra resident memory, $arch, KiB (beside an idle script of $idle): SHA-256 $((hashing - idle)), SM3 $((sm3 - idle)), zip of the text $((text - idle)), of the mixed file $((mixed - idle))"
done
