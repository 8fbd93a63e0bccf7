#!/usr/bin/env bash
# Checks a code-download CAB: it holds exactly the control, its two companions, the INF, the
# license and the third-party notices, with no directories; it passes cabextract's integrity test; and what it unpacks to is byte for byte
# the modules it was made from and the INF made from packaging/tarnwick.inf.in and VERSION.
# Usage: check-cab.sh CAB [MODULE_DIR]
set -uo pipefail
cab="$1"
modules="${2:-}"
root="$(cd "$(dirname "$0")/.." && pwd)"
expected="LICENSE
OVALON.x86.dll
THIRD-PARTY-NOTICES
tarnwick.OCX
tarnwick.inf
ziptool.dll"
failures=0
fail() { echo "check-cab: FAIL: $*" >&2; failures=$((failures + 1)); }

[ -f "$cab" ] || { echo "check-cab: FAIL: no $cab" >&2; exit 1; }

# gcab -l prints "name size date time attributes" per file.
listed="$(gcab -l "$cab" | tr -d '\r' | sed -E 's/ [0-9]+ [0-9-]+ [0-9:]+ 0x[0-9a-fA-F]+$//' |
          LC_ALL=C sort)" || fail "gcab cannot list $cab"
[ "$listed" = "$expected" ] || fail "gcab -l lists:
$listed
expected:
$expected"

cabextract -q -t "$cab" >/dev/null 2>&1 || fail "cabextract -t finds the archive damaged"
# cabextract -t prints "  name  OK  md5" for every file it could decompress.
tested="$(cabextract -t "$cab" 2>/dev/null | sed -n 's/^  \(.*\)  OK .*$/\1/p' | LC_ALL=C sort)"
[ "$tested" = "$expected" ] || fail "cabextract -t tests:
$tested"

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
"$root/tools/version.sh" render "$root/packaging/tarnwick.inf.in" "$out.inf"
trap 'rm -rf "$out" "$out.inf"' EXIT
if cabextract -q -d "$out" "$cab" >/dev/null 2>&1; then
  cmp -s "$out/tarnwick.inf" "$out.inf" || fail "the INF differs from packaging/tarnwick.inf.in with VERSION"
  for f in LICENSE THIRD-PARTY-NOTICES; do
    cmp -s "$out/$f" "$root/$f" || fail "the CAB's $f differs from the project's"
  done
  if [ -n "$modules" ]; then
    for m in tarnwick.OCX ziptool.dll OVALON.x86.dll; do
      cmp -s "$out/$m" "$modules/$m" || fail "$m differs from $modules/$m"
    done
  fi
  grep -q '^RegisterServer=yes' <(sed -n '/^\[tarnwick.OCX\]/,/^\[/p' "$out/tarnwick.inf") ||
    fail "the INF does not register the control"
else
  fail "cabextract cannot unpack $cab"
fi

if [ $failures -ne 0 ]; then
  echo "check-cab: $failures failure(s) in $cab" >&2
  exit 1
fi
echo "check-cab: $cab holds exactly the three modules, the INF and the notices, intact"
