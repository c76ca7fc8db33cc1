#!/usr/bin/env bash
# Compares vesperlin-cli with fuser, lsof and lsfd on a load of processes holding files open.
#
#   bench/linux/run.sh [-n PROCESSES] [-m FILES_EACH] [-k TARGET_HOLDERS] [-r RUNS]
#
# Starts PROCESSES holders that each keep FILES_EACH files open; a few of them also hold the
# files the cases ask about. Five cases, each timed against its anchors:
#   one file     vesperlin-cli FILE, fuser, lsof, lsfd, and the bare stat of every /proc/*/fd
#                entry (the floor of any answer), also with every cwd, root and maps read (the
#                floor of an answer that counts current folders and mapped files, as all do)
#   20 files     all in one invocation of each program
#   folder       a folder of 5,000 entries: vesperlin-cli DIR against fuser DIR DIR/*
#   recursive    vesperlin-cli -r on a tree of 50,000 files in 5,000 folders against lsof +D
#   mount        vesperlin-cli -m against fuser -m, on a tmpfs mounted for the run (as root),
#                else on the file system of the work folder
# For every case it checks that each program names the processes known to hold the files
# (AGREE/DIFFER) and prints the median wall time (start-up included) of RUNS runs taken in
# turn, the peak RSS of each program, and whether each goal is met. Exit status 1 when a set
# differs or a goal is missed. Set VESPERLIN_CLI to use a built binary instead of building
# build/bench-linux. Every process it starts is killed, and the tmpfs unmounted, at exit.
set -euo pipefail

processes=400
files_each=40
target_holders=5
runs=7
while getopts "n:m:k:r:h" option; do
    case $option in
        n) processes=$OPTARG ;;
        m) files_each=$OPTARG ;;
        k) target_holders=$OPTARG ;;
        r) runs=$OPTARG ;;
        *) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
    esac
done
for value in "$processes" "$files_each" "$target_holders" "$runs"; do
    [[ $value =~ ^[0-9]+$ ]] || { echo "run.sh: not a number: $value" >&2; exit 2; }
done
# The recursive and mount cases need holders of their own beyond the target holders.
((target_holders >= 1 && target_holders + 5 <= processes && runs >= 1)) ||
    { echo "run.sh: bad counts (need 1 <= TARGET_HOLDERS <= PROCESSES - 5, RUNS >= 1)" >&2; exit 2; }

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

