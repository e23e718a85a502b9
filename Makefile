# Front door. `make run` builds and starts Voxmere; `make test` builds and runs every test.
# Both install the Debian packages they need first (only those that are missing).
PRESET ?= default
BUILD_DIR := build/$(PRESET)

.PHONY: all build test run bench clean

all: build

build:
	scripts/deps build
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

test:
	scripts/deps test
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)
	scripts/test-env run ctest --preset test

run:
	scripts/deps run
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)
	scripts/run-voxmere $(BUILD_DIR)/bin/voxmere

bench:
	scripts/deps bench
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)
	scripts/test-env run $(BUILD_DIR)/bin/bench_encode

clean:
	rm -rf build
