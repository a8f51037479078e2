#!/usr/bin/env bash
# bench/run.sh CAMFIX: speed and peak memory of camfix on big and on many CAM
# files (`make bench` builds camfix and runs this). In a scratch folder:
#   big    3 Gerber files of 100 MiB (LF line ends, FSD format statements), a
#          25 MiB drill file and its drill report
#   huge   the same with 500 MiB Gerber files and a 125 MiB drill file
#   small  2,000 Gerber files of 20 KiB
# hyperfine times, each run on a fresh copy of the table's folder (--prepare),
# the contenders in turn, round after round:
#   camfix  camfix in the folder, answering two empty lines
#   copy    a dd conv=fsync copy of the same files into an empty folder
#   rename  a dd conv=fsync copy of each file beside it, renamed over it: the
#           floor of a rewrite in place that survives a crash
#   sed     sed -i s/FSD/FSL/g on the Gerber files, then unix2dos on all (one
#           run on the huge table)
# and /usr/bin/time gives camfix's peak memory. A measurement, not a test: it
# prints each figure with its target and exits 0. BENCH_RUNS: runs per
# contender (5), the median counts; BENCH_TABLES: which tables (big huge small).
set -euo pipefail
export LC_ALL=C
camfix=$(realpath -e -- "${1:?usage: bench/run.sh CAMFIX}")
runs=${BENCH_RUNS:-5}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/camfix-bench.XXXXXX")
trap 'rm -rf -- "$scratch"' EXIT
cd "$scratch"

echo "generating the CAM files in $scratch"
# 1 MiB of draws, moves and flashes: the body of every Gerber file.
awk 'BEGIN { srand(7); while (n < 1048576) {
  s = sprintf("X%06dY%06dD0%d*", rand() * 1e6, rand() * 1e6, 1 + int(rand() * 3))
  print s; n += length(s) + 1 } }' > body
gerber() { # gerber MIB: a Gerber file of MIB MiB of body (0: 20 KiB)
  printf 'G04 camfix bench*\n%%FSDAX24Y24*%%\n%%MOIN*%%\n%%ADD10C,0.0100*%%\nD10*\n'
  if [ "$1" -eq 0 ]; then head -c 20480 body | sed '$d'; fi
  for ((i = 0; i < $1; i++)); do cat body; done
  printf 'M02*\n'
}
sizes=(.0320 .0350 .0400 .0420 .0520 .0620 .1250 .1285)
board() { # board FOLDER MIB: 3 Gerber files of MIB MiB, a drill file of MIB / 4
  mkdir "$1"
  for layer in gtl gbl gto; do gerber "$2" > "$1/panel.$layer"; done
  {
    printf 'M48\n%%\n'
    awk -v tools=${#sizes[@]} -v mib="$2" 'BEGIN { srand(8); for (t = 1; t <= tools; t++) {
      printf "T%02d\n", t
      for (i = 0; i < mib / 4 * 1048576 / 15 / tools; i++) printf "X%06dY%06d\n", rand() * 1e6, rand() * 1e6 } }'
    printf 'M30\n'
  } > "$1/panel.drl"
  {
    printf 'Drill report - panel.drl\n\nT-Code   Size\n'
    for t in "${!sizes[@]}"; do printf 'T%02d      %s\n' $((t + 1)) "${sizes[t]}"; done
    printf -- '------------------------------\n'
  } > "$1/panel.inf"
}
tables=${BENCH_TABLES:-big huge small}
for table in $tables; do
  case $table in
    big) board big 100 ;;
    huge) board huge 500 ;;
    small) mkdir small && gerber 0 > small.gtl &&
      for i in $(seq -w 1 2000); do cp small.gtl "small/board$i.gtl"; done ;;
  esac
done

