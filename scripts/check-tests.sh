#!/usr/bin/env bash
# Fails when a test that CTest registered for a preset lacks its labels, its time-out or the
# vesperlin_env fixture (a case without the fixture may run after the clean-up stopped Wine).
#   scripts/check-tests.sh [PRESET...]      (default: linux windows; the presets must be built)
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux windows)
listing=$(mktemp "${TMPDIR:-/tmp}/vesperlin-tests.XXXXXX")
trap 'rm -f "$listing"' EXIT
status=0
for preset in "${presets[@]}"; do
    # Listing the Windows cases runs each test executable under Wine once.
    listed=true
    ctest --preset "$preset" --show-only=json-v1 >"$listing" || listed=false
    # Listing may have started the Wine server and display the test wrapper keeps up.
    tests/wine-stop.sh --prefix "build/$preset/wineprefix"
    if ! $listed; then
        echo "check-tests: CTest could not list the tests of $preset" >&2
        status=1
        continue
    fi
    echo "== registered tests: $preset"
    cmake -D JSON="$listing" -P cmake/CheckTestProperties.cmake || status=1
done
exit $status
