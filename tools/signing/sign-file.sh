#!/bin/bash
# Signs a copy of a Windows program with a code-signing certificate for the
# given publisher name (its subject's common and organisation name), issued by
# the test CA of make-test-ca.sh. The certificate is made on first use and
# kept in the CA folder under signers/.
#   sign-file.sh <ca folder> <publisher name> <input.exe> <output.exe> [subject] [usage]
# subject: "cn+o" (default) or "o-only" (the name as organisation, no common
# name); usage: "codeSigning" (default) or "none" (no extended key usage).
set -euo pipefail
dir=${1:?usage: sign-file.sh <ca folder> <publisher name> <input.exe> <output.exe> [subject] [usage]}
publisher=${2:?publisher name}
input=${3:?input file}
output=${4:?output file}
subject=${5:-cn+o}
usage=${6:-codeSigning}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/issue-cert.sh"
"$here/make-test-ca.sh" "$dir"

case "$subject" in
    cn+o) subject_lines="CN = $publisher
O = $publisher" ;;
    o-only) subject_lines="O = $publisher" ;;
    *) echo "sign-file.sh: unknown subject form '$subject'" >&2; exit 2 ;;
esac
case "$usage" in
    codeSigning) usage_line="extendedKeyUsage = codeSigning" ;;
    none) usage_line="" ;;
    *) echo "sign-file.sh: unknown usage '$usage'" >&2; exit 2 ;;
esac

slug=$(printf '%s|%s|%s' "$publisher" "$subject" "$usage" | sha1sum | cut -c1-12)
signer="$dir/signers/$slug"
if [ ! -s "$signer/cert.pem" ]; then
    mkdir -p "$signer"
    printf '%s\n' "$publisher" >"$signer/publisher.txt"
    cat >"$signer/signer.cnf" <<CNF
[req]
distinguished_name = dn
prompt = no
utf8 = yes
string_mask = utf8only
[dn]
$subject_lines
[signer_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
$usage_line
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
    kv_issue_cert "$dir" "$signer" signer.cnf signer_ext
    chmod 600 "$signer/key.pem"
    cat "$signer/cert.pem" "$dir/ca.pem" >"$signer/chain.pem"
fi
rm -f "$output"
osslsigncode sign -certs "$signer/chain.pem" -key "$signer/key.pem" -h sha256 \
    -n "$publisher" -in "$input" -out "$output" >/dev/null
