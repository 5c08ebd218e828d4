#!/bin/bash
# Runs one command (a test program under Wine) beside a fresh test server of
# its own, handing the server's ports over in KV_TEST_HTTP_PORT,
# KV_TEST_PROXY_PORT and KV_TEST_CLOSED_PORT, and, when KV_TEST_TLS_DIR names
# a folder of server certificates, the HTTPS ones in KV_TEST_TLS_PORT,
# KV_TEST_TLS_WRONG_HOST_PORT and KV_TEST_TLS_UNTRUSTED_PORT. The server is stopped when the
# command ends, fails or is killed; it also ends by itself once this script
# is gone.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Listing the tests needs no server.
for arg in "$@"; do
    [ "$arg" = "--gtest_list_tests" ] && exec "$@"
done

workdir=$(mktemp -d "${TMPDIR:-/tmp}/kv-httpserver.XXXXXX")
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

python3 "$here/server.py" --port-file "$workdir/ports" --parent-pid $$ --max-seconds "${KV_TEST_SERVER_SECONDS:-1800}" \
    --tls-dir "${KV_TEST_TLS_DIR:-}" \
    </dev/null >"$workdir/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do
    [ -s "$workdir/ports" ] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
done
if [ ! -s "$workdir/ports" ]; then
    echo "test server did not start:" >&2
    cat "$workdir/server.log" >&2
    exit 1
fi
read -r KV_TEST_HTTP_PORT KV_TEST_PROXY_PORT KV_TEST_CLOSED_PORT \
    KV_TEST_TLS_PORT KV_TEST_TLS_WRONG_HOST_PORT KV_TEST_TLS_UNTRUSTED_PORT <"$workdir/ports"
export KV_TEST_HTTP_PORT KV_TEST_PROXY_PORT KV_TEST_CLOSED_PORT \
    KV_TEST_TLS_PORT KV_TEST_TLS_WRONG_HOST_PORT KV_TEST_TLS_UNTRUSTED_PORT

"$@"
rc=$?
if [ $rc -ne 0 ] && [ -s "$workdir/server.log" ]; then
    echo "--- test server output ---" >&2
    cat "$workdir/server.log" >&2
fi
exit $rc
