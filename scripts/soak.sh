#!/usr/bin/env bash
# Memory soak of the bridge (a benchmark, not a test): builds the plain
# RelWithDebInfo tree and repeats every family of calls, succeeding and
# failing, against the test module with a fixed 64 MiB Java heap, printing
# one "summary: soak <family> ..." line per family with the resident memory
# before and after. Goal: growth within 1 MiB per family at one million
# iterations.
#
#   scripts/soak.sh [iterations, default 1000000] [family...]
#
# KELVANE_SOAK_BUILD picks another build directory (default build-soak);
# KELVANE_SOAK_MAX_GROWTH_KIB makes a family that grows more fail the run.
set -euo pipefail
cd "$(dirname "$0")/.."

iterations=${1:-1000000}
shift || true
build=${KELVANE_SOAK_BUILD:-build-soak}

./scripts/install-deps.sh >/dev/null
. scripts/env.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_TESTS=ON >/dev/null
cmake --build "$build" -j "${KELVANE_JOBS:-2}" --target soak >/dev/null

limit=()
if [ -n "${KELVANE_SOAK_MAX_GROWTH_KIB:-}" ]; then
  limit=(--max-growth-kib "$KELVANE_SOAK_MAX_GROWTH_KIB")
fi
KELVANE_TEST_CLASSPATH="$build/java/kelvane.jar" \
KELVANE_P11MOCK="$(readlink -f "$build/tests/p11mock/libp11mock.so")" \
  "$build/bench/soak" --iterations "$iterations" "${limit[@]}" "$@"
