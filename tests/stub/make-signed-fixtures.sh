#!/bin/bash
# Setup of the stub tests: signs copies of the stand-in installer with a
# throw-away test CA and makes the test prefix trust that CA.
#   make-signed-fixtures.sh <folder> <kv_test_installer.exe> <wine-run.sh> <kv_import_root_cert.exe> [QMTIPC.dll]
# In the folder:
#   kvantor-signed.exe    signed by "K-Vantor Corporation"
#   other-signed.exe      signed by another publisher
#   case-signed.exe       signed by "K-VANTOR CORPORATION"
#   longer-signed.exe     signed by "K-Vantor Corporation Inc"
#   untrusted-signed.exe  signed by "K-Vantor Corporation" under a CA nobody trusts
#   tampered-signed.exe   kvantor-signed.exe with one byte of its code changed
#   org-only-signed.exe   signed by a certificate naming "K-Vantor Corporation"
#                         as organisation only, without a common name
#   no-usage-signed.exe   signed by "K-Vantor Corporation" without the
#                         code-signing key usage
#   unsigned.exe          the installer as built
#   tls/                  server certificates for the HTTPS tests
#   ipc-kvantor/QMTIPC.dll, ipc-other/QMTIPC.dll
#                         the stand-in IPC library signed by the maker and by
#                         another publisher (when the library is given and built)
set -euo pipefail
dir=${1:?folder}
installer=${2:?installer}
wine_run=${3:?wine-run.sh}
importer=${4:?kv_import_root_cert.exe}
signing=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tools/signing" && pwd)

mkdir -p "$dir"
sign() { "$signing/sign-file.sh" "$dir/$1" "$2" "$installer" "$dir/$3" "${4:-cn+o}" "${5:-codeSigning}"; }
sign ca "K-Vantor Corporation" kvantor-signed.exe
sign ca "Other Publisher Ltd" other-signed.exe
sign ca "K-VANTOR CORPORATION" case-signed.exe
sign ca "K-Vantor Corporation Inc" longer-signed.exe
sign untrusted-ca "K-Vantor Corporation" untrusted-signed.exe
sign ca "K-Vantor Corporation" org-only-signed.exe o-only
sign ca "K-Vantor Corporation" no-usage-signed.exe cn+o none
cp "$installer" "$dir/unsigned.exe"
ipc=${5:-}
if [ -n "$ipc" ] && [ -f "$ipc" ]; then
    mkdir -p "$dir/ipc-kvantor" "$dir/ipc-other"
    "$signing/sign-file.sh" "$dir/ca" "K-Vantor Corporation" "$ipc" "$dir/ipc-kvantor/QMTIPC.dll"
    "$signing/sign-file.sh" "$dir/ca" "Other Publisher Ltd" "$ipc" "$dir/ipc-other/QMTIPC.dll"
fi

# One byte in the middle of the code section (well before the signature at the end).
cp "$dir/kvantor-signed.exe" "$dir/tampered-signed.exe"
offset=$(( $(stat -c %s "$installer") / 3 ))
byte=$(od -An -tu1 -j "$offset" -N1 "$dir/tampered-signed.exe" | tr -d ' ')
printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" | dd of="$dir/tampered-signed.exe" bs=1 seek="$offset" conv=notrunc status=none

# Server certificates for the HTTPS tests (tools/httpserver, --tls-dir): one
# for the test host names, one for another name, one from the untrusted CA.
"$signing/make-tls-cert.sh" "$dir/ca" "$dir/tls/good.pem" localhost download.kv-test.invalid
"$signing/make-tls-cert.sh" "$dir/ca" "$dir/tls/wronghost.pem" other.kv-test.invalid
"$signing/make-tls-cert.sh" "$dir/untrusted-ca" "$dir/tls/untrusted.pem" localhost download.kv-test.invalid

# Z: is the Unix root in a Wine prefix.
"$wine_run" "$importer" "Z:$(printf '%s' "$dir/ca/ca.der" | tr / '\\')"
