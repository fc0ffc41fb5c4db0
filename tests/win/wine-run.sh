#!/usr/bin/env bash
# Runs a program of the Windows build under Wine in the build's own prefix:
#   wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
# The first run creates the prefix, once, quietly, even when several runs start together.
set -euo pipefail

prefix=$(realpath -m "$1")
shift
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="  # no prompts for Mono or Gecko
wine=${VEK_WINE:-/usr/lib/wine/wine64}
wineserver=${VEK_WINESERVER:-/usr/lib/wine/wineserver64}

if [ ! -e "$prefix/.vek-ready" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ ! -e "$prefix/.vek-ready" ]; then
            "$wine" wineboot --init >/dev/null 2>&1 || true
            "$wineserver" -w  # let the set-up server save the registry and leave
            [ -e "$prefix/system.reg" ] || { echo "wine-run: no Wine prefix at $prefix" >&2; exit 1; }
            touch "$prefix/.vek-ready"
        fi
    ) 9>"$prefix.lock"
fi

exec "$wine" "$@"
