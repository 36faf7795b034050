#!/usr/bin/env bash
# The main job, end to end: installs what is missing, builds the bridge and the Java classes,
# makes a throwaway SoftHSM2 token, and runs the kelvane command on it through the bridge:
# the module's information, an RSA-2048 key pair made on the token, the token's objects, the
# document signed with CKM_SHA256_RSA_PKCS (streamed to J_SignUpdate/J_SignFinal) and the
# signature checked on the token. The signature is then checked independently with openssl
# against the public key exported by pkcs11-tool.
#
# Usage: scripts/demo.sh [DOCUMENT [SIGNATURE]]
#   DOCUMENT   the file to sign; by default the script writes a short text to
#              BUILD/demo/document.txt (BUILD: the build directory below)
#   SIGNATURE  where the signature goes (replaced if present); default DOCUMENT.sig
# The signature file is kept; the token, its keys and the exported public key live in a
# temporary directory that is removed on exit.
#
# Run from anywhere (as root when packages are missing); needs no input.
# Exit status 0 only when both the bridge's and openssl's verification succeed.
# KELVANE_BUILD_DIR overrides the build directory (default: build in the repository).
# KELVANE_DEMO_PIN is the user PIN handed to the kelvane command (default 1234, the token's;
# any other value shows how a failed login comes back through the bridge).
set -euo pipefail

# Paths given by the caller are taken relative to the caller's directory.
absolute() { case $1 in /*) printf '%s\n' "$1" ;; *) printf '%s\n' "$PWD/$1" ;; esac; }
[ $# -le 2 ] || { echo "usage: $0 [DOCUMENT [SIGNATURE]]" >&2; exit 2; }
document=${1:+$(absolute "$1")}
signature=${2:+$(absolute "$2")}
if [ -n "$document" ] && ! { [ -f "$document" ] && [ -r "$document" ]; }; then
  echo "demo: not a readable file: $document" >&2
  exit 2
fi
if [ -n "$signature" ] && [ ! -d "$(dirname "$signature")" ]; then
  echo "demo: no such directory for the signature: $(dirname "$signature")" >&2
  exit 2
fi

cd "$(dirname "$0")/.."

step() { printf '\n== %s\n' "$*"; }
die() { printf 'demo: %s\n' "$*" >&2; exit 1; }

build=${KELVANE_BUILD_DIR:-build}

step "Installing dependencies (scripts/install-deps.sh)"
./scripts/install-deps.sh </dev/null

step "Locating JDK 17"
javac=$(command -v javac) || die "javac not found after installing dependencies"
JAVA_HOME=$(dirname "$(dirname "$(readlink -f "$javac")")")
export JAVA_HOME
"$JAVA_HOME/bin/java" -version 2>&1 | grep -q 'version "17' \
  || die "$JAVA_HOME is not a JDK 17 (javac on PATH must be JDK 17's)"
echo "JAVA_HOME=$JAVA_HOME"

step "Configuring the build in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_TESTS=OFF </dev/null

step "Building the bridge and the Java classes"
cmake --build "$build" -j2 </dev/null
build=$(cd "$build" && pwd)
bridge=$build/kelmora/libkelvane.so
kelvane=$build/bin/kelvane
for f in "$bridge" "$build/java/kelvane.jar" "$build/java/kelvane-tool.jar" "$kelvane"; do
  [ -f "$f" ] || die "the build did not produce $f"
done
echo "bridge: $bridge"
echo "command: $kelvane"

step "Making a throwaway SoftHSM2 token"
work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
token=kelvane-demo
eval "$(./scripts/softhsm-token.sh "$work" "$token")"
echo "SOFTHSM2_CONF=$SOFTHSM2_CONF (removed on exit)"

step "Locating SoftHSM2's PKCS#11 module"
module=
for candidate in /usr/lib/softhsm/libsofthsm2.so /usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so \
                 "/usr/lib/$(uname -m)-linux-gnu/softhsm/libsofthsm2.so"; do
  if [ -f "$candidate" ]; then
    module=$candidate
    break
  fi
done
[ -n "$module" ] || die "libsofthsm2.so not found (package softhsm2)"
echo "module: $module"

key=kelvane-demo
pin=1234  # the user PIN softhsm-token.sh gives the token
# The PIN goes to the command through the environment, never on its command line.
KELVANE_PIN=${KELVANE_DEMO_PIN:-$pin}
export KELVANE_PIN
k() { "$kelvane" --module "$module" --token "$token" "$@" </dev/null; }
p11() { pkcs11-tool --module "$module" --token-label "$token" "$@" </dev/null; }

step "Reading the module through the bridge (kelvane info)"
k info || die "kelvane info failed (exit status $?)"

step "Making an RSA-2048 key pair on the token (kelvane generate-key)"
k generate-key rsa:2048 --label "$key" --id 01 \
  || die "kelvane could not make the key pair (exit status $?)"

step "The token's objects (kelvane list-objects)"
k list-objects --login || die "kelvane list-objects failed (exit status $?)"

step "Exporting the public key (pkcs11-tool, then openssl to PEM)"
p11 --read-object --type pubkey --id 01 --output-file "$work/pub.der" \
  || die "pkcs11-tool could not read the public key"
openssl pkey -pubin -inform DER -in "$work/pub.der" -out "$work/pub.pem" </dev/null \
  || die "openssl could not read the exported public key"
openssl pkey -pubin -in "$work/pub.pem" -noout -text </dev/null | sed -n 1p
echo "public key: $work/pub.pem (removed on exit)"

step "Choosing the document"
if [ -z "$document" ]; then
  mkdir -p "$build/demo"
  document=$build/demo/document.txt
  printf '%s\n' "Kelvane demo document." \
    "Signed on a throwaway SoftHSM2 token from Java through the token bridge." >"$document"
  echo "wrote $document"
fi
signature=${signature:-$document.sig}
[ "$signature" != "$document" ] || die "the signature would replace the document"
# A signature left from an earlier run must not pass for this run's.
rm -f "$signature"
echo "document:  $document ($(wc -c <"$document") bytes)"
echo "signature: $signature"

step "Signing through the bridge (kelvane sign)"
k sign --label "$key" --mechanism sha256-rsa-pkcs --output "$signature" "$document" \
  || die "signing through the bridge failed (exit status $?)"
[ -s "$signature" ] || die "kelvane sign wrote no signature"

step "Verifying on the token (kelvane verify)"
k verify --label "$key" --mechanism sha256-rsa-pkcs --signature "$signature" "$document" \
  || die "the token rejected the signature (exit status $?)"

step "Verifying independently (openssl dgst -sha256 -verify)"
openssl dgst -sha256 -verify "$work/pub.pem" -signature "$signature" "$document" </dev/null \
  || die "openssl rejected the signature"

step "Done"
echo "$document signed on the token; the signature was verified through the bridge (J_Verify)"
echo "and by openssl. Signature: $signature"
