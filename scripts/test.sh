#!/usr/bin/env bash
# Sets up a fresh machine and runs the whole test suite twice: in the default build and
# under AddressSanitizer + UndefinedBehaviorSanitizer, where any finding fails the run. Then
# builds the Qt-free core and its tests for Windows (MinGW-w64) and runs them under Wine, and
# a short run of each libFuzzer target (build/fuzz; scripts/fuzz.sh runs them longer). Last,
# the Windows program: Qt for MinGW (built once into a cache outside the work tree, about half
# an hour on two cores), the zip, and its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
for preset in default asan windows fuzz; do
    echo "=== $preset ==="
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
echo "=== windows-app ==="
scripts/windows-package.sh --with-tests
ctest --test-dir build/windows-app --output-on-failure -j2 --no-tests=error
