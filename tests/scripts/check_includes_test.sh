#!/usr/bin/env bash
# The include check against small made-up trees: each kind of wrong include is reported with the
# file, line and reason, and a tree that keeps its layers passes.
#   check_includes_test.sh CHECK_SCRIPT
set -u
check=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/vesperlin-includes.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

# tree NAME FILE CONTENT...: a fresh tree with the given files (path, text pairs).
tree() {
    local dir=$work/$1
    shift
    rm -rf "$dir"
    while [ $# -gt 1 ]; do
        mkdir -p "$dir/src/$(dirname "$1")"
        printf '%b' "$2" >"$dir/src/$1"
        shift 2
    done
    echo "$dir"
}

# expect NAME STATUS TEXT TREE: the check exits with STATUS and its output contains TEXT.
expect() {
    local name=$1 want=$2 text=$3 dir=$4 output status
    output=$("$check" "$dir" 2>&1)
    status=$?
    if [ "$status" -ne "$want" ] || ! grep -qF -- "$text" <<<"$output"; then
        echo "FAIL $name: exit $status (wanted $want), output:" >&2
        echo "$output" >&2
        failures=$((failures + 1))
    else
        echo "ok   $name"
    fi
}

expect "a lower layer including an upper one" 1 \
    'src/sysinfo/a.cpp:2: includes "app/main_dialog.h": a header of app, a layer above sysinfo' \
    "$(tree up sysinfo/a.cpp '#include <string>\n#include "app/main_dialog.h"\n')"
expect "the framework including the ui built on it" 1 \
    'src/framework/control.h:1: includes "ui/link_label.h": a header of ui, a layer above framework' \
    "$(tree framework framework/control.h '#include "ui/link_label.h"\n')"
expect "one platform's system including the other's" 1 \
    'includes "sysinfo/procfs/proc_dir.h": a header of sysinfo/procfs, a sibling of sysinfo/win32' \
    "$(tree sibling sysinfo/win32/x.cpp '#include "sysinfo/procfs/proc_dir.h"\n')"
expect "portable code including platform code" 1 \
    'src/query/q.cpp:1: includes "base/win32/unique_handle.h": platform code (base/win32) in the portable layer query' \
    "$(tree portable query/q.cpp '#include "base/win32/unique_handle.h"\n')"
expect "every wrong include of a file is reported" 1 \
    'src/base/b.h:3: includes "cli/cli_run.h"' \
    "$(tree several base/b.h '#include "query/usage_query.h"\n\n#include "cli/cli_run.h"\n')"
expect "layers used downwards and headers outside the layers pass" 0 \
    'check-includes: 4 files, no include reaches above its layer' \
    "$(tree sound app/a.cpp '#include "app/b.h"\n#include "ui/link_label.h"\n#include "resource_ids.h"\n' \
        ui/u.cpp '#include "framework/control.h"\n#include "sysinfo/win32/nt_api.h"\n' \
        sysinfo/win32/w.cpp '#include "base/win32/unique_handle.h"\n#include "sysinfo/system.h"\n' \
        query/q.h '#include "sysinfo/system.h"\n#include "base/text.h"\n')"
expect "a root without sources is refused" 2 'is not a folder' "$work/missing"

[ "$failures" -eq 0 ]
