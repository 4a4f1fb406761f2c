# Tavrune: make build | make run | make test | make format
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

CTEST = ctest --output-on-failure --timeout 600 -j $(JOBS)
export ASAN_OPTIONS  = detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS = print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS  = halt_on_error=1:second_deadlock_stack=1

.PHONY: all deps build run test test-main test-asan test-tsan bench format clean

all: build

deps:
	@scripts/install-deps

# configure DIR [extra cmake args]
define configure
	@test -f $(1)/build.ninja || cmake -S . -B $(1) -G Ninja $(CMAKE_ARGS) $(2)
endef

build: deps
	$(call configure,$(BUILD))
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/tavrune

# Every test, then once more with address and undefined-behaviour sanitizers, then the
# threaded parts with the thread sanitizer.
test: test-main test-asan test-tsan test-fuzz

test-main: build
	cd $(BUILD) && $(CTEST)

test-asan: deps
	$(call configure,$(ASAN_BUILD),-DTAVRUNE_SANITIZE=address$(,)undefined -DCMAKE_BUILD_TYPE=Debug)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(CTEST)

test-tsan: deps
	$(call configure,$(TSAN_BUILD),-DTAVRUNE_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target threaded_tests
	cd $(TSAN_BUILD) && $(CTEST) -L threads

# The fuzz targets of tests/fuzz, each on a fresh copy of its seed corpus: for 20 s each as
# part of `make test`, for FUZZ_SECONDS each with `make fuzz`. Inputs that fail are kept in
# $(FUZZ_BUILD)/artifacts/. A target's tests/fuzz/<name>.dict, when there is one, gives the
# fuzzer words to try; leaks of other libraries that the runs leave unreported are in
# tests/fuzz/lsan.supp.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 300
FUZZ_LSAN    = suppressions=$(CURDIR)/tests/fuzz/lsan.supp:print_suppressions=0

.PHONY: test-fuzz fuzz

# fuzz-run SECONDS
define fuzz-run
	@test -f $(FUZZ_BUILD)/build.ninja || CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja \
	  $(CMAKE_ARGS) -DTAVRUNE_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	@set -e; mkdir -p $(FUZZ_BUILD)/artifacts; \
	for target in $(FUZZ_BUILD)/fuzz/*_fuzz; do \
	  name=$$(basename $$target _fuzz); corpus=$(FUZZ_BUILD)/corpus/$$name; \
	  rm -rf $$corpus; mkdir -p $$corpus; cp tests/fuzz/corpus/$$name/* $$corpus/; \
	  dict=tests/fuzz/$$name.dict; options=; test -f $$dict && options=-dict=$$dict; \
	  echo "fuzz: $$name for $(1) s"; \
	  LSAN_OPTIONS=$(FUZZ_LSAN) $$target -max_total_time=$(1) -timeout=10 -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD)/artifacts/$$name- $$options $$corpus; \
	done
endef

test-fuzz: deps
	$(call fuzz-run,20)

fuzz: deps
	$(call fuzz-run,$(FUZZ_SECONDS))

# Benchmarks, each beside the tool a user would pick instead; never part of `make test`. Each
# prints its figures, and adds its rows to one table printed at the end.
BENCH_TABLE = $(abspath $(BUILD))/bench/table.md

bench: build
	@set -e; rm -f $(BENCH_TABLE); export TAVRUNE_BENCH_TABLE=$(BENCH_TABLE); \
	for program in $(BUILD)/bench/*_bench; do echo "== $$(basename $$program)"; $$program; done; \
	echo; echo "| benchmark | against | ours / theirs | target |"; echo "|---|---|---|---|"; \
	cat $(BENCH_TABLE)

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)

, := ,
