#!/usr/bin/env bash
# bench/run.sh - wall time and peak memory of camfix on big and on many CAM files.
#
# usage (from the repo root, `make bench` does this):
#     bench/run.sh PATH_TO_CAMFIX
#
# Builds a synthetic CAM folder in a scratch directory under ${BENCH_DIR:-/tmp}
# (removed again at the end) and compares camfix with
#   - copy:  a plain dd copy of the same files with fsync, the practical limit;
#   - sed:   `sed -i 's/FSD/FSL/g'` plus `unix2dos` over the Gerber files,
#            i.e. what one would do by hand without camfix.
# Every figure is the best of BENCH_RUNS runs, each on a fresh copy of the
# folder that is prepared (and synced) outside the timed part. Nothing is
# dropped from the page cache; all contenders see the same cache state.
#
# This is a measurement, not a test: it exits 0 even when a target is missed
# and reports that in the final summary line. It exits non-zero only when it
# cannot run at all (no binary, no tools, no disk).
#
# Knobs (environment), the defaults are what the targets refer to:
#   BENCH_DIR       parent of the scratch directory            (/tmp)
#   BENCH_RUNS      runs per contender, best one counts        (3)
#   BENCH_BIG_MB    size of each of the three big Gerber files (100, MiB)
#   BENCH_DRILL_MB  size of the drill file                     (25, MiB)
#   BENCH_SMALL_N   number of small Gerber files               (2000)
#   BENCH_SMALL_KB  size of each small Gerber file             (20, KiB)
#   BENCH_TIMEOUT   give up on one camfix run after this many seconds (1200)
set -euo pipefail
export LC_ALL=C

die() { echo "bench: $*" >&2; exit 2; }

[ $# -eq 1 ] || die "usage: $0 PATH_TO_CAMFIX"
[ -f "$1" ] && [ -x "$1" ] || die "not an executable file: $1 (build camfix first)"
CAMFIX=$(realpath -- "$1")

RUNS=${BENCH_RUNS:-3}
BIG_BYTES=$(( ${BENCH_BIG_MB:-100} * 1024 * 1024 ))
DRILL_BYTES=$(( ${BENCH_DRILL_MB:-25} * 1024 * 1024 ))
SMALL_N=${BENCH_SMALL_N:-2000}
SMALL_BYTES=$(( ${BENCH_SMALL_KB:-20} * 1024 ))
TIMEOUT=${BENCH_TIMEOUT:-1200}
GNU_TIME=/usr/bin/time

# ---------------------------------------------------------------- tools
# GNU time gives the peak RSS of the child; unix2dos is half of the sed
# contender. Both are installed with apt-get when missing.
ensure_tool() {   # ensure_tool COMMAND DEBIAN_PACKAGE
    local cmd=$1 pkg=$2 sudo=
    command -v "$cmd" >/dev/null 2>&1 && return 0
    echo "bench: $cmd not found, installing package $pkg" >&2
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null 2>&1 || die "need package $pkg (not root, no sudo)"
        sudo=sudo
    fi
    command -v apt-get >/dev/null 2>&1 || die "need package $pkg (no apt-get)"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$pkg" >/dev/null 2>&1 || {
        $sudo apt-get update -qq >/dev/null
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$pkg" >/dev/null
    } || die "could not install $pkg"
    command -v "$cmd" >/dev/null 2>&1 || die "$cmd still missing after installing $pkg"
}
ensure_tool "$GNU_TIME" time
ensure_tool unix2dos dos2unix
for t in awk dd sed cp sync stat wc od timeout realpath mktemp; do
    command -v "$t" >/dev/null 2>&1 || die "missing tool: $t"
done

# ---------------------------------------------------------------- scratch
mkdir -p "${BENCH_DIR:-/tmp}"
SCRATCH=$(mktemp -d "${BENCH_DIR:-/tmp}/camfix-bench.XXXXXX")
cleanup() { cd /; rm -rf -- "$SCRATCH"; }
trap cleanup EXIT
trap 'exit 130' INT TERM
SRC=$SCRATCH/src      # pristine folders, never touched after generation
RUN=$SCRATCH/run      # fresh copy the contender works in
OUT=$SCRATCH/out      # target folder of the copy contender
LOG=$SCRATCH/log      # time output, camfix stderr, expected sizes
mkdir -p "$SRC/large" "$SRC/small" "$LOG"

