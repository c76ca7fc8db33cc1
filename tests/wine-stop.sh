#!/usr/bin/env bash
# Stops what wine-run.sh keeps up for a test run: the prefix's Wine server and its X display.
#   wine-stop.sh --prefix DIR
set -u
[ "${1:-}" = "--prefix" ] && [ $# -ge 2 ] || { echo "usage: $0 --prefix DIR" >&2; exit 2; }
prefix=$2
[ -d "$prefix" ] || exit 0
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
# Not while a test program runs on this prefix (wine-run.sh holds the users lock shared): its
# server would go from under it. A stop that cannot wait that long leaves everything running.
wait_limit=${VESPERLIN_WINE_STOP_WAIT:-45}
exec 7>>"$prefix/.users"
if ! flock -x -w "$wait_limit" 7; then
    echo "wine-stop: programs still run on $prefix after ${wait_limit} s; its server is left running" >&2
    exit 0
fi
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 7>&-
WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1 7>&-
vesperlin_display_stop "$prefix" 7>&-
rm -rf "$prefix/.warm" "$prefix/.runs"
exit 0
