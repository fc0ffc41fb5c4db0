#!/usr/bin/env bash
# Sets up a fresh machine, builds the tool and starts it on its built-in default: a simulated
# line (vek-sim's demonstration devices) published as a virtual port, which the port settings
# dialog lists after the machine's own serial ports.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset default
cmake --build --preset default --target vek-serv vek-sim

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display to show the tool on: run this from a desktop session (or under xvfb-run)." >&2
    exit 1
fi

coproc SIM { exec build/default/sim/vek-sim; }
trap 'kill "$SIM_PID" 2>/dev/null || true' EXIT
# vek-sim says "ready <port>" once it serves the line.
read -r word port <&"${SIM[0]}" || { echo "vek-sim did not start" >&2; exit 1; }
[ "$word" = ready ] || { echo "vek-sim: $word $port" >&2; exit 1; }
echo "Simulated line on $port; choose it in \"Настройка СОМ порта\"."
build/default/vek-serv
