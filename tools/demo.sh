#!/bin/bash
# Runs the tool on a built-in demo machine: a private Wine prefix seeded as a
# machine with the product in one state, the real upgrade_tool.exe, then its
# exit code and its log.
#   bash tools/demo.sh [scenario] [-- tool arguments]
# Scenarios: fresh-install (default: no product), upgrade (framework 1.60 with
# the retail operator), up-to-date (framework 1.71 with the retail operator).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}
scenario=fresh-install
if [ $# -gt 0 ] && [ "$1" != "--" ]; then scenario=$1; shift; fi
[ "${1:-}" = "--" ] && shift

case "$scenario" in
    fresh-install) version= ;;
    upgrade) version=1.60.0 ;;
    up-to-date) version=1.71.0 ;;
    *) echo "unknown scenario '$scenario' (fresh-install, upgrade, up-to-date)" >&2; exit 2 ;;
esac

"$root/tools/install-deps.sh"
source "$root/tests/harness/wine-env.sh"
# The program's own 32-bit build where the host runs 32-bit code, else a 64-bit one.
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$(kv_test_arch)-mingw.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target upgrade_tool

source "$root/tests/harness/session.sh"
own_display=${DISPLAY:-}
kv_session_start "$build/demo"
trap kv_session_stop EXIT
# The user's own display when there is one, else the session's Xvfb.
[ -n "$own_display" ] && export DISPLAY=$own_display

reg32() { wine reg add "$@" /f /reg:32 </dev/null >/dev/null 2>&1; }
if [ -n "$version" ]; then
    reg32 'HKLM\SOFTWARE\K-Vantor\QMT' /v InstallerVersion /t REG_SZ /d "$version"
    reg32 'HKLM\SOFTWARE\K-Vantor\Ovalis Agent\Operators' /v 666 /t REG_DWORD /d 1
fi

echo "== scenario $scenario: upgrade_tool.exe $*"
set +e
wine "$build/app/upgrade_tool.exe" "$@" </dev/null
code=$?
set -e
echo "== exit code $code (Wine hands the Windows exit code on modulo 256: 1603 shows as 67, 1602 as 66, 1618 as 82)"
log="$WINEPREFIX/drive_c/ProgramData/K-Vantor/logs/OvSA/dc_upgrade_tool.log"
echo "== log ($log)"
[ -f "$log" ] && iconv -f UTF-16 -t UTF-8 "$log" | tr -d '\r'
