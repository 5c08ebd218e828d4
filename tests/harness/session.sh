# Sourced by the test command and the demo: one test session owns a fresh
# Wine prefix, its persistent wineserver and an Xvfb display, and removes
# all three when it ends, whether the tests passed, failed or hung.

kv_session_start() {
    local build=$1
    export WINEPREFIX="$build/wineprefix"
    export KV_WINEPREFIX="$WINEPREFIX"
    source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
    # Every run begins on a newly booted prefix.
    rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"
    # The display first: the prefix's desktop process, started with the first
    # program, takes its graphics driver from the display it finds then.
    kv_xvfb_start || return 1
    kv_wine_ensure_prefix
}

kv_xvfb_start() {
    local fifo display
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" </dev/null >/dev/null 2>&1 &
    KV_XVFB_PID=$!
    read -r -t 20 display <"$fifo" || display=
    rm -f "$fifo"
    if [ -z "$display" ]; then
        echo "Xvfb did not start" >&2
        kill "$KV_XVFB_PID" 2>/dev/null
        KV_XVFB_PID=
        return 1
    fi
    export DISPLAY=":$display"
}

kv_session_stop() {
    local rc=$?
    kv_wine_stop
    if [ -n "${KV_XVFB_PID:-}" ]; then
        kill "$KV_XVFB_PID" 2>/dev/null
        wait "$KV_XVFB_PID" 2>/dev/null
    fi
    return $rc
}
