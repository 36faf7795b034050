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
  # The kelvane command parses its command line with picocli.
  libpicocli-java
  # The Debian package: cpack reads the libraries' dependencies with dpkg-shlibdeps
  # (dpkg-dev), which finds them with file.
  dpkg-dev file
  softhsm2 opensc opensc-pkcs11 openssl
  libssl-dev
  clang-14 libclang-rt-14-dev libfuzzer-14-dev
  # Windows x64: cross compiler, resource compiler and objdump, GoogleTest's
  # sources; wine to run the tests, a virtual display, key presses and
  # screenshots for the PIN dialog.
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest
  wine wine64 xvfb xdotool imagemagick locales
  # Linux i386: cross compiler, JDK and GoogleTest through multiarch; qemu runs
  # them where the kernel cannot execute 32-bit programs.
  g++-i686-linux-gnu openjdk-17-jdk-headless:i386 libgtest-dev:i386 qemu-user
)

# The i386 packages come through Debian's multiarch.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: the i386 architecture is not enabled; run as root" >&2
    exit 1
  fi
  dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# The dialog tests switch wine's language through LANG: the locales must exist.
ensure_locales() {
  local wanted=(it_IT.UTF-8 it_CH.UTF-8 en_US.UTF-8) have missing_locale=0
  have=$(locale -a 2>/dev/null | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')
  for l in "${wanted[@]}"; do
    local key
    key=$(echo "$l" | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')
    echo "$have" | grep -qx "$key" || missing_locale=1
  done
  [ "$missing_locale" -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: locales ${wanted[*]} missing; run as root" >&2
    return 1
  fi
  for l in "${wanted[@]}"; do
    sed -i "s/^# *\(${l} UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${l} UTF-8" /etc/locale.gen || echo "${l} UTF-8" >> /etc/locale.gen
  done
  locale-gen >/dev/null
}

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  ensure_locales
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
ensure_locales
