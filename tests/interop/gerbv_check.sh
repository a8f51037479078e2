#!/usr/bin/env bash
# gerbv_check.sh CAMFIX_BINARY
#
# Interop proof with an independent reader: camfix repairs two boards in
# scratch folders, and gerbv (a Gerber/Excellon viewer, used here through its
# headless export modes) reads every file before and after the repair.
#
#   board  - a copy of examples/board/ (4 drill tools)
#   panel  - generated here: 7 drill tools of different diameters, used out of
#            order, upper-case Gerber extension, LF / CR LF / lone CR line ends
#
# Per board it checks, one line each:
#   before: the Gerber files declare FSD, and gerbv reads them cleanly
#   before: gerbv complains about the drill file (tools used but not defined)
#   camfix runs (input "\n\n") and exits 0
#   the rewritten files hold exactly the bytes the repair rules give
#   after:  gerbv reads every Gerber file without CRITICAL/WARNING
#   after:  gerbv draws every Gerber file as it drew the original
#   after:  gerbv reads the drill file without CRITICAL/WARNING
#   after:  the tool diameters gerbv reads equal the drill report
#   after:  gerbv puts every hole where the drill file says, on a pad of both
#           copper layers and inside the board outline
#
# Set GERBV_CHECK_KEEP=1 to keep the scratch folder for a look afterwards.
# Exit status: 0 when every check passes, 1 when one fails, 2 on a usage or
# setup problem. Needs bash, gerbv, perl, awk, cmp, timeout.
set -euo pipefail

die() { printf 'gerbv_check: %s\n' "$*" >&2; exit 2; }

