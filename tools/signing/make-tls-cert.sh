#!/bin/bash
# Makes a TLS server certificate and its key, in one PEM file, for the given
# host names, issued by the test CA of make-test-ca.sh (made if missing).
#   make-tls-cert.sh <ca folder> <output.pem> <host name>...
set -euo pipefail
dir=${1:?usage: make-tls-cert.sh <ca folder> <output.pem> <host name>...}
output=${2:?output file}
shift 2
[ $# -gt 0 ] || { echo "make-tls-cert.sh: no host name" >&2; exit 2; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/issue-cert.sh"
"$here/make-test-ca.sh" "$dir"
# Kept once made, like the CA: servers of running tests may be reading it.
[ -s "$output" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
names=$(printf 'DNS:%s,' "$@")
cat >"$work/server.cnf" <<CNF
[req]
distinguished_name = dn
prompt = no
[dn]
CN = $1
[server_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = ${names%,}
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
kv_issue_cert "$dir" "$work" server.cnf server_ext
mkdir -p "$(dirname "$output")"
cat "$work/cert.pem" "$work/key.pem" >"$work/server.pem"
chmod 600 "$work/server.pem"
mv "$work/server.pem" "$output"
