#!/bin/sh
# cmake --install of a built tree into a scratch prefix, as a packager or a user does it:
# exactly the files of the layout, bridges that point nowhere into the build tree, and the
# installed command running from that prefix on the installed files only.
#
# Usage: install-tree.sh --cmake CMAKE --build BUILD_DIR --jni-dir lib/TRIPLET/jni
#            --softhsm SOFTHSM_MODULE --token-script SOFTHSM_TOKEN_SCRIPT --tarnel yes|no
set -u

cmake=cmake build= jni= softhsm= token_script= tarnel=no
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || { echo "install-tree: $1 needs a value" >&2; exit 2; }
    case $1 in
        --cmake) cmake=$2 ;;
        --build) build=$2 ;;
        --jni-dir) jni=$2 ;;
        --softhsm) softhsm=$2 ;;
        --token-script) token_script=$2 ;;
        --tarnel) tarnel=$2 ;;
        *) echo "install-tree: unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
for v in build jni softhsm token_script; do
    eval "value=\$$v"
    [ -n "$value" ] || { echo "install-tree: --$v is required" | tr _ - >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
die() { echo "install-tree: $1" >&2; exit 1; }

. "$(dirname "$0")/checks.sh"
. "$(dirname "$0")/installed-command.sh"

build=$(cd "$build" && pwd -P)
source_dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")
[ -n "$source_dir" ] || die "$build is no configured build tree"
prefix=$work/prefix

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1
check "cmake --install --prefix succeeds" $? "$(tail -n 20 "$work/install.log")"

# The layout: exactly these files. The jars are every jar of the build's java directory
# but the test-only broken set, the three the command and the keychain need among them.
expected="bin/kelvane
share/doc/kelvane/README.md
$jni/libkelvane.so"
[ "$tarnel" = yes ] && expected="$expected
$jni/libtarnel.so"
for jar in "$build"/java/*.jar; do
    case $jar in *-broken.jar) continue ;; esac
    expected="$expected
share/java/${jar##*/}"
done
for jar in kelvane.jar kelvane-tool.jar kelvane-provider.jar tarnel.jar; do
    printf '%s\n' "$expected" | grep -qx "share/java/$jar"
    check "the build made $jar, which the package ships" $?
done
printf '%s\n' "$expected" | sort >"$work/expected"
(cd "$prefix" 2>/dev/null && find . -type f -o -type l | sed 's|^\./||' | sort) >"$work/installed"
cmp -s "$work/expected" "$work/installed"
check "the prefix holds exactly the layout's files" $? "$(diff "$work/expected" "$work/installed")"
[ -x "$prefix/bin/kelvane" ]
check "bin/kelvane is executable" $?
cmp -s "$source_dir/README.md" "$prefix/share/doc/kelvane/README.md"
check "the README installed is the source's" $?

for lib in "$prefix/$jni"/lib*.so; do
    [ -f "$lib" ] || continue
    ! readelf -d "$lib" | grep -E 'RPATH|RUNPATH' | grep -qF "$source_dir"
    check "${lib##*/} names no directory of the build tree (RPATH/RUNPATH)" $? \
        "$(readelf -d "$lib" | grep -E 'RPATH|RUNPATH')"
done

# The installed command, run from / with a clean environment.
run_installed "$prefix" "$source_dir" version --version
check "kelvane --version: exit 0" "$status" "$(cat "$work/version.err")"
grep -q '[0-9]\.[0-9]' "$work/version.out"
check "kelvane --version prints a version" $? "$(cat "$work/version.out")"

token_env=$(sh "$token_script" "$work/token" install-tree 2>&1) || die "no token: $token_env"
eval "$(printf '%s\n' "$token_env" | grep '^export ')"
run_installed "$prefix" "$source_dir" slots --module "$softhsm" list-slots
check "kelvane --module SOFTHSM list-slots: exit 0" "$status" "$(cat "$work/slots.err")"
grep -q 'install-tree' "$work/slots.out"
check "list-slots shows the token's label" $? "$(cat "$work/slots.out")"
check_loaded_from "$prefix" "$jni" "$source_dir" slots

echo "summary: install tree cases $cases, failed $failures"
[ "$failures" -eq 0 ]