[ $# -eq 1 ] || die "usage: $0 CAMFIX_BINARY"
camfix=$(realpath -e -- "$1" 2>/dev/null) || die "no such file: $1"
{ [ -f "$camfix" ] && [ -x "$camfix" ]; } || die "not an executable file: $1"
for tool in gerbv perl awk cmp timeout; do
    command -v "$tool" >/dev/null || die "$tool not found (gerbv: Debian package gerbv)"
done
here=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
example=$(cd -- "$here/../../examples/board" 2>/dev/null && pwd) || die "examples/board/ not found"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/camfix-gerbv.XXXXXX")
if [ -n "${GERBV_CHECK_KEEP:-}" ]; then
    trap 'echo "gerbv_check: scratch kept in $scratch"' EXIT
else
    trap 'rm -rf -- "$scratch"' EXIT
fi

failures=0
detail=$scratch/detail.txt

# check DESCRIPTION COMMAND...: one line per check; the command's output is
# shown only when it fails. Check functions return 1 explicitly on failure
# (errexit does not apply inside a function called from an if).
check() {
    local desc=$1
    shift
    if "$@" >"$detail" 2>&1; then
        printf 'ok    %s\n' "$desc"
    else
        printf 'FAIL  %s\n' "$desc"
        sed 's/^/        /' "$detail"
        failures=$((failures + 1))
    fi
}

# ---------------------------------------------------------------- helpers --

# gerbv_read FILE OUT LOG: read FILE with gerbv, export what it read as
# RS-274X to OUT, keep everything gerbv printed in LOG.
gerbv_read() {
    rm -f -- "$2"
    gerbv -x rs274x -o "$2" "$1" >"$3" 2>&1 </dev/null || {
        echo "gerbv failed on $1:"; cat "$3"; return 1; }
    [ -s "$2" ] || { echo "gerbv wrote no export for $1:"; cat "$3"; return 1; }
}

# complaints LOG: the CRITICAL and WARNING lines gerbv printed.
complaints() { grep -E 'CRITICAL|WARNING' -- "$1" || true; }

# lines FILE: the file's lines, whatever ends them (CR LF, LF or lone CR).
lines() { perl -0777 -ne 'print map { "$_\n" } split /\r\n|\r|\n/, $_, -1' -- "$1"; }

# report_tools REPORT: "Tnn 0.dddd" for each tool line between the
# "T-Code   Size" heading and the first line of dashes.
report_tools() {
    lines "$1" | awk '
        /^T-Code   Size$/ { inside = 1; next }
        /^----/            { inside = 0 }
        inside && /^T[0-9]+      \.[0-9]+$/ { print $1, "0" $2 }'
}

# drill_holes DRILLFILE: "Tnn x y" per hole, x and y in 1/10000 inch, read
# the way INCH,LZ says (format 2.4, leading zeros present, trailing zeros may
# be dropped). Only the body after "%" is read.
drill_holes() {
    lines "$1" | awk '
        /^%$/                      { body = 1; next }
        body && /^T[0-9]+$/        { tool = $0; next }
        body && /^X[0-9]+Y[0-9]+$/ {
            s = substr($0, 2); split(s, a, "Y"); x = a[1]; y = a[2]
            while (length(x) < 6) x = x "0"
            while (length(y) < 6) y = y "0"
            print tool, x + 0, y + 0 }'
}

# gerbv_shapes EXPORT: from a gerbv RS-274X export (format 3.6, inch):
#   "F x y diameter" per flash, "P x y" per other point, x and y in
#   1/1000000 inch; diameter of circular apertures only (others: "-").
gerbv_shapes() {
    lines "$1" | awk '
        /^%ADD[0-9]+/ {
            d = $0; sub(/^%ADD/, "", d); n = d; sub(/[^0-9].*/, "", n)
            dia = "-"
            if (d ~ /^[0-9]+C,/) { dia = d; sub(/^[0-9]+C,/, "", dia); sub(/[X*].*/, "", dia) }
            ap["D" n] = dia; next }
        /D0[123]\*$/ {
            s = $0
            if (match(s, /X-?[0-9]+/)) x = substr(s, RSTART + 1, RLENGTH - 1) + 0
            if (match(s, /Y-?[0-9]+/)) y = substr(s, RSTART + 1, RLENGTH - 1) + 0
            if (s ~ /D03\*$/) print "F", x, y, ap[cur]; else print "P", x, y
            next }
        /^(G54)?D[1-9][0-9]+\*$/ { cur = $0; sub(/^G54/, "", cur); sub(/\*$/, "", cur) }'
}

# gerber_files DIR: the names the repair treats as Gerber files.
gerber_files() {
    ( cd -- "$1" && shopt -s nullglob nocaseglob && for f in *.g*; do [ -f "$f" ] && echo "$f"; done )
}

# ------------------------------------------------ the repair rules, in perl --
# Used to compute the expected bytes of every rewritten file: split into lines
# at CR LF, LF or lone CR; join every line with CR LF.
cat >"$scratch/expect.pl" <<'PERL'
use strict;
use warnings;
my ($dir) = @ARGV;
opendir(my $dh, $dir) or die "$dir: $!";
my @names = sort grep { -f "$dir/$_" } readdir $dh;
closedir $dh;
sub slurp { open(my $f, '<:raw', "$dir/$_[0]") or die "$_[0]: $!"; local $/; my $t = <$f>; $t // '' }
sub spit  { open(my $f, '>:raw', "$dir/$_[0]") or die "$_[0]: $!"; print $f $_[1]; close $f or die }
sub split_lines { my ($t) = @_; my @l; while (length $t) { $t =~ s/\A([^\r\n]*)(?:\r\n|\r|\n)?//; push @l, $1 } @l }
sub join_lines { join '', map { "$_\r\n" } @_ }
for my $n (grep { /\.g/i } @names) {
    my $t = join_lines(split_lines(slurp($n)));
    $t =~ s/FSD/FSL/g;
    spit($n, $t);
}
my $table = '';
for my $n (grep { /\.inf$/i } @names) {
    my $t = join_lines(split_lines(slurp($n)));
    my $p = index($t, "T-Code   Size") + 1;               # 1-based, 0 = none
    $table = length($t) >= $p + 14 ? substr($t, $p + 13) : '';
    my $q = index($table, "----") + 1;
    $table = $q > 1 ? substr($table, 0, $q - 1) : '';
    $table =~ s/      \./C0./g;
}
for my $n (grep { /\.drl$/i } @names) {
    my @l = split_lines(slurp($n));
    die "$n: empty drill file\n" unless @l;
    splice @l, 1, 0, "INCH,LZ\n\r" . $table;
    spit($n, join_lines(@l));
}
PERL

# -------------------------------------------------------- the second board --

# endings MODE FILE: rewrite an LF file with lf, crlf or mixed line ends
# (mixed: CR LF, LF, lone CR in turn).
endings() {
    case $1 in
        lf) ;;
        crlf) perl -i -pe 's/\n/\r\n/' -- "$2" ;;
        mixed) perl -i -pe 'my @e = ("\r\n", "\n", "\r"); s/\n/$e[($. - 1) % 3]/' -- "$2" ;;
    esac
}

# make_panel DIR: a 2.000 x 1.500 inch board with 7 drill tools, each hole on
# a pad of both copper layers; drill file without header, as the CAD leaves it.
make_panel() {
    local dir=$1
    mkdir -p -- "$dir"
    # tool diameter, then its holes (1/10000 inch) as x,y pairs
    cat >"$dir/tools.txt" <<'EOF'
T01 .0135 2125,1500 6000,1500 9875,1500
T02 .0280 2125,3375 6000,3375 9875,3375 13750,3375
T03 .0350 2125,5250 6000,5250
T04 .0420 2125,7125 6000,7125 9875,7125
T05 .0625 2125,9000 6000,9000 9875,9000 13750,9000
T06 .0860 2125,10875 6000,10875
T07 .1250 2125,12750 6000,12750 17500,12750
EOF
    {
        echo "Drill report - panel.drl"
        echo "Generated for the camfix interop check"
        echo "Units: inch   Size column: finished hole diameter"
        echo
        echo "T-Code   Size"
        awk '{ print $1 "      " $2 }' "$dir/tools.txt"
        echo "-----------------------"
        echo "Tools: 7   Holes: 21"
    } >"$dir/panel.inf"
    endings lf "$dir/panel.inf"

    # drill body, trailing zeros dropped (INCH,LZ, format 2.4), tools out of order
    {
        echo "M48"
        echo "%"
        for t in T05 T01 T07 T03 T02 T06 T04; do
            awk -v t="$t" '$1 == t {
                print t
                for (i = 3; i <= NF; i++) {
                    split($i, c, ",")
                    x = sprintf("%06d", c[1]); y = sprintf("%06d", c[2])
                    sub(/0+$/, "", x); sub(/0+$/, "", y)
                    print "X" x "Y" y } }' "$dir/tools.txt"
        done
        echo "M30"
    } >"$dir/panel.drl"
    endings mixed "$dir/panel.drl"

    # copper: one round pad per hole, pad = hole + 0.025 inch; coordinates
    # format 2.4 with leading zeros omitted, as FSL reads them
    local layer name mode
    for layer in top:panel.GTL:lf bottom:panel.gbl:crlf; do
        IFS=: read -r layer name mode <<<"$layer"
        {
            echo "G04 panel: $layer copper*"
            echo "%FSDAX24Y24*%"
            echo "%MOIN*%"
            echo "%LPD*%"
            awk '{ printf "%%ADD%dC,%.4f*%%\n", 9 + NR, $2 + 0.025 }' "$dir/tools.txt"
            echo "%ADD20C,0.0150*%"
            awk '{ printf "D%d*\n", 9 + NR
                   for (i = 3; i <= NF; i++) { split($i, c, ","); printf "X%dY%dD03*\n", c[1], c[2] } }' \
                "$dir/tools.txt"
            echo "D20*"
            echo "G01*"
            echo "X2125Y1500D02*"
            echo "Y12750D01*"
            echo "M02*"
        } >"$dir/$name"
        endings "$mode" "$dir/$name"
    done
    {
        echo "G04 panel: outline 2.000 x 1.500 inch*"
        echo "%FSDAX24Y24*%"
        echo "%MOIN*%"
        echo "%ADD10C,0.0100*%"
        echo "D10*"
        echo "G01*"
        echo "X0Y0D02*"
        echo "X20000D01*"
        echo "Y15000D01*"
        echo "X0D01*"
        echo "Y0D01*"
        echo "M02*"
    } >"$dir/panel.gm1"
    endings mixed "$dir/panel.gm1"

    # gerber.bat leaves a mark, so that its launch can be seen
    printf ': ; echo launched > gerber.launched ; exit 0 #\r\n@echo off\r\necho launched> gerber.launched\r\n' \
        >"$dir/gerber.bat"
    rm -f -- "$dir/tools.txt"
}

