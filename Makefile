# Top-level entry points. `make test` and `make demo` work on a fresh machine:
# both install missing Debian packages first (scripts/install-deps.sh).
BUILD      ?= build
JOBS       ?= $(shell nproc)
PREFIX     ?= /usr/local
CMAKE_ARGS ?=

.PHONY: all deps build test demo docs bench import-check fidelity test-asan test-tsan fuzz fuzz-build fuzz-replay fuzz-corpus install clean format

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The synthesized banks and phrases, then a General MIDI song from Debian's mma
# examples through the soundfont of csound-soundfont, imported into demo-out/gm.
DEMO_SONG ?= /usr/share/doc/mma/examples/aria/when-or-where.mid
DEMO_FALLBACK_SONG := /usr/share/mma/lib/pflib/8beat1.mid
demo: build
	@scripts/install-deps.sh demo
	$(BUILD)/bin/oxsf demo --out demo-out
	@echo
	$(BUILD)/bin/oxsf import /usr/share/sounds/sf2/sf_GMbank.sf2 demo-out/gm >demo-out/gm-import.txt
	@tail -n 1 demo-out/gm-import.txt
	@song=$(DEMO_SONG); [ -f "$$song" ] || song=$(DEMO_FALLBACK_SONG); \
	    echo "$(BUILD)/bin/oxsf render $$song --instruments demo-out/gm -o demo-out/song.wav"; \
	    $(BUILD)/bin/oxsf render "$$song" --instruments demo-out/gm -o demo-out/song.wav
	@echo "Listen with: aplay demo-out/song.wav"

# The HTML reference of every public header, in $(BUILD)/docs/html (Doxygen,
# installed when missing). Builds nothing else; any warning, such as a public
# member without a comment, fails it.
docs:
	@scripts/install-deps.sh docs
	rm -rf $(BUILD)/docs && mkdir -p $(BUILD)/docs
	{ cat docs/Doxyfile; echo "OUTPUT_DIRECTORY = $(BUILD)/docs"; } | doxygen -

# Benchmarks, in Release in their own build folder: generates the benchmark
# banks, runs every bench_* binary (JSON under build-bench/bench-results) and
# prints one table of figures, same-run baselines and targets
# (also written to build-bench/bench-summary.md). Not part of `make test`.
BENCH_REPETITIONS ?= 10
# The voice benchmarks also run from a build of the default type
# (build-bench-default, RelWithDebInfo), set beside Release in the table.
bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DOXSF_BUILD_BENCH=ON -DOXSF_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS) --target oxsf_benchmarks
	cmake -S . -B build-bench-default -DOXSF_BUILD_BENCH=ON -DOXSF_BUILD_TESTS=OFF
	cmake --build build-bench-default -j $(JOBS) --target bench_voice
	python3 scripts/bench.py --build build-bench --default-build build-bench-default \
	    --repetitions $(BENCH_REPETITIONS)

# Imports every preset of Debian's General MIDI soundfont (csound-soundfont,
# installed when missing) and prints the time and the counts. Not part of `make test`.
import-check: build
	scripts/import-check.sh $(BUILD)

# Renders the General MIDI soundfont (and an SF3 of it) note by note and mma's
# example songs beside the peer synthesizer, and prints how far apart they
# sound, worst first. Not part of `make test`.
fidelity: build
	scripts/fidelity.sh $(BUILD)

# Sanitizer builds. ASan+UBSan halt on the first report (LeakSanitizer on) and
# run the whole suite, the tool's tests included; TSan runs the tests labelled
# "concurrency" and builds only those, TSAN_REPEAT times each (interleavings
# differ from run to run). Suppressions: scripts/sanitizers/.
TSAN_REPEAT ?= 3
SANITIZER_DIR := $(CURDIR)/scripts/sanitizers
ASAN_ENV := ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1 \
            LSAN_OPTIONS=suppressions=$(SANITIZER_DIR)/lsan.supp:print_suppressions=0 \
            UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
TSAN_ENV := TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(SANITIZER_DIR)/tsan.supp

test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DOXSF_SANITIZE=address
	cmake --build build-asan -j $(JOBS)
	$(ASAN_ENV) ctest --test-dir build-asan --output-on-failure -j $(JOBS)

test-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOXSF_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS) --target oxsf_concurrency_tests
	$(TSAN_ENV) ctest --test-dir build-tsan --output-on-failure -L concurrency -j $(JOBS) \
	    --repeat until-fail:$(TSAN_REPEAT)

# libFuzzer targets (clang). `make fuzz` fuzzes each target for FUZZ_SECONDS;
# `make fuzz-replay` runs the stored corpus and crash reproducers once;
# `make fuzz-corpus` re-minimizes the stored corpus (a set-cover merge keeping
# at most FUZZ_CORPUS_MAX inputs, default 40).
FUZZ_SECONDS ?= 60
build-fuzz/CMakeCache.txt:
	@scripts/install-deps.sh fuzz
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DOXSF_SANITIZE=fuzzer -DOXSF_BUILD_FUZZ=ON -DOXSF_BUILD_TESTS=OFF -DOXSF_BUILD_TOOLS=OFF

fuzz-build: deps build-fuzz/CMakeCache.txt
	cmake --build build-fuzz -j $(JOBS) --target fuzz_all

fuzz: fuzz-build
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz.sh run

# The replay needs only the targets, not the seed generator.
fuzz-replay: deps build-fuzz/CMakeCache.txt
	cmake --build build-fuzz -j $(JOBS) --target fuzz_targets
	scripts/fuzz.sh replay

fuzz-corpus: fuzz-build
	scripts/fuzz.sh corpus

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) build-asan build-tsan build-bench build-bench-default build-fuzz

# Layout by clang-format; braces around every statement by clang-tidy when it is
# installed (it reads the build's compile_commands.json).
format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i
	@if command -v run-clang-tidy >/dev/null && [ -f $(BUILD)/compile_commands.json ]; then \
	    run-clang-tidy -p $(BUILD) -quiet -j $(JOBS) -fix \
	        -checks='-*,readability-braces-around-statements' \
	        -header-filter='^$(CURDIR)/(include|soundfont|host|import|tools|tests)/' \
	        '^$(CURDIR)/(soundfont|host|import|tools|tests)/' >/dev/null 2>&1; \
	    git ls-files -m '*.cpp' '*.h' | xargs -r clang-format -i; \
	fi
