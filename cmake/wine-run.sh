#!/bin/sh
# Runs a Windows program under Wine for the build and for CTest: wine-run.sh PREFIX PROGRAM ARGS...
#
# Wine's server and helpers inherit the standard streams of the wine that starts them and
# outlive it, so a caller that waits for its pipes to close would wait for them too. The
# program's output goes through temporary files instead, copied out once it has ended.
set -u
WINEPREFIX=$1
shift
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 </dev/null
fi
# A server that stays ten seconds past its last program: when the server of one program is
# shutting down as the next one starts, that one fails ("Connection reset by peer"). Where a
# server already runs, this one exits at once.
wineserver -p10 </dev/null >/dev/null 2>&1
out=$(mktemp) || exit 125
err=$(mktemp) || exit 125
wine "$@" >"$out" 2>"$err" </dev/null
status=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $status
