# Sourced by the set-up and the test harness: whether this host's kernel runs
# 32-bit x86 code at all. Some kernels are built without it, and then no
# 32-bit Wine could ever start; asking for its packages there only adds an
# architecture whose package index may break the next update.

# A 96-byte static i386 program that only calls exit(42). Only a kernel that
# really ran it gives 42: one without 32-bit support fails the exec, and the
# shell answers with 126 ("Exec format error").
# KV_HOST_EXECS_I386=0 or 1 answers without the probe (the set-up's tests).
kv_host_execs_i386() {
    case "${KV_HOST_EXECS_I386:-}" in 0) return 1 ;; 1) return 0 ;; esac
    local probe status
    probe=$(mktemp "${TMPDIR:-/tmp}/kv-i386-probe.XXXXXX") || return 1
    printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
    chmod 700 "$probe"
    status=0
    "$probe" 2>/dev/null || status=$?
    rm -f "$probe"
    [ "$status" -eq 42 ]
}
