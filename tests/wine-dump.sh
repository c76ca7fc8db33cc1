#!/usr/bin/env bash
# Prints what a running Windows program under Wine is doing, for a test that is about to be
# killed at its time-out. First what /proc tells at once: the program's threads with their
# kernel stacks, every Unix process of the prefix and its Wine server; then the Unix backtraces
# of the program's threads (gdb), their Windows backtraces (winedbg, with the program's own
# frames named by addr2line) and the prefix's Windows processes.
#   wine-dump.sh PID PROGRAM.exe      (PID: the program's Unix process id; WINEPREFIX set)
# Every step has a time limit of its own: a wedged Wine server must not hang the dump as well.
set -u
[ $# -eq 2 ] || { echo "usage: $0 PID PROGRAM.exe" >&2; exit 2; }
pid=$1
exe=$2
limit=${VESPERLIN_WINE_DUMP_LIMIT:-4}

threads_of() {
    local task
    for task in "/proc/$1"/task/*; do
        [ -d "$task" ] || continue
        printf '  task %s %s state %s wchan %s\n' "${task##*/}" "$(cat "$task/comm" 2>/dev/null)" \
            "$(cut -d' ' -f3 "$task/stat" 2>/dev/null)" "$(cat "$task/wchan" 2>/dev/null)"
        sed -n '1,6s/^/      /p' "$task/stack" 2>/dev/null
    done
}

echo "== unix threads of $pid ($exe)"
threads_of "$pid"

# Every Unix process of this prefix (and of this mount namespace: build trees may share the
# prefix's path), with what each waits on: a Windows process that hangs while it starts shows
# here, and nowhere in winedbg.
echo "== unix processes of the prefix"
ns=$(readlink /proc/self/ns/mnt)
for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/ns/mnt" 2>/dev/null)" = "$ns" ] || continue
    tr '\0' '\n' <"$proc/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    printf '  %s ppid %s %s wchan %s, %s s: %s\n' "${proc##*/}" \
        "$(cut -d' ' -f4 "$proc/stat" 2>/dev/null)" "$(cut -d' ' -f3 "$proc/stat" 2>/dev/null)" \
        "$(cat "$proc/wchan" 2>/dev/null)" "$(ps -o etimes= -p "${proc##*/}" 2>/dev/null | tr -d ' ')" \
        "$(tr '\0' ' ' <"$proc/cmdline" 2>/dev/null | cut -c1-160)"
done

# The prefix's server is the one whose folder is named after the prefix's device and inode (other
# build trees have servers of their own).
echo "== wine server"
server=$(printf 'server-%s-%x' "$(stat -c %D "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
for proc in /proc/[0-9]*; do
    case $(cat "$proc/comm" 2>/dev/null) in wineserver*) ;; *) continue ;; esac
    [ "$(basename "$(readlink "$proc/cwd" 2>/dev/null)")" = "$server" ] || continue
    echo "  server ${proc##*/}, up $(ps -o etimes= -p "${proc##*/}" | tr -d ' ') s"
    threads_of "${proc##*/}"
done

# Wine keeps each thread's TEB in the GS base: its client id gives the Windows process and
# thread ids that winedbg wants.
echo "== gdb: unix backtraces"
# shellcheck disable=SC2016  # gdb's own variables
unix=$(timeout "$limit" gdb -p "$pid" -batch -nx \
    -ex 'p/x *(unsigned long*)($gs_base+0x40)' \
    -ex 'thread apply all p/x *(unsigned long*)($gs_base+0x48)' \
    -ex 'thread apply all bt 12' 2>&1)
grep -v -e '^\$[0-9]* = ' -e '^\[Thread debugging' -e '^Using host libthread_db' <<<"$unix"
read -r wpid tids <<<"$(sed -n 's/^\$[0-9]* = //p' <<<"$unix" | tr '\n' ' ')"

if [ -n "${wpid:-}" ]; then
    echo "== winedbg: Windows backtraces of process $wpid"
    commands="attach $wpid"$'\n'
    for tid in $tids; do commands+="bt $tid"$'\n'; done
    commands+="detach"$'\n'"quit"$'\n'
    trace=$(timeout $((limit * 2)) winedbg <<<"$commands" 2>&1)
    echo "$trace"
    # winedbg does not read the program's debug information; addr2line does.
    module=$(basename "$exe" .exe)
    addresses=$(grep -oE "0x[0-9a-f]+ in $module \(" <<<"$trace" | cut -d' ' -f1 | sort -u)
    if [ -n "$addresses" ] && command -v x86_64-w64-mingw32-addr2line >/dev/null; then
        echo "== $module frames"
        for address in $addresses; do
            printf '  %s %s\n' "$address" \
                "$(x86_64-w64-mingw32-addr2line -f -C -p -i -e "$exe" "$address" 2>/dev/null)"
        done
    fi
fi

echo "== Windows processes"
timeout "$limit" winedbg --command "info process" 2>&1
exit 0
