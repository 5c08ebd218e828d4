#!/bin/bash
# Runs the tool on a built-in demo machine: a private Wine prefix seeded as a
# machine with the product in one state, the real upgrade_tool.exe with its
# windows shown, then what it changed, its exit code and its log.
#   bash tools/demo.sh [scenario] [-- tool arguments]
# Scenarios: fresh-install (default: no product; the hosts file names the
# maker, the installer comes signed from a local server standing in for the
# maker's), upgrade (framework 1.60 with the retail operator, the stand-in IPC
# library and daemon), up-to-date (framework 1.71 with the retail operator).
# With a display of your own the windows open there and you answer them;
# without one they open on a private Xvfb, are answered by tools/windriver and
# photographed into <build>/demo/screenshots/. With --quiet or --passive among
# the tool's arguments nothing is answered: each window that shows is only
# described and photographed (a quiet run should show none).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}
scenario=fresh-install
if [ $# -gt 0 ] && [ "$1" != "--" ]; then scenario=$1; shift; fi
[ "${1:-}" = "--" ] && shift

case "$scenario" in
    fresh-install) version= ; targets=(kv_test_installer kv_import_root_cert) ;;
    upgrade) version=1.60.0 ; targets=(qmtipc qmtdaemon) ;;
    up-to-date) version=1.71.0 ; targets=() ;;
    *) echo "unknown scenario '$scenario' (fresh-install, upgrade, up-to-date)" >&2; exit 2 ;;
esac

"$root/tools/install-deps.sh"
source "$root/tests/harness/wine-env.sh"
# The program's own 32-bit build where the host runs 32-bit code, else a 64-bit one.
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$(kv_test_arch)-mingw.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target upgrade_tool windriver "${targets[@]}"

demo="$build/demo"
shots="$demo/screenshots"
mkdir -p "$demo"
rm -rf "$shots"

source "$root/tests/harness/session.sh"
own_display=${DISPLAY:-}
tool_pid= server_pid= daemon_pid=
finish() {
    local rc=$?
    set +e
    [ -n "$tool_pid" ] && kill "$tool_pid" 2>/dev/null
    if [ -n "$daemon_pid" ]; then
        wine "$build/tools/qmtdaemon/qmtdaemon.exe" --stop </dev/null >/dev/null 2>&1
        wait "$daemon_pid" 2>/dev/null
    fi
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    (exit $rc)
    kv_session_stop
}
kv_session_start "$demo"
trap finish EXIT
trap 'exit 143' TERM INT HUP
# The user's own display when there is one, else the session's Xvfb.
[ -n "$own_display" ] && export DISPLAY=$own_display

reg32() { wine reg add "$@" /f /reg:32 </dev/null >/dev/null 2>&1; }
winpath() { winepath -w "$1" 2>/dev/null; }
windriver() { wine "$build/tools/windriver/windriver.exe" "$@" </dev/null; }
# Prints a file with a heading, or says it is not there.
show() {
    echo "== $1 ($2)"
    if [ -f "$2" ]; then tr -d '\r' <"$2"; [ -z "$(tail -c1 "$2")" ] || echo; else echo "(none)"; fi
}
# The whole Xvfb screen cut down to the windows on it.
shoot() {
    [ -z "$own_display" ] || return 0
    mkdir -p "$shots"
    local png="$shots/$1.png"
    import -window root "$png.full.png" && convert "$png.full.png" -trim +repage "$png" && rm -f "$png.full.png" &&
        echo "== screenshot $png"
}
# Waits for the tool's dialog and prints its texts and button states.
dialog() { windriver wait --timeout "${1:-30000}" | sed 's/^/   /'; }
status_text() { windriver wait --timeout 2000 2>/dev/null | sed -n 's/^1007=//p'; }

if [ -n "$version" ]; then
    reg32 'HKLM\SOFTWARE\K-Vantor\QMT' /v InstallerVersion /t REG_SZ /d "$version"
    reg32 'HKLM\SOFTWARE\K-Vantor\Ovalis Agent\Operators' /v 666 /t REG_DWORD /d 1
fi

