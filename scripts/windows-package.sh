#!/usr/bin/env bash
# Builds the Windows program (vek-serv.exe) against Qt for MinGW, which scripts/windows-qt.sh
# builds once into its cache or reuses, and packs it as a zip with everything it needs; the
# last line printed is the zip's path.
#   windows-package.sh [--with-tests]
# --with-tests also builds the tests of the Windows program (run them with
# `ctest --test-dir build/windows-app`); they need the default build's vek-sim.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
build=build/windows-app

tests=OFF
[ "${1:-}" = "--with-tests" ] && tests=ON
scripts/install-deps.sh
qt=$(scripts/windows-qt.sh)
# A build made against another Qt (the cache was rebuilt) starts afresh: CMake keeps the
# toolchain of a build folder's first configuration.
if [ "$(cat "$build/qt-prefix" 2>/dev/null)" != "$qt" ]; then
    rm -rf "$build"
fi

cmake -S . -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-shared.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DVEK_BUILD_TESTS=$tests \
    -DVEK_GTEST_SOURCE_DIR=/usr/src/googletest \
    "-DCMAKE_CROSSCOMPILING_EMULATOR=$repo/tests/win/wine-run.sh;$repo/$build/wineprefix" >&2
echo "$qt" >"$build/qt-prefix"
cmake --build "$build" >&2
(cd "$build" && cpack -G ZIP >&2)
ls "$repo/$build"/vek-serv-*-windows-x64.zip
