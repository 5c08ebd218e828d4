#!/bin/bash
# Installs what building and testing need and the machine lacks (Debian, as root).
set -euo pipefail

packages=(
    cmake make python3
    gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
    gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    googletest
    wine wine32:i386 wine64
    xvfb xauth xdotool x11-apps imagemagick fonts-wqy-microhei
    openssl osslsigncode
    clang
)

missing=()
for p in "${packages[@]}"; do
    [ "$p" = python3 ] && { command -v python3 >/dev/null || missing+=(python3); continue; }
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
fi
echo "installing: ${missing[*]}"
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
