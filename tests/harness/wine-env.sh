# Sourced by the test harness, the CTest emulator and the demo: the Wine
# settings of a private prefix and the functions that make, start and stop it.
# WINEPREFIX must be set by the caller; it is never the user's ~/.wine.

export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs while a prefix boots.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

kv_wine_server_start() {
    # A persistent wineserver keeps each program's start well under a second.
    # Its output is redirected, or the calling shell would wait on it. A second
    # start while one runs for the prefix ends at once.
    wineserver -p </dev/null >/dev/null 2>&1 &
}

kv_wine_ensure_prefix() {
    [ -n "${WINEPREFIX:-}" ] || { echo "WINEPREFIX is not set" >&2; return 1; }
    case "$WINEPREFIX" in "$HOME/.wine"|"$HOME/.wine/") echo "refusing the user's own prefix" >&2; return 1;; esac
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.kv-booted" ]; then
            rm -rf "$WINEPREFIX"
            # Boot with a server that ends by itself, so that the registry is
            # written out before the prefix counts as ready.
            wineboot -i </dev/null >/dev/null 2>&1 || exit 1
            wineserver -w
            touch "$WINEPREFIX/.kv-booted"
        fi
    ) 9>"$WINEPREFIX.lock" || return 1
    kv_wine_server_start
}

kv_wine_stop() {
    [ -d "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
    return 0
}
