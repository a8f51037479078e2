#!/usr/bin/env bash
# install_check.sh PACKAGE_DIR: installs the camfix .deb that `make package`
# left in PACKAGE_DIR into a scratch root (dpkg -x), checks its manual page,
# runs the installed camfix once (answer q), and lists the Windows .zip.
set -euo pipefail
fail() { echo "install_check: $*" >&2; exit 1; }
shopt -s nullglob
debs=("$1"/camfix_*.deb) zips=("$1"/camfix-*-win32.zip)
[ ${#debs[@]} -eq 1 ] && [ ${#zips[@]} -eq 1 ] || fail "want one camfix .deb and one .zip in $1"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/camfix-package.XXXXXX")
trap 'rm -rf -- "$scratch"' EXIT
dpkg -x "${debs[0]}" "$scratch/root"
version=$(dpkg-deb -f "${debs[0]}" Version)
page=$scratch/root/usr/share/man/man1/camfix.1
grep -q "^\.TH CAMFIX 1 .*camfix $version" "$page" || fail "no camfix(1) page of version $version"
mkdir "$scratch/cam"
status=0
out=$(cd "$scratch/cam" && printf 'q\n' | timeout 10 "$scratch/root/usr/bin/camfix") || status=$?
[ "$status" -eq 0 ] || fail "the installed camfix exited with $status"
[ "$(head -n 1 <<<"$out" | tr -d '\r')" = "Plendor CAM Fix by Ivesmarch" ] || fail "banner: $out"
! grep -qF "$version" <<<"$out" || fail "the console shows the version $version"
listing=$(cmake -E tar tf "${zips[0]}")
grep -qx '[^/]*/camfix.exe' <<<"$listing" && grep -qx '[^/]*/README-windows.txt' <<<"$listing" \
  || fail "${zips[0]} lacks camfix.exe or README-windows.txt: $listing"
echo "install_check: ${debs[0]##*/} installs camfix $version and its manual page; ${zips[0]##*/} is complete"
