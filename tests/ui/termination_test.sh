#!/bin/sh
# The tool, started offscreen, ends with status 0 on SIGTERM and on SIGINT.
# Usage: termination_test.sh PATH-TO-vek-serv
set -u
for signal in TERM INT; do
    QT_QPA_PLATFORM=offscreen "$1" &
    pid=$!
    sleep 2
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "vek-serv did not stay up"
        exit 1
    fi
    kill "-$signal" "$pid"
    wait "$pid"
    status=$?
    if [ "$status" -ne 0 ]; then
        echo "SIG$signal: exit status $status"
        exit 1
    fi
done
echo "both signals ended it cleanly"
