#!/usr/bin/env bash
# Installs, where missing, what building and testing camfix needs, from
# Debian's packages: apt-get as root, sudo otherwise. `make test` runs it.
# With --build (`make demo`): only what building and running camfix needs.
# Where the kernel runs no 32-bit x86 programs, it also lets qemu run them
# (register_qemu_i386 below), so that the wine tests run the shipped camfix.exe.
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
  need makensis nsis  # the Windows installer
  # wine with its 32-bit loader (and qemu-i386, which runs that loader where
  # the kernel cannot).
  for package in wine wine32:i386 wine32-preloader:i386 qemu-user-static; do
    dpkg -s "$package" > /dev/null 2>&1 || packages+=("$package")
  done
fi

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
if [ ${#packages[@]} -gt 0 ]; then
  echo "Installing: ${packages[*]}"
  if printf '%s\n' "${packages[@]}" | grep -q ':i386$'; then
    "${sudo[@]}" dpkg --add-architecture i386
  fi
  # Waits for another apt or dpkg run to end rather than failing on its lock.
  apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600)
  "${apt[@]}" update -qq
  "${apt[@]}" install -y -qq "${packages[@]}" > /dev/null
fi

# wine's 32-bit loader fails with "Exec format error" where the kernel has no
# IA-32 emulation. There, as root, a binfmt_misc entry named qemu-i386 (magic
# and mask as in qemu's qemu-binfmt-conf.sh, flag F: the interpreter is opened
# now, so it serves in every mount namespace) makes qemu-i386-static run it.
# The entry lasts until the next reboot and serves the whole machine; one
# that is there already is left as it is. Without root or binfmt_misc the
# wine tests run a 64-bit stand-in (cmake/wine.cmake) and say so.
register_qemu_i386() {
  local binfmt=/proc/sys/fs/binfmt_misc
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  /usr/lib/wine/wine --version > /dev/null 2>&1 && return
  if [ "$(id -u)" -ne 0 ]; then
    echo "This host runs no 32-bit x86 programs, and only root can let qemu run them" \
      "(sudo $0): the wine tests will run a 64-bit stand-in, not the shipped camfix.exe"
    return
  fi
  if ! mountpoint -q "$binfmt" && ! mount -t binfmt_misc binfmt_misc "$binfmt"; then
    echo "No binfmt_misc to mount: the wine tests will run a 64-bit stand-in, not the shipped camfix.exe"
    return
  fi
  [ -e "$binfmt/qemu-i386" ] && return
  echo "Registering qemu-i386 in $binfmt, so that this host runs 32-bit x86 programs" \
    "(wine's 32-bit loader) with qemu-i386-static; for the whole machine, until the next reboot"
  printf '%s' ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" > "$binfmt/register"
}
[ "${1:-}" = --build ] || register_qemu_i386