# ----------------------------------------------------------------- checks --

# Variables set per board by run_board: B (name), ORIG, RUN, WANT, GV (gerbv
# output), DRL, INF, TOP, BOTTOM, OUTLINE (file names).

chk_gerber_before() {
    local f n=0 bad=0
    while read -r f; do
        n=$((n + 1))
        grep -q '%FSDAX24Y24\*%' "$ORIG/$f" || { echo "$f: no %FSDAX24Y24*% statement"; bad=1; }
        gerbv_read "$ORIG/$f" "$GV/before.$f.gbr" "$GV/before.$f.log" || { bad=1; continue; }
        if [ -n "$(complaints "$GV/before.$f.log")" ]; then
            echo "$f: gerbv complains about the original:"; complaints "$GV/before.$f.log"; bad=1
        fi
    done < <(gerber_files "$ORIG")
    [ "$n" -ge 3 ] || { echo "only $n Gerber files found"; bad=1; }
    return "$bad"
}

chk_drill_before() {
    local used undefined placed total
    gerbv_read "$ORIG/$DRL" "$GV/before.drl.gbr" "$GV/before.drl.log" || return 1
    used=$(drill_holes "$ORIG/$DRL" | awk '{ print $1 }' | sort -u | wc -l)
    undefined=$(grep -oE 'Tool [0-9]+ used without being defined' "$GV/before.drl.log" | sort -u | wc -l)
    total=$(drill_holes "$ORIG/$DRL" | wc -l)
    # how many holes gerbv puts at the position the drill file means
    placed=$(awk 'NR == FNR { want[$2 * 100 " " $3 * 100] = 1; next }
                  $1 == "F" && ($2 " " $3) in want { n++ } END { print n + 0 }' \
             <(drill_holes "$ORIG/$DRL") <(gerbv_shapes "$GV/before.drl.gbr"))
    echo "gerbv on the original $DRL:"; complaints "$GV/before.drl.log"
    echo "tools used: $used, reported undefined: $undefined; holes at their place: $placed of $total"
    [ "$used" -gt 0 ] && [ "$undefined" -eq "$used" ] && [ "$placed" -lt "$total" ]
}

chk_camfix_run() {
    local rc=0
    ( cd -- "$RUN" && printf '\n\n' | timeout 30 "$camfix" ) >"$GV/camfix.out" 2>"$GV/camfix.err" || rc=$?
    if [ "$rc" -ne 0 ]; then
        echo "exit code $rc"; cat "$GV/camfix.out" "$GV/camfix.err"; return 1
    fi
    grep -q 'hit any key to exit\.\.\.' "$GV/camfix.out" || {
        echo 'no "hit any key to exit..." on the console:'; cat "$GV/camfix.out"; return 1; }
    [ ! -s "$GV/camfix.err" ] || { echo "standard error:"; cat "$GV/camfix.err"; return 1; }
}

chk_gerber_bat_launched() {
    local _
    for _ in $(seq 50); do
        [ -f "$RUN/gerber.launched" ] && return 0
        sleep 0.1
    done
    echo "no mark from gerber.bat in $RUN after 5 s"; return 1
}

chk_bytes() {
    local f bad=0
    for f in "$WANT"/*; do
        f=${f##*/}
        if ! cmp -s -- "$WANT/$f" "$RUN/$f"; then
            bad=1
            echo "$f differs from the expected repair:"
            cmp -- "$WANT/$f" "$RUN/$f" 2>&1 | sed 's/^/  /' || true
            echo "  expected (head):"; head -c 240 -- "$WANT/$f" | od -c | head -8 | sed 's/^/    /'
            echo "  got (head):";      head -c 240 -- "$RUN/$f"  | od -c | head -8 | sed 's/^/    /'
        fi
    done
    return "$bad"
}

