#!/bin/sh
# Runs a Windows program under Wine for the build and for CTest: wine-run.sh PREFIX PROGRAM ARGS...
#
# Wine takes the system code page from the locale: en_US.UTF-8 (code page 1252) unless
# FMB2FXB_WINE_LOCALE names another, such as ja_JP.UTF-8 (code page 932), which gets a prefix
# of its own beside PREFIX. The locales are made on first use into a folder beside PREFIX.
#
# Wine's server and helpers inherit the standard streams of the wine that starts them and
# outlive it, so a caller that waits for its pipes to close would wait for them too. The
# program's output goes through temporary files instead, copied out once it has ended.
set -u
WINEPREFIX=$1
shift
locale=${FMB2FXB_WINE_LOCALE:-en_US.UTF-8}
LOCPATH=$(dirname "$WINEPREFIX")/locale
if [ ! -d "$LOCPATH/$locale" ]; then
  mkdir -p "$LOCPATH"
  localedef -i "${locale%.*}" -f UTF-8 "$LOCPATH/$locale" >/dev/null 2>&1 || exit 125
fi
[ "$locale" = en_US.UTF-8 ] || WINEPREFIX=$WINEPREFIX-$locale
LC_ALL=$locale
export WINEPREFIX LOCPATH LC_ALL
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
# The 64-bit loader, named: the "wine" wrapper picks a 32-bit one when that is installed too.
WINELOADER=/usr/lib/wine/wine64
[ -x "$WINELOADER" ] || WINELOADER=$(command -v wine64) || { echo "wine64 not found" >&2; exit 125; }
export WINELOADER
# A prefix belongs to the Wine it was made with: one made before 32-bit Wine came beside the
# 64-bit one no longer starts ("could not load kernel32.dll"). Such a prefix is made anew.
made_with=$("$WINELOADER" --version 2>&1; ls -d /usr/lib/wine/wine /usr/lib/*/wine/i386-* 2>/dev/null)
if [ ! -f "$WINEPREFIX/system.reg" ] || [ "$(cat "$WINEPREFIX/made-with" 2>/dev/null)" != "$made_with" ]; then
  wineserver -k >/dev/null 2>&1 </dev/null
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$WINELOADER" wineboot -i >/dev/null 2>&1 </dev/null
  # The registry reaches the disk when the server that wineboot started ends.
  wineserver -w </dev/null >/dev/null 2>&1
  [ -f "$WINEPREFIX/system.reg" ] || { echo "wineboot made no prefix in $WINEPREFIX" >&2; exit 125; }
  printf '%s\n' "$made_with" >"$WINEPREFIX/made-with"
fi
# A server that stays ten seconds past its last program: when the server of one program is
# shutting down as the next one starts, that one fails ("Connection reset by peer"). Where a
# server already runs, this one exits at once.
wineserver -p10 </dev/null >/dev/null 2>&1
# A console test runs the program on the caller's own terminal, which Wine makes its console.
[ -n "${FMB2FXB_WINE_CONSOLE:-}" ] && exec "$WINELOADER" "$@"
out=$(mktemp) || exit 125
err=$(mktemp) || exit 125
# A Wine that fails before the program says anything (seen now and then as a server ends just
# as the next program starts) is given two more tries; a program that fails says so itself.
for try in 1 2 3; do
  "$WINELOADER" "$@" >"$out" 2>"$err" </dev/null
  status=$?
  [ "$status" -ne 0 ] && [ ! -s "$out" ] && [ ! -s "$err" ] || break
  echo "wine-run.sh: wine ended with $status and no output (try $try)" >&2
  sleep 1
  wineserver -p10 </dev/null >/dev/null 2>&1
done
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $status
