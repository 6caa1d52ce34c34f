#!/usr/bin/env bash
# Runs a Windows test program on a virtual X display, in a Wine prefix of its own: a Wine
# server started without a display cannot give later programs one, and the shared prefix's
# server usually is. Every step is bounded; the prefix's server is stopped on every exit.
#   run_on_display.sh <program.exe> <wine prefix> [arguments...]
set -euo pipefail
if [ -z "${QP_ON_DISPLAY:-}" ]; then
  export QP_ON_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

program=$1
export WINEPREFIX=$2
shift 2
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES='mscoree=d;mshtml=d'
export WINEARCH=win64
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  timeout 300 "$wine" wineboot -i </dev/null >/dev/null 2>&1
  timeout 60 "$wineserver" -w
fi
"$wineserver" -p
# Wine's system processes, detached from this script's output (see scripts/test).
timeout 120 "$wine" wineboot </dev/null >/dev/null 2>&1

status=0
timeout 120 "$wine" "$program" --gtest_brief=1 "$@" || status=$?
if [ -f about_page.bmp ] && command -v ffmpeg >/dev/null; then
  ffmpeg -loglevel error -y -i about_page.bmp -pix_fmt rgb24 about_page.png || true
fi
exit $status
