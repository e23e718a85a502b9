# Front door. `make run` builds and starts Voxmere; `make test` builds and runs every test.
# Both install the Debian packages they need first (only those that are missing).
PRESET ?= default
BUILD_DIR := build/$(PRESET)

.PHONY: all build test run package bench sanitize fuzz windows test-windows clean

all: build

# Everything, tests and benchmarks included (their packages too).
build:
	scripts/deps test
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

test:
	scripts/deps test
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)
	scripts/test-env run ctest --preset test

# The program alone: the packages for tests and benchmarks are not needed.
run:
	scripts/deps run
	cmake --preset run
	cmake --build --preset run
	scripts/run-voxmere build/run/bin/voxmere

# dist/voxmere_VERSION_ARCH.deb: the program alone, packaged by CPack. `make test` checks the
# package (lintian, desktop entry, AppStream, man page) and installs, uses and removes it.
package:
	scripts/deps package
	cmake --preset run
	cmake --build --preset run
	scripts/package build/run dist

# The unit and integration suites under AddressSanitizer with UndefinedBehaviorSanitizer, then
# under ThreadSanitizer. Their test presets set LD_LIBRARY_PATH to the build's bin/: the
# sanitizers' dlopen interceptor makes the runtime, not the test binary, the caller, so the
# binary's $ORIGIN RUNPATH no longer finds lame_enc.so. Tests named "...OnABusyMachine..." are
# left out there: their verdict is whether the recorder keeps up in real time against two
# spinning cores, which a sanitizer's several-fold slowdown decides, not the code; `make test`
# runs them.
sanitize:
	scripts/deps sanitize
	for p in asan tsan; do cmake --preset $$p && cmake --build --preset $$p || exit 1; done
	scripts/test-env run bash -c 'ctest --preset asan && ctest --preset tsan'

# The encoder module's record and input under libFuzzer, FUZZ_SECONDS long.
FUZZ_SECONDS ?= 60
fuzz:
	scripts/deps fuzz
	scripts/fuzz $(FUZZ_SECONDS)

# Voxmere side by side with parec | lame, ffmpeg and GStreamer on the test tone, against the
# floor of encoding alone; writes bench/REPORT.md. RECORD_SECONDS, IDLE_SECONDS,
# LATENCY_SESSIONS and STARTS shorten it (see bench/run).
bench:
	scripts/deps bench
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)
	scripts/test-env run $(BUILD_DIR)/bin/bench_encode
	scripts/test-env run bench/run $(BUILD_DIR)/bin

# Windows: the third-party code built once into ~/.cache/voxmere-windows, then the program
# in build/windows and, in dist/, Voxmere-VERSION-win64.zip and Voxmere-VERSION-win64-setup.exe.
windows:
	scripts/deps windows
	scripts/windows-build

# The Windows build under Wine: its unit tests, recordings through the real waveIn (checked
# with the Linux build's MP3 probe), the real Voxmere.exe by keyboard, and the installer.
test-windows: windows
	scripts/deps test-windows
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET) --target mp3_check
	scripts/test-env run tests/windows/run build/windows $(BUILD_DIR)/bin/mp3_check

clean:
	rm -rf build dist