measure() { # measure TABLE: round after round, one run of each contender per
  # round, so that the disk's slow and fast spells fall on all of them alike
  # (each round in another order);
  # TABLE.csv gets every run (hyperfine's columns). sed takes minutes on the
  # huge table, where it runs in the first round only.
  local round contenders first
  : > "$1.csv"
  for ((round = 0; round < runs; round++)); do
    contenders=(-n camfix "cd run && printf '\n\n' | '$camfix' > /dev/null"
      -n copy "for f in run/*; do dd if=\$f of=out/\${f#run/} bs=1M conv=fsync status=none; done"
      -n rename "for f in run/*; do dd if=\$f of=run/.new bs=1M conv=fsync status=none && mv run/.new \$f; done")
    if [ "$1" != huge ] || [ "$round" -eq 0 ]; then
      contenders+=(-n sed "cd run && sed -i s/FSD/FSL/g *.g* && unix2dos -q *")
    fi
    # Each round begins with the next contender: none always follows the same one.
    first=$((round % (${#contenders[@]} / 3) * 3))
    contenders=("${contenders[@]:first}" "${contenders[@]:0:first}")
    hyperfine --runs 1 --style none --export-csv round.csv \
      --prepare "rm -rf run out && cp -r $1 run && mkdir out && sync" "${contenders[@]}"
    tail -n +2 round.csv >> "$1.csv"
    echo "  $1, round $((round + 1)) of $runs: $(awk -F, 'NR > 1 { printf "%s %.3f s  ", $1, $2 }' round.csv)"
  done
}
peak_mb() { # peak_mb TABLE: camfix's peak memory on a fresh copy of TABLE, in MB
  rm -rf run && cp -r "$1" run
  (cd run && printf '\n\n' | /usr/bin/time -f %M -o ../peak "$camfix" > /dev/null)
  grep -l FSD run/*.g* | head -n 3 | sed 's/^/warning: camfix left FSD in /' >&2 || true
  awk '{ printf "%.1f", $1 / 1024 }' peak
}
median() { # median TABLE NAME: the median of NAME's runs on TABLE
  awk -F, -v name="$2" '$1 == name { print $2 }' "$1.csv" | sort -g |
    awk '{ v[NR] = $1 } END { print (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2 }'
}
row() { # row LABEL VALUE OP TARGET
  awk -v label="$1" -v v="$2" -v op="$3" -v t="$4" 'BEGIN {
    met = op == "<=" ? v <= t : v >= t
    printf "  %-18s %8.2f   target %s %-4s %s\n", label, v, op, t, met ? "met" : "MISSED" }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { print a / b }'; }
report() { # report TABLE TITLE
  local own copy rename sed
  own=$(median "$1" camfix) copy=$(median "$1" copy) rename=$(median "$1" rename) sed=$(median "$1" sed)
  printf '%s: camfix %.3f s, copy %.3f s, copy + rename %.3f s, sed %.3f s (medians of %d runs)\n' \
    "$2" "$own" "$copy" "$rename" "$sed" "$runs"
  if [ "$1" = small ]; then
    printf '  %-18s %8.2f   no target: a copy into a fresh folder replaces no file\n' \
      "camfix / copy" "$(ratio "$own" "$copy")"
  else
    row "camfix / copy" "$(ratio "$own" "$copy")" "<=" 1.15
  fi
  row "camfix / (c + r)" "$(ratio "$own" "$rename")" "<=" 1.0
  row "sed / camfix" "$(ratio "$sed" "$own")" ">=" "$([ "$1" = small ] && echo 2 || echo 5)"
  row "peak memory (MB)" "$(peak_mb "$1")" "<=" 16
}

for table in $tables; do measure "$table"; done
echo
echo "camfix bench, $(nproc) CPU(s)"
for table in $tables; do
  case $table in
    big) report big "big files (3 x 100 MiB Gerber, 25 MiB drill)" ;;
    huge) report huge "huge files (3 x 500 MiB Gerber, 125 MiB drill)" ;;
    small) report small "small files (2,000 x 20 KiB Gerber)" ;;
  esac
done