now()  { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
note() { echo "bench: $*" >&2; }

# ---------------------------------------------------------------- generation
# Gerber-ish content: format statement (FSD, which camfix turns into FSL),
# units, aperture definitions, then a random walk of draws (D01), moves (D02),
# flashes (D03), aperture selects and the odd G36/G37 region.
GERBER_AWK='
function header(out, title) {
    printf "G04 %s*\n", title > out
    printf "G04 synthetic CAM data for the camfix bench*\n" > out
    printf "%%FSDAX24Y24*%%\n" > out
    printf "%%MOIN*%%\n" > out
    printf "%%OFA0B0*%%\n" > out
    printf "%%SFA1.0B1.0*%%\n" > out
    printf "%%IPPOS*%%\n" > out
    printf "%%LPD*%%\n" > out
    printf "%%ADD10C,0.0060*%%\n" > out
    printf "%%ADD11C,0.0100*%%\n" > out
    printf "%%ADD12C,0.0250*%%\n" > out
    printf "%%ADD13R,0.0600X0.0400*%%\n" > out
    printf "%%ADD14R,0.0400X0.0600*%%\n" > out
    printf "%%ADD15O,0.0800X0.0500*%%\n" > out
    printf "%%ADD16C,0.0620*%%\n" > out
    printf "%%ADD17C,0.0800*%%\n" > out
    printf "G01*\n" > out
    printf "D10*\n" > out
}
function footer(out) { printf "M02*\n" > out }
function walk(d) {
    x += int(rand() * (2 * d + 1)) - d; if (x < 0) x = -x; if (x > 999999) x = 1999998 - x
    y += int(rand() * (2 * d + 1)) - d; if (y < 0) y = -y; if (y > 999999) y = 1999998 - y
}
function body(out, nbytes,   t, r, s) {
    t = 0
    while (t < nbytes) {
        if (reg > 0) {
            walk(300); s = sprintf("X%06dY%06dD01*", x, y)
            if (--reg == 0) { print s > out; t += length(s) + 1; s = "G37*" }
        } else {
            r = rand()
            if (r < 0.004)      s = sprintf("D%d*", 10 + int(rand() * 8))
            else if (r < 0.005) { s = "G36*"; reg = 4 + int(rand() * 20) }
            else if (r < 0.045) { walk(60000); s = sprintf("X%06dY%06dD02*", x, y) }
            else if (r < 0.065) { walk(20000); s = sprintf("X%06dY%06dD03*", x, y) }
            else                { walk(2000);  s = sprintf("X%06dY%06dD01*", x, y) }
        }
        print s > out; t += length(s) + 1
    }
}
BEGIN {
    srand(seed); x = 500000; y = 500000; reg = 0
    if (mode == "header") header("/dev/stdout", title)
    else if (mode == "body") body("/dev/stdout", nbytes)
    else if (mode == "footer") footer("/dev/stdout")
    else if (mode == "small") {
        split("gtl gbl gto gbo gts gbs gtp gbp gko gm1", ext, " ")
        for (i = 1; i <= n; i++) {
            f = sprintf("%s/board%04d.%s", dir, i, ext[(i - 1) % 10 + 1])
            header(f, "small board layer"); body(f, nbytes); footer(f); close(f)
        }
    }
}'

# big_gerber NAME TITLE SEED: header, a 1/25 body chunk repeated 25 times, footer
big_gerber() {
    local f=$SRC/large/$1 chunk=$SCRATCH/chunk.$3 i
    awk -v mode=body -v seed="$3" -v nbytes=$(( BIG_BYTES / 25 )) "$GERBER_AWK" > "$chunk"
    {
        awk -v mode=header -v title="$2" "$GERBER_AWK"
        for (( i = 0; i < 25; i++ )); do cat "$chunk"; done
        awk -v mode=footer "$GERBER_AWK"
    } > "$f"
    rm -f -- "$chunk"
}

# Drill file without header: M48, %, T01 and holes, tool changes, M30.
# Tools and sizes match panel.inf below.
TOOL_SIZES=".0320 .0350 .0400 .0420 .0520 .0620 .1250 .1285"
drill_file() {
    awk -v nbytes="$DRILL_BYTES" -v seed=48 'BEGIN {
        srand(seed); split("0.30 0.20 0.15 0.12 0.10 0.07 0.04 0.02", w, " ")
        print "M48"; print "%"
        x = 100000; y = 100000
        for (t = 1; t <= 8; t++) {
            printf "T%02d\n", t
            n = int(nbytes * w[t] / 15)
            for (i = 0; i < n; i++) {
                x += int(rand() * 4001) - 2000; if (x < 0) x = -x; if (x > 999999) x = 1999998 - x
                y += int(rand() * 801) - 400;   if (y < 0) y = -y; if (y > 999999) y = 1999998 - y
                printf "X%06dY%06d\n", x, y
            }
        }
        print "M30"
    }' > "$SRC/large/panel.drl"
}

