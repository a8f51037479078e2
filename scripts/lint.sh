#!/usr/bin/env bash
# clang-tidy (the checks in .clang-tidy) and cppcheck over the sources of the
# Linux build, with the compile commands of build/lint. Any finding fails.
# The *_win32.cpp files need windows.h and are left to the Windows build.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/lint -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCAMFIX_TESTS=OFF > /dev/null
sources=$(sed -n 's|.*"file": "\(.*/src/.*\.cpp\)".*|\1|p' build/lint/compile_commands.json | sort -u)

echo "clang-tidy: $(echo "$sources" | wc -l) files"
echo "$sources" | xargs -P "$(nproc)" -n 4 clang-tidy -p build/lint --quiet --warnings-as-errors='*' \
  2> >(grep -v ' warnings\? generated\.$' >&2)

# Not flagged: a raw loop that sums or upper-cases (clearer here than
# std::accumulate), and readdir (readdir_r is the deprecated one).
echo "cppcheck"
cppcheck --project=build/lint/compile_commands.json --std=c++20 --library=posix \
  --enable=warning,style,performance,portability --suppress=useStlAlgorithm \
  --suppress=readdirCalled --inline-suppr --error-exitcode=1 --quiet -j "$(nproc)"

# LINT_WINDOWS=1: clang-tidy on the *_win32.cpp files too, as the MinGW build compiles them.
if [ "${LINT_WINDOWS:-0}" = 1 ]; then
  cmake -S . -B build/lint-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON > /dev/null
  cxx_includes=$(echo | i686-w64-mingw32-g++-posix -xc++ -E -v - 2>&1 |
    sed -n 's|^ \(/[^ ]*include/c++[^ ]*\)$|--extra-arg=-isystem\1|p')
  echo "clang-tidy (Windows)"
  find src -name '*_win32.cpp' | xargs -P "$(nproc)" -n 2 clang-tidy -p build/lint-windows --quiet \
    --warnings-as-errors='*' --extra-arg=--target=i686-w64-mingw32 $cxx_includes \
    2> >(grep -v ' warnings\? generated\.$' >&2)
fi
