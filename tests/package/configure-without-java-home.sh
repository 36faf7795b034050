#!/bin/sh
# Configures scratch builds of the source tree the way a Debian user does, with JAVA_HOME
# unset, and with no JDK at all, and checks what configure makes of each.
#
# Usage: configure-without-java-home.sh --source DIR [--cmake CMAKE] [--generator NAME]
#
# Cases (one line each, with its outcome):
#   no JAVA_HOME, javac on PATH        configures (the default options, as typed by hand),
#                                      finds the JDK of that javac, builds the bridge and jar
#   JAVA_HOME names no JDK, javac      configures with the JDK of the javac on PATH
#   no JAVA_HOME, no javac             fails: "No JDK found" naming the package to install
#   JAVA_HOME names no JDK, no javac   fails the same way
#   javac of no full JDK on PATH       fails: the javac "belongs to no full JDK"
# "No javac" is a PATH whose one directory links every program of /usr/bin and /bin except
# those of a JDK, so the compilers and tools are all still there.
set -eu

source= cmake=cmake generator=
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || { echo "configure-without-java-home: $1 needs a value" >&2; exit 2; }
    case $1 in
        --source) source=$2 ;;
        --cmake) cmake=$2 ;;
        --generator) generator=$2 ;;
        *) echo "configure-without-java-home: unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
[ -n "$source" ] || { echo "configure-without-java-home: --source is required" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-configure.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP

javac_path=$(command -v javac) || { echo "configure-without-java-home: no javac on PATH" >&2; exit 1; }
javac_real=$(readlink -f "$javac_path")
jdk=$(dirname "$(dirname "$javac_real")")
[ -f "$jdk/include/jni.h" ] || { echo "configure-without-java-home: $jdk is no JDK" >&2; exit 1; }

# A PATH without any JDK: every program of /usr/bin and /bin but those that resolve into a JDK.
nojdk=$work/no-jdk-bin
mkdir -p "$nojdk"
for program in /usr/bin/* /bin/*; do
    name=${program##*/}
    [ -e "$nojdk/$name" ] && continue
    case $(readlink -f "$program") in
        /usr/lib/jvm/*) continue ;;
    esac
    ln -s "$program" "$nojdk/$name"
done
if [ -e "$nojdk/javac" ] || [ -e "$nojdk/java" ]; then
    echo "configure-without-java-home: the JDK-free PATH still holds java or javac" >&2
    exit 1
fi

# A javac that is no JDK's: a program of that name whose ../include/jni.h is missing.
mkdir -p "$work/half-jdk/bin"
printf '#!/bin/sh\nexit 1\n' >"$work/half-jdk/bin/javac"
chmod +x "$work/half-jdk/bin/javac"
mkdir -p "$work/not-a-jdk/bin"

failures=0
cases=0
fail() {
    echo "FAIL: $1: $2" >&2
    failures=$((failures + 1))
}

# configure NAME EXPECT(ok|fail) JAVA_HOME(-: unset) PATH [cmake options...]
configure() {
    name=$1 expect=$2 home=$3 path=$4
    shift 4
    cases=$((cases + 1))
    dir=$work/build-$cases
    set -- -S "$source" -B "$dir" "$@"
    [ -n "$generator" ] && set -- -G "$generator" "$@"
    status=0
    if [ "$home" = - ]; then
        env -u JAVA_HOME PATH="$path" "$cmake" "$@" >"$dir.log" 2>&1 || status=$?
    else
        env JAVA_HOME="$home" PATH="$path" "$cmake" "$@" >"$dir.log" 2>&1 || status=$?
    fi
    if [ "$expect" = ok ]; then
        if [ "$status" -ne 0 ]; then
            fail "$name" "configure exited $status"
            sed 's/^/    /' "$dir.log" >&2
            return 1
        fi
        cache_javac=$(sed -n 's/^Java_JAVAC_EXECUTABLE:[A-Z]*=//p' "$dir/CMakeCache.txt")
        cache_jni=$(sed -n 's/^JAVA_INCLUDE_PATH:[A-Z]*=//p' "$dir/CMakeCache.txt")
        [ "$(readlink -f "$cache_javac")" = "$javac_real" ] ||
            fail "$name" "javac is '$cache_javac', expected the one of PATH ($javac_real)"
        [ "$(readlink -f "$cache_jni")" = "$(readlink -f "$jdk/include")" ] ||
            fail "$name" "jni.h from '$cache_jni', expected $jdk/include"
        echo "case $cases: $name: configured with $jdk"
    else
        if [ "$status" -eq 0 ]; then
            fail "$name" "configure succeeded without a JDK"
            return 1
        fi
        echo "case $cases: $name: configure refused (status $status)"
    fi
}

# expect_text NAME TEXT: the last configure's log holds TEXT (line breaks of CMake's
# message wrapping ignored).
expect_text() {
    if ! tr -s ' \n' '  ' <"$dir.log" | grep -qF -- "$2"; then
        fail "$1" "configure did not say '$2'"
        sed 's/^/    /' "$dir.log" >&2
    fi
}

with_javac=$(dirname "$javac_path"):$nojdk

if configure "no JAVA_HOME, javac on PATH" ok - "$with_javac"; then
    # The bridge compiles against the JDK's jni.h, the jar with its javac.
    if env -u JAVA_HOME PATH="$with_javac" "$cmake" --build "$dir" -j 2 --target kelvane kelvane_jar \
        >"$dir.build.log" 2>&1; then
        for built in kelmora/libkelvane.so java/kelvane.jar; do
            [ -s "$dir/$built" ] || fail "no JAVA_HOME, javac on PATH" "the build made no $built"
        done
        echo "case $cases: built the bridge and kelvane.jar"
    else
        fail "no JAVA_HOME, javac on PATH" "the build failed"
        tail -n 30 "$dir.build.log" | sed 's/^/    /' >&2
    fi
fi
configure "JAVA_HOME names no JDK, javac on PATH" ok "$work/not-a-jdk" "$with_javac" -DKELVANE_TESTS=OFF || true

configure "no JAVA_HOME, no javac" fail - "$nojdk" || true
expect_text "no JAVA_HOME, no javac" "No JDK found: there is no javac on PATH and JAVA_HOME names no JDK"
expect_text "no JAVA_HOME, no javac" "apt-get install openjdk-17-jdk-headless"
configure "JAVA_HOME names no JDK, no javac" fail "$work/not-a-jdk" "$nojdk" || true
expect_text "JAVA_HOME names no JDK, no javac" "No JDK found"
configure "javac of no full JDK on PATH" fail - "$work/half-jdk/bin:$nojdk" || true
expect_text "javac of no full JDK on PATH" "belongs to no full JDK"
expect_text "javac of no full JDK on PATH" "$work/half-jdk/include/jni.h is missing"

echo "summary: configure cases $cases, failed $failures"
[ "$failures" -eq 0 ]
