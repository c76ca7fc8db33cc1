#!/usr/bin/env bash
# Compares vesperlin-cli with fuser and lsof on a load of processes holding files open.
#
#   bench/linux/run.sh [-n PROCESSES] [-m FILES_EACH] [-k TARGET_HOLDERS] [-r RUNS]
#
# Starts PROCESSES holders that each keep FILES_EACH files open (the first TARGET_HOLDERS of them
# also the target), checks that the three programs name the same processes, and prints the
# median wall time of each (start-up included), the ratios, the bare stat scan of every
# /proc/*/fd entry as the floor, and vesperlin-cli's peak RSS. Set VESPERLIN_CLI to use a
# built binary instead of building build/bench-linux. Every process it starts is killed at exit.
set -euo pipefail

processes=400
files_each=40
target_holders=5
runs=9
while getopts "n:m:k:r:h" option; do
    case $option in
        n) processes=$OPTARG ;;
        m) files_each=$OPTARG ;;
        k) target_holders=$OPTARG ;;
        r) runs=$OPTARG ;;
        *) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
    esac
done
for value in "$processes" "$files_each" "$target_holders" "$runs"; do
    [[ $value =~ ^[0-9]+$ ]] || { echo "run.sh: not a number: $value" >&2; exit 2; }
done
(( target_holders <= processes && runs >= 1 )) || { echo "run.sh: bad counts" >&2; exit 2; }

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

# The programs to compare with.
missing=()
command -v fuser >/dev/null || missing+=(psmisc)
command -v lsof >/dev/null || missing+=(lsof)
if (( ${#missing[@]} )); then
    echo "installing ${missing[*]} ..."
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null 2>&1 ||
        { apt-get update -qq >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null; }
fi

cli=${VESPERLIN_CLI:-}
if [[ -z $cli ]]; then
    build=$root/build/bench-linux
    echo "building vesperlin-cli in $build ..."
    cmake --preset linux -B "$build" >/dev/null
    cmake --build "$build" --target vesperlin-cli -j2 >/dev/null
    cli=$build/src/cli/vesperlin-cli
fi
[[ -x $cli ]] || { echo "run.sh: no vesperlin-cli at $cli" >&2; exit 1; }

work=$(mktemp -d /tmp/vesperlin-bench.XXXXXX)
holders=()
cleanup() {
    local pid
    for pid in "${holders[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    for pid in "${holders[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

tool=$work/bench_tool
cc -O2 -Wall -o "$tool" "$here/bench_tool.c"

mkdir "$work/files" "$work/ready"
pool=()
for ((i = 0; i < files_each; ++i)); do
    : >"$work/files/f$i"
    pool+=("$work/files/f$i")
done
# The target sits in a folder with a few idle files, for the folder query.
mkdir "$work/data"
target=$work/data/target.dat
echo data >"$target"
for ((i = 0; i < 20; ++i)); do : >"$work/data/idle$i"; done

echo "starting $processes holders of $files_each files each ($target_holders also hold the target) ..."
for ((i = 0; i < processes; ++i)); do
    if (( i < target_holders )); then
        "$tool" hold "$work/ready" "${pool[@]}" "$target" </dev/null >/dev/null 2>&1 &
    else
        "$tool" hold "$work/ready" "${pool[@]}" </dev/null >/dev/null 2>&1 &
    fi
    holders+=($!)
done
for ((waited = 0; ; ++waited)); do
    ready=$(find "$work/ready" -type f | wc -l)
    (( ready == processes )) && break
    (( waited < 600 )) || { echo "run.sh: only $ready of $processes holders got ready" >&2; exit 1; }
    sleep 0.1
done

# The same processes from all three, and exactly the holders of the target.
expected=$(printf '%s\n' "${holders[@]:0:target_holders}" | sort -n)
from_cli=$("$cli" "$target" 2>/dev/null | while read -r id _; do [[ $id == 0x* ]] && echo $((id)); done | sort -n)
from_fuser=$( (fuser "$target" 2>/dev/null || true) | tr -s ' \t' '\n\n' | sed '/^$/d' | sort -n)
from_lsof=$( (lsof -w -t -- "$target" 2>/dev/null || true) | sort -n)
same=yes
for found in "$from_cli" "$from_fuser" "$from_lsof"; do
    [[ $found == "$expected" ]] || same=no
done
if [[ $same != yes ]]; then
    echo "the programs disagree:" >&2
    paste <(echo "expected"; echo "$expected") <(echo "vesperlin-cli"; echo "$from_cli") \
        <(echo "fuser"; echo "$from_fuser") <(echo "lsof"; echo "$from_lsof") >&2
    exit 1
fi
descriptors=$("$tool" scan)

# The commands run in turn, one run each per round, so that a burst of other work on the
# machine hits all of them alike. Each run's wall time goes to $work/times.<name>, its peak
# RSS to $work/rss.<name>.
names=(scan cli fuser lsof folder)
command_of() {
    case $1 in
        scan) echo "$tool scan" ;;
        cli) echo "$cli $target" ;;
        fuser) echo "fuser $target" ;;
        lsof) echo "lsof -w -t -- $target" ;;
        folder) echo "$cli $work/data" ;;
    esac
}
"$cli" "$target" >/dev/null 2>&1  # warm the caches once for everyone
for ((round = 0; round < runs; ++round)); do
    for name in "${names[@]}"; do
        # shellcheck disable=SC2046  # the paths are our own, without blanks
        output=$("$tool" measure 1 $(command_of "$name"))
        grep -v '^rss' <<<"$output" >>"$work/times.$name"
        awk '/^rss/ {print $2}' <<<"$output" >>"$work/rss.$name"
    done
done
median() { sort -n "$work/times.$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
peak() { sort -n "$work/rss.$1" | tail -1; }
scan_ms=$(median scan) cli_ms=$(median cli) fuser_ms=$(median fuser) lsof_ms=$(median lsof)
folder_ms=$(median folder) cli_rss=$(peak cli) folder_rss=$(peak folder)

echo
echo "load: $processes processes x $files_each files, $descriptors open descriptors in /proc; all three name the same $target_holders processes"
echo "median of $runs runs (taken in turn), wall time including start-up:"
awk -v scan="$scan_ms" -v cli="$cli_ms" -v fuser="$fuser_ms" -v lsof="$lsof_ms" 'BEGIN {
    printf "  %-26s %9s %10s %10s\n", "", "ms", "/ fuser", "/ scan"
    printf "  %-26s %9.2f %10.2f %10.2f\n", "bare stat of /proc/*/fd/*", scan, scan / fuser, 1
    printf "  %-26s %9.2f %10.2f %10.2f\n", "vesperlin-cli FILE", cli, cli / fuser, cli / scan
    printf "  %-26s %9.2f %10.2f %10.2f\n", "fuser FILE", fuser, 1, fuser / scan
    printf "  %-26s %9.2f %10.2f %10.2f\n", "lsof -t FILE", lsof, lsof / fuser, lsof / scan
}'
printf '  %-26s %9.2f  (21 entries and the folder)\n' "vesperlin-cli FOLDER" "$folder_ms"
echo "vesperlin-cli peak RSS: $cli_rss KiB (file), $folder_rss KiB (folder)"