etc="$WINEPREFIX/drive_c/windows/system32/drivers/etc"
cache="$WINEPREFIX/drive_c/ProgramData/K-Vantor/VRKS/666/packages"
case "$scenario" in
    fresh-install)
        # A hosts file that sends the maker's names away, as some cleaners leave it.
        printf '%s\r\n' "# Copyright (c) 1993-2009 Microsoft Corp." "127.0.0.1       localhost" \
            "::1             localhost" "127.0.0.1 k-vantor-update" "0.0.0.0 download.k-vantor.com" \
            "10.0.0.5	fileserver" >"$etc/hosts"
        rm -f "$etc/hosts.bak"
        show "hosts before" "$etc/hosts"
        # The stand-in installer, signed as the maker by a demo CA that the
        # demo machine trusts.
        "$root/tools/signing/make-test-ca.sh" "$demo/ca" "KV Demo Root CA"
        installer="$demo/K-VantorNetworkInstaller.exe"
        "$root/tools/signing/sign-file.sh" "$demo/ca" "K-Vantor Corporation" \
            "$build/tools/test_installer/kv_test_installer.exe" "$installer" >/dev/null
        "$root/tools/signing/import-test-ca.sh" "$WINEPREFIX" "$demo/ca/ca.der" \
            "$build/tools/signing/kv_import_root_cert.exe" >/dev/null
        echo "== demo CA $demo/ca/ca.der trusted; installer signed as \"K-Vantor Corporation\": $installer"
        marker="$demo/installer.ran"
        rm -f "$marker" "$demo/server.ports"
        export KV_TEST_INSTALLER_MARKER=$(winpath "$marker")
        # The maker's download server, reached through WinINet's preconfigured proxy.
        python3 "$root/tools/httpserver/server.py" --port-file "$demo/server.ports" --parent-pid $$ \
            --max-seconds 600 --proxy-mode origin \
            --resource "{\"path\":\"/NX/Retail/installer/2/K-VantorNetworkInstaller.exe\",\"file\":\"$installer\"}" \
            </dev/null >"$demo/server.out" 2>&1 &
        server_pid=$!
        for _ in $(seq 1 100); do [ -s "$demo/server.ports" ] && break; sleep 0.1; done
        [ -s "$demo/server.ports" ] || { echo "the download server did not start:" >&2; cat "$demo/server.out" >&2; exit 1; }
        read -r origin_port proxy_port _ <"$demo/server.ports"
        export http_proxy=http://127.0.0.1:$proxy_port
        echo "== download server on 127.0.0.1:$origin_port, proxy $http_proxy"
        ;;
    upgrade)
        reg32 'HKLM\SOFTWARE\K-Vantor\QMT\KVAUA\Segmentations'
        mkdir -p "$(dirname "$cache")"
        printf '%s' '{"packages":[{"id":"av","productDefinitionVersion":3},{"id":"fw","productDefinitionVersion":7}]}' >"$cache"
        show "package cache before" "$cache"
        reg32 'HKLM\SOFTWARE\K-Vantor\QMT\Delay Loading\100' /v QMTIPC.dll /t REG_SZ \
            /d "$(winpath "$build/tools/qmtipc/QMTIPC.dll")"
        record="$demo/daemon-record.txt"
        rm -f "$record" "$demo/daemon.ready"
        wine "$build/tools/qmtdaemon/qmtdaemon.exe" --record "$(winpath "$record")" \
            --ready "$(winpath "$demo/daemon.ready")" --timeout 600 </dev/null >/dev/null 2>&1 &
        daemon_pid=$!
        for _ in $(seq 1 200); do [ -f "$demo/daemon.ready" ] && break; sleep 0.1; done
        [ -f "$demo/daemon.ready" ] || { echo "the stand-in daemon did not start" >&2; exit 1; }
        echo "== stand-in daemon listening; QMTIPC.dll registered"
        ;;
esac

# An unattended run is only watched: nobody answers it.
unattended=
for argument in "$@"; do
    case "${argument,,}" in
        --quiet|-q|/quiet) unattended=quiet ;;
        --passive|/passive) [ -n "$unattended" ] || unattended=passive ;;
    esac
