#!/usr/bin/env bash
# Configures and builds the given presets (default: linux and windows).
#   VESPERLIN_WERROR=ON scripts/build.sh ...   makes every warning in our own code an error
#                                              (CI does; the setting stays until changed)
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux windows)
for preset in "${presets[@]}"; do
    cache="build/$preset/CMakeCache.txt"
    if [ ! -f "$cache" ]; then
        cmake --preset "$preset" -DVESPERLIN_WERROR="${VESPERLIN_WERROR:-OFF}" >/dev/null
    elif [ -n "${VESPERLIN_WERROR:-}" ] && ! grep -qx "VESPERLIN_WERROR:BOOL=$VESPERLIN_WERROR" "$cache"; then
        cmake --preset "$preset" -DVESPERLIN_WERROR="$VESPERLIN_WERROR" >/dev/null
    fi
    cmake --build --preset "$preset"
done
