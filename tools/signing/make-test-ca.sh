#!/bin/bash
# Makes a throw-away test root CA in a folder: ca.key (private, never to be
# committed), ca.pem and ca.der (the certificate). An existing CA in the folder
# is kept, so that files signed earlier stay valid.
#   make-test-ca.sh <folder> [common name]
set -euo pipefail
dir=${1:?usage: make-test-ca.sh <folder> [common name]}
name=${2:-KV Test Root CA}
mkdir -p "$dir"
if [ -s "$dir/ca.key" ] && [ -s "$dir/ca.pem" ] && [ -s "$dir/ca.der" ]; then
    exit 0
fi
cat >"$dir/ca.cnf" <<CNF
[req]
distinguished_name = dn
prompt = no
x509_extensions = ca_ext
[dn]
CN = $name
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
CNF
openssl req -x509 -new -newkey rsa:2048 -nodes -sha256 -days 3650 \
    -config "$dir/ca.cnf" -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null
openssl x509 -in "$dir/ca.pem" -outform DER -out "$dir/ca.der"
chmod 600 "$dir/ca.key"
