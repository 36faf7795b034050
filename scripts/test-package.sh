#!/usr/bin/env bash
# The Debian package as a user gets it: builds kelvane_<version>_<arch>.deb from a built tree
# with cpack, installs it with `apt-get install -y ./kelvane_*.deb`, and runs from it, from /
# with a clean environment, `kelvane --module /usr/lib/softhsm/libsofthsm2.so list-slots` and
# the README's Java example (javac and java with /usr/share/java/kelvane.jar and no bridge
# option: the JDK's default library path finds the installed bridge), and the README's JCA
# example with /usr/share/java/kelvane-provider.jar alone on the class path. Every class, the bridge
# and picocli must come from the installed files, nothing from the source or build tree.
# The package is removed again on every path (a trap), so no later step loads the installed
# copy; a kelvane package already installed is removed first.
#
# Usage: scripts/test-package.sh [BUILD_DIR]     (default: build, already built; run as root)
# Checks run one after another (no -e): each failing one is reported, and the run fails.
set -u
cd "$(dirname "$0")/.." || exit 1
root=$(pwd -P)
build=$(cd "${1:-build}" && pwd -P) || exit 1
softhsm=/usr/lib/softhsm/libsofthsm2.so

if [ "$(id -u)" -ne 0 ]; then
    echo "test-package: installs a package: run as root" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}' kelvane 2>/dev/null | grep -q 'install ok installed'; }
remove_package() {
    if installed; then
        echo "test-package: removing the kelvane package"
        apt-get remove -y -qq --purge kelvane >/dev/null
    fi
}

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-package.XXXXXX")
cleanup() {
    status=$?
    trap - EXIT
    remove_package || status=1
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

remove_package

. tests/package/checks.sh
# shellcheck source=tests/package/installed-command.sh
. tests/package/installed-command.sh

jni=$(sed -n 's/^KELVANE_INSTALL_JNI_DIR:INTERNAL=//p' "$build/CMakeCache.txt")
[ -n "$jni" ] || { echo "test-package: $build is no configured build tree" >&2; exit 1; }

echo "== package: cpack"
packages=$build/deb
rm -rf "$packages"
cpack --config "$build/CPackConfig.cmake" -B "$packages" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; echo "test-package: cpack failed" >&2; exit 1; }
debs=("$packages"/kelvane_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] ||
    { cat "$work/cpack.log" >&2; echo "test-package: expected one kelvane_*.deb in $packages" >&2; exit 1; }
deb=${debs[0]}
echo "package: $deb ($(stat -c %s "$deb") bytes)"

# What the package declares.
field() { dpkg-deb -f "$deb" "$1"; }
depends=$(field Depends)
[ "$(field Package)" = kelvane ]
check "Package: kelvane" $? "$(field Package)"
for dep in 'openjdk-17-jre-headless | java17-runtime-headless' libpicocli-java libc6 'libstdc++6'; do
    printf '%s\n' "$depends" | tr ',' '\n' | sed 's/^ *//; s/ *(.*//' | grep -qxF "$dep"
    check "Depends names $dep" $? "$depends"
done
[ "$(field Recommends)" = softhsm2 ]
check "Recommends: softhsm2" $? "$(field Recommends)"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print "/" $6 }' | sort >"$work/contents"
for jar in "$build"/java/*.jar; do
    case $jar in *-broken.jar) continue ;; esac
    echo "/usr/share/java/${jar##*/}"
done >"$work/expected"
{
    echo /usr/bin/kelvane
    echo "/usr/$jni/libkelvane.so"
    [ -f "$build/keychain/libtarnel.so" ] && echo "/usr/$jni/libtarnel.so"
    echo /usr/share/doc/kelvane/README.md
} >>"$work/expected"
sort -o "$work/expected" "$work/expected"
cmp -s "$work/expected" "$work/contents"
check "the package holds exactly the layout's files" $? "$(diff "$work/expected" "$work/contents")"

echo "== package: apt-get install"
(cd "$packages" && apt-get install -y -qq ./kelvane_*.deb) >"$work/apt.log" 2>&1
check "apt-get install -y ./kelvane_*.deb" $? "$(tail -n 20 "$work/apt.log")"
installed
check "dpkg lists kelvane as installed" $?
[ "$(env -i PATH=/usr/bin:/bin sh -c 'command -v kelvane')" = /usr/bin/kelvane ]
check "kelvane is on a plain PATH as /usr/bin/kelvane" $?

echo "== package: the installed command"
token_env=$(sh scripts/softhsm-token.sh "$work/token" package-test 2>&1) ||
    { echo "test-package: no token: $token_env" >&2; exit 1; }
eval "$(printf '%s\n' "$token_env" | grep '^export ')"
run_installed /usr "$root" slots --module "$softhsm" list-slots
check "kelvane --module $softhsm list-slots: exit 0" "$status" "$(cat "$work/slots.err")"
sed 's/^/    /' "$work/slots.out"
grep -q 'package-test' "$work/slots.out"
check "list-slots shows the token's label" $? "$(cat "$work/slots.out")"
check_loaded_from /usr "$jni" "$root" slots

