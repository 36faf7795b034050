#!/bin/sh
# The README's JCA example, as a reader would use it: JcaSign.java, taken from the README, compiles
# against kelvane-provider.jar alone (its manifest brings kelvane.jar) and signs through the
# provider on a throwaway SoftHSM2 token holding an RSA key and its certificate.
#
# Usage: readme-provider-example.sh --readme README.md --example JcaSign.java --java JAVA
#            --javac JAVAC --provider-jar KELVANE_PROVIDER_JAR --library LIBKELVANE
#            --softhsm SOFTHSM_MODULE --token-script SOFTHSM_TOKEN_SCRIPT
#
# Cases: openssl verifies the signature (and refuses it over a changed file); a wrong PIN exits 1
# with the bridge's CryptokiException (J_Login, 0xa0) as the cause; a missing key exits 1; the run
# is clean under -Xcheck:jni.
set -u

readme= example= java=java javac=javac provider_jar= library= softhsm= token_script=
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || { echo "readme-provider-example: $1 needs a value" >&2; exit 2; }
    case $1 in
        --readme) readme=$2 ;;
        --example) example=$2 ;;
        --java) java=$2 ;;
        --javac) javac=$2 ;;
        --provider-jar) provider_jar=$2 ;;
        --library) library=$2 ;;
        --softhsm) softhsm=$2 ;;
        --token-script) token_script=$2 ;;
        *) echo "readme-provider-example: unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
for v in readme example provider_jar library softhsm token_script; do
    eval "value=\$$v"
    [ -n "$value" ] || { echo "readme-provider-example: --$v is required" | tr _ - >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-jca.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP

. "$(dirname "$0")/checks.sh"
. "$(dirname "$0")/readme-block.sh"
compile_readme_block "$readme" JcaSign "$example" "$javac" "$provider_jar" "$work" ||
    { echo "summary: README provider example cases $cases, failed $((failures + 1))"; exit 1; }

die() { echo "readme-provider-example: $1" >&2; exit 1; }
token_env=$(sh "$token_script" "$work/token" jca-example 2>&1) || die "no token: $token_env"
eval "$(printf '%s\n' "$token_env" | grep '^export ')"
: "${SOFTHSM2_CONF:?the token script set no SOFTHSM2_CONF}"
p11() { pkcs11-tool --module "$softhsm" --token-label jca-example "$@" </dev/null >/dev/null 2>&1; }
# A key store entry is a private key with its certificate (same CKA_ID): made by openssl,
# written by pkcs11-tool.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
    -subj /CN=document-key -days 30 >/dev/null 2>&1 &&
    openssl pkcs8 -topk8 -nocrypt -in "$work/key.pem" -outform DER -out "$work/key.der" &&
    openssl x509 -in "$work/cert.pem" -outform DER -out "$work/cert.der" &&
    openssl x509 -in "$work/cert.pem" -pubkey -noout >"$work/pub.pem" ||
    die "openssl could not make the key and certificate"
p11 --login --pin 1234 --write-object "$work/key.der" --type privkey --label document-key --id 01 &&
    p11 --login --pin 1234 --write-object "$work/cert.der" --type cert --label document-key --id 01 ||
    die "pkcs11-tool could not write the key and certificate"
printf 'A contract to sign.\n' >"$work/document.txt"
printf 'library = %s\ntokenLabel = jca-example\npin = env:TOKEN_PIN\n' "$softhsm" >"$work/card.cfg"

# run PIN ALIAS: runs the example; status, output and error output in $work/run.*
run() {
    rm -f "$work/document.sig"
    status=0
    TOKEN_PIN=$1 "$java" -Xcheck:jni -Dkelvane.library="$library" \
        -cp "$work/classes:$provider_jar" JcaSign "$work/card.cfg" "$2" "$work/document.txt" \
        "$work/document.sig" >"$work/run.out" 2>"$work/run.err" </dev/null || status=$?
    if grep -q 'WARNING in native method' "$work/run.out" "$work/run.err"; then
        check "no -Xcheck:jni warning (PIN $1, alias $2)" 1 "$(grep -h 'WARNING' "$work/run.out" "$work/run.err")"
    fi
}

run 1234 document-key
check "signs with the right PIN: exit 0" "$status" "$(cat "$work/run.err")"
grep -qx "256-byte signature in $work/document.sig" "$work/run.out"
check "says what it wrote" $? "$(cat "$work/run.out")"
openssl dgst -sha256 -verify "$work/pub.pem" -signature "$work/document.sig" "$work/document.txt" >/dev/null 2>&1
check "openssl verifies the signature against the token's public key" $?
printf 'A contract to sign!\n' >"$work/changed.txt"
! openssl dgst -sha256 -verify "$work/pub.pem" -signature "$work/document.sig" "$work/changed.txt" >/dev/null 2>&1
check "openssl rejects the signature over a changed document" $?

run 4321 document-key
[ "$status" -eq 1 ]
check "a wrong PIN exits 1" $? "status $status"
grep -q '^Caused by: qorvik.CryptokiException: J_Login failed (0xa0)' "$work/run.err"
check "a wrong PIN's cause is the bridge's J_Login failure, code 0xa0" $? "$(head -n 30 "$work/run.err")"

run 1234 no-such-key
[ "$status" -eq 1 ] && grep -qx "no private key 'no-such-key' on the token" "$work/run.err"
check "an alias with no key exits 1 and says so" $? "status $status: $(head -n 5 "$work/run.err")"

echo "summary: README provider example cases $cases, failed $failures"
[ "$failures" -eq 0 ]
