#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer)
# and fuzzes each for SECONDS (default 20), starting from its committed seed corpus.
#   scripts/fuzz.sh [SECONDS] [TARGET...]      targets: the folders of fuzz/corpus
# Inputs found to be new stay in build/fuzz/corpus/TARGET; an input that crashes a target, or
# breaks one of its checks, is saved as build/fuzz/artifacts/TARGET-crash-... and the run fails.
# Copy such an input into fuzz/corpus/TARGET once the fault is fixed: the corpus test then
# replays it with every native test run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
[ $# -gt 0 ] && shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for corpus in fuzz/corpus/*/; do targets+=("$(basename "$corpus")"); done
fi
scripts/install-deps.sh
scripts/build.sh fuzz

mkdir -p build/fuzz/artifacts
status=0
printf '%-18s %10s %10s %8s %8s  %s\n' target runs exec/s corpus edges result
for target in "${targets[@]}"; do
    binary="build/fuzz/${target}_fuzz"
    work="build/fuzz/corpus/$target"
    log="build/fuzz/$target.log"
    if [ ! -x "$binary" ]; then
        echo "fuzz: no target $target" >&2
        status=1
        continue
    fi
    mkdir -p "$work"
    # New inputs go to the first folder; the committed seeds are only read. A single input
    # that runs 10 s has hung the target.
    result=passed
    "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="build/fuzz/artifacts/$target-" "$work" "fuzz/corpus/$target" \
        >"$log" 2>&1 || result=FAILED
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    elapsed=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
    corpus=$(grep -o 'corp: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    edges=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    rate=-
    [ -n "$runs" ] && [ -n "$elapsed" ] && [ "$elapsed" -gt 0 ] && rate=$((runs / elapsed))
    printf '%-18s %10s %10s %8s %8s  %s\n' "$target" "${runs:--}" "$rate" "${corpus:--}" \
        "${edges:--}" "$result"
    if [ "$result" = FAILED ]; then
        status=1
        grep -E 'ERROR|check failed|SUMMARY|Test unit written' "$log" | head -n 5 >&2 || true
    fi
done
exit $status
