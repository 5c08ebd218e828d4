#!/bin/bash
# Installs what building and testing need and the machine lacks (Debian, as root).
#
# The 32-bit Wine is asked for only where the kernel runs 32-bit code; where
# it cannot be installed (a package mirror out of sync, say) the set-up says
# so and the tests run as a 64-bit build, as on a host without 32-bit support.
# An update that fails for some index is retried and then tolerated: the
# install itself tells whether what is needed could be had.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/host-arch.sh"

packages=(
    cmake make python3
    gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
    gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    googletest
    wine wine64
    xvfb xauth xdotool x11-apps imagemagick fonts-wqy-microhei
    openssl osslsigncode
    clang
)
i386_packages=(wine32:i386)

say() { echo "install-deps: $*" >&2; }

installed() {
    [ "$1" = python3 ] && { command -v python3 >/dev/null; return; }
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" = "install ok installed" ]
}

missing_of() {
    local p
    for p in "$@"; do installed "$p" || echo "$p"; done
}

# Retried a few times; a list that still fails to arrive is only a warning.
update_lists() {
    local try
    for try in 1 2 3; do
        apt-get update -q && return 0
        [ "$try" -lt 3 ] && sleep "${KV_APT_RETRY_DELAY:-5}"
    done
    say "some package lists could not be updated; going on with the lists that did arrive"
}

apt_install() { apt-get install -y -q --no-install-recommends "$@"; }

# Installs the given packages or stops, naming those that cannot be had.
install_or_stop() {
    apt_install "$@" && return 0
    local p failed=()
    for p in "$@"; do installed "$p" || apt_install "$p" || failed+=("$p"); done
    [ ${#failed[@]} -eq 0 ] && return 0
    say "cannot install: ${failed[*]}"
    say "run as root: apt-get update && apt-get install ${failed[*]}   (its messages say why; when the mirror is out of sync, try again later)"
    exit 1
}

want_i386=0
kv_host_execs_i386 && want_i386=1
mapfile -t missing < <(missing_of "${packages[@]}")
missing_i386=()
[ "$want_i386" -eq 1 ] && mapfile -t missing_i386 < <(missing_of "${i386_packages[@]}")
[ ${#missing[@]} -eq 0 ] && [ ${#missing_i386[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    say "missing packages: ${missing[*]} ${missing_i386[*]} (run as root to install them)"
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive

added_i386=0
if [ ${#missing_i386[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    added_i386=1
fi

echo "installing: ${missing[*]} ${missing_i386[*]}"
update_lists
[ ${#missing[@]} -gt 0 ] && install_or_stop "${missing[@]}"

if [ ${#missing_i386[@]} -gt 0 ] && ! apt_install "${missing_i386[@]}"; then
    say "the 32-bit packages (${missing_i386[*]}) cannot be installed: the tests run as a 64-bit build"
    # An architecture this script added and nothing uses would only make the
    # next update fetch (and possibly fail on) its lists.
    if [ "$added_i386" -eq 1 ] && ! dpkg-query -W -f='${binary:Package}\n' 2>/dev/null | grep -q ':i386$'; then
        dpkg --remove-architecture i386 || say "could not remove the i386 architecture again"
    fi
fi
exit 0
