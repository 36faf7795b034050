#!/usr/bin/env bash
# Windows x64: cross-builds kelvane.dll, the test module DLLs and the Windows
# test programs with mingw-w64 (cmake/mingw-w64-x86_64.cmake) into
# build-windows, runs them under wine through ctest (the signer-PIN dialog
# cases on a virtual display of their own), and prints per suite how many
# cases ran, passed and failed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/env.sh

dir=${KELVANE_WINDOWS_BUILD_DIR:-build-windows}
jobs=${KELVANE_JOBS:-$(nproc)}
started=$SECONDS

echo "== Windows x64 build ($dir)"
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_TESTS=ON >/dev/null
cmake --build "$dir" -j "$jobs"

echo "== Windows tests (wine $(wine --version 2>/dev/null || echo '?'))"
report=$PWD/$dir/ctest-windows.xml
status=0
# Whole outputs kept in the report: the per-suite counts are read from it.
ctest --test-dir "$dir" --output-on-failure -j "$jobs" --output-junit "$report" \
  --test-output-size-passed 50000000 --test-output-size-failed 50000000 || status=$?

echo "== Windows summary (CK_ULONG of 32 bits, structures packed to 1 byte)"
"$(dirname "$0")/ctest-summary.sh" "$report"
if [ -d "$dir/dialog-screens" ]; then
  echo "dialog screenshots: $dir/dialog-screens ($(find "$dir/dialog-screens" -name '*.png' | wc -l) files)"
fi
echo "Windows: $((SECONDS - started)) s for configure, build and tests"
exit "$status"
