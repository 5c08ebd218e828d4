#!/bin/bash
# One case of the set-up script's decisions. Stand-ins for apt-get, dpkg,
# dpkg-query and id on PATH record what the script asked for and fail where
# the case says; the real package manager is never touched.
set -uo pipefail
case_name=$1 script=$2
state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT
mkdir "$state/bin"
: >"$state/installed" ; : >"$state/archs" ; : >"$state/calls"

cat >"$state/bin/apt-get" <<'STUB'
#!/bin/bash
echo "apt-get $*" >>"$KV_FAKE/calls"
[ "$1" = update ] && { [ -f "$KV_FAKE/update-fails" ] && exit 100; exit 0; }
[ "$1" = install ] || exit 0
shift
pkgs=()
for a in "$@"; do case "$a" in -*) ;; *) pkgs+=("$a") ;; esac; done
for p in "${pkgs[@]}"; do
    grep -qx "$p" "$KV_FAKE/uninstallable" 2>/dev/null && { echo "E: Unable to locate package $p" >&2; exit 100; }
done
printf '%s\n' "${pkgs[@]}" >>"$KV_FAKE/installed"
STUB
cat >"$state/bin/dpkg" <<'STUB'
#!/bin/bash
echo "dpkg $*" >>"$KV_FAKE/calls"
case "$1" in
    --print-foreign-architectures) cat "$KV_FAKE/archs" ;;
    --add-architecture) echo "$2" >>"$KV_FAKE/archs" ;;
    --remove-architecture) grep -vx "$2" "$KV_FAKE/archs" >"$KV_FAKE/archs.new"; mv "$KV_FAKE/archs.new" "$KV_FAKE/archs" ;;
esac
STUB
cat >"$state/bin/dpkg-query" <<'STUB'
#!/bin/bash
# dpkg-query -W -f=FORMAT [package]
pkg=${3:-}
if [ -z "$pkg" ]; then cat "$KV_FAKE/installed"; exit 0; fi
grep -qx "$pkg" "$KV_FAKE/installed" && { printf 'install ok installed'; exit 0; }
exit 1
STUB
printf '#!/bin/bash\necho 0\n' >"$state/bin/id"
chmod +x "$state/bin/"*

export KV_FAKE=$state KV_APT_RETRY_DELAY=0 PATH="$state/bin:$PATH"
fail() { echo "FAIL: $*"; echo "--- calls"; cat "$state/calls"; echo "--- output"; cat "$state/out"; exit 1; }
run() { bash "$script" >"$state/out" 2>&1; echo $? >"$state/rc"; }
rc() { cat "$state/rc"; }
installed() { grep -qx "$1" "$state/installed"; }

case "$case_name" in
NoI386OnA64BitOnlyHost)
    KV_HOST_EXECS_I386=0 run
    [ "$(rc)" = 0 ] || fail "exit $(rc)"
    grep -q 'add-architecture' "$state/calls" && fail "added an architecture"
    grep -q ':i386' "$state/calls" && fail "asked for an i386 package"
    installed wine64 && installed g++-mingw-w64-x86-64-posix || fail "the 64-bit set was not installed"
    ;;
FailingIndexRetriedThenTolerated)
    touch "$state/update-fails"
    KV_HOST_EXECS_I386=1 run
    [ "$(rc)" = 0 ] || fail "exit $(rc)"
    [ "$(grep -c '^apt-get update' "$state/calls")" -ge 2 ] || fail "the update was not retried"
    installed wine64 && installed wine32:i386 || fail "the install did not go on"
    grep -qx i386 "$state/archs" || fail "i386 was not added on a host that runs 32-bit code"
    ;;
UninstallableI386FallsBackTo64Bit)
    echo wine32:i386 >"$state/uninstallable"
    KV_HOST_EXECS_I386=1 run
    [ "$(rc)" = 0 ] || fail "exit $(rc)"
    installed wine64 || fail "the 64-bit set was not installed"
    [ "$(grep -c '64-bit build' "$state/out")" = 1 ] || fail "no single line on the 64-bit fall-back"
    grep -qx i386 "$state/archs" && fail "the unused i386 architecture was left behind"
    ;;
MissingPackageStopsNamingIt)
    echo osslsigncode >"$state/uninstallable"
    KV_HOST_EXECS_I386=0 run
    [ "$(rc)" = 0 ] && fail "a missing package did not stop the set-up"
    grep -q 'cannot install: osslsigncode$' "$state/out" || fail "the missing package is not named"
    grep -q 'apt-get install osslsigncode' "$state/out" || fail "no command to run is given"
    installed wine64 || fail "the packages that could be had were not installed"
    ;;
*) echo "unknown case $case_name"; exit 2 ;;
esac
echo "ok: $case_name"
