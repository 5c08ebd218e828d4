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
openssl req -new -newkey rsa:2048 -nodes -sha256 -config "$work/server.cnf" \
    -keyout "$work/key.pem" -out "$work/request.pem" 2>/dev/null
openssl x509 -req -in "$work/request.pem" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
    -CAcreateserial -days 3650 -sha256 -extfile "$work/server.cnf" -extensions server_ext \
    -out "$work/cert.pem" 2>/dev/null
mkdir -p "$(dirname "$output")"
cat "$work/cert.pem" "$work/key.pem" >"$work/server.pem"
chmod 600 "$work/server.pem"
mv "$work/server.pem" "$output"
