# Sourced by the test harness, the CTest emulator and the demo: the Wine
# settings of a private prefix and the functions that make, start and stop it.
# WINEPREFIX must be set by the caller; it is never the user's ~/.wine.

export WINEARCH=win64

# Whether this host can run the 32-bit program at all: its kernel must run
# 32-bit code (the same probe as the set-up's, so that both agree) and the
# 32-bit Wine must be there (the set-up leaves it out where it cannot be had).
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tools" && pwd)/host-arch.sh"
if [ -z "${KV_HOST_EXECS_I386:-}" ]; then
    KV_HOST_EXECS_I386=0
    kv_host_execs_i386 && KV_HOST_EXECS_I386=1
    export KV_HOST_EXECS_I386
fi
kv_host_runs_i386() { kv_host_execs_i386 && /usr/lib/wine/wine --version >/dev/null 2>&1; }

# The word size of the test build: the program's own (i686) where the host
# runs it, else x86_64. KV_ARCH overrides.
kv_test_arch() {
    if [ -n "${KV_ARCH:-}" ]; then echo "$KV_ARCH"
    elif kv_host_runs_i386; then echo i686
    else echo x86_64
    fi
}

if ! kv_host_runs_i386; then
    # The distribution's launchers still pick the 32-bit loader; these go to
    # the 64-bit one.
    kv_wine64_only="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64-only"
    case ":$PATH:" in *":$kv_wine64_only:"*) ;; *) export PATH="$kv_wine64_only:$PATH" ;; esac
    export WINELOADER=/usr/lib/wine/wine64
fi
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs while a prefix boots.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

kv_wine_server_start() {
    # A persistent wineserver keeps each program's start well under a second.
    # It puts itself in the background once it is ready, keeping the standard
    # handles it was given: they must not be a caller's pipe, or the caller
    # (CTest, a shell) would wait on the server for ever. It ends at once,
    # with status 2, when one already runs for the prefix.
    # Nor may they inherit the prefix lock (descriptor 9), or it stays held.
    wineserver -p </dev/null >/dev/null 2>&1 9>&-
    if [ $? -eq 0 ]; then
        # The prefix's services start with the first program and live as long
        # as the server; start them here, so that they too hold no pipe of a
        # test's caller.
        wine cmd.exe /c exit </dev/null >/dev/null 2>&1 9>&-
    fi
    return 0
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
            wineboot -i </dev/null >/dev/null 2>&1 9>&- || exit 1
            # Wine draws the windows' frames itself (caption, close box): the
            # test display runs no window manager.
            wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 9>&-
            # As on Windows, the dialog fonts fall back to a CJK font for the
            # Japanese, Chinese and Korean texts.
            local face
            for face in Arial Tahoma "MS Shell Dlg" "Microsoft Sans Serif"; do
                wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" \
                    /t REG_MULTI_SZ /d "wqy-microhei.ttc,WenQuanYi Micro Hei" /f </dev/null >/dev/null 2>&1 9>&-
            done
            wineserver -w
            touch "$WINEPREFIX/.kv-booted"
        fi
        kv_wine_server_start
    ) 9>"$WINEPREFIX.lock"
}

kv_wine_stop() {
    [ -d "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
    return 0
}
