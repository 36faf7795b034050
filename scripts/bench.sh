#!/usr/bin/env bash
# Builds and runs the benchmarks: the bridge's cost over direct module calls.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
. scripts/env.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKELVANE_TESTS=ON >/dev/null
cmake --build build-bench -j "$(nproc)" --target bridge_overhead
KELVANE_TEST_CLASSPATH=build-bench/java/kelvane.jar \
KELVANE_P11MOCK=$(ls build-bench/tests/p11mock/libp11mock.so) \
  build-bench/bench/bridge_overhead "$@"
