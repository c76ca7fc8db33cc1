#!/usr/bin/env bash
# Builds the handle pass benchmark with the windows preset and runs it under Wine.
#   bench/windows/run.sh [BUILD_DIR] [-- BENCH OPTIONS...]
# Options of the benchmark: --processes N --files N --pipes N --holders N --blocked N --runs N
#   --all-names (name every handle instead of only those that may be the target)
#   --soak ROUNDS --slow N (that many more passes with N probes answering around the time limit)
# BENCH=query-bench runs the whole-query benchmark instead (same load options, and --mapped N).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/bench-win}
[ $# -gt 0 ] && shift
mkdir -p "$build"
build=$(cd "$build" && pwd)  # Wine wants an absolute prefix
[ "${1:-}" = "--" ] && shift
if [ ! -f "$build/build.ninja" ]; then
    cmake --preset windows -S "$root" -B "$build" >/dev/null
fi
bench=${BENCH:-handle-pass-bench}
cmake --build "$build" --target "$bench" vesperlin-holder -j2
prefix=$build/wineprefix
status=0
# Wine's own processes inherit stderr; send it to a file rather than a pipe.
"$root/tests/wine-run.sh" --prefix "$prefix" "$build/$bench.exe" "$@" \
    2>"$build/$bench.stderr" || status=$?
"$root/tests/wine-stop.sh" --prefix "$prefix" >/dev/null 2>&1 || true
exit $status
