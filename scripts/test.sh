#!/usr/bin/env bash
# Sets up a fresh machine and runs the whole test suite twice: in the default build and
# under AddressSanitizer + UndefinedBehaviorSanitizer, where any finding fails the run. Then
# builds the Qt-free core and its tests for Windows (MinGW-w64) and runs them under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
for preset in default asan windows; do
    echo "=== $preset ==="
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
