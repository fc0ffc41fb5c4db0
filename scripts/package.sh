#!/usr/bin/env bash
# Builds the Debian package of the tool (vek-serv with the vek-sim simulator) from the default
# preset on a fresh machine: installs what the build needs, configures, builds, runs
# cpack -G DEB and prints the path of the package.
# Usage: scripts/package.sh [BUILD_DIR]   (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}

if [ "$(id -u)" -eq 0 ] || ! command -v sudo >/dev/null; then
    scripts/install-deps.sh
elif ! scripts/install-deps.sh 2>/dev/null; then
    sudo scripts/install-deps.sh
fi

cmake --preset default -B "$build"
cmake --build "$build"
out=$(cd "$build" && cpack -G DEB)
echo "$out"
deb=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' <<<"$out")
[ -n "$deb" ] && [ -f "$deb" ] || { echo "cpack made no .deb" >&2; exit 1; }
echo
echo "$deb"
