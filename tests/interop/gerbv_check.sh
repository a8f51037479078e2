#!/usr/bin/env bash
# gerbv_check.sh CAMFIX_BINARY
#
# Shows with an independent reader, gerbv, that camfix's output is read right.
# camfix repairs two boards in scratch folders: a copy of examples/board/ and a
# generated one with six drill tools and mixed line ends. Per board:
#   before: gerbv complains that the drill file uses tools it never defines
#   camfix exits 0 (input: two empty lines)
#   after:  gerbv reads every Gerber file and the drill file without a
#           CRITICAL or WARNING line
#   after:  every hole gerbv reads from the drill file has the size that the
#           drill report gives its tool
# Byte-exact output is the end-to-end tests' job (tests/e2e).
# Exit status: 0 when every check passes, 1 when one fails, 2 on bad usage.
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: $0 CAMFIX_BINARY" >&2; exit 2; }
camfix=$(realpath -e -- "$1")
root=$(cd -- "$(dirname -- "$0")/../.." && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/camfix-gerbv.XXXXXX")
trap 'rm -rf -- "$scratch"' EXIT
failures=0

check() { # check DESCRIPTION COMMAND...: one line; the details only on failure
  local desc=$1
  shift
  if "$@" >"$scratch/detail" 2>&1; then
    echo "ok    $desc"
  else
    echo "FAIL  $desc"
    sed 's/^/        /' "$scratch/detail"
    failures=$((failures + 1))
  fi
}

# gerbv_read FORMAT FILE: gerbv reads FILE and exports it to $scratch/export;
# what gerbv says goes to $scratch/log.
gerbv_read() {
  rm -f -- "$scratch/export"
  gerbv -x "$1" -o "$scratch/export" "$2" </dev/null >"$scratch/log" 2>&1
}

undefined_tools() { # undefined_tools DRILLFILE COUNT: gerbv names COUNT undefined tools
  gerbv_read drill "$1"
  cat "$scratch/log"
  [ "$(grep -oE 'Tool [0-9]+ used without being defined' "$scratch/log" | sort -u | wc -l)" -eq "$2" ]
}

run_camfix() ( cd -- "$1" && printf '\n\n' | "$camfix" )

read_cleanly() { # read_cleanly FORMAT FILE...: no CRITICAL or WARNING, and an export
  local format=$1 f
  shift
  for f in "$@"; do
    gerbv_read "$format" "$f" || { echo "${f##*/}: gerbv failed"; cat "$scratch/log"; return 1; }
    [ -s "$scratch/export" ] || { echo "${f##*/}: gerbv exported nothing"; return 1; }
    ! grep -E 'CRITICAL|WARNING' "$scratch/log" || { echo "(in ${f##*/})"; return 1; }
  done
}

# same_sizes BOARD: per hole, in drill file order, the report's size of its
# tool (left) and the diameter gerbv reads (right). gerbv's RS-274X export
# keeps four decimals; its drill export rounds to three.
same_sizes() {
  awk 'FNR == 1 { part++ }
       part == 1 && /^T-Code   Size$/ { table = 1; next }
       part == 1 && /^-/ { table = 0 }
       part == 1 && table && NF == 2 { size[$1] = $2 }
       part == 2 && /^T[0-9]+$/ { tool = $1 }
       part == 2 && /^X/ { printf "%.4f\n", size[tool] }' \
    <(tr '\r' '\n' <"$1.inf") <(tr '\r' '\n' <"$1.drl") >"$scratch/want"
  gerbv_read rs274x "$1.drl"
  awk '/^%ADD[0-9]+C,/ { split(substr($0, 5), a, /C,|\*/); size[a[1]] = a[2]; next }
       /D03\*$/ { printf "%.4f\n", size[tool]; next }
       /D[0-9]+\*$/ && !/D0[12]\*$/ { tool = $0; sub(/.*D/, "", tool); tool += 0 }' \
    "$scratch/export" >"$scratch/read"
  [ -s "$scratch/want" ] && diff "$scratch/want" "$scratch/read"
}

mixed_ends() { awk '{ printf "%s%s", $0, (NR % 3 == 1 ? "\r\n" : NR % 3 == 2 ? "\n" : "\r") }'; }

make_board() { # make_board DIR: six tools used out of order, copper pads at the holes
  local sizes=(.0150 .0280 .0350 .0420 .0625 .1250) t k ext
  mkdir -p -- "$1"
  { printf 'Drill report - gen.drl\n\nT-Code   Size\n'
    for t in 1 2 3 4 5 6; do printf 'T%02d      %s\n' "$t" "${sizes[t - 1]}"; done
    printf -- '------------------\nTotal holes: 12\n'; } | mixed_ends >"$1/gen.inf"
  { printf 'M48\n%%\n'
    for t in 4 1 6 3 2 5; do
      printf 'T%02d\n' "$t"
      for k in 1 2; do printf 'X%06dY%06d\n' $((3000 * k)) $((2000 * t)); done
    done
    printf 'M30\n'; } | mixed_ends >"$1/gen.drl"
  for ext in gtl GBL; do
    { printf '%%FSDAX24Y24*%%\n%%MOIN*%%\n%%ADD10C,0.1500*%%\nD10*\n'
      for t in 1 2 3 4 5 6; do printf 'X3000Y%dD03*\nX6000Y%dD03*\n' $((2000 * t)) $((2000 * t)); done
      printf 'M02*\n'; } | mixed_ends >"$1/gen.$ext"
  done
}

board() { # board NAME DIR TOOLS: the checks on NAME.* in DIR, whose report has TOOLS tools
  local b=$1 d=$2 gerbers
  gerbers=$(shopt -s nocaseglob; echo "$d"/*.g*)
  check "$b: before: gerbv finds $3 tools used without being defined in $b.drl" undefined_tools "$d/$b.drl" "$3"
  check "$b: camfix exits 0 (input: two empty lines)" run_camfix "$d"
  # shellcheck disable=SC2086 # the Gerber file names hold no blanks
  check "$b: after: gerbv reads $(wc -w <<<"$gerbers") Gerber files without CRITICAL/WARNING" read_cleanly rs274x $gerbers
  check "$b: after: gerbv reads $b.drl without CRITICAL/WARNING" read_cleanly drill "$d/$b.drl"
  check "$b: after: every hole of $b.drl has the size $b.inf gives its tool" same_sizes "$d/$b"
}

mkdir -- "$scratch/board"
cp -- "$root"/examples/board/board.* "$root"/examples/board/gerber.bat "$scratch/board/"
make_board "$scratch/gen"
board board "$scratch/board" 4
board gen "$scratch/gen" 6

[ "$failures" -eq 0 ] || { echo "gerbv_check: $failures check(s) failed"; exit 1; }
echo "gerbv_check: all checks passed"