echo "== package: the README's Java example on the installed jar and bridge"
pkcs11-tool --module "$softhsm" --token-label package-test --login --pin 1234 --keypairgen \
    --key-type rsa:2048 --label document-key --id 01 </dev/null >/dev/null 2>&1 &&
pkcs11-tool --module "$softhsm" --token-label package-test --read-object --type pubkey --id 01 \
    --output-file "$work/pub.der" </dev/null >/dev/null 2>&1 &&
openssl pkey -pubin -inform DER -in "$work/pub.der" -out "$work/pub.pem" 2>/dev/null
check "a key pair on the token (pkcs11-tool)" $?
mkdir -p "$work/classes"
printf 'A contract to sign.\n' >"$work/document.txt"
javac -cp /usr/share/java/kelvane.jar -d "$work/classes" tests/package/SignFile.java 2>"$work/javac.err"
check "SignFile.java compiles against /usr/share/java/kelvane.jar" $? "$(cat "$work/javac.err")"
status=0
(cd / && env -i PATH=/usr/bin:/bin HOME="$work/home" SOFTHSM2_CONF="$SOFTHSM2_CONF" TOKEN_PIN=1234 \
    LD_DEBUG=files LD_DEBUG_OUTPUT="$work/example.ld" \
    java -cp "/usr/share/java/kelvane.jar:$work/classes" SignFile "$softhsm" document-key \
    "$work/document.txt" "$work/document.sig" >"$work/example.out" 2>"$work/example.err" </dev/null) ||
    status=$?
check "the example signs: exit 0" "$status" "$(cat "$work/example.err")"
bridges=$(cat "$work"/example.ld.* 2>/dev/null | sed -n 's/.*file=\([^ ]*libkelvane[^ ]*\) .*/\1/p' | sort -u)
[ "$bridges" = "/usr/$jni/libkelvane.so" ]
check "System.loadLibrary found /usr/$jni/libkelvane.so on the default path" $? "loaded: ${bridges:-none}"
openssl dgst -sha256 -verify "$work/pub.pem" -signature "$work/document.sig" "$work/document.txt" \
    >/dev/null 2>&1
check "openssl verifies the example's signature" $?

echo "== package: the README's JCA example on the installed provider jar"
printf 'library = %s\ntokenLabel = package-test\npin = env:TOKEN_PIN\n' "$softhsm" >"$work/card.cfg"
# A key store entry: an openssl key and its certificate under one CKA_ID, written by pkcs11-tool.
(
    set -e
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/jca-key.pem" -out "$work/jca-cert.pem" \
        -subj /CN=jca-key -days 30 >/dev/null 2>&1
    openssl pkcs8 -topk8 -nocrypt -in "$work/jca-key.pem" -outform DER -out "$work/jca-key.der"
    openssl x509 -in "$work/jca-cert.pem" -outform DER -out "$work/jca-cert.der"
    openssl x509 -in "$work/jca-cert.pem" -pubkey -noout >"$work/jca-pub.pem"
    for object in privkey:jca-key.der cert:jca-cert.der; do
        pkcs11-tool --module "$softhsm" --token-label package-test --login --pin 1234 \
            --write-object "$work/${object#*:}" --type "${object%%:*}" --label jca-key --id 02 \
            </dev/null >/dev/null 2>&1
    done
)
check "an openssl key and its certificate on the token (pkcs11-tool)" $?
javac -cp /usr/share/java/kelvane-provider.jar -d "$work/classes" tests/package/JcaSign.java \
    2>"$work/javac-jca.err"
check "JcaSign.java compiles against /usr/share/java/kelvane-provider.jar alone" $? \
    "$(cat "$work/javac-jca.err")"
status=0
(cd / && env -i PATH=/usr/bin:/bin HOME="$work/home" SOFTHSM2_CONF="$SOFTHSM2_CONF" TOKEN_PIN=1234 \
    java -cp "/usr/share/java/kelvane-provider.jar:$work/classes" JcaSign "$work/card.cfg" \
    jca-key "$work/document.txt" "$work/jca.sig" >"$work/jca.out" 2>"$work/jca.err" </dev/null) ||
    status=$?
check "the provider example signs from the installed jars and bridge: exit 0" "$status" \
    "$(cat "$work/jca.err")"
openssl dgst -sha256 -verify "$work/jca-pub.pem" -signature "$work/jca.sig" "$work/document.txt" \
    >/dev/null 2>&1
check "openssl verifies the provider example's signature" $?

echo "== package: apt-get remove"
apt-get remove -y -qq --purge kelvane >"$work/remove.log" 2>&1
check "apt-get remove --purge kelvane" $? "$(tail -n 20 "$work/remove.log")"
! installed && [ ! -e /usr/bin/kelvane ] && [ ! -e "/usr/$jni/libkelvane.so" ] &&
    [ ! -e /usr/share/java/kelvane.jar ]
check "nothing of the package is left" $?

echo "summary: package cases $cases, failed $failures"
[ "$failures" -eq 0 ]
