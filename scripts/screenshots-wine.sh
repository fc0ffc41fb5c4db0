#!/usr/bin/env bash
# Renders the Windows program under Wine, as an operator sees it after reading the
# simulator's ВЭК-02МЕ through a COM port, to build/screenshots/wine/main-window.png: builds
# the zip (scripts/windows-package.sh), unpacks it, links vek-sim's line into a Wine prefix of
# its own as COM3, starts vek-serv.exe on an X server (Xvfb), chooses COM3 in the port
# settings and reads with the toolbar. Needs the default build's vek-sim.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
apt_missing=()
for p in x11-apps netpbm xdotool; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || apt_missing+=("$p")
done
[ ${#apt_missing[@]} -eq 0 ] || apt-get install -y --no-install-recommends "${apt_missing[@]}"

zip=$(scripts/windows-package.sh | tail -n 1)
work=$repo/build/screenshots/wine
rm -rf "$work/unpacked"
mkdir -p "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
prefix=$work/wineprefix state=$work/session
tests/win/wine-session.sh start "$prefix" "$state" tests/win/sim-peer.sh COM3 \
    "$repo/build/default/sim/vek-sim"
trap 'tests/win/wine-session.sh stop "$prefix" "$state"' EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all

shot() { xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$1"; }
(cd "$work"/unpacked/*/ && exec /usr/lib/wine/wine64 vek-serv.exe) &
for _ in $(seq 150); do
    id=$(xdotool search --name '^Сервисная программа ВЭК$' | head -n 1) && [ -n "$id" ] && break
    sleep 0.2
done
sleep 2
eval "$(xdotool getwindowgeometry --shell "$id")"
# The toolbar's third button (port settings), COM3 (the second port), OK; then the first (read).
xdotool mousemove $((X + 79)) $((Y + 35)) click 1
sleep 4
xdotool key Down
sleep 0.5
xdotool key Return
sleep 2
xdotool mousemove $((X + 20)) $((Y + 35)) click 1
sleep 4
shot "$work/screen.png"
pngtopnm "$work/screen.png" | pnmcut -left "$X" -top "$Y" -width "$WIDTH" -height "$HEIGHT" |
    pnmtopng >"$work/main-window.png"
echo "$work/main-window.png"
