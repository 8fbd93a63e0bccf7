# tarnwick.OCX: cross-built for 32-bit Windows, run and tested under Wine.
#   make demo   set up, build, register and run the demo page script
#   make test   set up, build and run every test (native, unit under Wine, script)
#   make dist   leave the three modules in dist/win32/

BUILD   := build
WIN32   := $(BUILD)/win32
NATIVE  := $(BUILD)/native
JOBS    ?= $(shell nproc)

.PHONY: all setup build dist demo test test-native test-win32 cab bench clean

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

test: dist
	@tools/test.sh $(WIN32) $(NATIVE)

test-native: setup
	@tools/test.sh --native-only $(WIN32) $(NATIVE)

cab: dist
	@tools/make-cab.sh

bench: dist
	@tools/bench.sh

clean:
	rm -rf $(BUILD) dist
