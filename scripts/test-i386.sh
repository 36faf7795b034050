#!/usr/bin/env bash
# Linux i386: cross-builds the token bridge, the test module and the native
# suites with Debian's i686 compiler (cmake/i686-linux-gnu.cmake) into
# build-i386, runs them under ctest in the i386 JVM (through qemu-i386 where
# this machine cannot run i386 programs), and prints per suite how many cases
# ran, passed, failed and were skipped. The keychain bridge, the SoftHSM2 and
# JUnit suites, the fuzz replays and the benchmarks need packages only the
# host architecture has here; they are left out of this build.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/env.sh

dir=${KELVANE_I386_BUILD_DIR:-build-i386}
jobs=${KELVANE_JOBS:-$(nproc)}
started=$SECONDS

echo "== i386 build ($dir)"
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/i686-linux-gnu.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_TESTS=ON -DKELVANE_KEYCHAIN=OFF \
  -DKELVANE_SOFTHSM_TESTS=OFF -DKELVANE_FUZZ_REPLAY=OFF -DKELVANE_BENCH=OFF >/dev/null
runner=$(sed -n 's/^KELVANE_I386_EMULATOR:STRING=//p' "$dir/CMakeCache.txt")
echo "i386 programs run ${runner:+under ${runner//;/ }}${runner:-directly}"
cmake --build "$dir" -j "$jobs"

echo "== i386 tests"
report=$PWD/$dir/ctest-i386.xml
status=0
# Whole outputs kept in the report: the per-suite counts are read from it.
ctest --test-dir "$dir" --output-on-failure -j "$jobs" --output-junit "$report" \
  --test-output-size-passed 50000000 --test-output-size-failed 50000000 || status=$?

echo "== i386 summary (CK_ULONG of 32 bits)"
"$(dirname "$0")/ctest-summary.sh" "$report"
echo "i386: $((SECONDS - started)) s for configure, build and tests"
exit "$status"
