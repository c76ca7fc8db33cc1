#!/usr/bin/env bash
# Takes the README's screenshot: vesperlin.exe under Wine, in a Wine desktop window (which
# draws captions) on the build's Xvfb display, querying a file that two helper processes hold.
#   scripts/screenshot.sh [BUILD_DIR] [OUTPUT_PNG]     (defaults: build/windows, docs/screenshot.png)
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/windows}" && pwd) || exit 1
output=${2:-$root/docs/screenshot.png}
for tool in wine xdotool import; do
    command -v "$tool" >/dev/null || { echo "screenshot: $tool is needed" >&2; exit 1; }
done
[ -f "$build/vesperlin.exe" ] && [ -f "$build/vesperlin-holder.exe" ] ||
    { echo "screenshot: build vesperlin and vesperlin-holder in $build first" >&2; exit 1; }

# shellcheck source=../tests/wine-env.sh
. "$root/tests/wine-env.sh"
vesperlin_wine_env "$build/wineprefix" || exit 1

work=$(mktemp -d /tmp/vesperlin-shot.XXXXXX)
started=()
cleanup() {
    # Only what this script started, by process id: the launchers, and the program the Wine
    # desktop started for us (its command line names our own temporary folder).
    local program
    program=$(ps -eo pid=,args= | grep -F -- "${work##*/}" | grep -F "vesperlin.exe" |
              grep -v -F "explorer" | awk '{print $1}')
    for pid in $program "${started[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

echo "Quarterly figures" >"$work/report.txt"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
for n in 1 2; do
    wine "$build/vesperlin-holder.exe" --ready "$(winpath "$work/ready$n")" \
        --file "$(winpath "$work/report.txt")" </dev/null >"$work/holder$n.log" 2>&1 &
    started+=($!)
done
for _ in $(seq 200); do
    [ -f "$work/ready1" ] && [ -f "$work/ready2" ] && break
    sleep 0.05
done

wine explorer /desktop=VesperlinShot,320x290 "$build/vesperlin.exe" "$(winpath "$work/report.txt")" \
    </dev/null >"$work/explorer.log" 2>&1 &
started+=($!)

desktop=""
for _ in $(seq 200); do
    desktop=$(xdotool search --name "VesperlinShot" 2>/dev/null | head -n 1)
    [ -n "$desktop" ] && break
    sleep 0.05
done
[ -n "$desktop" ] || { echo "screenshot: the Wine desktop did not appear" >&2; exit 1; }
# The start-up query runs 100 ms after the window opens; give drawing time to settle.
sleep 3
mkdir -p "$(dirname "$output")"
import -window "$desktop" "$output" || exit 1
echo "screenshot: $output"
