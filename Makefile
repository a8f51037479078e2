# The user interface of the camfix tree. `make demo` and `make test` are all a
# newcomer needs; the other targets are for development.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE := build/release
WINDOWS := build/windows
PACKAGE := build/package
ASAN := build/asan
FUZZ := build/fuzz
FUZZ_SECONDS ?= 60

.PHONY: all build windows test demo bench prereqs clean package asan fuzz-build fuzz lint format

all: build

prereqs:
	@scripts/install-prereqs.sh

build:
	@cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DCAMFIX_TESTS=ON > /dev/null
	@cmake --build $(RELEASE) -j $(JOBS)

windows:
	@cmake -S . -B $(WINDOWS) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake > /dev/null
	@cmake --build $(WINDOWS) -j $(JOBS)

# Unit and end-to-end tests and the camfix they run, under AddressSanitizer and
# UndefinedBehaviorSanitizer.
asan:
	@cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCAMFIX_SANITIZE=ON > /dev/null
	@cmake --build $(ASAN) -j $(JOBS)

# The libFuzzer targets of tests/fuzz (clang).
fuzz-build:
	@cmake -S . -B $(FUZZ) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCAMFIX_FUZZ=ON -DCAMFIX_TESTS=OFF > /dev/null
	@cmake --build $(FUZZ) -j $(JOBS)

# Each fuzz target for FUZZ_SECONDS.
fuzz: prereqs fuzz-build
	@FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz.sh $(FUZZ)

lint: prereqs
	@scripts/lint.sh

format:
	@find src tests -name '*.cpp' -o -name '*.h' | xargs clang-format -i

test: prereqs build windows asan fuzz-build
	@scripts/run-tests.sh

demo: prereqs
	@cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DCAMFIX_TESTS=OFF > /dev/null
	@cmake --build $(RELEASE) -j $(JOBS) --target camfix
	@scripts/demo.sh $(RELEASE)/camfix

bench: prereqs
	@cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release > /dev/null
	@cmake --build $(RELEASE) -j $(JOBS) --target camfix
	@bench/run.sh $(RELEASE)/camfix

package: prereqs windows
	@cmake -S . -B $(PACKAGE) -DCMAKE_BUILD_TYPE=Release -DCAMFIX_TESTS=OFF \
	  -DCAMFIX_WINDOWS_EXE=$(CURDIR)/$(WINDOWS)/camfix.exe > /dev/null
	@cmake --build $(PACKAGE) -j $(JOBS) --target package windows_zip

clean:
	rm -rf build
