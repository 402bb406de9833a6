# Build and test entry points; see README.md.
JOBS ?= $(shell nproc)

.PHONY: all deps build build-asan test test-normal test-asan demo fuzz clean

all: build

deps:
	./scripts/install-deps

build: deps
	cmake -S . -B build -G Ninja
	cmake --build build -j $(JOBS)

build-asan: deps
	cmake -S . -B build-asan -G Ninja -DQUORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build build-asan -j $(JOBS)

test-normal: build
	cd build && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

test: test-normal test-asan

# Runs every fuzz target for FUZZ_SECONDS seconds each (default 180).
fuzz: deps
	./scripts/fuzz

clean:
	rm -rf build build-asan build-fuzz