chk_gerber_after() {
    local f bad=0
    while read -r f; do
        gerbv_read "$RUN/$f" "$GV/after.$f.gbr" "$GV/after.$f.log" || { bad=1; continue; }
        if [ -n "$(complaints "$GV/after.$f.log")" ]; then
            echo "$f:"; complaints "$GV/after.$f.log"; bad=1
        fi
    done < <(gerber_files "$RUN")
    return "$bad"
}

chk_gerber_same_image() {
    local f bad=0
    while read -r f; do
        if [ ! -s "$GV/before.$f.gbr" ] || [ ! -s "$GV/after.$f.gbr" ]; then
            echo "$f: no gerbv export"; bad=1; continue
        fi
        cmp -s -- "$GV/before.$f.gbr" "$GV/after.$f.gbr" || {
            echo "$f: gerbv reads the repaired file differently:"
            diff -- "$GV/before.$f.gbr" "$GV/after.$f.gbr" | head -20; bad=1; }
    done < <(gerber_files "$ORIG")
    return "$bad"
}

chk_drill_after() {
    gerbv_read "$RUN/$DRL" "$GV/after.drl.gbr" "$GV/after.drl.log" || return 1
    if [ -n "$(complaints "$GV/after.drl.log")" ]; then
        complaints "$GV/after.drl.log"; return 1
    fi
}

