#!/usr/bin/env bash
# The far end of the Windows application's test line: vek-sim serving its demonstration line
# (1: ВЭК-02МЕ, 2: ВЭК-01МЕ, 5: КСВЛ), its pseudo-terminal linked at LINK, a COM port of the
# Wine prefix. Ending this script ends vek-sim and removes the link.
#   sim-peer.sh VEK_SIM LINK
set -euo pipefail
sim=$1 link=$2
out=$(mktemp)
# The window tests let the write's 2 s store wait pass at once: the device stores at once too.
"$sim" --name "ttyVEKwine$$" --busy 10 </dev/null >"$out" &
pid=$!
trap 'kill $pid 2>/dev/null || true; rm -f "$link" "$out"' EXIT
trap 'exit 0' TERM INT
for _ in $(seq 200); do
    port=$(sed -n 's/^ready //p' "$out")
    [ -n "$port" ] && break
    kill -0 $pid 2>/dev/null || { echo "vek-sim ended" >&2; exit 1; }
    sleep 0.05
done
[ -n "$port" ] || { echo "vek-sim did not start" >&2; exit 1; }
ln -sf "$port" "$link"
wait $pid
