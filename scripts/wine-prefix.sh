#!/usr/bin/env bash
# wine-prefix.sh CAMFIX_EXE: the setup of CTest's wine fixture (cmake/wine.cmake).
# Readies the scratch prefix $WINEPREFIX of $WINEARCH with the `wine` first in
# PATH (made on first use; no display and no Mono or Gecko to offer, so nothing
# waits for an answer), starts one wineserver for it, so that each run of
# camfix.exe in the wine tests starts quickly, and says which camfix.exe the
# wine tests run: its machine type, and its answer to --version. The server
# ends with the fixture's cleanup (wineserver -k), or by itself after a minute unused.
set -euo pipefail
: "${WINEPREFIX:?}"
exe=$1
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the wine prefix $WINEPREFIX"
  wine wineboot -i < /dev/null
  wineserver -w  # until wineboot's server has gone, so that ours is the one kept
fi
# As on Windows, a name that begins with a dot is no hidden file (wine's
# default hides them).
wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f < /dev/null > /dev/null 2>&1
# Detached from CTest's output pipes; 2: a server for this prefix is up already.
wineserver -p60 < /dev/null > /dev/null 2>&1 || [ $? -eq 2 ]
# The PE header's machine field: 014c for i386, 8664 for x86-64.
header=$(od -An -tu4 -j60 -N4 "$exe")
machine=$(od -An -tx2 -j$((header + 4)) -N2 "$exe" | tr -d ' ')
if [ "$machine" = 014c ] && ! /usr/lib/wine/wine --version > /dev/null 2>&1; then
  echo "wine's 32-bit loader no longer runs here (the qemu-i386 entry is gone after a reboot?):" \
    "run scripts/install-prereqs.sh as root, or configure again for the 64-bit stand-in" >&2
  exit 1
fi
case $machine in
  014c) kind="the shipped 32-bit program (i386)" ;;
  8664) kind="a 64-bit stand-in (x86-64): the shipped 32-bit camfix.exe is NOT run" ;;
  *) kind="machine $machine" ;;
esac
# Into a file: wine's services, started by this first run, inherit its output
# and would hold a pipe open.
wine "$exe" --version < /dev/null > "$WINEPREFIX/camfix-version.txt" 2>&1
echo "The wine tests run $exe, $kind: $(tr -d '\r' < "$WINEPREFIX/camfix-version.txt")"
