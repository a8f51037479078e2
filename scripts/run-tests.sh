#!/usr/bin/env bash
# Runs every test of the tree against the builds that `make build` and
# `make windows` left in build/. Fails when any test fails.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
failed=0
step() { # step NAME COMMAND...
  echo "== $1"
  shift
  if ! "$@"; then
    echo "== FAILED: $*"
    failed=$((failed + 1))
  fi
}

step "unit and end-to-end tests (Linux build)" \
  ctest --test-dir build/release --output-on-failure -j "$(nproc)"
step "end-to-end tests (Windows build, under wine)" scripts/e2e-under-wine.sh
step "interoperability with gerbv" tests/interop/gerbv_check.sh build/release/camfix
step "packages (make package), the .deb installed into a scratch root" \
  bash -c 'make --no-print-directory package && tests/package/install_check.sh build/package'

if [ "$failed" -ne 0 ]; then
  echo "== $failed test step(s) failed"
  exit 1
fi
echo "== all test steps passed"