# The programs to compare with.
missing=()
command -v fuser >/dev/null || missing+=(psmisc)
command -v lsof >/dev/null || missing+=(lsof)
command -v lsfd >/dev/null || missing+=(util-linux)
if ((${#missing[@]})); then
    echo "installing ${missing[*]} ..."
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null 2>&1 ||
        { apt-get update -qq >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null; }
fi
have_lsfd=yes
command -v lsfd >/dev/null || have_lsfd=no

cli=${VESPERLIN_CLI:-}
if [[ -z $cli ]]; then
    build=$root/build/bench-linux
    echo "building vesperlin-cli in $build ..."
    cmake --preset linux -B "$build" >/dev/null
    cmake --build "$build" --target vesperlin-cli -j2 >/dev/null
    cli=$build/vesperlin-cli
fi
[[ -x $cli ]] || { echo "run.sh: no vesperlin-cli at $cli" >&2; exit 1; }
cli=$(realpath "$cli")  # the comparisons run from /

work=$(mktemp -d /tmp/vesperlin-bench.XXXXXX)
holders=()
mounted=no
cleanup() {
    local pid
    for pid in "${holders[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    for pid in "${holders[@]}"; do wait "$pid" 2>/dev/null || true; done
    [[ $mounted == yes ]] && { umount "$work/mnt" 2>/dev/null || umount -l "$work/mnt" 2>/dev/null || true; }
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

tool=$work/bench_tool
cc -O2 -Wall -o "$tool" "$here/bench_tool.c"

# The loads. The 20 files (the first is the one-file target) and the 5,000-entry folder sit
# apart from the tree, and the tree apart from the mount, so that each answer is its own.
mkdir "$work/files" "$work/ready" "$work/twenty" "$work/mnt"
pool=()
for ((i = 0; i < files_each; ++i)); do
    : >"$work/files/f$i"
    pool+=("$work/files/f$i")
done
twenty=()
for ((i = 0; i < 20; ++i)); do
    echo data >"$work/twenty/t$i.dat"
    twenty+=("$work/twenty/t$i.dat")
done
target=${twenty[0]}
big=$work/big
"$tool" files "$big" 5000
tree=$work/tree
echo "creating a tree of 50,000 files in 5,000 folders ..."
"$tool" tree "$tree" 50 100 10
if mount -t tmpfs -o size=16m vesperlin-bench "$work/mnt" 2>/dev/null; then
    mounted=yes
    mount_kind="a tmpfs mounted for the run"
else
    mount_kind="the file system of $work (no tmpfs could be mounted)"
fi
mnt=$work/mnt
mkdir "$mnt/sub"
for ((i = 0; i < 10; ++i)); do echo data >"$mnt/sub/m$i"; done

# Holder j < TARGET_HOLDERS holds the target, every TARGET_HOLDERS-th of the 20 files from j on,
# and one entry of the big folder; j < TARGET_HOLDERS + 3 holds something in the tree (holder 0
# by its current folder); 2 <= j < TARGET_HOLDERS + 5 holds something on the mount (one by a
# mapping only, one by its current folder).
k=$target_holders
echo "starting $processes holders of $files_each files each ..."
for ((j = 0; j < processes; ++j)); do
    duties=()
    if ((j < k)); then
        duties+=("$target")
        for ((i = 1; i < 20; ++i)); do ((i % k == j)) && duties+=("${twenty[i]}"); done
        duties+=("$big/e$((j * 997 % 5000))")
    fi
    if ((j == 0)); then
        duties+=(-c "$tree/a7/b42")
    elif ((j < k + 3)); then
        duties+=("$tree/a$((j * 13 % 50))/b$((j * 37 % 100))/f$((j % 10))")
    fi
    if ((j >= 2 && j < k + 5)); then
        case $((j - 2)) in
            1) duties+=(-M "$mnt/sub/m1") ;;
            2) duties+=(-c "$mnt/sub") ;;
            *) duties+=("$mnt/sub/m$((j % 10))") ;;
        esac
    fi
    "$tool" hold "$work/ready" "${pool[@]}" "${duties[@]}" </dev/null >/dev/null 2>&1 &
    holders+=($!)
done
for ((waited = 0; ; ++waited)); do
    ready=$(find "$work/ready" -type f | wc -l)
    ((ready == processes)) && break
    ((waited < 600)) || { echo "run.sh: only $ready of $processes holders got ready" >&2; exit 1; }
    sleep 0.1
done
# A holder that holds a case's files has no other reason to be named.
holders_from() { printf '%s\n' "${holders[@]:$1:$2}" | sort -n; }
declare -A expected
expected[one]=$(holders_from 0 "$k")
expected[twenty]=${expected[one]}
expected[folder]=${expected[one]}
expected[tree]=$(holders_from 0 $((k + 3)))
expected[mount]=$(holders_from 2 $((k + 3)))

features=$("$cli" --help 2>&1 || true)
has_option() { grep -q -- "$1" <<<"$features"; }

# lsfd answers by device and inode, or by name for the folder and the tree.
device_of() { stat -c '%Hd:%Ld' "$1"; }
lsfd_inodes() {
    local expr="" path
    # lsfd 2.38 reads "A == 1 || A == 2" as "A == (1 || A) == 2": every comparison in parentheses.
    for path in "$@"; do expr+="${expr:+ || }(INODE == $(stat -c %i "$path"))"; done
    echo "(DEV == \"$(device_of "$1")\") && ($expr)"
}
big_names=("$big"/*)
folder_args=("$big" "${big_names[@]}")
arg_bytes=0
for path in "${folder_args[@]}"; do ((arg_bytes += ${#path} + 1 + 8)); done  # string and pointer
(($(getconf ARG_MAX) - arg_bytes > 65536)) ||
    { echo "run.sh: fuser DIR DIR/* would pass the system's argument limit" >&2; exit 1; }
mount_point=$(stat -c %m "$mnt")
[[ $mounted == yes ]] && mount_point=$mnt
# The comparisons are run from a folder outside every load, so that no shell of ours is named.
cd /

# Every command by name: CASE.PROGRAM. `command_of` fills `cmd`.
cases=(one twenty folder tree mount)
declare -A programs=(
    [one]="scan full cli fuser lsof lsfd"
    [twenty]="cli fuser lsof lsfd"
    [folder]="cli fuser lsof lsfd"
    [tree]="cli lsof lsfd"
    [mount]="cli fuser lsof lsfd"
)
command_of() {
    case $1 in
        one.scan) cmd=("$tool" scan) ;;
        one.full) cmd=("$tool" scan full) ;;
        one.cli) cmd=("$cli" "$target") ;;
        one.fuser) cmd=(fuser "$target") ;;
        one.lsof) cmd=(lsof -w -t -- "$target") ;;
        one.lsfd) cmd=(lsfd -n -o PID -Q "$(lsfd_inodes "$target")") ;;
        twenty.cli) cmd=("$cli" "${twenty[@]}") ;;
        twenty.fuser) cmd=(fuser "${twenty[@]}") ;;
        twenty.lsof) cmd=(lsof -w -t -- "${twenty[@]}") ;;
        twenty.lsfd) cmd=(lsfd -n -o PID -Q "$(lsfd_inodes "${twenty[@]}")") ;;
        folder.cli) cmd=("$cli" "$big") ;;
        folder.fuser) cmd=(fuser "${folder_args[@]}") ;;
        folder.lsof) cmd=(lsof -w -t +d "$big") ;;
        folder.lsfd) cmd=(lsfd -n -o PID -Q "NAME =~ \"^$big(/[^/]+)?\$\"") ;;
        tree.cli) cmd=("$cli" --recursive "$tree") ;;
        tree.lsof) cmd=(lsof -w -t +D "$tree") ;;
        tree.lsfd) cmd=(lsfd -n -o PID -Q "NAME =~ \"^$tree(/.*)?\$\"") ;;
        mount.cli) cmd=("$cli" --mount "$mnt") ;;
        mount.fuser) cmd=(fuser -m "$mnt") ;;
        mount.lsof) cmd=(lsof -w -t -- "$mount_point") ;;
        mount.lsfd) cmd=(lsfd -n -o PID -Q "DEV == \"$(device_of "$mnt")\"") ;;
    esac
}
label_of() {
    case $1 in
        one.scan) echo "bare stat of /proc/*/fd/*" ;;
        one.full) echo "  + cwd, root and maps" ;;
        one.cli) echo "vesperlin-cli FILE" ;;
        one.fuser) echo "fuser FILE" ;;
        one.lsof) echo "lsof -t FILE" ;;
        twenty.cli) echo "vesperlin-cli F1..F20" ;;
        twenty.fuser) echo "fuser F1..F20" ;;
        twenty.lsof) echo "lsof -t F1..F20" ;;
        folder.cli) echo "vesperlin-cli DIR" ;;
        folder.fuser) echo "fuser DIR DIR/*" ;;
        folder.lsof) echo "lsof -t +d DIR" ;;
        tree.cli) echo "vesperlin-cli -r TREE" ;;
        tree.lsof) echo "lsof -t +D TREE" ;;
        mount.cli) echo "vesperlin-cli -m MNT" ;;
        mount.fuser) echo "fuser -m MNT" ;;
        mount.lsof) echo "lsof -t MOUNT_POINT" ;;
        *.lsfd) echo "lsfd -Q (${1%.lsfd})" ;;
    esac
}
# Whether this vesperlin-cli can answer a case at all (the wider questions came later).
case_runs() {
    case $1 in
        tree) has_option --recursive ;;
        mount) has_option --mount ;;
        *) true ;;
    esac
}
[[ $have_lsfd == yes ]] || for c in "${cases[@]}"; do programs[$c]=${programs[$c]/ lsfd/}; done

# The process ids a program names, one per line, ascending, each once.
pids_of() {
    command_of "$1"
    case $1 in
        *.cli)
            if has_option --pids; then
                "${cmd[0]}" --pids "${cmd[@]:1}" 2>/dev/null || true
            else
                # Lines "0xID  NAME"; with several paths also "PATH:" lines.
                "${cmd[@]}" 2>/dev/null | while read -r id _; do
                    [[ $id == 0x* ]] && echo $((id))
                done || true
            fi
            ;;
        *.fuser) "${cmd[@]}" 2>/dev/null || true ;;  # ids on stdout, the rest on stderr
        *) "${cmd[@]}" 2>/dev/null || true ;;
    esac | tr -cs '0-9' '\n' | sed '/^$/d' | sort -nu  # lsfd pads its column with blanks
}
# In the fallback without a tmpfs nobody knows the set in advance: fuser -m is the reference,
# both taken among the processes alive before and after.
alive() { ls /proc | grep -E '^[0-9]+$' | sort -n; }
if [[ $mounted != yes ]] && case_runs mount; then
    before=$(alive)
    reference=$(pids_of mount.fuser)
    expected[mount]=$(comm -12 <(sort <<<"$before") <(sort <<<"$reference") | sort -n)
fi

declare -A agrees
differs=0
for c in "${cases[@]}"; do
    case_runs "$c" || continue
    for p in ${programs[$c]}; do
        [[ $p == scan || $p == full ]] && continue
        found=$(pids_of "$c.$p")
        if [[ $c == mount && $mounted != yes ]]; then
            found=$(comm -12 <(sort <<<"$before") <(sort <<<"$found") | sort -n)
        fi
        if [[ $found == "${expected[$c]}" ]]; then
            agrees[$c.$p]=AGREE
        else
            agrees[$c.$p]=DIFFER
            ((++differs))
            {
                echo "$(label_of "$c.$p") differs from the known holders:"
                diff <(echo "${expected[$c]}") <(echo "$found") | grep '^[<>]' | head -10 || true
            } >&2
        fi
    done
done
descriptors=$("$tool" scan)

# The commands run in turn, one run each per round, so that a burst of other work on the
# machine hits all of them alike. Wall times go to $work/times.NAME, peak RSS to $work/rss.NAME.
echo "timing $runs rounds ..."
for ((round = 0; round <= runs; ++round)); do  # round 0 warms the caches and is not counted
    for c in "${cases[@]}"; do
        case_runs "$c" || continue
        for p in ${programs[$c]}; do
            command_of "$c.$p"
            output=$("$tool" measure 1 "${cmd[@]}")
            ((round == 0)) && continue
            awk '!/^rss/ {print $1}' <<<"$output" >>"$work/times.$c.$p"
            awk '!/^rss/ {print $2}' <<<"$output" >>"$work/cpu.$c.$p"
            awk '/^rss/ {print $2}' <<<"$output" >>"$work/rss.$c.$p"
        done
    done
done
median() { sort -n "$work/${2:-times}.$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
peak() { sort -n "$work/rss.$1" | tail -1; }

missed=0
# goal CASE TEXT VALUE LIMIT [at-least]: prints the ratio beside its limit. A time is no
# answer when vesperlin-cli named other processes than the holders.
goal() {
    local c=$1 verdict
    shift
    if [[ ${agrees[$c.cli]} != AGREE ]]; then
        printf '  goal %-44s %6.2f (%s %s)  goal MISSED (wrong answer)\n' "$1:" "$2" \
            "$([[ ${4:-} == at-least ]] && echo '>=' || echo '<=')" "$3"
        ((++missed))
        return
    fi
    if [[ ${4:-} == at-least ]]; then
        verdict=$(awk -v v="$2" -v l="$3" 'BEGIN {print (v >= l) ? "goal met" : "goal MISSED"}')
        printf '  goal %-44s %6.2f (>= %s)  %s\n' "$1:" "$2" "$3" "$verdict"
    else
        verdict=$(awk -v v="$2" -v l="$3" 'BEGIN {print (v <= l) ? "goal met" : "goal MISSED"}')
        printf '  goal %-44s %6.2f (<= %s)  %s\n' "$1:" "$2" "$3" "$verdict"
    fi
    [[ $verdict == "goal met" ]] || ((++missed))
}
ratio() { awk -v a="$(median "$1")" -v b="$(median "$2")" 'BEGIN {printf "%.3f", a / b}'; }
same() { [[ ${agrees[$1]} == AGREE && ${agrees[$2]} == AGREE ]] && echo AGREE || echo DIFFER; }

echo
echo "load: $processes processes x $files_each files, $descriptors open descriptors in /proc;" \
    "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "median of $runs runs taken in turn: wall time including start-up, CPU time (user and"
echo "system, all threads), and the peak RSS of the program"
for c in "${cases[@]}"; do
    echo
    case $c in
        one) echo "one file, held by $k processes" ;;
        twenty) echo "20 files in one invocation, held by $k processes" ;;
        folder) echo "a folder of 5,000 entries, $k of them held" ;;
        tree) echo "a tree of 50,000 files in 5,000 folders, used by $((k + 3)) processes (one by its current folder)" ;;
        mount) echo "a whole file system ($mount_kind), used by $((k + 3)) processes (one by a mapping only, one by its current folder)" ;;
    esac
    if ! case_runs "$c"; then
        echo "  skipped: this vesperlin-cli has no $([[ $c == tree ]] && echo --recursive || echo --mount)"
        ((++missed))
        continue
    fi
    printf '  %-28s %10s %10s %12s  %s\n' "" "ms" "cpu ms" "peak KiB" "processes"
    for p in ${programs[$c]}; do
        printf '  %-28s %10.2f %10.2f %12s  %s\n' "$(label_of "$c.$p")" "$(median "$c.$p")" \
            "$(median "$c.$p" cpu)" "$(peak "$c.$p")" "${agrees[$c.$p]:--}"
    done
    case $c in
        one)
            goal one "vesperlin-cli / fuser" "$(ratio one.cli one.fuser)" 0.8
            goal one "vesperlin-cli / bare scan" "$(ratio one.cli one.scan)" 1.1
            ;;
        twenty)
            goal twenty "20 files / one file (vesperlin-cli)" "$(ratio twenty.cli one.cli)" 1.2
            goal twenty "vesperlin-cli / fuser on the 20 files" "$(ratio twenty.cli twenty.fuser)" 1
            ;;
        folder)
            goal folder "vesperlin-cli DIR / fuser DIR DIR/*" "$(ratio folder.cli folder.fuser)" 1
            ;;
        tree)
            echo "  same processes as lsof +D: $(same tree.cli tree.lsof)"
            goal tree "lsof +D / vesperlin-cli -r (speed-up)" "$(ratio tree.lsof tree.cli)" 10 at-least
            ;;
        mount)
            echo "  same processes as fuser -m: $(same mount.cli mount.fuser)"
            goal mount "vesperlin-cli -m / fuser -m" "$(ratio mount.cli mount.fuser)" 1
            ;;
    esac
done
echo
if ((differs || missed)); then
    echo "result: $differs sets differ, $missed goals missed or not measured"
    exit 1
fi
echo "result: every set agrees, every goal met"
