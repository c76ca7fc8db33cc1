#!/usr/bin/env bash
# Builds everything and runs every test once: the native tests, and the Windows tests under Wine
# (GUI tests on an Xvfb display that the test wrapper starts and stops itself).
#   scripts/test.sh [PRESET...]     (default: linux windows)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux windows)
scripts/build.sh "${presets[@]}"
status=0
for preset in "${presets[@]}"; do
    echo "== tests: $preset"
    # Each test runs once: a test that fails counts, however it failed.
    ctest --preset "$preset" -j2 || status=1
done
exit $status
