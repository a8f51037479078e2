#!/usr/bin/env bash
# Installs, where missing, what building and testing camfix needs, from
# Debian's packages: apt-get as root, sudo otherwise. `make test` runs it.
# With --build (`make demo`): only what building and running camfix needs.
set -euo pipefail

packages=()
need() { # need COMMAND-OR-FILE PACKAGE
  if ! command -v "$1" > /dev/null 2>&1 && [ ! -e "$1" ]; then packages+=("$2"); fi
}
need cmake cmake
need g++ g++
need make make
need /usr/include/attr/libattr.h libattr1-dev
if [ "${1:-}" != --build ]; then
  need /usr/include/gtest/gtest.h libgtest-dev
  need i686-w64-mingw32-g++-posix g++-mingw-w64-i686
  # The 64-bit build and wine64: the wine tests where 32-bit programs cannot run.
  need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
  need /usr/lib/wine/wine64 wine64
  need gerbv gerbv
  need unix2dos dos2unix
  need /usr/bin/time time
  # The save tests: an ACL entry, and a full disk on a loop-mounted ext4.
  need setfacl acl
  need /usr/sbin/mkfs.ext4 e2fsprogs
  need clang++ clang
  need clang-tidy clang-tidy
  need clang-format clang-format
  need cppcheck cppcheck
  # libFuzzer and the sanitizer runtimes of clang.
  dpkg -s libclang-rt-14-dev > /dev/null 2>&1 || packages+=(libclang-rt-14-dev)
  need dpkg-shlibdeps dpkg-dev
  need lintian lintian
  need hyperfine hyperfine
  if ! command -v wine > /dev/null 2>&1 || ! dpkg -s wine32:i386 > /dev/null 2>&1; then
    packages+=(wine wine32:i386)
  fi
fi

[ ${#packages[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${packages[*]}"
if printf '%s\n' "${packages[@]}" | grep -q ':i386$'; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
# Waits for another apt or dpkg run to end rather than failing on its lock.
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600)
"${apt[@]}" update -qq
"${apt[@]}" install -y -qq "${packages[@]}" > /dev/null
