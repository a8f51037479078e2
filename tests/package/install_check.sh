#!/usr/bin/env bash
# install_check.sh PACKAGE_DIR VERSION: checks the packages CPack left in
# PACKAGE_DIR: lintian finds no error in camfix_VERSION_*.deb; the .deb,
# unpacked into a scratch root (dpkg -x), holds the manual page of VERSION,
# the copyright and changelog, and its camfix runs (answer q) without showing
# the version; camfix-VERSION-win32.zip holds camfix.exe and README-windows.txt
# with CR LF line ends.
set -euo pipefail
fail() { echo "install_check: $*" >&2; exit 1; }
[ $# -eq 2 ] || { echo "usage: $0 PACKAGE_DIR VERSION" >&2; exit 2; }
version=$2
shopt -s nullglob
debs=("$1"/camfix_"$version"_*.deb) zips=("$1"/camfix-"$version"-win32.zip)
[ ${#debs[@]} -eq 1 ] && [ ${#zips[@]} -eq 1 ] || fail "want one camfix $version .deb and one .zip in $1"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/camfix-package.XXXXXX")
trap 'rm -rf -- "$scratch"' EXIT

lintian --fail-on error "${debs[0]}" | tee "$scratch/lintian" || fail "lintian failed"
! grep -q '^E:' "$scratch/lintian" || fail "lintian reports errors"

dpkg -x "${debs[0]}" "$scratch/root"
[ "$(dpkg-deb -f "${debs[0]}" Version)" = "$version" ] || fail "the .deb is not of version $version"
doc=$scratch/root/usr/share/doc/camfix
zcat "$scratch/root/usr/share/man/man1/camfix.1.gz" | grep -q "^\.TH CAMFIX 1 .*camfix $version" \
  || fail "no camfix(1) page of version $version"
grep -q '^License: MIT$' "$doc/copyright" || fail "no copyright file"
zcat "$doc/changelog.gz" | grep -qF "[$version]" || fail "the changelog lacks $version"
mkdir "$scratch/cam"
status=0
out=$(cd "$scratch/cam" && printf 'q\n' | "$scratch/root/usr/bin/camfix") || status=$?
[ "$status" -eq 0 ] || fail "the installed camfix exited with $status"
[ "$(head -n 1 <<<"$out" | tr -d '\r')" = "Plendor CAM Fix by Ivesmarch" ] || fail "banner: $out"
! grep -qF "$version" <<<"$out" || fail "the console shows the version $version"

mkdir "$scratch/zip"
(cd "$scratch/zip" && cmake -E tar xf "${zips[0]}")
top=$scratch/zip/camfix-$version-win32
[ -s "$top/camfix.exe" ] && [ -s "$top/README-windows.txt" ] \
  || fail "${zips[0]##*/} lacks camfix.exe or README-windows.txt: $(cd "$scratch/zip" && find . -type f)"
[ "$(grep -c $'\r$' "$top/README-windows.txt")" -eq "$(wc -l < "$top/README-windows.txt")" ] \
  || fail "README-windows.txt has lines without CR LF"
echo "install_check: ${debs[0]##*/} passes lintian and installs camfix $version with its" \
  "manual page; ${zips[0]##*/} is complete"