done

echo "== scenario $scenario: upgrade_tool.exe $*"
if [ -n "$own_display" ]; then
    echo "== the tool's windows open on your display $DISPLAY: answer them yourself"
fi
set +e
wine "$build/app/upgrade_tool.exe" "$@" </dev/null &
tool_pid=$!
if [ -z "$own_display" ] && [ -n "$unattended" ]; then
    seen=0
    while kill -0 "$tool_pid" 2>/dev/null; do
        windriver wait --timeout 500 >/dev/null 2>&1 || continue
        seen=$((seen + 1))
        echo "== window $seen, not answered:"
        dialog 2000
        shown=$(date +%s%N)
        shoot "$scenario-$unattended-$seen"
        windriver wait-gone --timeout 120000 >/dev/null
        echo "== it closed by itself after about $(( ($(date +%s%N) - shown) / 100000000 ))00 ms"
    done
    echo "== $unattended run: $seen window(s) shown, none answered"
elif [ -z "$own_display" ]; then
    echo "== window:"
    dialog
    shown=$(date +%s%N)
    case "$scenario" in
        fresh-install)
            # The please-wait window animates while the installer comes down.
            sleep 0.6; shoot fresh-install-1-please-wait
            sleep 1.2; shoot fresh-install-2-please-wait
            windriver wait-gone --timeout 120000
            echo "== the please-wait window closed itself after about $(( ($(date +%s%N) - shown) / 100000000 ))00 ms"
            # A failure window follows only when the installer could not be had.
            if windriver wait --timeout 2000 >/dev/null 2>&1; then
                echo "== window:"
                dialog
                shoot fresh-install-3-failure
                windriver click 2 >/dev/null
            fi
            ;;
        upgrade)
            offer=$(status_text)
            shoot upgrade-1-offer
            echo "== pressing Upgrade"
            windriver click 1006 >/dev/null
            for _ in $(seq 1 60); do
                now=$(status_text)
                [ -n "$now" ] && [ "$now" != "$offer" ] && break
                sleep 0.25
            done
            echo "== window:"
            dialog
            shoot upgrade-2-in-progress
            windriver click 2 >/dev/null
            ;;
        up-to-date)
            shoot up-to-date
            windriver click 2 >/dev/null
            ;;
    esac
fi
wait "$tool_pid"
code=$?
tool_pid=
set -e
echo "== exit code $code (Wine hands the Windows exit code on modulo 256: 1603 shows as 67, 1602 as 66, 1618 as 82)"

case "$scenario" in
    fresh-install)
        show "hosts after" "$etc/hosts"
        show "hosts.bak" "$etc/hosts.bak"
        # The installer is started, not waited for.
        for _ in $(seq 1 100); do [ -f "$marker" ] && break; sleep 0.2; done
        show "installer's marker" "$marker"
        echo "== server's request log"
        curl -s --noproxy '*' "http://127.0.0.1:$origin_port/_ctl/log" | tr '\t' ' ' | sed 's/^/   /' || echo "(none)"
        ;;
    upgrade)
        wine "$build/tools/qmtdaemon/qmtdaemon.exe" --stop </dev/null >/dev/null 2>&1
        wait "$daemon_pid" 2>/dev/null || true
        daemon_pid=
        echo "== OPERATOR value"
        wine reg query 'HKLM\SOFTWARE\K-Vantor\QMT\KVAUA\Segmentations' /v OPERATOR /reg:32 </dev/null 2>/dev/null |
            tr -d '\r' | sed -n 's/^ *OPERATOR/   OPERATOR/p' | grep . || echo "(not set)"
        show "package cache after" "$cache"
        show "daemon's record" "$record"
        ;;
esac

log="$WINEPREFIX/drive_c/ProgramData/K-Vantor/logs/OvSA/dc_upgrade_tool.log"
echo "== log ($log)"
[ -f "$log" ] && iconv -f UTF-16 -t UTF-8 "$log" | tr -d '\r'
[ -d "$shots" ] && { echo "== screenshots:"; ls -1 "$shots"/*.png | sed 's/^/   /'; }
exit 0
