#!/usr/bin/env bash
# Runs a Windows program in the project's Wine prefix of TARNWICK_ARCH (win32 by default), with
# that architecture's loader (used as CMake's cross-compiling emulator).
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh" 2>/dev/null
exec "$TARNWICK_WINE" "$@"
