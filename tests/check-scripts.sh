#!/usr/bin/env bash
# Checks of the scripts that run the Windows programs, one case group a command:
#   check-scripts.sh display                       X displays of Wine prefixes (needs Xvfb)
#   check-scripts.sh hang PREFIX HOLDER.exe CTEST  a test that hangs, under CTest, keeps its output
#                                                  and shows what it was doing
#   check-scripts.sh bench-arguments               bench/windows/run.sh reads its arguments
#   check-scripts.sh stop                          wine-stop.sh waits for the prefix's programs
# Prints one line a check and ends with status 1 when one failed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
work=$(mktemp -d "${TMPDIR:-/tmp}/vesperlin-check.XXXXXX") || exit 1
failed=0
cleanups=()
cleanup() {
    local step
    for step in "${cleanups[@]}"; do eval "$step"; done
    rm -rf "$work"
}
trap cleanup EXIT

pass() { echo "ok: $1"; }
fail() {
    echo "FAILED: $1"
    failed=1
}
# expect WHAT EXPECTED ACTUAL
expect() {
    if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: expected '$2', got '$3'"; fi
}

listening() { grep -q "@/tmp/.X11-unix/X$1\$" /proc/net/unix; }
xvfb_of() { cat "$1/.xvfb.pid" 2>/dev/null; }

check_display() {
    # shellcheck source=wine-env.sh
    . "$here/wine-env.sh"
    local first=$work/first second=$work/second third=$work/third
    mkdir -p "$first" "$second" "$third"
    cleanups+=("vesperlin_display_stop '$first'" "vesperlin_display_stop '$second'"
        "vesperlin_display_stop '$third'")

    local a
    a=$(vesperlin_display "$first") || { fail "a prefix gets a display"; return; }
    # Ready means accepting connections, at once: no waiting here.
    if [ -S "/tmp/.X11-unix/X$a" ] && listening "$a"; then
        pass "a display is up when its number is given (:$a)"
    else
        fail "display :$a has no socket when its number is given"
    fi
    expect "the number is recorded in the prefix" "$a" "$(cat "$first/.display" 2>/dev/null)"
    local pid
    pid=$(xvfb_of "$first")
    expect "a second call keeps the display" "$a" "$(vesperlin_display "$first")"
    expect "a second call keeps its server" "$pid" "$(xvfb_of "$first")"

    local b
    b=$(vesperlin_display "$second") || { fail "a second prefix gets a display"; return; }
    [ "$b" != "$a" ] && pass "two prefixes get two displays (:$a, :$b)" ||
        fail "two prefixes share display :$a"

    # Display :b taken by someone else, whose server this machine cannot see (another /tmp):
    # only a lock file of a live process and a socket file. Both are left alone.
    vesperlin_display_stop "$second"
    if [ -e "/tmp/.X11-unix/X$b" ] || listening "$b"; then
        fail "stopping :$b leaves its sockets"
    else
        pass "stopping a display removes it"
    fi
    expect "stopping forgets the number" "" "$(cat "$second/.display" 2>/dev/null)"
    local lock=/tmp/.X$b-lock socket=/tmp/.X11-unix/X$b
    printf '%10d\n' $$ >"$lock"
    : >"$socket"
    cleanups+=("rm -f '$lock' '$socket'")
    local c
    c=$(vesperlin_display "$third") || { fail "a prefix gets a display beside a foreign one"; return; }
    [ "$c" != "$b" ] && pass "a display in use elsewhere is not taken (:$c)" ||
        fail "display :$b, locked by a live process, was taken"
    if [ -f "$lock" ] && [ -f "$socket" ] && [ "$(tr -d ' \n' <"$lock")" = $$ ]; then
        pass "another display's files are left alone"
    else
        fail "another display's lock or socket was changed or removed"
    fi

    # A recorded server that was killed is replaced, on the display it left behind.
    kill -KILL "$pid"
    timeout 10 tail -s 0.05 --pid="$pid" -f /dev/null
    local again
    again=$(vesperlin_display "$first") || { fail "a display comes back after its server died"; return; }
    if [ "$(xvfb_of "$first")" != "$pid" ] && [ -S "/tmp/.X11-unix/X$again" ] && listening "$again"; then
        pass "a server that was killed is started again"
    else
        fail "after its server was killed, the prefix got no new display"
    fi
    expect "a killed server's display is taken again" "$a" "$again"
}

