#!/usr/bin/env bash
# Compares the export table of kelvane.dll with the native methods (Java_
# names) of the checked-in list of exports, and checks that the DLL needs
# only system DLLs (the mingw runtimes are linked in).
# Usage: check_dll_exports.sh OBJDUMP DLL EXPORTS_FILE
set -euo pipefail
objdump=$1 dll=$2 list=$3
expected=$(grep -E '^\s*Java_' "$list" | sed 's/^\s*//;s/\s*$//' | sort -u)
# The name table of "objdump -p": lines "[ordinal] name" after its heading.
actual=$("$objdump" -p "$dll" |
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^\s*\[\s*[0-9]*\]\s*\(\S*\)$/\1/p' | sort -u)
imports=$("$objdump" -p "$dll" | sed -n 's/^\s*DLL Name: //p' | sort -u)
runtime=$(printf '%s\n' "$imports" | grep -iE '^lib|mingw' || true)
if [ -n "$runtime" ]; then
  echo "$dll needs runtime DLLs that a Windows machine lacks:" $runtime
  exit 1
fi
echo "imports: $(printf '%s\n' "$imports" | tr '\n' ' ')"
if [ -z "$actual" ]; then
  echo "no export table found in $dll"
  exit 1
fi
if [ "$expected" = "$actual" ]; then
  echo "exports match: $(printf '%s\n' "$actual" | wc -l) symbols"
  exit 0
fi
echo "export list mismatch (< listed only, > exported only):"
diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | grep '^[<>]' || true
exit 1
