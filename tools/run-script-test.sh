#!/usr/bin/env bash
# Runs one script suite under Wine's cscript against the registered control.
#   [TARNWICK_ARCH=win64] run-script-test.sh SUITE.js BIN_DIR
# With TARNWICK_ARCH=win64 the suite runs in the 64-bit prefix through Wine's 64-bit cscript
# (tools/wine-env.sh), against a 64-bit control.
# A suite may come with SUITE.prep.sh, run first with the fixture and bin directories, and with
# SUITE.post.sh, run after it with the fixture directory (for checks by tools outside Wine).
# The suite passes only if it prints its summary line with no failures and exits 0: a script
# that dies early or never reaches the end cannot pass.
set -u
suite="$1"; bin="$(cd "$2" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh" 2>/dev/null
name="$(basename "$suite")"; base="${name%.*}"; ext="${name##*.}"
work="$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-script.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/fixture"
prep="$(dirname "$suite")/$base.prep.sh"
if [ -x "$prep" ] || [ -f "$prep" ]; then bash "$prep" "$work/fixture" "$bin" || { echo "prep failed"; exit 1; }; fi

# Whatever the suite leaves in the temporary directory is a fault.
tempdir="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
mkdir -p "$tempdir"
ls -A "$tempdir" | sort > "$work/temp.before"

lib="$(dirname "$suite")/lib"
if [ "$ext" = js ]; then
  { cat "$lib/harness.js"; echo "try {"; cat "$suite"; echo
    echo '} catch (e) { ok(false, "script died: " + e.message + " (" + (e.number >>> 0).toString(16) + ")"); }'
    echo 'finish();'; } > "$work/suite.js"
  script="$work/suite.js"
else
  { cat "$lib/harness.vbs"; cat "$suite"; echo; echo 'Finish'; } > "$work/suite.vbs"
  script="$work/suite.vbs"
fi

"$TARNWICK_WINE" cscript //nologo "$(winepath -w "$script" 2>/dev/null)" \
    "$(winepath -w "$work/fixture" 2>/dev/null)" "$(winepath -w "$bin" 2>/dev/null)" >"$work/out" 2>&1
rc=$?
# A suite may have registered copies of the control: the build's own is registered again
# (not when the suite ran against an installed control: TARNWICK_REREGISTER=0).
if [ "${TARNWICK_REREGISTER:-1}" != 0 ]; then
  "$TARNWICK_WINE" regsvr32 /s "$(winepath -w "$bin/tarnwick.OCX" 2>/dev/null)"
fi
out="$(tr -d '\r' < "$work/out")"
echo "$out"
ls -A "$tempdir" | sort > "$work/temp.after"
left="$(comm -13 "$work/temp.before" "$work/temp.after")"
if [ -n "$left" ]; then echo "left in the temporary directory:"; echo "$left"; while read -r n; do rm -rf "${tempdir:?}/$n"; done <<< "$left"; exit 1; fi
post="$(dirname "$suite")/$base.post.sh"
if [ -f "$post" ]; then bash "$post" "$work/fixture" || { echo "post-check failed"; exit 1; }; fi
summary="$(echo "$out" | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -n 1)"
if [ -z "$summary" ]; then echo "no summary line: the suite died"; exit 1; fi
case "$summary" in *" 0 failed") ;; *) exit 1 ;; esac
[ "$rc" -eq 0 ] || { echo "cscript exited $rc"; exit 1; }
exit 0
