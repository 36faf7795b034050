#!/usr/bin/env bash
# Runs a Windows program under wine with a prefix of its own inside the build
# directory (created on first use). The prefix sits next to the CMake cache
# found above the program, or in KELVANE_WINEPREFIX when that is set.
# Usage: wine-run.sh PROGRAM.exe [ARGS...]
set -euo pipefail
program=$1
shift

if [ -z "${KELVANE_WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$program")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ "$dir" = / ] && dir=$(cd "$(dirname "$program")" && pwd)
  KELVANE_WINEPREFIX=$dir/wineprefix
fi
mkdir -p "$KELVANE_WINEPREFIX"

export WINEPREFIX=$KELVANE_WINEPREFIX
# No mono or gecko install dialog when the prefix is new; no debug chatter.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all

# The first start of a prefix creates it; two tests doing that at once
# would race, so creation is serialised.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  flock -u 9
fi

wine=$(command -v wine64 || command -v wine)
exec "$wine" "$program" "$@"
