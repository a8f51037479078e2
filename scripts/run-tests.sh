#!/usr/bin/env bash
# Runs every test of the tree against the builds that `make build`,
# `make windows`, `make asan` and `make fuzz-build` left in build/. Fails when
# any test fails.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
passed=0
failed=0
step() { # step NAME COMMAND...
  echo "== $1"
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "== FAILED: $*"
    failed=$((failed + 1))
  fi
}

step "unit and end-to-end tests (Linux build)" \
  ctest --test-dir build/release --output-on-failure -j "$(nproc)"
# CAMFIX_SANITIZED tells the tests that cannot run under the sanitizers (an
# address-space limit, which their shadow memory exceeds) to skip.
step "unit and end-to-end tests under AddressSanitizer and UBSan (make asan)" \
  env CAMFIX_SANITIZED=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ASAN_OPTIONS=detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
  ctest --test-dir build/asan --output-on-failure -j "$(nproc)"
step "fuzzing, 15 s a target (make fuzz runs longer)" env FUZZ_SECONDS=15 scripts/fuzz.sh build/fuzz
step "lint: clang-tidy and cppcheck on both builds (make lint)" env LINT_WINDOWS=1 scripts/lint.sh
step "end-to-end tests (Windows build, under wine)" scripts/e2e-under-wine.sh
step "interoperability with gerbv" tests/interop/gerbv_check.sh build/release/camfix
step "packages (make package), the .deb installed into a scratch root" \
  bash -c 'make --no-print-directory package && tests/package/install_check.sh build/package'

echo "steps: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
