#!/usr/bin/env bash
# Fails when a file under src/ includes a header of a layer above its own, of a sibling layer,
# or (in a portable layer) of platform code. The layers, lowest first:
#   base, base/win32, sysinfo, sysinfo/win32 | sysinfo/procfs, query, framework, ui, cli, app
#   scripts/check-includes.sh [ROOT]      (default: this checkout; ROOT/src is checked)
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
[ -d "$root/src" ] || { echo "check-includes: $root/src is not a folder" >&2; exit 2; }

# The layer a path under src/ belongs to: its longest known folder.
layer_of() {
    case $1 in
        base/win32/*) echo base/win32 ;;
        base/*) echo base ;;
        sysinfo/win32/*) echo sysinfo/win32 ;;
        sysinfo/procfs/*) echo sysinfo/procfs ;;
        sysinfo/*) echo sysinfo ;;
        query/* | framework/* | ui/* | cli/* | app/*) echo "${1%%/*}" ;;
        *) echo "" ;;
    esac
}

rank_of() {
    case $1 in
        base) echo 0 ;;
        base/win32) echo 1 ;;
        sysinfo) echo 2 ;;
        sysinfo/win32 | sysinfo/procfs) echo 3 ;;
        query) echo 4 ;;
        framework) echo 5 ;;
        ui) echo 6 ;;
        cli) echo 7 ;;
        app) echo 8 ;;
    esac
}

is_portable() { [ "$1" = base ] || [ "$1" = sysinfo ] || [ "$1" = query ]; }
is_platform() { [ "$1" = base/win32 ] || [ "$1" = sysinfo/win32 ] || [ "$1" = sysinfo/procfs ]; }

status=0
checked=0
while IFS= read -r -d '' file; do
    relative=${file#"$root/src/"}
    own=$(layer_of "$relative")
    [ -n "$own" ] || continue
    ownRank=$(rank_of "$own")
    checked=$((checked + 1))
    while IFS=: read -r line header; do
        target=$(layer_of "$header")
        [ -n "$target" ] || continue
        [ "$target" = "$own" ] && continue
        targetRank=$(rank_of "$target")
        reason=""
        if [ "$targetRank" -gt "$ownRank" ]; then
            reason="a header of $target, a layer above $own"
        elif [ "$targetRank" -eq "$ownRank" ]; then
            reason="a header of $target, a sibling of $own"
        elif is_portable "$own" && is_platform "$target"; then
            reason="platform code ($target) in the portable layer $own"
        fi
        if [ -n "$reason" ]; then
            echo "src/$relative:$line: includes \"$header\": $reason" >&2
            status=1
        fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
        sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2/')
done < <(find "$root/src" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)
if [ "$status" -eq 0 ]; then
    echo "check-includes: $checked files, no include reaches above its layer"
fi
exit $status
