# Build and test entry points; see README.md.
JOBS ?= $(shell nproc)

.PHONY: all deps build build-asan build-release test test-normal test-asan demo fuzz \
	format format-check clean

all: build

deps:
	./scripts/install-deps

# The project's own builds treat warnings as errors.
CMAKE_FLAGS = -G Ninja -DQUORVANE_WERROR=ON

build: deps
	cmake -S . -B build $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

build-asan: deps
	cmake -S . -B build-asan $(CMAKE_FLAGS) -DQUORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build build-asan -j $(JOBS)

# The optimised configuration a packager would use, tests included.
build-release: deps
	cmake -S . -B build-release $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release
	cmake --build build-release -j $(JOBS)

test-normal: build
	cd build && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

test: test-normal test-asan

# Runs every fuzz target for FUZZ_SECONDS seconds each (default 180).
fuzz:
	./scripts/install-deps fuzz
	./scripts/fuzz

# Formats the sources with clang-format, or checks that they are formatted.
format:
	./scripts/install-deps format
	./scripts/format

format-check:
	./scripts/install-deps format
	./scripts/format --check

# Packs the sample payload and runs the installer once, as root, in a fresh
# folder under build/ (its temporary, output and debug directories too), then
# shows the installer log. Fails with the installer's exit status.
DEMO_DIR = $(CURDIR)/build/demo

demo: build
	cmake --build build --target quorvane-installer-demo
	rm -rf $(DEMO_DIR)
	mkdir -p $(DEMO_DIR)/tmp $(DEMO_DIR)/output $(DEMO_DIR)/debug
	@cd $(DEMO_DIR) && status=0; \
	  TMPDIR=$(DEMO_DIR)/tmp $(CURDIR)/build/quorvane-installer-demo \
	    --output-dir $(DEMO_DIR)/output --debug-dir $(DEMO_DIR)/debug || status=$$?; \
	  echo "--- installer exit status: $$status; log $(DEMO_DIR)/debug/Quorvane_i.log:"; \
	  cat $(DEMO_DIR)/debug/Quorvane_i.log; \
	  exit $$status

clean:
	rm -rf build build-asan build-release build-fuzz