drill_report() {
    local t=0 s
    {
        echo "DRILL REPORT"
        echo ""
        echo "Design     : panel"
        echo "Drill file : panel.drl"
        echo "Units      : inch"
        echo ""
        echo "T-Code   Size"
        for s in $TOOL_SIZES; do
            t=$(( t + 1 ))
            printf 'T%02d      %s\n' "$t" "$s"
        done
        echo "------------------------------"
    } > "$SRC/large/panel.inf"
}

# gerber.bat is what camfix launches after the repair; here it does nothing.
stub_bat() {
    printf '#!/bin/sh\n# bench stand-in for the plot job, does nothing\nexit 0\n' > "$1/gerber.bat"
    chmod +x "$1/gerber.bat"
}

# expected_sizes FOLDER FILE...: size after LF -> CR LF is size + line count
# (FSD -> FSL keeps the size). Used to check that camfix did the full job.
expected_sizes() {
    local dir=$1; shift
    ( cd "$dir" && wc -l -- "$@" | awk '$2 != "total" { print $2, $1 }' | sort ) > "$LOG/lines"
    ( cd "$dir" && stat -c '%n %s' -- "$@" | sort ) > "$LOG/sizes"
    join "$LOG/sizes" "$LOG/lines" | awk '{ print $1, $2 + $3 }'
}

t0=$(now)
note "generating CAM data in $SCRATCH"
big_gerber panel.gtl "panel top copper"    11 &
big_gerber panel.gbl "panel bottom copper" 12 &
big_gerber panel.gto "panel top overlay"   13 &
drill_file &
awk -v mode=small -v seed=21 -v n="$SMALL_N" -v nbytes="$SMALL_BYTES" -v dir="$SRC/small" "$GERBER_AWK" &
wait   # a failed generator is caught by the checks below
drill_report
stub_bat "$SRC/large"
stub_bat "$SRC/small"

LARGE_GERBERS=(panel.gtl panel.gbl panel.gto)
LARGE_FILES=("${LARGE_GERBERS[@]}" panel.drl)
mapfile -t SMALL_GERBERS < <(cd "$SRC/small" && ls -- *.g*)
SMALL_FILES=("${SMALL_GERBERS[@]}")
[ "${#SMALL_GERBERS[@]}" -eq "$SMALL_N" ] || die "generated ${#SMALL_GERBERS[@]} small files, wanted $SMALL_N"
for f in "${LARGE_FILES[@]}"; do [ -s "$SRC/large/$f" ] || die "generating $f failed"; done
expected_sizes "$SRC/large" "${LARGE_GERBERS[@]}" > "$LOG/expect.large"
expected_sizes "$SRC/small" "${SMALL_GERBERS[@]}" > "$LOG/expect.small"
DRL_SIZE=$(stat -c %s "$SRC/large/panel.drl")
LARGEST=$(cd "$SRC/large" && stat -c %s -- "${LARGE_FILES[@]}" | sort -n | tail -n 1)
SMALL_LARGEST=$(cd "$SRC/small" && stat -c %s -- "${SMALL_FILES[@]}" | sort -n | tail -n 1)
SMALL_TOTAL=$(cd "$SRC/small" && stat -c %s -- "${SMALL_FILES[@]}" | awk '{ s += $1 } END { print s }')
note "generated in $(secs "$t0" "$(now)") s"

# ---------------------------------------------------------------- contenders
# fresh FOLDER: new copy of the pristine folder in $RUN, empty $OUT, and the
# dirty pages of the copy written back so the timed part does not pay for them.
fresh() {
    rm -rf -- "$RUN" "$OUT"
    cp -a -- "$SRC/$1" "$RUN"
    mkdir -- "$OUT"
    sync
}

