#!/usr/bin/env bash
# Runs a Windows program under wine with a prefix of its own inside the build
# directory (created on first use). The prefix sits next to the CMake cache
# found above the program, or in KELVANE_WINEPREFIX when that is set.
# Usage: wine-run.sh PROGRAM.exe [ARGS...]
set -euo pipefail
program=$1
shift

# Descriptors the caller left open (ctest's own pipes) must not reach the
# wine server, or the caller waits for the server to end.
for fd in /proc/$$/fd/*; do
  fd=${fd##*/}
  if [ "$fd" -gt 2 ] 2>/dev/null; then eval "exec $fd>&-" 2>/dev/null || true; fi
done

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
  exec 9>&-
fi

wine=$(command -v wine64 || command -v wine)

# One wine server per prefix, kept for a minute after its last program so a
# run of many short tests does not start one for each. The prefix's service
# processes live as long as the server: they are started here, by a program
# that has none of the caller's descriptors (else ctest would wait on its
# pipes until the server ends).
# Tests started together wait for the one that starts the server.
exec 8>"$WINEPREFIX.lock"
flock 8
if wineserver -p60 </dev/null >/dev/null 2>&1 8>&-; then
  "$wine" cmd /c exit </dev/null >/dev/null 2>&1 8>&- || true
fi
exec 8>&-

exec "$wine" "$program" "$@"
