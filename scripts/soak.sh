#!/usr/bin/env bash
# Soak run of the device read (not part of scripts/test.sh): builds vek-soak and runs the main
# window's read against the simulator on a pseudo-terminal, with faults injected now and then,
# and prints a table of the results.
#
#   scripts/soak.sh [READS [SEED [FAULT_RATE]]]    defaults: 10000 reads, seed 1, rate 0.01
set -euo pipefail
cd "$(dirname "$0")/.."

reads=${1:-10000}
seed=${2:-1}
rate=${3:-0.01}

cmake --preset default >/dev/null
cmake --build --preset default --target vek-soak
QT_QPA_PLATFORM=offscreen build/default/bench/vek-soak --reads "$reads" --seed "$seed" \
    --fault-rate "$rate"
