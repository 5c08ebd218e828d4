#!/bin/bash
# Builds and runs the benchmarks under Wine in a private prefix. They are
# measurements, not tests: nothing here passes or fails on a figure.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}

"$root/tools/install-deps.sh"
source "$root/tests/harness/wine-env.sh"
# The program's own 32-bit build where the host runs 32-bit code, else a 64-bit one.
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$(kv_test_arch)-mingw.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
# KV_BENCHES="startup log" runs only those; arguments go to each one run.
benches=${KV_BENCHES:-$(cd "$root/bench" && for d in */; do [ -f "$d/CMakeLists.txt" ] && echo "${d%/}"; done)}
for b in $benches; do cmake --build "$build" -j"$(nproc)" --target "${b}_bench"; done

source "$root/tests/harness/session.sh"
kv_session_start "$build"
trap kv_session_stop EXIT

for b in $benches; do
    echo "== $b"
    wine "$build/bench/$b/${b}_bench.exe" "$@"
done
