#!/usr/bin/env bash
# Compares the dynamic symbols a library defines with a list of exports.
#   check_exports.sh LIBRARY EXPORTS_FILE
set -euo pipefail
library=$1
list=$2
expected=$(grep -v '^#' "$list" | grep -v '^$' | sort)
actual=$(nm -D --defined-only "$library" | awk '{print $3}' | grep -v '^$' | sort)
if [ "$expected" != "$actual" ]; then
  echo "exports of $library differ from $list:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "$(echo "$actual" | wc -l) exports, as listed"
