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

.PHONY: all deps build run test test-main test-asan test-tsan format clean

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
test: test-main test-asan test-tsan

test-main: build
	cd $(BUILD) && $(CTEST)

test-asan: deps
	$(call configure,$(ASAN_BUILD),-DTAVRUNE_SANITIZE=address$(,)undefined -DCMAKE_BUILD_TYPE=Debug)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(CTEST)

test-tsan: deps
	$(call configure,$(TSAN_BUILD),-DTAVRUNE_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug)
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && $(CTEST) -L threads

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)

, := ,
