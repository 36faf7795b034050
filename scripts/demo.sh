#!/usr/bin/env bash
# The main job, end to end: installs what is missing, builds the bridge and the Java classes,
# makes a throwaway SoftHSM2 token and shows, through the bridge, what Java sees of SoftHSM2's
# module (module information, slot lists, the module's full path).
#
# Run from anywhere (as root when packages are missing); needs no input.
# KELVANE_BUILD_DIR overrides the build directory (default: build in the repository).
set -euo pipefail
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
classpath=$build/java/kelvane-tool.jar:$build/java/kelvane.jar
for f in "$bridge" "$build/java/kelvane.jar" "$build/java/kelvane-tool.jar"; do
  [ -f "$f" ] || die "the build did not produce $f"
done
echo "bridge: $bridge"

step "Making a throwaway SoftHSM2 token"
work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
eval "$(./scripts/softhsm-token.sh "$work" kelvane-demo)"
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

step "Reading the module through the bridge (qorvik.tool.TokenInfoTool)"
"$JAVA_HOME/bin/java" -Dkelvane.library="$bridge" -cp "$classpath" \
  qorvik.tool.TokenInfoTool "$module" </dev/null \
  || die "TokenInfoTool failed (exit status $?)"

step "Done"