# Each hole of the drill file, found by its position in what gerbv read, must
# have the diameter that the report gives its tool; and gerbv must know no
# other diameter.
chk_tool_sizes() {
    [ -s "$GV/after.drl.gbr" ] || { echo "no gerbv export of the repaired $DRL"; return 1; }
    report_tools "$ORIG/$INF" >"$GV/report.txt"
    drill_holes "$ORIG/$DRL" >"$GV/holes.txt"
    gerbv_shapes "$GV/after.drl.gbr" >"$GV/read.txt"
    awk '
        FILENAME ~ /report/ { size[$1] = $2; ntools++; next }
        FILENAME ~ /holes/  { tool[++nh] = $1; key[nh] = $2 * 100 " " $3 * 100; next }
        $1 == "F"           { read[$2 " " $3] = $4; seen[$4] = 1; nread++ }
        END {
            bad = 0
            for (i = 1; i <= nh; i++) {
                t = tool[i]
                if (!(t in size))          { print "hole " i ": tool " t " not in the report"; bad = 1; continue }
                if (!(key[i] in read))     { print "hole " i " (" t "): gerbv has no hole at " key[i] " (1e-6 in)"; bad = 1; continue }
                if (read[key[i]] - size[t] > 0.00005 || size[t] - read[key[i]] > 0.00005) {
                    print "hole " i " (" t "): gerbv diameter " read[key[i]] ", report " size[t]; bad = 1 }
                used[t] = 1
            }
            if (nread != nh) { print "gerbv reads " nread " holes, the drill file has " nh; bad = 1 }
            for (d in seen) {
                ok = 0
                for (t in size) if (d - size[t] <= 0.00005 && size[t] - d <= 0.00005) ok = 1
                if (!ok) { print "gerbv reads a diameter " d " that the report does not list"; bad = 1 }
            }
            for (t in size) if (!(t in used)) { print "report tool " t " has no hole"; bad = 1 }
            if (ntools < 3) { print "only " ntools " tools in the report"; bad = 1 }
            exit bad
        }' "$GV/report.txt" "$GV/holes.txt" "$GV/read.txt" || return 1
}

