# Top-level entry points. `make test` and `make demo` work on a fresh machine:
# both install missing Debian packages first (scripts/install-deps.sh).
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps build test demo bench test-asan test-tsan fuzz fuzz-replay install clean format

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	$(BUILD)/bin/oxsf demo --out demo-out

test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DOXSF_SANITIZE=address -DOXSF_BUILD_TOOLS=OFF
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	    ctest --test-dir build-asan --output-on-failure -j $(JOBS)

test-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOXSF_SANITIZE=thread -DOXSF_BUILD_TOOLS=OFF
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -L concurrency -j $(JOBS)

clean:
	rm -rf $(BUILD) build-asan build-tsan build-bench build-fuzz

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i
