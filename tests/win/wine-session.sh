#!/usr/bin/env bash
# The Wine session of the Windows test run, as a CTest fixture:
#   wine-session.sh start PREFIX STATE_DIR PEER PORT [PEER_ARGUMENTS...]
#   wine-session.sh stop  PREFIX STATE_DIR
# start keeps a wineserver up for the run (otherwise every test pays for its start) and
# starts the line peer (PEER PEER_ARGUMENTS... LINK), which links the pseudo-terminal it
# serves into the prefix as PORT (such as COM12);
# stop ends the Wine session and both processes by the ids that start recorded, and removes
# the link.
set -euo pipefail

action=$1 prefix=$(realpath -m "$2") state=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
wineserver=${VEK_WINESERVER:-/usr/lib/wine/wineserver64}
pids=$state/pids

# Waits up to about ten seconds for a condition; a condition's status 2 means it never will.
wait_for() {
    local status
    for _ in $(seq 200); do
        status=0
        "$@" || status=$?
        [ $status -eq 0 ] && return 0
        [ $status -eq 2 ] && return 1
        sleep 0.05
    done
    return 1
}

server_listens() {
    kill -0 "$1" 2>/dev/null || return 2
    ls -l "/proc/$1/fd" 2>/dev/null | grep -q 'socket:'
}

stop_recorded() {
    [ -f "$pids" ] || return 0
    # The server recorded first ends the Wine session: Wine's services and any test still
    # running go with it. Then every recorded process is ended by its id.
    local server
    server=$(head -n 1 "$pids")
    if kill -0 "$server" 2>/dev/null; then
        WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
    fi
    while read -r pid; do
        kill "$pid" 2>/dev/null || true
    done <"$pids"
    while read -r pid; do
        wait_for bash -c "! kill -0 $pid 2>/dev/null" || kill -KILL "$pid" 2>/dev/null || true
    done <"$pids"
    rm -f "$pids"
    if [ -f "$state/link" ]; then rm -f "$(cat "$state/link")" "$state/link"; fi
}

case $action in
start)
    peer=$4 port=${5,,}
    mkdir -p "$state"
    stop_recorded  # what an interrupted run left behind
    "$here/wine-run.sh" "$prefix" --version >/dev/null  # creates the prefix on first use
    export WINEPREFIX=$prefix
    "$wineserver" -w  # a server left by the build's test discovery ends within seconds

    link=$prefix/dosdevices/$port
    rm -f "$link"
    echo "$link" >"$state/link"
    "$peer" "${@:6}" "$link" </dev/null >"$state/peer.log" 2>&1 &
    peer_pid=$!
    echo $peer_pid >"$pids"
    wait_for test -L "$link" || { echo "line peer did not start" >&2; cat "$state/peer.log" >&2; exit 1; }
    # Wine's device manager registers the COM ports named under its Ports key in the system's
    # port list (SERIALCOMM) when it starts: the line is named there in a Wine run of its own,
    # before the session's services start.
    "$here/wine-run.sh" "$prefix" reg add 'HKLM\Software\Wine\Ports' /v "${port^^}" \
        /d "$(readlink -f "$link")" /f </dev/null >>"$state/peer.log" 2>&1
    "$wineserver" -w

    "$wineserver" -f -p </dev/null >"$state/wineserver.log" 2>&1 &
    server=$!
    echo $server >"$pids"
    echo $peer_pid >>"$pids"
    # Ready once it listens on its socket; it ends at once if another server holds the prefix.
    wait_for server_listens "$server" || { echo "wineserver did not start" >&2; exit 1; }

    # The session's first program starts Wine's own services, which live as long as the server
    # and keep the output files of that program: let it be ours, writing to the log.
    "$here/wine-run.sh" "$prefix" wineboot </dev/null >>"$state/wineserver.log" 2>&1
    ;;
stop)
    stop_recorded
    ;;
*)
    echo "usage: $0 start|stop PREFIX STATE_DIR [PEER PORT [PEER_ARGUMENTS...]]" >&2
    exit 2
    ;;
esac
