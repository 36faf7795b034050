#!/usr/bin/env bash
# One report of the hardening checks: builds what they need, runs them and
# prints every "summary: " line they give, then one line saying whether every
# figure was clean.
#
#   scripts/hardening-report.sh [--short]
#
# - fault sweep (native_fault_sweep) and bad-input sweep
#   (native_bad_input_sweep): through ctest in the sanitizer build, so that
#   LeakSanitizer and -Xcheck:jni watch them as well as their own counts;
# - fuzzing: scripts/fuzz.sh, 60 s per target (10 s with --short);
# - memory soak: scripts/soak.sh in the plain build, 1,000,000 iterations per
#   family (10,000 with --short); clean when no family grew by more than
#   1 MiB (KELVANE_SOAK_MAX_GROWTH_KIB overrides the limit).
#
# A piece that is missing, fails or prints no summary makes the report fail.
# Build directories: KELVANE_REPORT_BUILD (default build) and
# KELVANE_REPORT_SANITIZE_BUILD (default build-sanitize).
set -uo pipefail
cd "$(dirname "$0")/.."

short=0
case "${1:-}" in
  --short) short=1 ;;
  "") ;;
  *) echo "usage: scripts/hardening-report.sh [--short]" >&2; exit 2 ;;
esac
fuzz_seconds=60
soak_iterations=1000000
if [ "$short" = 1 ]; then
  fuzz_seconds=10
  soak_iterations=10000
fi
growth_limit=${KELVANE_SOAK_MAX_GROWTH_KIB:-1024}
plain=${KELVANE_REPORT_BUILD:-build}
sanitize=${KELVANE_REPORT_SANITIZE_BUILD:-build-sanitize}
jobs=${KELVANE_JOBS:-$(nproc)}
logs=$(mktemp -d "${TMPDIR:-/tmp}/hardening-report.XXXXXX")

problems=()
summaries=()

problem() {
  problems+=("$1")
  echo "hardening-report: FAILED: $1" >&2
}

# Collects the summary lines of a finished piece (ctest's "NN: " prefixes
# removed); a piece that printed none is a failure.
collect() {
  local piece=$1 log=$2 lines
  lines=$(sed -e 's/^[0-9][0-9]*: //' "$log" | grep '^summary: ' || true)
  if [ -z "$lines" ]; then
    problem "$piece printed no summary line (log: $log)"
    return
  fi
  while IFS= read -r line; do
    summaries+=("$line")
    echo "$line"
  done <<<"$lines"
}

run_piece() {
  local piece=$1 log=$logs/$1.log
  shift
  echo "== $piece" >&2
  if ! "$@" >"$log" 2>&1; then
    problem "$piece exited non-zero (log: $log)"
    tail -n 25 "$log" >&2
  fi
  collect "$piece" "$log"
}

./scripts/install-deps.sh >/dev/null
. scripts/env.sh

# ---- Sweeps, in the sanitizer build ------------------------------------------
echo "== sanitizer build ($sanitize)" >&2
if cmake -S . -B "$sanitize" -DCMAKE_BUILD_TYPE=Debug -DKELVANE_TESTS=ON \
     -DKELVANE_SANITIZE=ON >"$logs/configure-sanitize.log" 2>&1 &&
   cmake --build "$sanitize" -j "$jobs" --target native_fault_sweep native_bad_input_sweep \
     >"$logs/build-sanitize.log" 2>&1; then
  for sweep in native_fault_sweep native_bad_input_sweep; do
    run_piece "$sweep" ctest --test-dir "$sanitize" --no-tests=error -V -R "^${sweep}\$"
  done
else
  problem "the sweeps did not build (log: $logs/build-sanitize.log)"
  tail -n 25 "$logs/build-sanitize.log" >&2
fi

# ---- Fuzzing -------------------------------------------------------------------
if [ -x scripts/fuzz.sh ]; then
  run_piece fuzz ./scripts/fuzz.sh "$fuzz_seconds"
