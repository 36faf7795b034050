#!/usr/bin/env bash
# Prints one row per suite from a ctest JUnit report (ctest --output-junit,
# with the tests' whole output kept): how many cases ran, passed, failed and
# were skipped, and whether the suite's run as a whole passed. GoogleTest
# programs and JUnit runs are counted by their cases, as is a program that
# closes with "N run, M failures"; any other test counts as one case.
#   scripts/ctest-summary.sh REPORT
set -euo pipefail
report=$1
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
  # The JUnit console launcher, once per suite it runs ("aborted" is an unmet
  # assumption: a skip).
  /^\[ +[0-9]+ tests successful +\]/ { gtest = 1; passed += $2 }
  /^\[ +[0-9]+ tests failed +\]/ { gtest = 1; failed += $2 }
  /^\[ +[0-9]+ tests (skipped|aborted) +\]/ { gtest = 1; skipped += $2 }
  # A program of its own cases that ends with "... N run, M failures".
  / [0-9]+ run, [0-9]+ failures$/ {
    gtest = 1; failed = $(NF - 1); passed = $(NF - 3) - failed
  }
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
