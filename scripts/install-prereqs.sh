#!/usr/bin/env bash
# Installs what building and testing camfix needs, where it is missing, from
# Debian's packages: apt-get as root, sudo otherwise.
set -euo pipefail

packages=()
need() { # need COMMAND-OR-FILE PACKAGE
  if ! command -v "$1" > /dev/null 2>&1 && [ ! -e "$1" ]; then packages+=("$2"); fi
}
need cmake cmake
need g++ g++
need make make
need ninja ninja-build
need /usr/include/gtest/gtest.h libgtest-dev
need i686-w64-mingw32-g++-posix g++-mingw-w64-i686
need gerbv gerbv
need unix2dos dos2unix
need /usr/bin/time time
need clang++ clang
need clang-tidy clang-tidy
need clang-format clang-format
need cppcheck cppcheck
# libFuzzer and the sanitizer runtimes of clang.
dpkg -s libclang-rt-14-dev > /dev/null 2>&1 || packages+=(libclang-rt-14-dev)
need dpkg-shlibdeps dpkg-dev
if ! command -v wine > /dev/null 2>&1 || ! dpkg -s wine32:i386 > /dev/null 2>&1; then
  packages+=(wine wine32:i386)
fi

[ ${#packages[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${packages[*]}"
if printf '%s\n' "${packages[@]}" | grep -q ':i386$'; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq \
  "${packages[@]}" > /dev/null
