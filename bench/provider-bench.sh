#!/usr/bin/env bash
# Runs the JCA provider benchmark: the same workloads through Kelvane's provider and through the
# JDK's SunPKCS11, on one throwaway SoftHSM2 token, interleaved; prints ops/s and the ratio.
#
# Usage: bench/provider-bench.sh [--build DIR] [ProviderBench options...]
#
# DIR is a configured build tree (default: build); the script builds its provider_bench target
# (not part of ALL) and the bridge. ProviderBench options: --threads 1,8 --rounds 10
# --round-ms 300 --warm-up 2 --only NAME[,NAME] (see ProviderBench.java).
#
# The token lives in a temporary directory, removed on exit: an RSA-2048 and a P-256 key with
# self-signed certificates (both KeyStores list a private key with its certificate) and an AES-256
# key, written with openssl and pkcs11-tool. SunPKCS11 loads its own copy of the SoftHSM2 module
# file, so each provider has the module to itself, initialised its own way (SunPKCS11 for several
# threads, Kelvane for one, behind its process-wide lock), both over the same token store.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd -P)
build=$root/build
if [ $# -ge 2 ] && [ "$1" = --build ]; then
    build=$(cd "$2" && pwd -P)
    shift 2
fi

. "$root/scripts/env.sh"
softhsm=
for candidate in /usr/lib/softhsm/libsofthsm2.so /usr/lib/*/softhsm/libsofthsm2.so; do
    if [ -f "$candidate" ]; then
        softhsm=$candidate
        break
    fi
done
[ -n "$softhsm" ] || { echo "provider-bench: SoftHSM2's module not found (install softhsm2)" >&2; exit 1; }
for tool in pkcs11-tool openssl softhsm2-util; do
    command -v "$tool" >/dev/null || { echo "provider-bench: $tool not found (scripts/install-deps.sh)" >&2; exit 1; }
done

cmake --build "$build" -j2 --target kelvane provider_bench >&2

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-provider-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP

label=provider-bench
pin=1234
eval "$(sh "$root/scripts/softhsm-token.sh" "$work/token" "$label" 2>/dev/null)"
export SOFTHSM2_CONF

# The token's slot ID, and its place among the slots with a token (SunPKCS11's slotListIndex).
read -r slot index < <(softhsm2-util --show-slots </dev/null | awk -v want="$label" '
    $1 == "Slot" && $2 ~ /^[0-9]+$/ { slot = $2; n++ }
    $1 == "Label:" { sub(/^[ \t]*Label:[ \t]*/, ""); sub(/[ \t]+$/, ""); if ($0 == want) { print slot, n - 1; exit } }')
[ -n "${slot:-}" ] || { echo "provider-bench: token '$label' not found" >&2; exit 1; }

p11() {
    pkcs11-tool --module "$softhsm" --slot "$slot" --login --pin "$pin" "$@" >/dev/null
}

# Key pairs and certificates made by openssl, written to the token with their shared CKA_ID.
openssl genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/rsa.pem"
openssl genpkey -quiet -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/ec.pem"
id=1
for key in rsa ec; do
    openssl req -new -x509 -key "$work/$key.pem" -subj "/CN=bench-$key" -days 30 \
        -outform DER -out "$work/$key.crt"
    openssl pkcs8 -topk8 -nocrypt -in "$work/$key.pem" -outform DER -out "$work/$key.p8"
    p11 --write-object "$work/$key.p8" --type privkey --id "0$id" --label "bench-$key" --usage-sign
    p11 --write-object "$work/$key.crt" --type cert --id "0$id" --label "bench-$key"
    id=$((id + 1))
done
# An AES-256 key of a known value, so the benchmark can check the ciphertext with the JDK.
openssl rand -out "$work/aes.key" 32
p11 --write-object "$work/aes.key" --type secrkey --key-type AES:32 --id 03 --label bench-aes \
    --usage-decrypt --sensitive

cp "$softhsm" "$work/libsofthsm2-sunpkcs11.so"
cat >"$work/kelvane.cfg" <<CFG
library = $softhsm
name = bench
tokenLabel = $label
CFG
cat >"$work/sunpkcs11.cfg" <<CFG
name = bench
library = $work/libsofthsm2-sunpkcs11.so
slotListIndex = $index
CFG

KELVANE_BENCH_PIN=$pin "$JAVA_HOME/bin/java" \
    -Dkelvane.library="$build/kelmora/libkelvane.so" \
    -cp "$build/bench/provider-bench/classes:$build/java/kelvane.jar:$build/java/kelvane-provider.jar" \
    ProviderBench --kelvane-config "$work/kelvane.cfg" --sun-config "$work/sunpkcs11.cfg" \
    --aes-key "$work/aes.key" --module "$softhsm" "$@"
