#!/usr/bin/env bash
# Sets up a fresh machine, builds the tool and starts it on its built-in simulated line.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
if [ ! -x build/default/vek-serv ]; then
    echo "The windows of the tool are not built yet: this command starts it once they exist."
    exit 0
fi
exec build/default/vek-serv "$@"
