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
# One row per ctest test; GoogleTest cases that ctest runs one by one (their
# names hold a dot) are added up under their test suite's name.
awk '
  function flush() {
    if (name == "") return
    suite = name
    if (name ~ /\./) { suite = name; sub(/\..*/, "", suite) }
    if (!(suite in ran)) order[++n] = suite
    if (gtest) {
      ran[suite] += passed + failed + skipped; ok[suite] += passed
      bad[suite] += failed; skip[suite] += skipped
    } else {
      ran[suite] += 1; ok[suite] += (status == "run"); bad[suite] += (status != "run")
    }
    # A run can fail with every case passed (a -Xcheck:jni warning, a crash
    # after the last case): the verdict column says so.
    if (status != "run") runfail[suite] = 1
    name = ""
  }
  /<testcase name="/ {
    flush()
    name = $0; sub(/.*<testcase name="/, "", name); sub(/".*/, "", name)
    status = $0; sub(/.*status="/, "", status); sub(/".*/, "", status)
    gtest = 0; passed = 0; failed = 0; skipped = 0
  }
  /\[  PASSED  \] [0-9]+ test/ { gtest = 1; passed = $4 }
  /\[  SKIPPED \] [0-9]+ test/ { gtest = 1; skipped = $4 }
  /\[  FAILED  \] [0-9]+ test/ { gtest = 1; failed = $4 }
  END {
    flush()
    printf "%-40s %7s %7s %7s %7s  %s\n", "suite", "cases", "passed", "failed", "skipped", "verdict"
    for (i = 1; i <= n; ++i) {
      s = order[i]
      printf "%-40s %7d %7d %7d %7d  %s\n", s, ran[s], ok[s], bad[s], skip[s],
             runfail[s] ? "FAILED" : "ok"
      tr += ran[s]; tp += ok[s]; tf += bad[s]; ts += skip[s]; anyfail += runfail[s]
    }
    printf "%-40s %7d %7d %7d %7d  %s\n", "total", tr, tp, tf, ts, anyfail ? "FAILED" : "ok"
  }' "$report"
echo "i386: $((SECONDS - started)) s for configure, build and tests"
exit "$status"
