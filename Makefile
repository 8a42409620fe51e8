# Vastrel: `make test` builds the native, sanitizer and Windows trees and runs
# every suite; `make demo` runs the program against the reference server;
# `make dist` puts the zip and the installer in dist/; `make bench` measures
# Release builds.
BUILD  ?= build
JOBS   ?= 2
SERVER := $(BUILD)/native/tools/update-server/vastrel-update-server
# The version is project()'s in CMakeLists.txt; the package names follow it.
VERSION := $(shell sed -n 's/^project(Vastrel VERSION \([0-9.]*\) .*)$$/\1/p' CMakeLists.txt)
CMAKE_BUILD = cmake --build $(1) -j$(JOBS)
CONFIGURE_NATIVE = cmake -S . -B $(BUILD)/native -DCMAKE_BUILD_TYPE=Debug >/dev/null
CONFIGURE_WINDOWS = cmake -S . -B $(BUILD)/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
                    -DCMAKE_BUILD_TYPE=Release >/dev/null

.PHONY: demo bench dist all deps native asan tsan windows fuzz-build fuzz test test-native test-asan test-tsan test-windows test-fuzz clean

all: native windows

deps:
	@tools/install-deps.sh

native: deps
	$(CONFIGURE_NATIVE)
	$(call CMAKE_BUILD,$(BUILD)/native)

asan: deps
	cmake -S . -B $(BUILD)/asan -DCMAKE_BUILD_TYPE=Debug -DVASTREL_SANITIZE=address,undefined >/dev/null
	$(call CMAKE_BUILD,$(BUILD)/asan)

tsan: deps
	cmake -S . -B $(BUILD)/tsan -DCMAKE_BUILD_TYPE=Debug -DVASTREL_SANITIZE=thread >/dev/null
	$(call CMAKE_BUILD,$(BUILD)/tsan)

windows: deps
	$(CONFIGURE_WINDOWS)
	$(call CMAKE_BUILD,$(BUILD)/windows)

# libFuzzer targets under AddressSanitizer and UndefinedBehaviorSanitizer.
FUZZ_SECONDS ?= 120
fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVASTREL_FUZZ=ON \
	  -DVASTREL_SANITIZE=address,undefined >/dev/null
	$(call CMAKE_BUILD,$(BUILD)/fuzz)

fuzz: fuzz-build
	tools/fuzz.sh $(BUILD)/fuzz $(FUZZ_SECONDS)

# The build's own output goes to a file: the demo shows the program's log
# and the verdict.
demo: deps
	@mkdir -p $(BUILD)/demo
	@echo "demo: building vastrel.exe and the reference server (output in $(BUILD)/demo/build.log)"
	@{ $(CONFIGURE_WINDOWS) && $(call CMAKE_BUILD,$(BUILD)/windows) --target vastrel && \
	   $(CONFIGURE_NATIVE) && $(call CMAKE_BUILD,$(BUILD)/native) --target vastrel-update-server; } \
	   >$(BUILD)/demo/build.log 2>&1 || { tail -n 30 $(BUILD)/demo/build.log; exit 1; }
	@tools/demo.sh $(BUILD)/windows/src/vastrel.exe $(SERVER)

# Release trees only: the program and the benchmark for Windows, and natively
# the benchmark and the reference server that serves both.
bench: windows
	cmake -S . -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release >/dev/null
	$(call CMAKE_BUILD,$(BUILD)/release) --target vastrel_bench vastrel-update-server
	tools/bench.sh $(BUILD)

dist: windows
	@mkdir -p dist
	cp $(BUILD)/windows/dist/vastrel-$(VERSION)-win64.zip $(BUILD)/windows/dist/vastrel-$(VERSION)-setup.exe dist/
	@ls -l dist/vastrel-$(VERSION)-*

test: test-native test-asan test-tsan test-windows test-fuzz

test-native: native
	tests/run-suite.sh $(BUILD)/native $(SERVER)

test-asan: asan native
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  tests/run-suite.sh $(BUILD)/asan $(SERVER)

# The threads: concurrent log writers, stores during rebuilds, the server.
test-tsan: tsan native
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 tests/run-suite.sh $(BUILD)/tsan $(SERVER)

test-windows: windows native
	tests/run-suite.sh $(BUILD)/windows $(SERVER) --wine

# A short run of every fuzz target, so they keep building and the seeds pass.
test-fuzz: fuzz-build
	tools/fuzz.sh $(BUILD)/fuzz 3

clean:
	rm -rf $(BUILD)
