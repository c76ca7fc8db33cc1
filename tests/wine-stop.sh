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
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1
vesperlin_display_stop "$prefix"
rm -rf "$prefix/.warm" "$prefix/.runs"
exit 0