# check_camfix FOLDER: after a camfix run, every Gerber must have grown by
# exactly one byte per line (CR LF), show FSL in the format statement and end
# in CR LF; the drill file must have got its header after "M48".
check_camfix() {
    local folder=$1 f bad top
    bad=$(cd "$RUN" && stat -c '%n %s' -- $(awk '{ print $1 }' "$LOG/expect.$folder") | sort |
          join - "$LOG/expect.$folder" | awk '$2 != $3 { n++ } END { print n + 0 }')
    [ "$bad" -eq 0 ] || { echo "$folder: $bad Gerber file(s) not fully converted to CR LF"; return; }
    f=$(head -n 1 "$LOG/expect.$folder" | awk '{ print $1 }')
    top=$(head -c 65536 "$RUN/$f")
    [[ $top == *FSLAX24Y24* ]] || { echo "$folder: $f has no FSL statement"; return; }
    [[ $top != *FSD* ]] || { echo "$folder: $f still contains FSD"; return; }
    [ "$(tail -c 2 "$RUN/$f" | od -An -tx1 | tr -d ' \n')" = 0d0a ] || { echo "$folder: $f does not end in CR LF"; return; }
    if [ "$folder" = large ]; then
        [ "$(head -n 1 "$RUN/panel.drl" | tr -d '\r')" = M48 ] || { echo "large: panel.drl no longer starts with M48"; return; }
        [ "$(sed -n '2{p;q}' "$RUN/panel.drl" | tr -d '\r')" != "%" ] &&
        [ "$(stat -c %s "$RUN/panel.drl")" -gt "$DRL_SIZE" ] || { echo "large: panel.drl got no header line"; return; }
    fi
}

WARNINGS=()
warn_once() { local w; for w in "${WARNINGS[@]+"${WARNINGS[@]}"}"; do [ "$w" = "$1" ] && return; done; WARNINGS+=("$1"); }

# Each measure_* sets BEST (seconds); measure_camfix also sets BEST_RSS (KiB).
measure_camfix() {
    local folder=$1 i t1 t2 el rss rc msg
    BEST="" BEST_RSS=""
    for (( i = 1; i <= RUNS; i++ )); do
        fresh "$folder"
        cd "$RUN"
        t1=$(now)
        set +e
        { printf 'q\n' || true; } |
            "$GNU_TIME" -f '%e %M' -o "$LOG/time" timeout "$TIMEOUT" "$CAMFIX" >/dev/null 2>>"$LOG/camfix.stderr"
        rc=${PIPESTATUS[1]}
        set -e
        t2=$(now)
        cd "$SCRATCH"
        el=$(secs "$t1" "$t2")
        rss=$(tail -n 1 "$LOG/time" | awk '{ print $2 + 0 }')
        [ "$rc" -eq 0 ] || warn_once "$folder: camfix exited with status $rc (stderr: $(tail -n 1 "$LOG/camfix.stderr" 2>/dev/null))"
        msg=$(check_camfix "$folder")
        [ -z "$msg" ] || warn_once "$msg"
        note "$folder: camfix run $i/$RUNS  ${el} s  peak RSS $(( rss / 1024 )) MiB"
        BEST=$(awk -v a="$BEST" -v b="$el" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }')
        BEST_RSS=$(awk -v a="$BEST_RSS" -v b="$rss" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }')
    done
}

measure_copy() {
    local folder=$1; shift
    local i f t1 el
    BEST=""
    for (( i = 1; i <= RUNS; i++ )); do
        fresh "$folder"
        t1=$(now)
        for f in "$@"; do
            dd if="$RUN/$f" of="$OUT/$f" bs=1M conv=fsync status=none
        done
        el=$(secs "$t1" "$(now)")
        note "$folder: copy   run $i/$RUNS  ${el} s"
        BEST=$(awk -v a="$BEST" -v b="$el" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }')
    done
}

measure_sed() {
    local folder=$1; shift
    local i t1 el
    BEST=""
    for (( i = 1; i <= RUNS; i++ )); do
        fresh "$folder"
        cd "$RUN"
        t1=$(now)
        sed -i 's/FSD/FSL/g' "$@"
        unix2dos -q "$@"
        el=$(secs "$t1" "$(now)")
        cd "$SCRATCH"
        note "$folder: sed    run $i/$RUNS  ${el} s"
        BEST=$(awk -v a="$BEST" -v b="$el" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }')
    done
}

