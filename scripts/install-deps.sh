#!/usr/bin/env bash
# Installs everything the build, the demo and the tests need on Debian 12.
# Idempotent: packages already present are skipped. Run as root.
set -euo pipefail

packages=(
  g++ cmake make
  openjdk-17-jdk-headless
  libnss3-dev libnspr4-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  junit5
  softhsm2 opensc opensc-pkcs11 openssl
  libssl-dev
  clang-14 libclang-rt-14-dev libfuzzer-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing ${missing[*]}; run as root to install them" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# The JDK's post-install scripts expect the man directories that slim images drop.
mkdir -p /usr/share/man/man1
apt-get install -y -qq --no-install-recommends "${missing[@]}"
