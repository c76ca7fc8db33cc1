#!/usr/bin/env bash
# Builds everything and runs every test: the native tests, and the Windows tests under Wine
# (GUI tests on an Xvfb display that the test wrapper starts and stops itself).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux windows)
scripts/build.sh "${presets[@]}"
status=0
for preset in "${presets[@]}"; do
    echo "== tests: $preset"
    # A failing test runs once more before it counts: Windows tests run two at a time on one
    # Wine server and display, and a real fault fails twice.
    ctest --preset "$preset" -j2 --repeat until-pass:2 || status=1
done
exit $status
