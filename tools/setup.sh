#!/usr/bin/env bash
# Installs what the project needs on a fresh Debian 12 machine: the i386 architecture, Wine with
# its 32-bit part, the mingw-w64 i686 tool chain and libraries, the tools the tests use, and for
# web/ emscripten, Chromium with a CJK font and the npm packages of web/package.json.
# Idempotent and quick when everything is already there.
set -euo pipefail

PACKAGES=(
  wine wine32:i386
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-tools
  libz-mingw-w64-dev libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev libksba-mingw-w64-dev
  cmake make python3 xvfb xauth x11-utils gcab cabextract zip unzip openssl
  googletest libgtest-dev libssl-dev libgcrypt20-dev libksba-dev zlib1g-dev clang libclang-rt-14-dev locales time
  emscripten chromium fonts-wqy-microhei
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  missing=("${PACKAGES[@]}")
else
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt-get -o DPkg::Lock::Timeout=900 update -qq
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine is run with LC_ALL=zh_CN.UTF-8 so that its ANSI code page is 936.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$'; then
  localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
# ... and once with en_US.UTF-8 for the English-desktop run (code page 1252).
if ! locale -a 2>/dev/null | grep -qi '^en_US\.utf8$'; then
  localedef -i en_US -f UTF-8 en_US.UTF-8
fi

# web/: the npm packages of web/package.json (puppeteer-core, hash-wasm, fflate), as locked.
web="$(cd "$(dirname "$0")/../web" && pwd)"
if [ ! -d "$web/node_modules/puppeteer-core" ] || [ "$web/package-lock.json" -nt "$web/node_modules/.package-lock.json" ]; then
  (cd "$web" && npm ci --no-audit --no-fund --loglevel=error)
fi

# The project's own 32-bit prefix under build/.
source "$(dirname "$0")/wine-env.sh"
echo "setup: ready (Wine prefix $WINEPREFIX)"
