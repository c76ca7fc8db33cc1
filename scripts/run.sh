#!/usr/bin/env bash
# The program's main job, on this machine:
#   scripts/run.sh            builds, then shows vesperlin-cli finding the processes that hold a
#                             file open: natively on Linux, and the Windows build under Wine
#   scripts/run.sh PATH...    builds, then asks vesperlin-cli (native) about your own paths
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

if [ $# -gt 0 ]; then
    scripts/build.sh linux >/dev/null
    exec build/linux/vesperlin-cli "$@"
fi

scripts/build.sh linux windows >/dev/null
work=$(mktemp -d /tmp/vesperlin-demo.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -n "${WINEPREFIX:-}" ] && tests/wine-stop.sh --prefix "$WINEPREFIX" || true
    rm -rf "$work"
}
trap cleanup EXIT

echo "== Linux: which processes use $work/report.txt?"
echo "quarterly figures" >"$work/report.txt"
# Two holders: one keeps the file open, one has a folder open.
(exec 3<"$work/report.txt"; exec sleep 300) &
pids+=($!)
(cd "$work" && exec sleep 300) &
pids+=($!)
# Ready once each has what it holds (and is the sleep it execs, with nothing else open).
holds() { [ "$(readlink "/proc/$1/$2" 2>/dev/null)" = "$3" ] && [ "$(cat "/proc/$1/comm" 2>/dev/null)" = sleep ]; }
for _ in $(seq 100); do
    holds "${pids[0]}" fd/3 "$work/report.txt" && holds "${pids[1]}" cwd "$work" && break
    sleep 0.05
done
echo "\$ vesperlin-cli $work/report.txt"
build/linux/vesperlin-cli "$work/report.txt" || true
echo "\$ vesperlin-cli $work     (a folder: its entries and the folder itself)"
build/linux/vesperlin-cli "$work" || true
echo "\$ vesperlin-cli --json $work/report.txt"
build/linux/vesperlin-cli --json "$work/report.txt" || true
echo "\$ vesperlin-cli $work/unused.txt"
touch "$work/unused.txt"
build/linux/vesperlin-cli "$work/unused.txt" || true

echo
echo "== Windows build under Wine: a helper process holds C:\\users\\Public\\report.txt open"
. tests/wine-env.sh
vesperlin_wine_env "$PWD/build/windows/wineprefix"
winfile='C:\users\Public\report.txt'
ready="$work/ready.txt"
wine build/windows/vesperlin-holder.exe --ready "$(winepath -w "$ready" 2>/dev/null)" \
    --file "$winfile" </dev/null >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -f "$ready" ] && break; sleep 0.1; done
[ -f "$ready" ] || echo "(the helper did not get ready in 10 s: the answer below may miss it)"
echo "\$ vesperlin-cli.exe $winfile"
# Output to a file, not a pipe: Wine's background services would keep a pipe open.
wine build/windows/vesperlin-cli.exe "$winfile" >"$work/out.txt" 2>&1 </dev/null || true
tr -d '\r' <"$work/out.txt"
echo
echo "The desktop program: build/windows/vesperlin.exe (see README.md, 'The desktop program')."
echo "Ask about any path here: scripts/run.sh PATH..."
