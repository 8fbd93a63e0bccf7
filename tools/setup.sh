#!/usr/bin/env bash
# Installs what the project needs on a fresh Debian 12 machine: the i386 architecture, Wine with
# its 32-bit and 64-bit parts, the mingw-w64 i686 and x86_64 tool chains and libraries (the zlib,
# libgcrypt, libgpg-error and libksba packages carry both architectures), osslsigncode for
# Authenticode signing, wixl for the MSI, the tools the tests use (7z and bsdtar besides unzip judge
# the SDK's archives), and for web/ emscripten, Chromium, Firefox ESR and WebKitGTK (its WebDriver
# and MiniBrowser) with a CJK font, and the npm packages of web/package.json.
# Idempotent and quick when everything is already there.
set -euo pipefail

PACKAGES=(
  wine wine32:i386 wine64
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-tools
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev libksba-mingw-w64-dev
  osslsigncode wixl msitools
  cmake make python3 dpkg-dev bzip2 xz-utils xvfb xauth x11-utils gcab cabextract zip unzip pigz openssl
  googletest libgtest-dev libssl-dev libgcrypt20-dev libksba-dev zlib1g-dev clang libclang-rt-14-dev locales time
  emscripten chromium fonts-wqy-microhei firefox-esr webkit2gtk-driver p7zip-full libarchive-tools
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

# The zlib source the Windows modules compile (a warning and the prebuilt zlib without network).
"$(dirname "$0")/fetch-zlib.sh"

# The fuzz targets need clang's libFuzzer: without it they would not be built, so setup fails.
fuzz_probe="$(mktemp -d)"
printf 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }\n' > "$fuzz_probe/f.cpp"
if ! clang++ -fsanitize=fuzzer "$fuzz_probe/f.cpp" -o "$fuzz_probe/f" 2>"$fuzz_probe/log"; then
  cat "$fuzz_probe/log"; rm -rf "$fuzz_probe"
  echo "setup: clang++ cannot build a libFuzzer target (packages clang, libclang-rt-14-dev)"; exit 1
fi
rm -rf "$fuzz_probe"

# Wine is run with LC_ALL=zh_CN.UTF-8 so that its ANSI code page is 936.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$'; then
  localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
# ... and once with en_US.UTF-8 for the English-desktop run (code page 1252).
if ! locale -a 2>/dev/null | grep -qi '^en_US\.utf8$'; then
  localedef -i en_US -f UTF-8 en_US.UTF-8
fi

# web/: the npm packages of web/package.json (puppeteer-core, hash-wasm, fflate, typescript; vite,
# webpack and webpack-cli for the package test), as locked.
web="$(cd "$(dirname "$0")/../web" && pwd)"
if [ ! -d "$web/node_modules/puppeteer-core" ] || [ "$web/package-lock.json" -nt "$web/node_modules/.package-lock.json" ]; then
  (cd "$web" && npm ci --no-audit --no-fund --loglevel=error)
fi

# The project's own prefixes under build/: 32-bit and 64-bit.
prefixes=()
for arch in win32 win64; do
  prefixes+=("$(TARNWICK_ARCH=$arch bash -c 'source "$1/wine-env.sh"; echo "$WINEPREFIX"' _ "$(dirname "$0")")")
done
echo "setup: ready (Wine prefixes ${prefixes[*]})"
