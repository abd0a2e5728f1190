# The two entry points of a fresh machine: `make demo` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
FUZZ_TARGETS := look opts colour image recording
CMAKE_GEN  := -G Ninja

.PHONY: all deps build demo test test-asan fuzz-build test-fuzz fuzz package clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD)

demo: build
	@scripts/demo $(BUILD)/bin

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j2
	@$(MAKE) --no-print-directory test-asan
	@$(MAKE) --no-print-directory test-fuzz

# The engine reads files from anywhere: its own tests also run under ASan and UBSan.
test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	       -DTREVALO_SANITIZE=ON -DTREVALO_APP=OFF >/dev/null
	@cmake --build $(ASAN_BUILD)
	@ctest --test-dir $(ASAN_BUILD) --output-on-failure -j2

# trevalo_<version>_<arch>.deb in the build folder: install it with apt-get install ./$(BUILD)/trevalo_*.deb
package: build
	@cmake --build $(BUILD) --target package

# The fuzz targets (tests/fuzz) are built with clang and libFuzzer in a build of their own.
fuzz-build: deps
	@cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	       -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTREVALO_FUZZ=ON -DTREVALO_APP=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) --target fuzz_targets

# Each target over its seeds and then new inputs for half a minute.
test-fuzz: fuzz-build
	@ctest --test-dir $(FUZZ_BUILD) --output-on-failure -j2

# Each target for FUZZ_SECONDS, one after another; the first finding stops the run.
fuzz: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	   tests/fuzz/run $(FUZZ_BUILD)/bin/fuzz_$$t tests/fuzz/corpus/$$t $(FUZZ_SECONDS) || exit 1; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) out
