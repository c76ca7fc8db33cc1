# Sourced by wine-run.sh and the scripts that start Windows programs: prepares the environment
# of a private Wine prefix, boots it once and keeps a server and an X display up.

vesperlin_wine_env() {
    local prefix=$1
    mkdir -p "$prefix" || return 1
    export WINEPREFIX=$prefix
    export WINEARCH=win64
    export WINEDEBUG=-all
    # No Mono and no Gecko: no installer dialogs, nothing downloaded.
    export WINEDLLOVERRIDES="mscoree,mshtml="

    # One X display per prefix, numbered from the prefix path so that build trees do not meet.
    local display=$((100 + $(printf '%s' "$prefix" | cksum | cut -d' ' -f1) % 800))
    export DISPLAY=":$display"

    (
        flock 9
        if [ ! -S "/tmp/.X11-unix/X$display" ] || ! kill -0 "$(cat "$prefix/.xvfb.pid" 2>/dev/null)" 2>/dev/null; then
            rm -f "/tmp/.X11-unix/X$display" "/tmp/.X$display-lock"
            setsid Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$prefix/.xvfb.log" 2>&1 9>&- &
            echo $! >"$prefix/.xvfb.pid"
            for _ in $(seq 100); do
                [ -S "/tmp/.X11-unix/X$display" ] && break
                sleep 0.05
            done
        fi
        if [ ! -f "$prefix/system.reg" ] || [ ! -f "$prefix/.booted" ]; then
            # Output to a file: the services Wine starts inherit it and keep it open.
            wineboot -i </dev/null >"$prefix/.boot.log" 2>&1 9>&-
            wineserver -w
            touch "$prefix/.booted"
        fi
        # Persistent server for the run; a second call while one runs changes nothing.
        setsid wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
        # Start the prefix's services now, with their output going nowhere, so that they do
        # not inherit the pipes of the program we are about to run.
        if [ ! -f "$prefix/.warm" ]; then
            setsid wine cmd /c exit </dev/null >/dev/null 2>&1 9>&-
            touch "$prefix/.warm"
        fi
    ) 9>"$prefix/.lock"
}