cd "$SCRATCH"
measure_camfix large;                      L_CAMFIX=$BEST L_RSS=$BEST_RSS
measure_copy   large "${LARGE_FILES[@]}";   L_COPY=$BEST
measure_sed    large "${LARGE_GERBERS[@]}"; L_SED=$BEST
measure_camfix small;                      S_CAMFIX=$BEST S_RSS=$BEST_RSS
measure_copy   small "${SMALL_FILES[@]}";   S_COPY=$BEST
measure_sed    small "${SMALL_GERBERS[@]}"; S_SED=$BEST
rm -rf -- "$RUN" "$OUT"

# ---------------------------------------------------------------- report
PASSED=0 TOTAL=0 FAILED=()
# row LABEL VALUE [OP LIMIT]: one line of a ratio table, counts PASS/FAIL;
# without OP LIMIT the ratio is shown for information only
row() {
    local verdict
    if [ $# -eq 2 ]; then
        printf '  %-30s %8.2f   %-8s  %s\n' "$1" "$2" "-" "-"
        return
    fi
    verdict=$(awk -v v="$2" -v op="$3" -v l="$4" 'BEGIN {
        ok = (op == "<=") ? (v <= l) : (v >= l); print ok ? "PASS" : "FAIL" }')
    TOTAL=$(( TOTAL + 1 ))
    if [ "$verdict" = PASS ]; then PASSED=$(( PASSED + 1 )); else FAILED+=("$1"); fi
    printf '  %-30s %8.2f   %s %-5s  %s\n' "$1" "$2" "$3" "$4" "$verdict"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", (b > 0) ? a / b : 999999 }'; }
mib()   { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }

echo
echo "camfix bench  ($CAMFIX, best of $RUNS runs, $(nproc) CPU(s))"
echo
echo "Large files: 3 Gerber + 1 drill, largest file $(mib "$LARGEST") MiB"
printf '  %-30s %8.3f s   peak RSS %s MiB\n' "camfix" "$L_CAMFIX" "$(mib $(( L_RSS * 1024 )))"
printf '  %-30s %8.3f s\n' "copy (dd, fsync)" "$L_COPY"
printf '  %-30s %8.3f s\n' "sed + unix2dos (Gerbers only)" "$L_SED"
printf '  %-30s %8s   %-8s  %s\n' "ratio" "value" "target" "result"
row "camfix / copy"             "$(ratio "$L_CAMFIX" "$L_COPY")"               "<=" 2.0
row "sed / camfix"              "$(ratio "$L_SED" "$L_CAMFIX")"                ">=" 5
row "peak RSS / largest file"   "$(ratio $(( L_RSS * 1024 )) "$LARGEST")"      "<=" 2.5
echo
echo "Small files: $SMALL_N Gerber, $(mib "$SMALL_TOTAL") MiB in all, largest $(awk -v b="$SMALL_LARGEST" 'BEGIN { printf "%.1f", b / 1024 }') KiB"
printf '  %-30s %8.3f s   peak RSS %s MiB\n' "camfix" "$S_CAMFIX" "$(mib $(( S_RSS * 1024 )))"
printf '  %-30s %8.3f s\n' "copy (dd, fsync)" "$S_COPY"
printf '  %-30s %8.3f s\n' "sed + unix2dos" "$S_SED"
printf '  %-30s %8s   %-8s  %s\n' "ratio" "value" "target" "result"
row "small: camfix / copy"      "$(ratio "$S_CAMFIX" "$S_COPY")"               "<=" 3.0
row "small: sed / camfix"       "$(ratio "$S_SED" "$S_CAMFIX")"
echo

for w in "${WARNINGS[@]+"${WARNINGS[@]}"}"; do echo "warning: $w"; done
summary="bench summary: $PASSED/$TOTAL targets met"
if [ "${#FAILED[@]}" -gt 0 ]; then
    missed=$(printf '%s, ' "${FAILED[@]}")
    summary+=" (missed: ${missed%, })"
fi
[ "${#WARNINGS[@]}" -eq 0 ] || summary+="; ${#WARNINGS[@]} warning(s), camfix output or exit status not as expected"
summary+="; total bench time $(secs "$t0" "$(now)") s"
echo "$summary"
exit 0
