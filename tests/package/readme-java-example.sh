#!/bin/sh
# The README's Java examples, as a reader would use them: the README shows SignFile.java and
# JcaSign.java line for line; the blocks taken from the README compile (SignFile against
# kelvane.jar, JcaSign against kelvane-provider.jar alone, whose manifest brings kelvane.jar) and
# run against a throwaway SoftHSM2 token: SignFile with an RSA key pair made by pkcs11-tool,
# JcaSign through the provider's key store with an openssl key and its certificate.
#
# Usage: readme-java-example.sh --readme README.md --example SignFile.java --java JAVA
#            --javac JAVAC --jar KELVANE_JAR --library LIBKELVANE --softhsm SOFTHSM_MODULE
#            --token-script SOFTHSM_TOKEN_SCRIPT
#            [--provider-example JcaSign.java --provider-jar KELVANE_PROVIDER_JAR]
#
# Cases, for each example: the signature it writes verifies with openssl (and a changed document
# does not); a wrong PIN exits 1 naming the failing operation and CKR_PIN_INCORRECT's code
# (SignFile prints it, JcaSign's exception has the bridge's failure as its cause); a key that is
# not there fails; the run is clean under -Xcheck:jni.
# Checks run one after another (no -e): each failing one is reported, and the run fails.
set -u

readme= example= java=java javac=javac jar= library= softhsm= token_script=
provider_example= provider_jar=
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
        --provider-example) provider_example=$2 ;;
        --provider-jar) provider_jar=$2 ;;
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
summary() { echo "summary: README example cases $cases, failed $((failures + $1))"; }

compile_readme_block "$readme" SignFile "$example" "$javac" "$jar" "$work" || { summary 1; exit 1; }
if [ -n "$provider_example" ]; then
    compile_readme_block "$readme" JcaSign "$provider_example" "$javac" "$provider_jar" "$work" ||
        { summary 1; exit 1; }
fi

die() { echo "readme-java-example: $1" >&2; exit 1; }
token_env=$(sh "$token_script" "$work/token" readme-example 2>&1) || die "no token: $token_env"
eval "$(printf '%s\n' "$token_env" | grep '^export ')"
: "${SOFTHSM2_CONF:?the token script set no SOFTHSM2_CONF}"
p11() { pkcs11-tool --module "$softhsm" --token-label readme-example "$@" </dev/null >/dev/null 2>&1; }
p11 --login --pin 1234 --keypairgen --key-type rsa:2048 --label document-key --id 01 ||
    die "pkcs11-tool could not make the key pair"
p11 --read-object --type pubkey --id 01 --output-file "$work/pub.der" ||
    die "pkcs11-tool could not read the public key"
openssl pkey -pubin -inform DER -in "$work/pub.der" -out "$work/document-key.pem" ||
    die "openssl could not read the public key"
printf 'A contract to sign.\n' >"$work/document.txt"
printf 'A contract to sign!\n' >"$work/changed.txt"

# run CLASS CLASSPATH PIN KEY ARGS...: runs an example with ARGS; status, output and error output
# in $work/run.*
run() {
    _class=$1 _cp=$2 _pin=$3 _key=$4
    shift 4
    rm -f "$work/document.sig"
    status=0
    TOKEN_PIN=$_pin "$java" -Xcheck:jni -Dkelvane.library="$library" -cp "$work/classes:$_cp" \
        "$_class" "$@" >"$work/run.out" 2>"$work/run.err" </dev/null || status=$?
    if grep -q 'WARNING in native method' "$work/run.out" "$work/run.err"; then
        check "$_class: no -Xcheck:jni warning (PIN $_pin, key $_key)" 1 \
            "$(grep -h 'WARNING' "$work/run.out" "$work/run.err")"
    fi
}

# signs_and_verifies CLASS KEY: the checks of a run with the right PIN.
signs_and_verifies() {
    check "$1 signs with the right PIN: exit 0" "$status" "$(cat "$work/run.err")"
    grep -qx "256-byte signature in $work/document.sig" "$work/run.out"
    check "$1 says what it wrote" $? "$(cat "$work/run.out")"
    openssl dgst -sha256 -verify "$work/$2.pem" -signature "$work/document.sig" "$work/document.txt" \
        >/dev/null 2>&1
    check "$1: openssl verifies the signature against the token's public key" $?
    ! openssl dgst -sha256 -verify "$work/$2.pem" -signature "$work/document.sig" "$work/changed.txt" \
        >/dev/null 2>&1
    check "$1: openssl rejects the signature over a changed document" $?
}

sign_file() { run SignFile "$jar" "$1" "$2" "$softhsm" "$2" "$work/document.txt" "$work/document.sig"; }

sign_file 1234 document-key
signs_and_verifies SignFile document-key

sign_file 4321 document-key
[ "$status" -eq 1 ]
check "SignFile: a wrong PIN exits 1" $? "status $status"
grep -qx 'J_OpenSession failed: 0xa0 PIN INCORRECT *' "$work/run.err"
check "SignFile: a wrong PIN names the operation and CKR_PIN_INCORRECT's code" $? "$(cat "$work/run.err")"
[ ! -e "$work/document.sig" ]
check "SignFile: a wrong PIN writes no signature" $?

sign_file 1234 no-such-key
[ "$status" -ne 0 ] && grep -q 'no private key labelled no-such-key' "$work/run.err"
check "SignFile: a label without a key fails and says so" $? "status $status: $(head -n 3 "$work/run.err")"

if [ -n "$provider_example" ]; then
    # A key store entry is a private key with its certificate (one CKA_ID): made by openssl,
    # written by pkcs11-tool.
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/jca.key" -out "$work/jca.crt" \
        -subj /CN=jca-key -days 30 >/dev/null 2>&1 &&
        openssl pkcs8 -topk8 -nocrypt -in "$work/jca.key" -outform DER -out "$work/jca-key.der" &&
        openssl x509 -in "$work/jca.crt" -outform DER -out "$work/jca-cert.der" &&
        openssl x509 -in "$work/jca.crt" -pubkey -noout >"$work/jca-key.pem" ||
        die "openssl could not make the key and certificate"
    p11 --login --pin 1234 --write-object "$work/jca-key.der" --type privkey --label jca-key --id 02 &&
        p11 --login --pin 1234 --write-object "$work/jca-cert.der" --type cert --label jca-key --id 02 ||
        die "pkcs11-tool could not write the key and certificate"
    printf 'library = %s\ntokenLabel = readme-example\npin = env:TOKEN_PIN\n' "$softhsm" >"$work/card.cfg"
    jca_sign() {
        run JcaSign "$provider_jar" "$1" "$2" "$work/card.cfg" "$2" "$work/document.txt" "$work/document.sig"
    }

    jca_sign 1234 jca-key
    signs_and_verifies JcaSign jca-key

    jca_sign 4321 jca-key
    [ "$status" -eq 1 ]
    check "JcaSign: a wrong PIN exits 1" $? "status $status"
    grep -q '^Caused by: qorvik.CryptokiException: J_Login failed (0xa0)' "$work/run.err"
    check "JcaSign: a wrong PIN's cause is the bridge's J_Login failure, code 0xa0" $? \
        "$(head -n 30 "$work/run.err")"

    jca_sign 1234 no-such-key
    [ "$status" -eq 1 ] && grep -qx "no private key 'no-such-key' on the token" "$work/run.err"
    check "JcaSign: an alias with no key exits 1 and says so" $? "status $status: $(head -n 5 "$work/run.err")"
fi

summary 0
[ "$failures" -eq 0 ]