# Every hole is where the drill file (read as INCH,LZ) puts it, sits on a pad
# flashed at the same place in both copper layers, and lies inside the
# outline's bounding box.
chk_hole_places() {
    [ -s "$GV/after.drl.gbr" ] || { echo "no gerbv export of the repaired $DRL"; return 1; }
    gerbv_shapes "$GV/after.$TOP.gbr"     >"$GV/top.txt"
    gerbv_shapes "$GV/after.$BOTTOM.gbr"  >"$GV/bottom.txt"
    gerbv_shapes "$GV/after.$OUTLINE.gbr" >"$GV/outline.txt"
    gerbv_shapes "$GV/after.drl.gbr"      >"$GV/read.txt"
    drill_holes "$ORIG/$DRL"              >"$GV/holes.txt"
    awk '
        FILENAME ~ /top/     { if ($1 == "F") top[$2 " " $3] = 1; next }
        FILENAME ~ /bottom/  { if ($1 == "F") bot[$2 " " $3] = 1; next }
        FILENAME ~ /outline/ {
            if (++no == 1) { x0 = x1 = $2; y0 = y1 = $3 }
            if ($2 < x0) x0 = $2; if ($2 > x1) x1 = $2
            if ($3 < y0) y0 = $3; if ($3 > y1) y1 = $3
            next }
        FILENAME ~ /holes/   { want[$2 * 100 " " $3 * 100] = 1; nw++; next }
        $1 == "F" {
            k = $2 " " $3; n++
            if (!(k in want)) { print "gerbv hole at " k " (1e-6 in) is not in the drill file"; bad = 1 }
            if (!(k in top))  { print "hole at " k ": no pad in the top copper"; bad = 1 }
            if (!(k in bot))  { print "hole at " k ": no pad in the bottom copper"; bad = 1 }
            r = $4 / 2 * 1000000
            if ($2 - r <= x0 || $2 + r >= x1 || $3 - r <= y0 || $3 + r >= y1) {
                print "hole at " k " is not inside the outline " x0 "," y0 " - " x1 "," y1; bad = 1 }
        }
        END {
            if (no < 4)   { print "outline has " no + 0 " points"; bad = 1 }
            if (n != nw)  { print "gerbv reads " n + 0 " holes, the drill file has " nw + 0; bad = 1 }
            exit bad
        }' "$GV/top.txt" "$GV/bottom.txt" "$GV/outline.txt" "$GV/holes.txt" "$GV/read.txt" || return 1
}

# run_board NAME SOURCE_DIR TOP BOTTOM OUTLINE
run_board() {
    B=$1
    local src=$2
    TOP=$3 BOTTOM=$4 OUTLINE=$5
    ORIG=$scratch/$B/orig RUN=$scratch/$B/run WANT=$scratch/$B/want GV=$scratch/$B/gerbv
    DRL=$B.drl INF=$B.inf
    mkdir -p -- "$ORIG" "$RUN" "$WANT" "$GV"
    cp -p -- "$src"/* "$ORIG/"          # not the dot files: .gitattributes is no CAM output
    cp -p -- "$ORIG"/* "$RUN/"
    cp -p -- "$ORIG"/* "$WANT/"
    perl "$scratch/expect.pl" "$WANT" || die "cannot compute the expected repair for $B"

    local ng nt
    ng=$(gerber_files "$ORIG" | wc -l)
    nt=$(report_tools "$ORIG/$INF" | wc -l)
    check "$B: before: $ng Gerber files declare FSD; gerbv reads them cleanly (it passes FSD silently)" chk_gerber_before
    check "$B: before: gerbv complains about $DRL: tools used but not defined, holes misplaced" chk_drill_before
    if ! check_ok "$B: camfix exits 0 after a full run (input: two empty lines)" chk_camfix_run; then
        return 0
    fi
    if [ -f "$ORIG/gerber.bat" ] && grep -q gerber.launched "$ORIG/gerber.bat"; then
        check "$B: gerber.bat was launched in the board folder" chk_gerber_bat_launched
    fi
    rm -f -- "$RUN/gerber.launched"
    check "$B: rewritten files hold the repaired bytes (FSL, CR LF, drill header); others untouched" chk_bytes
    check "$B: after: gerbv reads the $ng repaired Gerber files without CRITICAL/WARNING" chk_gerber_after
    check "$B: after: gerbv reads each repaired Gerber file to the same image as the original" chk_gerber_same_image
    check "$B: after: gerbv reads the repaired $DRL without CRITICAL/WARNING" chk_drill_after
    check "$B: after: the $nt tool diameters gerbv reads from $DRL equal those in $INF" chk_tool_sizes
    check "$B: after: every hole lies where $DRL puts it, on pads of both copper layers, inside the outline" chk_hole_places
}

# check_ok: check, and tell whether it passed.
check_ok() {
    local before=$failures
    check "$@"
    [ "$failures" -eq "$before" ]
}

make_panel "$scratch/panel-src"
run_board board "$example" board.gtl board.gbl board.gko
run_board panel "$scratch/panel-src" panel.GTL panel.gbl panel.gm1

if [ "$failures" -ne 0 ]; then
    echo "gerbv_check: $failures check(s) failed"
    exit 1
fi
echo "gerbv_check: all checks passed"
