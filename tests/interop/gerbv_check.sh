#!/usr/bin/env bash
# gerbv_check.sh CAMFIX: gerbv, a reader of its own, reads the sample board
# (examples/board/: six Gerber layers with mixed line ends, a drill file and
# its report) before and after camfix repairs a copy of it. Before, gerbv finds
# drill tools used without being defined; after, it reads every file without a
# CRITICAL or WARNING, and every hole has the size the report gives its tool.
# A drill file of another package, which declares its own format, reads the
# same after the run (camfix leaves it alone).
set -euo pipefail
camfix=$(realpath -e -- "$1")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/camfix-gerbv.XXXXXX")
trap 'rm -rf -- "$scratch"' EXIT
board=$scratch/board
cp -r -- "$(dirname -- "$0")/../../examples/board" "$board"
fail() { echo "gerbv_check: $*" >&2; exit 1; }

# gerbv_reads FILE: gerbv exports FILE as RS-274X to $scratch/out, what it says to $scratch/log.
gerbv_reads() {
  gerbv -x rs274x -o "$scratch/out" "$1" < /dev/null > "$scratch/log" 2>&1 && [ -s "$scratch/out" ] \
    || { cat "$scratch/log"; fail "gerbv cannot read ${1##*/}"; }
}

gerbv_reads "$board/board.drl"
grep 'used without being defined' "$scratch/log" || fail "before: board.drl uses no undefined tool"
(cd "$board" && printf '\n\n' | "$camfix" > /dev/null) || fail "camfix failed"
for file in "$board"/board.g* "$board/board.drl"; do
  gerbv_reads "$file"
  ! grep -E 'CRITICAL|WARNING' "$scratch/log" || fail "after: gerbv complains about ${file##*/}"
done

# Per hole in drill file order: the report's size of its tool, and the
# diameter gerbv read (the export of board.drl, read last; four decimals).
want=$(awk 'FNR == 1 { part++ }
  part == 1 && /^T-Code   Size$/ { table = 1; next }
  part == 1 && /^-/ { table = 0 }
  part == 1 && table && NF == 2 { size[$1] = $2 }
  part == 2 && /^T[0-9]+$/ { tool = $1 }
  part == 2 && /^X/ { printf "%.4f\n", size[tool] }' \
  <(tr '\r' '\n' < "$board/board.inf") <(tr '\r' '\n' < "$board/board.drl"))
read=$(awk '/^%ADD[0-9]+C,/ { split(substr($0, 5), a, /C,|\*/); size[a[1]] = a[2]; next }
  /D03\*$/ { printf "%.4f\n", size[tool]; next }
  /D[0-9]+\*$/ && !/D0[12]\*$/ { tool = $0; sub(/.*D/, "", tool); tool += 0 }' "$scratch/out")
[ -n "$want" ] || fail "no holes in board.drl"
diff <(echo "$want") <(echo "$read") || fail "hole sizes: < as reported, > as gerbv read them"
# Metric with trailing zeros, 3:3: gerbv places the hole at X 26.0 mm.
other=$scratch/other
mkdir -- "$other"
printf 'M48\r\n;FILE_FORMAT=3:3\r\nMETRIC,TZ\r\nT01C0.800\r\n%%\r\nT01\r\nX26000Y438400\r\nM30\r\n' \
  > "$other/other.drl"
gerbv_reads "$other/other.drl"
mv -- "$scratch/out" "$scratch/other-before"
(cd "$other" && printf '\n\n' | "$camfix" > /dev/null) || fail "camfix failed on other.drl"
gerbv_reads "$other/other.drl"
diff -- "$scratch/other-before" "$scratch/out" || fail "other.drl: gerbv reads it differently after the run"

echo "gerbv_check: gerbv reads the repaired sample board cleanly, every hole of the size reported"
