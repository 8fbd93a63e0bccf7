# Sourced by the project's scripts: the project's own 32-bit Wine prefix, code page 936.
# TARNWICK_WINEPREFIX and TARNWICK_LOCALE name another prefix and locale (the English-desktop
# run uses build/wineprefix-1252 with en_US.UTF-8, code page 1252).
_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEARCH=win32
export WINEPREFIX="${TARNWICK_WINEPREFIX:-$_root/build/wineprefix}"
export LC_ALL="${TARNWICK_LOCALE:-zh_CN.UTF-8}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
