#!/usr/bin/env bash
# The Windows zip as a user meets it, on an X server (run under xvfb-run): unpacked into a new
# folder, vek-serv.exe starts under Wine in a prefix of its own, its main window maps with
# exactly the tool's caption (a missing DLL would stop it before), and a close request ends it
# with exit code 0 once the "Работа закончена" box has been answered; vek-cli.exe beside it
# runs too.
#   packaged_program_test.sh ZIP WORK_DIR
set -euo pipefail
zip=$(realpath "$1") work=$(realpath -m "$2")
here=$(cd "$(dirname "$0")" && pwd)
prefix=$work/wineprefix
wine=${VEK_WINE:-/usr/lib/wine/wine64}
wineserver=${VEK_WINESERVER:-/usr/lib/wine/wineserver64}

rm -rf "$work/unpacked"
mkdir -p "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
program=$(echo "$work"/unpacked/*/vek-serv.exe)
[ -f "$program" ] || { echo "no vek-serv.exe in $zip" >&2; exit 1; }

"$here/wine-run.sh" "$prefix" --version >/dev/null  # creates the prefix on first use
export WINEPREFIX=$prefix WINEDEBUG=-all,err+module WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() { "$wineserver" -k 2>/dev/null || true; }
trap cleanup EXIT

version=$("$wine" "$(dirname "$program")/vek-cli.exe" --version 2>"$work/wine.log" | tr -d '\r')
[ -n "$version" ] || { echo "vek-cli.exe did not start:" >&2; cat "$work/wine.log" >&2; exit 1; }

# Waits up to SECONDS for a window whose title is exactly TITLE; prints its id.
window() {
    local title=$1 seconds=$2 id
    for _ in $(seq $((seconds * 10))); do
        id=$(xdotool search --name "^$title\$" 2>/dev/null | head -n 1) || true
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

(cd "$(dirname "$program")" && exec "$wine" "$program") 2>"$work/wine.log" &
pid=$!
if ! window "Сервисная программа ВЭК" 90 >/dev/null; then
    echo "the main window did not map; Wine said:" >&2
    cat "$work/wine.log" >&2
    exit 1
fi
if grep -q "err:module" "$work/wine.log"; then
    cat "$work/wine.log" >&2
    exit 1
fi

# A close request as the window manager's close button sends it (WM_CLOSE), then the same to
# the farewell box.
"$wine" taskkill /IM vek-serv.exe >/dev/null 2>&1
window "Подтверждение" 30 >/dev/null || { echo "no farewell box" >&2; exit 1; }
"$wine" taskkill /IM vek-serv.exe >/dev/null 2>&1
status=0
wait "$pid" || status=$?
echo "vek-serv.exe ended with exit code $status"
exit "$status"
