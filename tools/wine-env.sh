# Sourced by the project's scripts: the project's own Wine prefix, code page 936.
#   TARNWICK_ARCH=win32 (the default): a 32-bit prefix under build/wineprefix, programs started
#     by `wine` (the 32-bit loader).
#   TARNWICK_ARCH=win64: a 64-bit prefix under build/wineprefix64, programs started by Wine's
#     64-bit loader. With wine32 installed `wine` starts the 32-bit loader even in a 64-bit
#     prefix, so `wine cscript` would be the 32-bit script host: use "$TARNWICK_WINE" instead.
# TARNWICK_WINEPREFIX (or TARNWICK_WINEPREFIX64) and TARNWICK_LOCALE name another prefix and
# locale (the English-desktop run uses build/wineprefix-1252 with en_US.UTF-8, code page 1252).
_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export TARNWICK_ARCH="${TARNWICK_ARCH:-win32}"
if [ "$TARNWICK_ARCH" = win64 ]; then
  export WINEARCH=win64
  export WINEPREFIX="${TARNWICK_WINEPREFIX64:-$_root/build/wineprefix64}"
  TARNWICK_WINE=/usr/lib/wine/wine64
else
  export WINEARCH=win32
  export WINEPREFIX="${TARNWICK_WINEPREFIX:-$_root/build/wineprefix}"
  TARNWICK_WINE=wine
fi
# TARNWICK_LOADER=wine starts 32-bit programs in the 64-bit prefix (the 32-bit cscript there).
TARNWICK_WINE="${TARNWICK_LOADER:-$TARNWICK_WINE}"
export TARNWICK_WINE
export LC_ALL="${TARNWICK_LOCALE:-zh_CN.UTF-8}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$TARNWICK_WINE" wineboot -i >/dev/null 2>&1
  wineserver -w
fi
