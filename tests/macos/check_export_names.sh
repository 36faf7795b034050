#!/usr/bin/env bash
# The exported names compiled from the export list (the method that makes the
# macOS exported-symbols list) must be exactly the library's defined dynamic
# symbols, mangled C++ names included. Usage: check_export_names.sh LIBRARY NAMES
set -euo pipefail
lib=$1 names=$2
expected=$(sort -u "$names")
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | sort -u)
if [ -n "$expected" ] && [ "$expected" = "$actual" ]; then
  echo "compiled names match the library: $(printf '%s\n' "$actual" | wc -l) symbols"
  exit 0
fi
echo "compiled names differ from the library (< compiled only, > exported only):"
diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | grep '^[<>]' || true
exit 1
