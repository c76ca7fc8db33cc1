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
# The program's output goes to files first and is copied out when it ends: processes Wine
# starts on demand (the desktop's explorer.exe) inherit the output, and held open a pipe they
# would keep CTest waiting for its end long after the test itself had finished.
output=$(mktemp "${TMPDIR:-/tmp}/vesperlin-wine-out.XXXXXX") || exit 1
errors=$(mktemp "${TMPDIR:-/tmp}/vesperlin-wine-err.XXXXXX") || exit 1
trap 'rm -f "$output" "$errors"' EXIT
wine "$@" >"$output" 2>"$errors"
status=$?
cat "$output"
cat "$errors" >&2
exit $status
