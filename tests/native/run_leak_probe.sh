#!/usr/bin/env bash
# Runs the leak-probe binary and passes only when LeakSanitizer reports the
# leak planted in the bridge (the stack must name the leaking method).
set -uo pipefail
out=$("$@" 2>&1)
if grep -q 'ERROR: LeakSanitizer: detected memory leaks' <<<"$out" &&
   grep -q 'Java_qorvik_nat_NativeCryptoki_GetSlotList' <<<"$out"; then
  echo "planted leak reported"
  exit 0
fi
printf '%s\n' "$out" | tail -40
echo "the planted leak was NOT reported"
exit 1
