#!/bin/sh
# The README's Java example, as a reader would use it: the README shows SignFile.java line
# for line; the block taken from the README compiles against kelvane.jar and runs against a
# throwaway SoftHSM2 token holding an RSA key made by pkcs11-tool.
#
# Usage: readme-java-example.sh --readme README.md --example SignFile.java --java JAVA
#            --javac JAVAC --jar KELVANE_JAR --library LIBKELVANE --softhsm SOFTHSM_MODULE
#            --token-script SOFTHSM_TOKEN_SCRIPT
#
# Cases: the signature it writes verifies with openssl (and a changed document does not);
# a wrong PIN exits 1 naming J_OpenSession and CKR_PIN_INCORRECT's code; a label with no key
# fails; the run is clean under -Xcheck:jni.
# Checks run one after another (no -e): each failing one is reported, and the run fails.
set -u

readme= example= java=java javac=javac jar= library= softhsm= token_script=
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || { echo "readme-java-example: $1 needs a value" >&2; exit 2; }
    case $1 in
        --readme) readme=$2 ;;
        --example) example=$2 ;;
        --java) java=$2 ;;
        --javac) javac=$2 ;;
        --jar) jar=$2 ;;
        --library) library=$2 ;;
        --softhsm) softhsm=$2 ;;
        --token-script) token_script=$2 ;;
        *) echo "readme-java-example: unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
for v in readme example jar library softhsm token_script; do
    eval "value=\$$v"
    [ -n "$value" ] || { echo "readme-java-example: --$v is required" | tr _ - >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-readme.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP

. "$(dirname "$0")/checks.sh"

. "$(dirname "$0")/readme-block.sh"
compile_readme_block "$readme" SignFile "$example" "$javac" "$jar" "$work" ||
    { echo "summary: README example cases $cases, failed $((failures + 1))"; exit 1; }

die() { echo "readme-java-example: $1" >&2; exit 1; }
token_env=$(sh "$token_script" "$work/token" readme-example 2>&1) || die "no token: $token_env"
eval "$(printf '%s\n' "$token_env" | grep '^export ')"
: "${SOFTHSM2_CONF:?the token script set no SOFTHSM2_CONF}"
p11() { pkcs11-tool --module "$softhsm" --token-label readme-example "$@" </dev/null >/dev/null 2>&1; }
p11 --login --pin 1234 --keypairgen --key-type rsa:2048 --label document-key --id 01 ||
    die "pkcs11-tool could not make the key pair"
p11 --read-object --type pubkey --id 01 --output-file "$work/pub.der" ||
    die "pkcs11-tool could not read the public key"
openssl pkey -pubin -inform DER -in "$work/pub.der" -out "$work/pub.pem" ||
    die "openssl could not read the public key"
printf 'A contract to sign.\n' >"$work/document.txt"

# run PIN LABEL: runs the example; status, output and error output in $work/run.*
run() {
    rm -f "$work/document.sig"
    status=0
    TOKEN_PIN=$1 "$java" -Xcheck:jni -Dkelvane.library="$library" \
        -cp "$work/classes:$jar" SignFile "$softhsm" "$2" "$work/document.txt" "$work/document.sig" \
        >"$work/run.out" 2>"$work/run.err" </dev/null || status=$?
    if grep -q 'WARNING in native method' "$work/run.out" "$work/run.err"; then
        check "no -Xcheck:jni warning (PIN $1, key $2)" 1 "$(grep -h 'WARNING' "$work/run.out" "$work/run.err")"
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
grep -qx 'J_OpenSession failed: 0xa0 PIN INCORRECT *' "$work/run.err"
check "a wrong PIN names the operation and CKR_PIN_INCORRECT's code" $? "$(cat "$work/run.err")"
[ ! -e "$work/document.sig" ]
check "a wrong PIN writes no signature" $?

run 1234 no-such-key
[ "$status" -ne 0 ] && grep -q 'no private key labelled no-such-key' "$work/run.err"
check "a label without a key fails and says so" $? "status $status: $(head -n 3 "$work/run.err")"

echo "summary: README example cases $cases, failed $failures"
[ "$failures" -eq 0 ]
