#!/usr/bin/env bash
# Runs every libFuzzer target of the build folder $1 (default build/fuzz) for
# FUZZ_SECONDS (default 60) each, from the seeds in tests/fuzz/corpus/<target>/
# and what earlier runs found (kept in <build>/corpus/<target>/). A crash, a
# failed check, a sanitizer report, a leak or a hang fails the run; the input
# that did it is kept as <build>/crashes/<target>-*; replay it with
# `<build>/tests/fuzz/fuzz_<target> FILE`.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/fuzz}
seconds=${FUZZ_SECONDS:-60}
failed=0
for seeds in tests/fuzz/corpus/*/; do
  target=$(basename "$seeds")
  mkdir -p "$build/corpus/$target" "$build/crashes"
  log=$build/$target.log
  if "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
      -artifact_prefix="$build/crashes/$target-" "$build/corpus/$target" "$seeds" > "$log" 2>&1; then
    echo "fuzz_$target: $(grep -Eo 'Done [0-9]+ runs' "$log" | tail -1) in $seconds s, no fault"
  else
    tail -n 40 "$log"
    echo "fuzz_$target: FAULT (whole log: $log)"
    failed=1
  fi
done
exit "$failed"
