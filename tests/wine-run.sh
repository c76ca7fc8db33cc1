#!/usr/bin/env bash
# Runs one Windows executable under Wine, as CTest's cross-compiling emulator.
#   wine-run.sh --prefix DIR PROGRAM.exe [ARGS...]
# The prefix is private to the build tree and booted once (under a lock, as CTest may run tests
# in parallel). One Wine server and one Xvfb display stay up for the whole test run, so each
# start costs tens of milliseconds instead of a second; wine-stop.sh ends both.
set -u
if [ "${1:-}" != "--prefix" ] || [ $# -lt 3 ]; then
    echo "usage: $0 --prefix DIR PROGRAM.exe [ARGS...]" >&2
    exit 2
fi
prefix=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
vesperlin_wine_env "$prefix" || exit 1
exec wine "$@"
