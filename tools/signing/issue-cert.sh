# Sourced by the signing scripts: one certificate issued by the test CA.
#   kv_issue_cert <ca folder> <folder> <config name> <extensions section>
# The folder holds the request's config (<config name>); the key, the request
# and the certificate (key.pem, request.pem, cert.pem) are written beside it.
kv_issue_cert() {
    local ca=$1 folder=$2 config=$3 extensions=$4
    openssl req -new -newkey rsa:2048 -nodes -sha256 -config "$folder/$config" \
        -keyout "$folder/key.pem" -out "$folder/request.pem" 2>/dev/null
    openssl x509 -req -in "$folder/request.pem" -CA "$ca/ca.pem" -CAkey "$ca/ca.key" \
        -CAcreateserial -days 3650 -sha256 -extfile "$folder/$config" -extensions "$extensions" \
        -out "$folder/cert.pem" 2>/dev/null
}
