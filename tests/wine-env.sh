# Sourced by wine-run.sh and the scripts that start Windows programs: prepares the environment
# of a private Wine prefix, boots it once and keeps a server and an X display up.

# True when display N is free here: no lock file, no socket in the file system, and none in the
# abstract namespace, which build trees with /tmp folders of their own still share.
vesperlin_display_free() {
    [ ! -e "/tmp/.X$1-lock" ] && [ ! -e "/tmp/.X11-unix/X$1" ] &&
        ! grep -q "@/tmp/.X11-unix/X$1\$" /proc/net/unix 2>/dev/null
}

# Starts the prefix's X display unless the one it recorded still runs, and prints its number:
# the first free one from 100 on, picked under a lock that every prefix on the machine takes.
# Nobody else's display files are touched. Xvfb writes the number (-displayfd) once it accepts
# connections, which is when this returns. Called under the prefix's lock.
vesperlin_display() {
    local prefix=$1 pid display
    pid=$(cat "$prefix/.xvfb.pid" 2>/dev/null)
    display=$(cat "$prefix/.display" 2>/dev/null)
    if [ -n "$pid" ] && [ -n "$display" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ]; then
        echo "$display"
        return 0
    fi
    rm -f "$prefix/.xvfb.pid" "$prefix/.display"
    (
        flock 8
        # The prefix's own display, left behind by a server that was killed, is taken again
        # first: its socket stays, and its lock file names the dead server.
        local own=""
        if [ -n "$display" ] && [ -n "$pid" ] && [ ! -e "/proc/$pid" ] &&
            ! grep -q "@/tmp/.X11-unix/X$display\$" /proc/net/unix 2>/dev/null &&
            { [ ! -e "/tmp/.X$display-lock" ] || [ "$(tr -d ' \n' <"/tmp/.X$display-lock")" = "$pid" ]; }; then
            own=$display
        fi
        local ready=$prefix/.xvfb.ready candidate tries=0 said
        for candidate in $own $(seq 100 999); do
            ((tries < 5)) || break
            [ "$candidate" = "$own" ] || vesperlin_display_free "$candidate" || continue
            # A server of another /tmp may take the number first; then the next one is tried.
            tries=$((tries + 1))
            rm -f "$ready"
            mkfifo "$ready" || exit 1
            setsid Xvfb ":$candidate" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
                </dev/null >"$prefix/.xvfb.log" 2>&1 3>"$ready" 8>&- 9>&- &
            pid=$!
            # An upper bound only: the number comes as soon as the server is up, and nothing
            # at once when it fails.
            said=""
            read -r -t 20 said <"$ready"
            rm -f "$ready"
            if [ "$said" = "$candidate" ]; then
                echo "$pid" >"$prefix/.xvfb.pid"
                echo "$candidate" >"$prefix/.display"
                exit 0
            fi
            kill "$pid" 2>/dev/null
        done
        echo "wine-env: no X display could be started (see $prefix/.xvfb.log)" >&2
        exit 1
    ) 8>/tmp/.vesperlin-displays.lock || return 1
    cat "$prefix/.display"
}

# Ends the display that vesperlin_display started for the prefix; Xvfb removes its own files.
vesperlin_display_stop() {
    local prefix=$1 pid
    pid=$(cat "$prefix/.xvfb.pid" 2>/dev/null)
    if [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ]; then
        kill "$pid" 2>/dev/null
        # Until it is gone, so that the number is free again when this returns.
        timeout 10 tail -s 0.05 --pid="$pid" -f /dev/null
    fi
    rm -f "$prefix/.xvfb.pid" "$prefix/.display"
}

# True when a Wine server of the prefix has its socket in place. The server folder is named by
# the prefix's device and inode, under the folder Debian's Wine records in the prefix, or else
# under /tmp/.wine-UID.
vesperlin_server_listening() {
    local prefix=$1 base dev ino
    if [ -f "$prefix/wineserver" ]; then
        base=/tmp/$(cat "$prefix/wineserver")
    else
        base=/tmp/.wine-$(id -u)
    fi
    dev=$(stat -c %D "$prefix") || return 1
    ino=$(printf '%x' "$(stat -c %i "$prefix")") || return 1
    [ -S "$base/server-$dev-$ino/socket" ]
}

vesperlin_wine_env() {
    local prefix=$1
    mkdir -p "$prefix" || return 1
    export WINEPREFIX=$prefix
    export WINEARCH=win64
    export WINEDEBUG=-all
    # No Mono and no Gecko: no installer dialogs, nothing downloaded.
    export WINEDLLOVERRIDES="mscoree,mshtml="

    (
        flock 9
        display=$(vesperlin_display "$prefix") || exit 1
        export DISPLAY=":$display"
        if [ ! -f "$prefix/system.reg" ] || [ ! -f "$prefix/.booted" ]; then
            # Output to a file: the services Wine starts inherit it and keep it open.
            wineboot -i </dev/null >"$prefix/.boot.log" 2>&1 9>&-
            wineserver -w
            touch "$prefix/.booted"
        fi
        # Persistent server for the run, started only when the prefix has none listening. A
        # server started while one runs is meant to find that one's lock and leave, but a
        # running server sometimes no longer holds it (seen under load): the newcomer then
        # removes the socket and takes over, and every program of the old one waits for its
        # replies for ever.
        if ! vesperlin_server_listening "$prefix"; then
            setsid wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
        fi
        # Start the prefix's services now, with their output going nowhere, so that they do
        # not inherit the pipes of the program we are about to run.
        if [ ! -f "$prefix/.warm" ]; then
            setsid wine cmd /c exit </dev/null >/dev/null 2>&1 9>&-
            touch "$prefix/.warm"
        fi
    ) 9>"$prefix/.lock" || return 1
    DISPLAY=":$(cat "$prefix/.display")"
    export DISPLAY
}
