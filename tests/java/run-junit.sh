#!/bin/sh
# Runs the JUnit suites against a throwaway SoftHSM2 token.
#
# Usage: run-junit.sh --java JAVA --launcher CONSOLE_STANDALONE_JAR --classes TEST_CLASSPATH
#                     --library LIBKELVANE --softhsm SOFTHSM_MODULE --spy PKCS11_SPY_MODULE
#                     --token-script SOFTHSM_TOKEN_SCRIPT
#                     [--provider-jar KELVANE_PROVIDER_JAR --kelvane-jar KELVANE_JAR]
#
# TEST_CLASSPATH holds the compiled tests, kelvane.jar, the tool's classes and the provider's.
# The provider's suites (package qorvik.provider.tests) run in a second JVM, given the jars' paths
# for keytool and jarsigner. The token, its
# configuration and the pkcs11-spy log live in one temporary directory, removed on exit.
#
#        run-junit.sh --suite keychains --java JAVA --launcher CONSOLE_STANDALONE_JAR
#                     --classes TEST_CLASSPATH --tarnel LIBTARNEL [--readme README --sources DIR]
#
# runs the keychain bridge's suites instead (package zentrel): no token; TARNEL_KEYCHAINS names
# a configuration file in the temporary directory, which the suites write and rewrite.
set -eu

java=java launcher= classes= library= softhsm= spy= token_script=
suite=tokens tarnel= readme= sources= provider_jar= kelvane_jar=
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || { echo "run-junit: $1 needs a value" >&2; exit 2; }
    case $1 in
        --java) java=$2 ;;
        --launcher) launcher=$2 ;;
        --classes) classes=$2 ;;
        --library) library=$2 ;;
        --softhsm) softhsm=$2 ;;
        --spy) spy=$2 ;;
        --token-script) token_script=$2 ;;
        --suite) suite=$2 ;;
        --tarnel) tarnel=$2 ;;
        --readme) readme=$2 ;;
        --sources) sources=$2 ;;
        --provider-jar) provider_jar=$2 ;;
        --kelvane-jar) kelvane_jar=$2 ;;
        *) echo "run-junit: unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
required="launcher classes library softhsm spy token_script"
[ "$suite" = keychains ] && required="launcher classes tarnel"
for v in $required; do
    eval "value=\$$v"
    [ -n "$value" ] || { echo "run-junit: --$v is required" | tr _ - >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-junit.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP

# Shows a run's output; a -Xcheck:jni warning fails the run even when every test passed.
# Returns the run's status.
report() {
    cat "$work/junit.out"
    warnings=$(grep -c 'WARNING in native method' "$work/junit.out" || true)
    if [ "$warnings" -ne 0 ]; then
        echo "run-junit: FAILED: $warnings -Xcheck:jni warnings (WARNING in native method)" >&2
        return 1
    fi
    return "$1"
}

# Runs the suites of one package under -Xcheck:jni with the given options (launcher options
# first, up to "--", then -D options) in a JVM of their own, and reports.
run_package() {
    package=$1
    shift
    launcher_options=
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        launcher_options="$launcher_options $1"
        shift
    done
    [ $# -gt 0 ] && shift
    run_status=0
    # shellcheck disable=SC2086
    "$java" -Xcheck:jni "$@" \
        -jar "$launcher" \
        -cp "$classes" \
        --select-package "$package" $launcher_options \
        --fail-if-no-tests \
        --disable-banner \
        --disable-ansi-colors \
        --details=tree >"$work/junit.out" 2>&1 || run_status=$?
    report "$run_status"
}

# As run_package, then exits with its status.
run_suites() {
    status=0
    run_package "$@" || status=$?
    exit "$status"
}

if [ "$suite" = keychains ]; then
    TARNEL_KEYCHAINS=$work/keychains.conf
    export TARNEL_KEYCHAINS
    run_suites zentrel -- \
        -Dtarnel.library="$tarnel" \
        -Dtarnel.workdir="$work" \
        -Dtarnel.readme="$readme" \
        -Dtarnel.sources="$sources"
fi

label=kelvane-junit
eval "$(sh "$token_script" "$work/token" "$label")"
: "${SOFTHSM2_CONF:?token script did not set SOFTHSM2_CONF}"

# The bare-name load test finds SoftHSM2 through the loader's search path.
softhsm_dir=$(dirname "$(readlink -f "$softhsm")")
LD_LIBRARY_PATH=$softhsm_dir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
# pkcs11-spy forwards to SoftHSM2 and logs every call.
PKCS11SPY=$softhsm
PKCS11SPY_OUTPUT=$work/spy.log
export SOFTHSM2_CONF LD_LIBRARY_PATH PKCS11SPY PKCS11SPY_OUTPUT

status=0
# The provider keeps its module loaded for the life of the JVM, so its suites get a JVM of their own.
run_package qorvik --exclude-package qorvik.provider.tests -- \
    -Dkelvane.library="$library" \
    -Dkelvane.softhsm="$softhsm" \
    -Dkelvane.spy="$spy" \
    -Dkelvane.spylog="$PKCS11SPY_OUTPUT" \
    -Dkelvane.tokenlabel="$label" || status=$?
if [ -n "$provider_jar" ]; then
    run_package qorvik.provider.tests -- \
        -Dkelvane.library="$library" \
        -Dkelvane.softhsm="$softhsm" \
        -Dkelvane.spy="$spy" \
        -Dkelvane.tokenlabel="$label" \
        -Dkelvane.providerjar="$provider_jar" \
        -Dkelvane.jar="$kelvane_jar" \
        -Dkelvane.workdir="$work" || status=$?
fi
exit "$status"
