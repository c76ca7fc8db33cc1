#!/usr/bin/env bash
# Builds a Windows benchmark with the windows preset and runs it under Wine.
#   bench/windows/run.sh [BUILD_DIR] [-- BENCH OPTIONS...]
# Options of the benchmark: --processes N --files N --pipes N --holders N --blocked N --runs N
#   --all-names (name every handle instead of only those that may be the target)
#   --soak ROUNDS --slow N (that many more passes with N probes answering around the time limit)
# BENCH=query-bench runs the whole-query benchmark instead (same load options, and --mapped N).
# BENCH=cli-bench times vesperlin-cli.exe on one path, 20 paths and --recursive
#   (--processes N --files N --holders N --runs N --cli PATH).
set -eu
bench=${BENCH:-handle-pass-bench}
case $bench in
    handle-pass-bench | query-bench | cli-bench) ;;
    *) echo "run.sh: no benchmark $bench (handle-pass-bench, query-bench, cli-bench)" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build/bench-win
# The build folder is optional: "--" or a benchmark option first means it was left out.
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
    build=$1
    shift
fi
[ "${1:-}" = "--" ] && shift
mkdir -p "$build"
build=$(cd "$build" && pwd)  # Wine wants an absolute prefix
if [ ! -f "$build/build.ninja" ]; then
    cmake --preset windows -S "$root" -B "$build" >/dev/null
fi
targets=("$bench" vesperlin-holder)
[ "$bench" = cli-bench ] && targets+=(vesperlin-cli)
cmake --build "$build" --target "${targets[@]}" -j2
prefix=$build/wineprefix
status=0
# Wine's own processes inherit stderr; send it to a file rather than a pipe.
"$root/tests/wine-run.sh" --prefix "$prefix" "$build/$bench.exe" "$@" \
    2>"$build/$bench.stderr" || status=$?
"$root/tests/wine-stop.sh" --prefix "$prefix" >/dev/null 2>&1 || true
[ $status -eq 0 ] || echo "run.sh: $bench ended with status $status; its standard error is in $build/$bench.stderr" >&2
exit $status