else
  problem "scripts/fuzz.sh is missing"
fi

# ---- Soak, in the plain build ----------------------------------------------------
KELVANE_SOAK_BUILD=$plain KELVANE_SOAK_MAX_GROWTH_KIB=$growth_limit \
  run_piece soak ./scripts/soak.sh "$soak_iterations"

# ---- Every figure --------------------------------------------------------------
fault_cases=0 bad_inputs=0 fuzz_targets=0 fuzz_executions=0 soak_families=0
for line in "${summaries[@]}"; do
  case "$line" in
    "summary: fault cases run "*)
      [[ $line =~ run\ ([0-9]+),\ wrong\ results\ ([0-9]+),\ arrays\ unreleased\ ([0-9]+),\ buffers\ leaked\ ([0-9]+) ]] ||
        { problem "unreadable: $line"; continue; }
      fault_cases=$((fault_cases + BASH_REMATCH[1]))
      [ "${BASH_REMATCH[2]}${BASH_REMATCH[3]}${BASH_REMATCH[4]}" = 000 ] || problem "$line"
      [ "${BASH_REMATCH[1]}" -gt 0 ] || problem "no fault cases ran"
      ;;
    "summary: bad inputs tried "*)
      [[ $line =~ tried\ ([0-9]+)\ over\ ([0-9]+)\ native\ methods,\ crashes\ ([0-9]+),\ wrong\ results\ ([0-9]+) ]] ||
        { problem "unreadable: $line"; continue; }
      bad_inputs=$((bad_inputs + BASH_REMATCH[1]))
      [ "${BASH_REMATCH[3]}${BASH_REMATCH[4]}" = 00 ] || problem "$line"
      [ "${BASH_REMATCH[1]}" -gt 0 ] || problem "no bad inputs were tried"
      ;;
    "summary: fuzz "*)
      [[ $line =~ ^summary:\ fuzz\ ([^ ]+)\ executions\ ([0-9]+),\ crashes\ ([0-9]+) ]] ||
        { problem "unreadable: $line"; continue; }
      fuzz_targets=$((fuzz_targets + 1))
      fuzz_executions=$((fuzz_executions + BASH_REMATCH[2]))
      [ "${BASH_REMATCH[3]}" = 0 ] || problem "$line"
      [ "${BASH_REMATCH[2]}" -gt 0 ] || problem "fuzz target ${BASH_REMATCH[1]} ran nothing"
      ;;
    "summary: soak "*)
      [[ $line =~ iterations\ ([0-9]+),\ resident\ before\ ([0-9]+)\ KiB,\ after\ ([0-9]+)\ KiB,\ growth\ (-?[0-9]+)\ KiB ]] ||
        { problem "unreadable: $line"; continue; }
      soak_families=$((soak_families + 1))
      [ "${BASH_REMATCH[1]}" = "$soak_iterations" ] || problem "soak ran short: $line"
      [ "${BASH_REMATCH[4]}" -le "$growth_limit" ] ||
        problem "resident memory grew more than $growth_limit KiB: $line"
      ;;
  esac
done
[ "$fault_cases" -gt 0 ] || problem "no fault sweep figures"
[ "$bad_inputs" -gt 0 ] || problem "no bad-input sweep figures"
[ "$fuzz_targets" -gt 0 ] || problem "no fuzzing figures"
[ "$soak_families" -gt 0 ] || problem "no soak figures"

figures="fault cases $fault_cases, bad inputs $bad_inputs, fuzz executions $fuzz_executions over $fuzz_targets targets, soak $soak_families families of $soak_iterations iterations"
if [ "${#problems[@]}" -eq 0 ]; then
  echo "summary: hardening report clean: $figures; nothing lost, leaked or crashed"
  rm -rf "$logs"
  exit 0
fi
echo "summary: hardening report NOT clean (${#problems[@]} problems, logs in $logs): $figures"
for p in "${problems[@]}"; do echo "  - $p"; done
exit 1
