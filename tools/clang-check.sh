#!/bin/bash
# A second compiler over every product and test source: Clang, for the same
# 32-bit MinGW target and against the same MinGW and libstdc++ headers, checks
# syntax and warnings (-Wall -Wextra -Werror), so that code only GCC accepts
# is caught. Nothing is linked.
#   clang-check.sh <folder to configure the compile commands in>
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
folder=$1
target=i686-w64-mingw32

cmake -S "$root" -B "$folder" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXPORT_COMPILE_COMMANDS=ON --no-warn-unused-cli >/dev/null

gcc_version=$("$target-g++-posix" -dumpversion)
cxx_headers=/usr/lib/gcc/$target/$gcc_version-posix/include/c++
[ -d "$cxx_headers" ] || cxx_headers=/usr/lib/gcc/$target/$gcc_version/include/c++
clang_flags="--target=$target --sysroot=/usr/$target -nostdinc++ -isystem $cxx_headers -isystem $cxx_headers/$target -isystem $cxx_headers/backward -fsyntax-only"

# One line a source of ours: its folder, then the command with GCC replaced.
python3 - "$folder/compile_commands.json" "$root" "$clang_flags" >"$folder/clang-commands.txt" <<'PY'
import json, shlex, sys
entries, root, flags = json.load(open(sys.argv[1])), sys.argv[2], sys.argv[3]
for entry in entries:
    if not entry["file"].startswith(root + "/"):
        continue  # GoogleTest's own sources
    words = shlex.split(entry["command"])
    if words[0].endswith("ccache"):
        words = words[1:]  # a compiler launcher set by the developer
    words = [w for i, w in enumerate(words[1:], 1) if w != "-o" and words[i - 1] != "-o"]
    print(entry["directory"] + "\t" + "clang++ " + flags + " " + " ".join(shlex.quote(w) for w in words))
PY

count=$(wc -l <"$folder/clang-commands.txt")
echo "Clang checks $count sources"
# Each line runs in its folder; the first failure stops the rest.
tr '\n' '\0' <"$folder/clang-commands.txt" |
    xargs -0 -P"$(nproc)" -I{} bash -c 'line=$1; cd "${line%%	*}" && eval "${line#*	}"' _ {}
echo "Clang found nothing to complain about"
