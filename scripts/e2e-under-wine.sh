#!/usr/bin/env bash
# Runs the end-to-end suite against camfix.exe under wine: the same test
# program as for the Linux build, told by CAMFIX_UNDER_TEST to start the .exe.
# The wine prefix is a scratch one in build/, made on first use without a
# display or any install prompt; one wineserver stays up for the whole suite
# so that each run of camfix.exe starts quickly.
# Arguments go to the test program, e.g. --gtest_filter=Repair.*
set -euo pipefail
cd "$(dirname "$0")/.."

export WINEPREFIX=$PWD/build/wineprefix WINEARCH=win32 WINEDEBUG=-all
# No display, and no Mono or Gecko to offer: nothing waits for an answer.
export DISPLAY= WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the wine prefix $WINEPREFIX"
  wineboot -i
  wineserver -w  # until wineboot's server has gone, so that ours is the one kept
fi
trap 'wineserver -k 2> /dev/null || true' EXIT
wineserver -p || [ $? -eq 2 ]  # 2: a server for this prefix is up already
CAMFIX_UNDER_TEST=$PWD/build/windows/camfix.exe build/release/tests/camfix_e2e_tests "$@"
