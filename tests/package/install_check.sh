#!/usr/bin/env bash
# install_check.sh PACKAGE_DIR VERSION: the packages CPack left in PACKAGE_DIR
# are whole. lintian finds no error in the .deb; unpacked (dpkg -x), it holds
# the manual page of VERSION and a camfix that runs (answer q, where there is
# nothing to repair) and shows its banner; the Windows zip holds camfix.exe and
# README-windows.txt, and the installer is there (installer_check.sh runs it).
set -euo pipefail
fail() { echo "install_check: $*" >&2; exit 1; }
deb=$(echo "$1/camfix_$2_"*.deb) zip=$1/camfix-$2-win32.zip
root=$(mktemp -d "${TMPDIR:-/tmp}/camfix-package.XXXXXX")
trap 'rm -rf -- "$root"' EXIT

dpkg -x "$deb" "$root"
lintian --fail-on error "$deb" || fail "lintian finds errors in ${deb##*/}"
zgrep -q "^\.TH CAMFIX 1 .*camfix $2" "$root/usr/share/man/man1/camfix.1.gz" \
  || fail "no camfix(1) of version $2"
out=$(cd "$root" && printf 'q\n' | usr/bin/camfix) || fail "the installed camfix failed: $out"
grep -q '^Plendor CAM Fix by Ivesmarch' <<< "$out" || fail "no banner: $out"
files=$(cmake -E tar tf "$zip")
for name in camfix.exe README-windows.txt; do
  grep -qx "camfix-$2-win32/$name" <<< "$files" || fail "${zip##*/} lacks $name: $files"
done
[ -s "$1/camfix-$2-setup.exe" ] || fail "no camfix-$2-setup.exe"
echo "install_check: ${deb##*/} and ${zip##*/} are whole"