check_hang() {
    local prefix=$1 holder=$2 ctest=$3
    local project=$work/project
    mkdir -p "$project"
    # A program that prints and then hangs, with a time-out short enough for a check: the dump
    # is due 4 s after the start, CTest kills at 20 s.
    cat >"$project/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.22)
project(hang NONE)
enable_testing()
add_test(NAME hang COMMAND "$here/wine-run.sh" --prefix "$prefix" "$holder"
         --say "first line" --say "printed before the hang")
set_tests_properties(hang PROPERTIES TIMEOUT 20
    ENVIRONMENT "VESPERLIN_TEST_TIMEOUT=20;VESPERLIN_WINE_DUMP_MARGIN=16")
EOF
    local cmake
    cmake=$(dirname "$ctest")/cmake
    "$cmake" -S "$project" -B "$project/build" >"$work/configure.log" 2>&1 ||
        { fail "configuring the hanging test: $(cat "$work/configure.log")"; return; }
    "$ctest" --test-dir "$project/build" --output-on-failure >"$work/ctest.log" 2>&1
    local log
    log=$(cat "$work/ctest.log")
    grep -q "hang .*Timeout" <<<"$log" && pass "CTest ends the hanging test at its time-out" ||
        fail "the hanging test did not time out: $log"
    # What the program printed, in order, before what the wrapper adds.
    local first printed dump
    first=$(grep -n -m1 "^first line" <<<"$log" | cut -d: -f1)
    printed=$(grep -n -m1 "^printed before the hang" <<<"$log" | cut -d: -f1)
    dump=$(grep -n -m1 "^wine-run: .* still runs" <<<"$log" | cut -d: -f1)
    if [ -n "$first" ] && [ -n "$printed" ] && [ -n "$dump" ] && ((first < printed && printed < dump)); then
        pass "a killed test keeps what it printed, before the dump"
    else
        fail "the printed lines or the dump are missing or out of order: $log"
    fi
    grep -q "^== winedbg: Windows backtraces" <<<"$log" && grep -q "main at .*holder.cpp" <<<"$log" &&
        pass "the dump shows the program's own frames" ||
        fail "no backtrace of the hung program in: $log"
    grep -q "wine-run: end of the dump" <<<"$log" && pass "the dump ends before the kill" ||
        fail "the dump was cut off: $log"
}

check_bench_arguments() {
    # run.sh in a tree of its own, whose cmake and Wine wrapper only say how they were called.
    local tree=$work/tree
    mkdir -p "$tree/bench/windows" "$tree/tests" "$work/bin"
    cp "$root/bench/windows/run.sh" "$tree/bench/windows/run.sh"
    cat >"$work/bin/cmake" <<'EOF'
#!/bin/sh
echo "cmake $*" >>"$CALLS"
EOF
    cat >"$tree/tests/wine-run.sh" <<'EOF'
#!/bin/sh
shift 2
echo "run $*" >>"$CALLS"
EOF
    printf '#!/bin/sh\n' >"$tree/tests/wine-stop.sh"
    chmod +x "$work/bin/cmake" "$tree/tests/wine-run.sh" "$tree/tests/wine-stop.sh"
    mkdir -p "$work/cwd"

    # bench ARGS...: how run.sh, started with ARGS from a folder of its own, ran the benchmark.
    bench() {
        rm -f "$work/calls"
        (cd "$work/cwd" && PATH="$work/bin:$PATH" CALLS="$work/calls" BENCH=cli-bench \
            "$tree/bench/windows/run.sh" "$@" >/dev/null 2>&1)
        grep '^run ' "$work/calls" 2>/dev/null | sed "s|$tree|TREE|g; s|$work|WORK|g"
    }
    expect "-- then options: the default build folder" \
        "run TREE/build/bench-win/cli-bench.exe --runs 3" "$(bench -- --runs 3)"
    expect "options alone: the default build folder" \
        "run TREE/build/bench-win/cli-bench.exe --runs 3" "$(bench --runs 3)"
    expect "a build folder, -- and options" \
        "run WORK/cwd/mine/cli-bench.exe --runs 3 --files 2" "$(bench mine -- --runs 3 --files 2)"
    expect "a build folder alone" "run WORK/cwd/mine/cli-bench.exe" "$(bench mine)"
    [ ! -e "$work/cwd/--" ] && pass "-- is never a folder" || fail "run.sh made a folder named --"

    local said
    rm -f "$work/calls"
    said=$(cd "$work/cwd" && PATH="$work/bin:$PATH" CALLS="$work/calls" BENCH=none \
        "$tree/bench/windows/run.sh" -- --runs 3 2>&1)
    expect "an unknown benchmark is named, before anything is built" \
        "run.sh: no benchmark none (handle-pass-bench, query-bench, cli-bench)|" \
        "$(printf '%s|%s' "$said" "$(cat "$work/calls" 2>/dev/null)")"
}

check_stop() {
    local prefix=$work/stop-prefix said
    mkdir -p "$prefix"
    # A wrapper's hold on the prefix, taken as wine-run.sh takes it, until told to let go.
    (
        exec 7>>"$prefix/.users"
        flock -s 7
        touch "$work/held"
        while [ ! -e "$work/release" ]; do sleep 0.05; done
    ) &
    local holder=$!
    cleanups+=("touch '$work/release'; wait $holder 2>/dev/null")
    while [ ! -e "$work/held" ] && kill -0 "$holder" 2>/dev/null; do sleep 0.05; done
    said=$(VESPERLIN_WINE_STOP_WAIT=1 "$here/wine-stop.sh" --prefix "$prefix" 2>&1)
    expect "a stop leaves the server of a prefix whose programs still run" \
        "wine-stop: programs still run on $prefix after 1 s; its server is left running" "$said"
    touch "$work/release"
    wait "$holder"
    said=$(VESPERLIN_WINE_STOP_WAIT=1 "$here/wine-stop.sh" --prefix "$prefix" 2>&1)
    expect "a stop goes ahead once they have ended" "" "$said"
}

case ${1:-} in
    display) check_display ;;
    hang)
        [ $# -eq 4 ] || { echo "usage: $0 hang PREFIX HOLDER.exe CTEST" >&2; exit 2; }
        check_hang "$2" "$3" "$4"
        ;;
    bench-arguments) check_bench_arguments ;;
    stop) check_stop ;;
    *)
        echo "usage: $0 display | hang PREFIX HOLDER.exe CTEST | bench-arguments | stop" >&2
        exit 2
        ;;
esac
exit $failed
