#!/usr/bin/env bash
# Runs the signer-PIN dialog cases under wine on a virtual X display, with
# English, Italian (Italy) and Italian (Switzerland) as the user's language. The test program plays
# the user through the Windows API and asks this script, by lines
# "@@ <verb> <argument>" on its output, for what only X can do: key presses
# and typing (xdotool, into the window that has the focus) and screenshots
# (ImageMagick's import). Each request is answered on its input by "ok" or
# "fail <reason>".
#
# Usage: run-dialog-tests.sh PROGRAM.exe SCREENSHOT_DIR [kelvane.dll]
# Starts its own Xvfb (no window manager, so the dialog keeps the focus wine
# gives it) unless KELVANE_DIALOG_DISPLAY names a display to use.
# KELVANE_DIALOG_LANGS picks the languages (default "en it it-ch"). The wine prefix
# is the dialog cases' own (beside the screenshot folder, or
# KELVANE_WINEPREFIX): its windows are not left to a window manager, since
# there is none, so wine draws their frames and closes them at once.
set -euo pipefail
program=$1
screens=$2
dll=${3:-}
root=$(cd "$(dirname "$0")/../../.." && pwd)
wine_run=$root/cmake/wine-run.sh
mkdir -p "$screens"

for tool in xdotool import Xvfb; do
  command -v "$tool" >/dev/null || { echo "run-dialog-tests: $tool is missing" >&2; exit 1; }
done

xvfb_pid=
display_file=$(mktemp)
# shellcheck disable=SC2317  # run by the trap
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -f "$display_file"
}
trap cleanup EXIT

if [ -n "${KELVANE_DIALOG_DISPLAY:-}" ]; then
  export DISPLAY=$KELVANE_DIALOG_DISPLAY
else
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { echo "run-dialog-tests: Xvfb did not start" >&2; exit 1; }
    sleep 0.1
  done
  [ -s "$display_file" ] || { echo "run-dialog-tests: Xvfb gave no display" >&2; exit 1; }
  DISPLAY=:$(tr -d '\n' <"$display_file")
  export DISPLAY
fi
echo "display $DISPLAY"

# A wine prefix per language set: one wine server keeps one foreground
# window, so two runs at once must not share a server.
langs=${KELVANE_DIALOG_LANGS:-en it it-ch}
export KELVANE_WINEPREFIX=${KELVANE_WINEPREFIX:-$(cd "$screens/.." && pwd)/wineprefix-dialog-${langs// /-}}
if ! grep -qs '^"Managed"="N"' "$KELVANE_WINEPREFIX/user.reg"; then
  "$wine_run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
fi

# Polls (up to 10 s) for an X window with exactly this title.
find_window() {
  local title=$1 id
  for _ in $(seq 100); do
    id=$(xdotool search --name "^${title}\$" 2>/dev/null | head -n1) || true
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# Carries out one request; prints the answer.
answer() {
  local verb=$1 argument=$2 title what out
  case $verb in
    key | type)
      title=${argument%%|*}
      what=${argument#*|}
      if ! find_window "$title" >/dev/null; then
        echo "fail no window named '$title' on display $DISPLAY"
        return
      fi
      if [ "$verb" = key ]; then
        # shellcheck disable=SC2086  # several key names
        out=$(xdotool key --delay 40 $what 2>&1) || { echo "fail xdotool key: $out"; return; }
      else
        out=$(xdotool type --delay 60 -- "$what" 2>&1) || { echo "fail xdotool type: $out"; return; }
      fi
      echo ok
      ;;
    shot)
      out=$(import -window root "$screens/$argument.png" 2>&1) || { echo "fail import: $out"; return; }
      echo ok
      ;;
    *) echo "fail unknown request '$verb'" ;;
  esac
}

failed=0
for lang in $langs; do
  case $lang in
    en) locale=en_US.UTF-8 ;;
    it) locale=it_IT.UTF-8 ;;
    it-ch) locale=it_CH.UTF-8 ;;
    *) echo "run-dialog-tests: unknown language $lang" >&2; exit 1 ;;
  esac
  echo "== dialog cases, LANG=$locale"
  args=(--lang "$lang")
  [ -n "$dll" ] && args+=(--dll "$dll")
  coproc PROGRAM { LC_ALL=$locale LANG=$locale "$wine_run" "$program" "${args[@]}" 2>&1; }
  pid=$PROGRAM_PID
  to_program=${PROGRAM[1]}
  status=0
  summary=0
  # A line at least every 120 s: each case ends in well under that.
  while true; do
    if IFS= read -r -t 120 -u "${PROGRAM[0]}" line; then
      line=${line%$'\r'}
      if [[ $line == "@@ "* ]]; then
        request=${line#@@ }
        reply=$(answer "${request%% *}" "${request#* }")
        echo "$reply" >&"$to_program"
      else
        echo "$line"
        [[ $line == "dialog cases ("* ]] && summary=1
      fi
    else
      rc=$?
      if [ "$rc" -gt 128 ]; then
        echo "run-dialog-tests: no output for 120 s; stopping the test program" >&2
        # The wine process is the coprocess shell's child.
        kill $(pgrep -P "$pid") "$pid" 2>/dev/null || true
        status=1
      fi
      break
    fi
  done
  wait "$pid" || status=$?
  if [ "$summary" -eq 0 ]; then
    echo "run-dialog-tests: the test program ($lang) ended without its summary, status $status" >&2
    status=1
  fi
  [ "$status" -eq 0 ] || failed=1
done
echo "screenshots in $screens"
exit "$failed"
