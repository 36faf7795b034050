#!/usr/bin/env bash
# Compares the defined dynamic symbols of the bridge (demangled) with the
# checked-in list of exports. Usage: check_exports.sh LIBRARY EXPORTS_FILE
set -euo pipefail
lib=$1 list=$2
expected=$(grep -v '^\s*#' "$list" | sed '/^\s*$/d' | sort -u)
actual=$(nm -D --defined-only -C "$lib" | cut -d' ' -f3- | sort -u)
if [ "$expected" = "$actual" ]; then
  echo "exports match: $(printf '%s\n' "$actual" | wc -l) symbols"
  exit 0
fi
echo "export list mismatch (< listed only, > exported only):"
diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | grep '^[<>]' || true
exit 1
