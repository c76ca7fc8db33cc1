#!/usr/bin/env bash
# Fails when a C or C++ source of ours differs from what clang-format (.clang-format) makes of it.
#   scripts/check-format.sh          checks every tracked source
#   scripts/check-format.sh --fix    formats them in place
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files -- 'src/*' 'tests/*' 'bench/*' 'fuzz/*' |
                       grep -E '\.(c|cc|cpp|h|hpp)$')
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${sources[@]}"
    exit 0
fi
if ! clang-format --dry-run --Werror "${sources[@]}"; then
    echo "check-format: run scripts/check-format.sh --fix" >&2
    exit 1
fi
echo "check-format: ${#sources[@]} sources formatted"
