#!/usr/bin/env bash
# Runs camfix on a scratch copy of the sample board and shows what it changed.
set -euo pipefail

camfix=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/camfix-demo-XXXXXX")
before="$scratch/before"
board="$scratch/board"
mkdir -p "$before" "$board"
cp "$root"/examples/board/board.* "$root"/examples/board/gerber.bat "$board"/
cp "$board"/* "$before"/

echo "== camfix demo in $board"
echo "== (press Enter at the prompt; answer q to end without the second Enter)"
echo
status=0
(cd "$board" && "$camfix") || status=$?
sleep 0.2  # let gerber.bat finish its message
echo
echo "== camfix ended with exit code $status. What changed (line ends shown as \\r and \$):"
for file in "$before"/*; do
  name=$(basename "$file")
  if cmp -s "$file" "$board/$name"; then
    echo "-- $name: unchanged"
  else
    echo "-- $name:"
    diff <(sed -n l "$file") <(sed -n l "$board/$name") | head -n 16 || true
  fi
done
echo
echo "== The repaired board stays in $board"
