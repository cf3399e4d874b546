# The two commands a newcomer needs: `make demo` and `make check`. Everything else
# is CMake; this file only names the build trees and the order they run in.
#
#   build/release  optimised native build: demo, benchmarks, install
#   build/asan     native build under AddressSanitizer and UndefinedBehaviorSanitizer
#   build/i386     32-bit x86 build, tests under qemu-i386

JOBS   ?= $(shell nproc)
CMAKE  ?= cmake
CTEST  ?= ctest
GEN    := -G Ninja

.PHONY: all deps demo check check-native check-i386 bench clean

all: deps
	$(CMAKE) -S . -B build/release $(GEN) -DCMAKE_BUILD_TYPE=Release -DHV_BUILD_TESTS=OFF
	$(CMAKE) --build build/release -j $(JOBS)

deps:
	@scripts/install-deps

demo: all
	@scripts/demo build/release

check: deps check-native check-i386

check-native:
	$(CMAKE) -S . -B build/asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DHV_SANITIZE=ON
	$(CMAKE) --build build/asan -j $(JOBS)
	$(CTEST) --test-dir build/asan --output-on-failure -j $(JOBS)

check-i386:
	$(CMAKE) -S . -B build/i386 $(GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake
	$(CMAKE) --build build/i386 -j $(JOBS)
	$(CTEST) --test-dir build/i386 --output-on-failure -j $(JOBS)

bench: deps
	$(CMAKE) -S . -B build/release $(GEN) -DCMAKE_BUILD_TYPE=Release -DHV_BUILD_TESTS=OFF -DHV_BUILD_BENCH=ON
	$(CMAKE) --build build/release -j $(JOBS)
	@scripts/bench build/release

clean:
	rm -rf build
