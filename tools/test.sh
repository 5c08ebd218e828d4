#!/bin/bash
# The whole test suite: installs what is missing, builds, and runs every test
# under Wine in a private prefix made for this run. Extra arguments go to CTest
# (for example: -R LogFileRotation). KV_TARGETS="a b" builds only those targets,
# KV_BUILD_DIR chooses the build folder (default: build).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}

"$root/tools/install-deps.sh"
source "$root/tests/harness/wine-env.sh"

# The suite runs in the program's own word size where the host can run
# 32-bit code; elsewhere it runs as a 64-bit build, and the 32-bit program
# is still built, so that the build that ships is known to compile and link.
arch=$(kv_test_arch)
if [ "$arch" != i686 ]; then
    echo "This host runs no 32-bit code: the tests run as an $arch build; the 32-bit program is built in $build-i686."
    cmake -S "$root" -B "$build-i686" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" \
          -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build-i686" -j"$(nproc)" --target upgrade_tool
fi
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-mingw.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
if [ -n "${KV_TARGETS:-}" ]; then
    for target in $KV_TARGETS; do cmake --build "$build" -j"$(nproc)" --target "$target"; done
else
    cmake --build "$build" -j"$(nproc)"
fi

# A second compiler over every source, so that code only GCC accepts is caught.
bash "$root/tools/clang-check.sh" "$build-clang"

source "$root/tests/harness/session.sh"
kv_session_start "$build"
trap kv_session_stop EXIT

ctest --test-dir "$build" --output-on-failure --no-tests=error -j"$(nproc)" "$@"
