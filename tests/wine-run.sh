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
# Every wrapper holds the prefix's users lock shared while it runs; wine-stop.sh takes it alone,
# so a second CTest (or a script) ending on this build tree never kills the server under a
# running test, whose program would then wait for its vanished server for ever. Wine and what
# it starts do not inherit the lock (7>&-): a service left running must not hold it.
mkdir -p "$prefix" || exit 1
exec 7>>"$prefix/.users"
flock -s 7
vesperlin_wine_env "$prefix" 7>&- || exit 1

# A test program writes its first line as soon as its main runs. One that has written nothing
# after this long never started: Wine hung while starting it.
start_limit=${VESPERLIN_WINE_START_LIMIT:-15}

# With the test's time-out known (CTest passes it as VESPERLIN_TEST_TIMEOUT), a program still
# running this many seconds before it has what it is doing written into the test's output, for
# CTest then kills it without a word.
dump_margin=${VESPERLIN_WINE_DUMP_MARGIN:-6}
dump_at=0
if [ "${VESPERLIN_TEST_TIMEOUT:-0}" -gt "$dump_margin" ] 2>/dev/null; then
    dump_at=$((SECONDS + VESPERLIN_TEST_TIMEOUT - dump_margin))
fi

# The program's output goes to files and is copied out as it grows: processes Wine starts on
# demand (the desktop's explorer.exe) inherit the program's output, and held open a pipe they
# would keep CTest waiting for its end long after the test itself had finished. tail follows
# the files through inotify, within milliseconds, so what a test printed is in CTest's log even
# when CTest kills the wrapper and its children at the time-out. The files are in the prefix,
# so that wine-stop.sh removes those of a wrapper that was killed.
mkdir -p "$prefix/.runs" || exit 1
output=$(mktemp "$prefix/.runs/out.XXXXXX") || exit 1
errors=$(mktemp "$prefix/.runs/err.XXXXXX") || exit 1
dump=$(mktemp "$prefix/.runs/dump.XXXXXX") || exit 1
trap 'rm -f "$output" "$errors" "$dump"' EXIT

# Sleeps until the dump is due, then dumps the program (a Unix process id) if it still runs.
# The dump goes to a file, copied out as it grows: Wine processes it starts must not hold the
# test's output open.
watch() {
    local program=$1 exe=$2 timer
    # Ended with the watch, so that no timer outlives the program.
    sleep $((dump_at - SECONDS)) >/dev/null 2>&1 &
    timer=$!
    trap 'kill "$timer" 2>/dev/null; exit 0' TERM
    wait "$timer"
    trap - TERM
    kill -0 "$program" 2>/dev/null || return
    echo "wine-run: $exe still runs ${dump_margin} s before its time-out; what it is doing:" >&2
    "$here/wine-dump.sh" "$program" "$exe" </dev/null >"$dump" 2>&1 7>&- &
    local dumper=$!
    # Copied as it grows: what is written before CTest's kill is in the test's output.
    tail -n +1 -s 0.1 --pid="$dumper" -f "$dump" >&2
    echo "wine-run: end of the dump of $exe" >&2
}

# Runs the program once and sets `status`; with a start limit, gives up when it writes nothing
# in that many seconds and leaves `started` false.
run() {
    local limit=$1
    shift
    : >"$output"
    : >"$errors"
    started=true
    wine "$@" >"$output" 2>"$errors" </dev/null 7>&- &
    local program=$!
    tail -n +1 -s 0.1 --pid="$program" -f "$output" 7>&- &
    local copyOut=$!
    tail -n +1 -s 0.1 --pid="$program" -f "$errors" >&2 7>&- &
    local copyErr=$!
    local watcher=""
    if [ "$dump_at" -gt "$SECONDS" ]; then
        watch "$program" "$1" 7>&- &
        watcher=$!
    fi
    if [ "$limit" -gt 0 ]; then
        local waited=0
        while [ ! -s "$output" ] && [ ! -s "$errors" ] && kill -0 "$program" 2>/dev/null; do
            if [ "$waited" -ge $((limit * 10)) ]; then
                kill -KILL "$program" 2>/dev/null
                wait "$program" 2>/dev/null
                [ -z "$watcher" ] || kill "$watcher" 2>/dev/null
                wait "$copyOut" "$copyErr" 2>/dev/null
                started=false
                return
            fi
            sleep 0.1
            waited=$((waited + 1))
        done
    fi
    wait "$program"
    status=$?
    [ -z "$watcher" ] || kill "$watcher" 2>/dev/null
    wait "$copyOut" "$copyErr" 2>/dev/null
}

run "$start_limit" "$@"
if ! $started; then
    # Nothing of the test ran, so nothing is run again: the program is only started once more.
    echo "wine-run: $1 wrote nothing in ${start_limit} s: Wine did not start it; starting it once more" >&2
    run 0 "$@"
fi
exit "$status"
