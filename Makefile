# The user interface of the camfix tree. `make demo` and `make test` are all a
# newcomer needs; the other targets are for development. Builds and tests go
# through the presets of CMakePresets.json: release (build/release), asan, tsan,
# fuzz, windows and windows64. Only `make test` and `make demo` install what
# is missing.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 60

# $(call need,COMMAND...): stops with a hint when a command is missing.
need = @for c in $(1); do command -v $$c > /dev/null || \
  { echo "make: $$c is missing (scripts/install-prereqs.sh installs it)" >&2; exit 1; }; done
# build/release as configured, or first configured without the tests (which
# would need GoogleTest): enough for the camfix binary alone.
release_tree = @[ -f build/release/CMakeCache.txt ] || cmake --preset release -DCAMFIX_TESTS=OFF > /dev/null

.PHONY: all build windows windows64 asan tsan fuzz-build test demo bench package fuzz lint format clean

all: build

build:
	$(call need,cmake g++)
	@cmake --preset release > /dev/null
	@cmake --build --preset release -j $(JOBS)

# build/windows/camfix.exe, the 32-bit program that is shipped, and
# build/windows64/camfix.exe, which the wine tests run where the host cannot
# run 32-bit programs.
windows windows64:
	$(call need,cmake $(if $(filter windows,$@),i686,x86_64)-w64-mingw32-g++-posix)
	@cmake --preset $@ > /dev/null
	@cmake --build --preset $@ -j $(JOBS)

asan tsan:
	$(call need,cmake g++)
	@cmake --preset $@ > /dev/null
	@cmake --build --preset $@ -j $(JOBS)

fuzz-build:
	$(call need,cmake clang++)
	@cmake --preset fuzz > /dev/null
	@cmake --build --preset fuzz -j $(JOBS)

# Everything, as CI runs it (.ci/run): the prerequisites (as root also the
# qemu-i386 entry that lets the wine tests run the shipped 32-bit camfix.exe,
# docs/testing.md, "How the tests run the 32-bit program"), every preset built
# (windows64 only where the release tree chose it for the wine tests,
# cmake/wine.cmake), then CTest on the release tree (unit, e2e, wine, huge,
# installer, gerbv, lint, package), the asan and tsan trees (sanitizer; tsan
# without the 4 GiB file) and the fuzz
# tree (fuzz, 15 s a target). Fails when any fails.
test:
	@scripts/install-prereqs.sh
	@$(MAKE) --no-print-directory windows build asan tsan fuzz-build
	@preset=$$(sed -n 's/^CAMFIX_WINE_PRESET:INTERNAL=//p' build/release/CMakeCache.txt); \
	  [ -z "$$preset" ] || $(MAKE) --no-print-directory $$preset
	@failed=; for preset in release asan tsan fuzz; do \
	  echo "== ctest --preset $$preset"; \
	  ctest --preset $$preset -j $(JOBS) || failed="$$failed $$preset"; \
	done; \
	if [ -n "$$failed" ]; then echo "make test: tests failed in:$$failed" >&2; exit 1; fi

demo:
	@scripts/install-prereqs.sh --build
	$(release_tree)
	@cmake --build --preset release -j $(JOBS) --target camfix
	@scripts/demo.sh build/release/camfix

bench:
	$(call need,cmake g++ hyperfine unix2dos /usr/bin/time)
	$(release_tree)
	@cmake --build --preset release -j $(JOBS) --target camfix
	@bench/run.sh build/release/camfix

# build/package: camfix_<version>_<arch>.deb, camfix-<version>-win32.zip and
# the installer camfix-<version>-setup.exe.
package: build windows
	$(call need,makensis)
	@cpack --preset release
	@cpack --preset windows

# Each fuzz target for FUZZ_SECONDS: the fuzz tests of CTest, run longer.
fuzz:
	$(call need,cmake clang++)
	@cmake --preset fuzz -DCAMFIX_FUZZ_SECONDS=$(FUZZ_SECONDS) > /dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	@ctest --preset fuzz -j $(JOBS)

# clang-tidy and cppcheck: the lint tests of CTest.
lint:
	$(call need,cmake clang-tidy cppcheck)
	@cmake --preset windows > /dev/null
	@cmake --preset release > /dev/null
	@ctest --preset release -L lint -j $(JOBS)

format:
	$(call need,clang-format)
	@find src tests -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf build
