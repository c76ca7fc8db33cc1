#!/usr/bin/env bash
# Stops what wine-run.sh keeps up for a test run: the prefix's Wine server and its X display.
#   wine-stop.sh --prefix DIR
set -u
[ "${1:-}" = "--prefix" ] && [ $# -ge 2 ] || { echo "usage: $0 --prefix DIR" >&2; exit 2; }
prefix=$2
[ -d "$prefix" ] || exit 0
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1
if [ -f "$prefix/.xvfb.pid" ]; then
    kill "$(cat "$prefix/.xvfb.pid")" 2>/dev/null
    rm -f "$prefix/.xvfb.pid"
fi
rm -f "$prefix/.warm"
exit 0
