#!/usr/bin/env bash
# Fuzzes the bridge with libFuzzer: the attribute and mechanism conversions
# (inside a JVM, against the test module), the side-file rule (alone and
# through a real load of the test module) and the memory-map scan. Builds tests/fuzz with clang into build-fuzz, runs each
# target for the given number of seconds (default 60) starting from its seeds
# and kept regression inputs, and prints one line per target:
#     summary: fuzz <target> executions <N>, crashes <C>
# Exits non-zero when a target crashed, leaked, broke a check or made the JVM
# warn about a JNI call; the input that did it stays in build-fuzz/crashes/<target>/
# (move it into tests/fuzz/regressions/<target>/ once the fault is fixed, so
# every build replays it). The corpus a run grows stays in build-fuzz/corpus/.
# Installs nothing: scripts/install-deps.sh does.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/env.sh

seconds=${1:-60}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: scripts/fuzz.sh [seconds-per-target]" >&2
  exit 2
fi
jobs=${KELVANE_JOBS:-$(nproc)}
root=$PWD
build=build-fuzz
targets=(conversions sidefile sidefile_load maps)

cmake -S tests/fuzz -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14 >/dev/null
cmake --build "$build" -j "$jobs"

# The JVM handles SIGSEGV itself; its own allocator's blocks are not leaks of ours.
export ASAN_OPTIONS=handle_segv=0:allow_user_segv_handler=1:detect_leaks=1
export LSAN_OPTIONS="suppressions=$PWD/tests/native/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

count_files() { find "$1" -maxdepth 1 -type f | wc -l; }

failed=0
summaries=()
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  crashes=$build/crashes/$target
  log=$build/fuzz-$target.log
  mkdir -p "$corpus" "$crashes"
  before=$(count_files "$crashes")
  started=$build/.fuzz-$target.started
  touch "$started"
  rc=0
  # Run from the build directory, where a JVM that dies leaves its error file.
  (cd "$build" && "./fuzz_$target" -max_total_time="$seconds" -handle_segv=0 -rss_limit_mb=4096 \
      -timeout=60 -print_final_stats=1 -artifact_prefix="$root/$crashes/" "$root/$corpus" \
      "$root/tests/fuzz/corpus/$target" "$root/tests/fuzz/regressions/$target") >"$log" 2>&1 || rc=$?

  executions=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
  if [ -z "$executions" ]; then
    executions=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -n 1)
  fi
  crashed=$(( $(count_files "$crashes") - before ))
  if [ "$rc" -ne 0 ] && [ "$crashed" -eq 0 ]; then crashed=1; fi
  warnings=$(grep -c -E 'WARNING in native method|WARNING: JNI local refs' "$log" || true)

  if [ "$crashed" -ne 0 ] || [ "$warnings" -ne 0 ] || [ -z "$executions" ]; then
    failed=1
    echo "fuzz: $target failed (exit $rc, $warnings JNI warnings); log $log" >&2
    grep -v '^WARNING in native method' "$log" | tail -n 40 >&2
    find "$crashes" -maxdepth 1 -type f -newer "$started" -printf 'fuzz: input kept: %p\n' >&2
  fi
  summaries+=("summary: fuzz $target executions ${executions:-0}, crashes $crashed")
done

printf '%s\n' "${summaries[@]}"
exit "$failed"
