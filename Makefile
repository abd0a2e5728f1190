# The two entry points of a fresh machine: `make demo` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
CMAKE_GEN  := -G Ninja

.PHONY: all deps build demo test test-asan package clean

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

# The engine reads files from anywhere: its own tests also run under ASan and UBSan.
test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	       -DTREVALO_SANITIZE=ON -DTREVALO_APP=OFF >/dev/null
	@cmake --build $(ASAN_BUILD)
	@ctest --test-dir $(ASAN_BUILD) --output-on-failure -j2

# trevalo_<version>_<arch>.deb in the build folder: install it with apt-get install ./$(BUILD)/trevalo_*.deb
package: build
	@cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) out
