#!/usr/bin/env bash
# The setup of CTest's wine fixture (cmake/wine.cmake): readies the scratch
# prefix $WINEPREFIX of $WINEARCH with the `wine` first in PATH (made on first
# use; no display and no Mono or Gecko to offer, so nothing waits for an
# answer) and starts one wineserver for it, so that each run of camfix.exe in
# the wine tests starts quickly. The server ends with the fixture's cleanup
# (wineserver -k), or by itself after a minute unused.
set -euo pipefail
: "${WINEPREFIX:?}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the wine prefix $WINEPREFIX"
  wine wineboot -i < /dev/null
  wineserver -w  # until wineboot's server has gone, so that ours is the one kept
fi
# Detached from CTest's output pipes; 2: a server for this prefix is up already.
wineserver -p60 < /dev/null > /dev/null 2>&1 || [ $? -eq 2 ]
