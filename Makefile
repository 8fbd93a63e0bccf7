# tarnwick.OCX: cross-built for 32-bit Windows, run and tested under Wine.
#   make demo   set up, build, register and run the demo page script
#   make test   set up, build and run every test (native, unit under Wine, script)
#   make dist   leave the three modules in dist/win32/
#   make web    build what a page loads from web/ (the WebAssembly module beside the SDK)
#   make web-demo  serve web/ on 127.0.0.1 and print the demo's address

BUILD   := build
WIN32   := $(BUILD)/win32
NATIVE  := $(BUILD)/native
JOBS    ?= $(shell nproc)
WEB_WASM := web/sdk/tarnwick.wasm
WEB_INPUTS := $(wildcard src/core/*.cpp src/core/*.h src/core/zip/*.cpp src/core/zip/*.h) \
              web/module/module.cpp web/module/build.sh
WEB_PORT ?= 8736

.PHONY: all setup build dist demo test test-native test-win32 cab bench clean web web-demo

all: dist

setup:
	@tools/setup.sh

build: setup
	@cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(WIN32) -j $(JOBS)

dist: build
	@mkdir -p dist/win32
	@cp $(WIN32)/bin/tarnwick.OCX dist/win32/
	@for m in ziptool.dll OVALON.x86.dll; do [ ! -f $(WIN32)/bin/$$m ] || cp $(WIN32)/bin/$$m dist/win32/; done
	@ls -l dist/win32

demo: dist
	@tools/demo.sh

web: setup
	@$(MAKE) --no-print-directory $(WEB_WASM)

$(WEB_WASM): $(WEB_INPUTS)
	@web/module/build.sh $@ 2>&1 | grep -v 'undefined symbol: tw_read_at' || true
	@test -s $@

web-demo: web
	@cd web && node tools/serve.mjs $(WEB_PORT)

test: dist web
	@tools/test.sh $(WIN32) $(NATIVE)

test-native: setup web
	@tools/test.sh --native-only $(WIN32) $(NATIVE)

cab: dist
	@tools/make-cab.sh

bench: dist web
	@tools/bench.sh

clean:
	rm -rf $(BUILD) dist
