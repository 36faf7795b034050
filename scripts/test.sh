#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the bridge, the test
# module and the suites, runs them all under ctest, cross-builds and runs the
# i386 and Windows x64 targets (scripts/test-i386.sh, scripts/test-windows.sh),
# then builds everything
# again with AddressSanitizer + UndefinedBehaviorSanitizer and runs the
# native suites, the test-module self-test and the planted-leak check there
# (the Java suites run in the plain build: a java process would need the
# sanitizer runtime preloaded). Each target's run ends with a table of its
# suites and their case counts (scripts/ctest-summary.sh).
# Then each fuzz target runs for KELVANE_FUZZ_SECONDS (default 60) seconds.
# Last, the Debian package is built, installed, run and removed (scripts/test-package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
. scripts/env.sh

jobs=${KELVANE_JOBS:-$(nproc)}

echo "== build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_TESTS=ON >/dev/null
cmake --build build -j "$jobs"
echo "== tests"
# Whole outputs kept in the reports: the per-suite counts are read from them.
report_flags=(--test-output-size-passed 50000000 --test-output-size-failed 50000000)
ctest --test-dir build --output-on-failure --output-junit "$PWD/build/ctest-linux.xml" "${report_flags[@]}"
echo "== Linux x86_64 summary"
./scripts/ctest-summary.sh build/ctest-linux.xml
./scripts/test-i386.sh
./scripts/test-windows.sh

echo "== sanitizer build (ASan + UBSan)"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DKELVANE_TESTS=ON -DKELVANE_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j "$jobs"
echo "== sanitizer tests"
ctest --test-dir build-sanitize --output-on-failure -E '^java_' \
  --output-junit "$PWD/build-sanitize/ctest-sanitize.xml" "${report_flags[@]}"
echo "== Linux x86_64 ASan + UBSan summary"
./scripts/ctest-summary.sh build-sanitize/ctest-sanitize.xml

echo "== fuzzing"
./scripts/fuzz.sh "${KELVANE_FUZZ_SECONDS:-60}"

# Last on purpose: installs the Debian package system-wide and removes it again
# on every path, so no earlier step can load the installed copy.
echo "== Debian package (built, installed, run, removed)"
./scripts/test-package.sh build
