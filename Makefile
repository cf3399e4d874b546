# The two commands a newcomer needs: `make demo` and `make check`. Everything else
# is CMake; this file only names the build trees and the order they run in.
#
#   build/release  optimised native build: demo, benchmarks, install
#                  (make install [PREFIX=/usr/local] [DESTDIR=/stage/dir])
#   build/asan     native build under AddressSanitizer and UndefinedBehaviorSanitizer
#   build/i386     32-bit x86 build, tests under qemu-i386
#   build/fuzz     libFuzzer targets (clang): make fuzz [FUZZ_SECONDS=60] [FUZZ_TARGETS=...]
#   build/tsan     native build under ThreadSanitizer: make tsan
#   build/coverage native build measuring the library's coverage: make coverage
#   build/deb      the Debian packages, built from a clean copy of the tree: make deb
#
# Each target first installs the Debian packages it needs (scripts/install-deps):
# build for all, demo and install; check for check and deb; extra on top for fuzz,
# coverage and bench.

JOBS   ?= $(shell nproc)
CMAKE  ?= cmake
CTEST  ?= ctest
GEN    := -G Ninja
PREFIX ?= /usr/local
# HV_ALL_CHECKS: a check whose tool is missing fails the configure, where a plain
# build would leave it out.
ASAN   := -S . -B build/asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DHV_SANITIZE=ON -DHV_ALL_CHECKS=ON
I386   := -S . -B build/i386 $(GEN) -DCMAKE_BUILD_TYPE=Debug -DHV_ALL_CHECKS=ON \
          -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=

.PHONY: all deps-build deps-check deps-extra demo install check check-native check-i386 \
        check-deb deb abi-baseline bench fuzz tsan coverage clean

# The prefix is configured, not only given to --install: the helper's run path
# names the installed library directory.
all: deps-build
	$(CMAKE) -S . -B build/release $(GEN) -DCMAKE_BUILD_TYPE=Release -DHV_BUILD_TESTS=OFF \
	  -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	$(CMAKE) --build build/release -j $(JOBS)

deps-build deps-check deps-extra:
	@scripts/install-deps $(@:deps-%=%)

demo: all
	@scripts/demo build/release

install: all
	DESTDIR="$(DESTDIR)" $(CMAKE) --install build/release --prefix $(PREFIX)

# Ends with the totals of both builds' tests on one line.
check: deps-check check-native check-i386 check-deb
	@tests/support/summary build/asan build/i386

# A build tree's tests, then how many ran and how many were skipped, and why; no test
# run fails the check.
RUN_TESTS = rm -f $(1)/tests.xml; \
  $(CTEST) --test-dir $(1) --output-on-failure -j $(JOBS) --output-junit tests.xml; \
  status=$$?; tests/support/summary $(1) && exit $$status

check-native:
	$(CMAKE) $(ASAN)
	$(CMAKE) --build build/asan -j $(JOBS)
	@$(call RUN_TESTS,build/asan)

check-i386:
	$(CMAKE) $(I386)
	$(CMAKE) --build build/i386 -j $(JOBS)
	@$(call RUN_TESTS,build/i386)

# The packages as a user installs them: their contents unpacked into build/deb/root,
# where the binaries' run paths are checked, hvext runs, and the C consumer is built
# with pkg-config and with find_package.
check-deb: deb
	$(CMAKE) -DDEBS=build/deb -DSOURCE=$(CURDIR) -P tests/consumers/check_packages.cmake

# libhv-ext1, libhv-ext-dev, hvext and libhv-standins in build/deb, checked by lintian.
deb: deps-check
	scripts/deb build/deb

# The baselines of guard.abi come from the builds that make check compares.
abi-baseline: deps-check
	$(CMAKE) $(ASAN)
	$(CMAKE) --build build/asan -j $(JOBS) --target abi-baseline
	$(CMAKE) $(I386)
	$(CMAKE) --build build/i386 -j $(JOBS) --target abi-baseline

bench: deps-extra
	$(CMAKE) -S . -B build/release $(GEN) -DCMAKE_BUILD_TYPE=Release -DHV_BUILD_TESTS=OFF -DHV_BUILD_BENCH=ON
	$(CMAKE) --build build/release -j $(JOBS)
	@scripts/bench build/release

# Each target runs FUZZ_SECONDS on one core; new inputs go to build/fuzz/corpus.
fuzz: deps-extra
	$(CMAKE) -S . -B build/fuzz $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHV_FUZZ=ON \
	  -DHV_SANITIZE=ON -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
	$(CMAKE) --build build/fuzz -j $(JOBS)
	@scripts/fuzz build/fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# A ThreadSanitizer report fails the test that made it, with status 66. The
# concurrency tests run first: they are quick, and they are the ones that matter.
TSAN_RUN := TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 exitcode=66"
tsan: deps-check
	$(CMAKE) -S . -B build/tsan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DHV_TSAN=ON
	$(CMAKE) --build build/tsan -j $(JOBS)
	$(TSAN_RUN) $(CTEST) --test-dir build/tsan --output-on-failure -j $(JOBS) -R '^threads_'
	$(TSAN_RUN) $(CTEST) --test-dir build/tsan --output-on-failure -j $(JOBS) -E '^threads_'

# Every test, then the line and branch coverage of src/: per file and in total
# here, line by line in build/coverage/coverage.html. The report is written even
# when a test fails; the target still fails then. A forked child that returns
# writes the counts it inherited as well, which can make gcov print a negative
# call percentage; those lines are skipped, lines and branches are unaffected.
GCOVR := gcovr --root . --object-directory build/coverage --filter 'src/' \
         --exclude-unreachable-branches --exclude-throw-branches \
         --gcov-ignore-parse-errors -j $(JOBS)
coverage: deps-check deps-extra
	$(CMAKE) -S . -B build/coverage $(GEN) -DCMAKE_BUILD_TYPE=Debug -DHV_COVERAGE=ON
	$(CMAKE) --build build/coverage -j $(JOBS)
	find build/coverage -name '*.gcda' -delete
	$(CTEST) --test-dir build/coverage --output-on-failure -j $(JOBS); status=$$?; \
	  $(GCOVR) --sort-percentage --txt - --print-summary \
	    --html-details build/coverage/coverage.html && exit $$status

clean:
	rm -rf build
