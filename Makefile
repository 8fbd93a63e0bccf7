# tarnwick.OCX: cross-built for 32-bit and 64-bit Windows, run and tested under Wine.
#   make demo   set up, build, register and run the demo page script
#   make test   set up, build and run every test (native; unit and script suites under Wine in
#               a 32-bit and a 64-bit prefix; signing, CAB and MSI checks; the browser suite)
#   make dist   leave the modules in dist/win32/ and dist/win64/
#   make sign   sign the six modules in dist/ (SIGN_PFX, SIGN_PASSWORD, SIGN_TIMESTAMP_URL;
#               without SIGN_PFX a throw-away test certificate is made and used)
#   make cab    dist/tarnwick.cab for code download (32-bit), signed
#   make msi    dist/tarnwick-<version>-x64.msi and -x86.msi for administrators, signed
#               (cab and msi sign only modules that carry no signature yet: a release signed by
#               `SIGN_PFX=... make sign` keeps its signatures)
#   make web    build what a page loads from web/ (the WebAssembly module beside the SDK)
#   make web-demo  serve web/ on 127.0.0.1 and print the demo's address

BUILD   := build
WIN32   := $(BUILD)/win32
WIN64   := $(BUILD)/win64
NATIVE  := $(BUILD)/native
JOBS    ?= $(shell nproc)
WEB_WASM := web/sdk/tarnwick.wasm
# The deflater the SDK's zip workers import, as the npm package (pinned in web/package-lock.json)
# ships it: copied beside the SDK, so that a page serving sdk/ as it is needs nothing else.
WEB_DEFLATE := web/sdk/zip/fflate.js
# The deflate workers' zlib (build-deflate.sh; without zlib's source they use fflate).
WEB_ZLIB := web/sdk/zip/tarnwick-deflate.wasm
WEB_INPUTS := $(wildcard src/core/*.cpp src/core/*.h src/core/zip/*.cpp src/core/zip/*.h src/interfaces/ovalon.h) \
              web/module/module.cpp web/module/build.sh
WEB_PORT ?= 8736

.PHONY: all setup build build-win32 build-win64 dist sign cab msi demo test test-native bench clean web web-demo

all: dist

setup:
	@tools/setup.sh

build: build-win32 build-win64

build-win32: setup
	@cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(WIN32) -j $(JOBS)

build-win64: setup
	@cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(WIN64) -j $(JOBS)

dist: build
	@tools/make-dist.sh $(WIN32) $(WIN64) dist

sign: dist
	@tools/sign.sh --dist dist

demo: dist
	@tools/demo.sh

web: setup
	@$(MAKE) --no-print-directory $(WEB_WASM) $(WEB_DEFLATE) $(WEB_ZLIB)

$(WEB_DEFLATE): web/node_modules/fflate/esm/browser.js
	@cp $< $@

$(WEB_WASM): $(WEB_INPUTS)
	@web/module/build.sh $@

$(WEB_ZLIB): web/module/deflate.c web/module/build-deflate.sh $(wildcard build/third_party/zlib/.unpacked-from)
	@web/module/build-deflate.sh $@

web-demo: web
	@cd web && node tools/serve.mjs $(WEB_PORT)

test: dist web
	@tools/test.sh $(WIN32) $(WIN64) $(NATIVE)

test-native: setup web
	@tools/test.sh --native-only $(WIN32) $(WIN64) $(NATIVE)

cab: dist
	@tools/sign.sh --keep-signed --dist dist
	@tools/make-cab.sh dist
	@tools/sign.sh dist/tarnwick.cab

msi: dist
	@tools/sign.sh --keep-signed --dist dist
	@tools/make-msi.sh dist
	@tools/sign.sh dist/tarnwick-$$(tools/version.sh PRODUCT_VERSION)-x64.msi dist/tarnwick-$$(tools/version.sh PRODUCT_VERSION)-x86.msi

bench: dist web
	@tools/bench.sh

clean:
	rm -rf $(BUILD) dist
