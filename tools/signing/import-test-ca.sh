#!/bin/bash
# Makes a Wine prefix trust the test CA: adds its certificate to the prefix's
# LocalMachine\Root store (or, with --remove, takes it out).
#   import-test-ca.sh [--remove] <wine prefix> <ca.der or ca.pem> <kv_import_root_cert.exe>
# The prefix must exist; a wineserver for it may run or not.
set -euo pipefail
remove=()
if [ "${1:-}" = --remove ]; then remove=(--remove); shift; fi
prefix=${1:?usage: import-test-ca.sh [--remove] <wine prefix> <ca certificate> <kv_import_root_cert.exe>}
certificate=${2:?ca certificate}
program=${3:?kv_import_root_cert.exe}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX=$prefix
source "$here/../../tests/harness/wine-env.sh"
windows_path=$(winepath -w "$certificate" 2>/dev/null)
wine "$program" "${remove[@]}" "$windows_path" </dev/null
