#!/bin/sh
# The Windows program, translated by vorlang -g with a title longer than its
# original, started under wine in a virtual display: its main window is found
# by the translated title. Skips (status 77), saying why, without wine64,
# xvfb-run, xdotool or the program.
# Usage: wine_window.sh VORLANG TINY_WIN_EXE
set -u
vorlang=$1
program=$2

skip() { echo "skipped: $*"; exit 77; }
[ -n "$program" ] || skip "no x86_64-w64-mingw32-gcc and -windres: no Windows program"
[ -f "$program" ] || { echo "$program was not built"; exit 1; }
wine=$(command -v wine64 || command -v wine || true)
[ -n "$wine" ] || { [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64; }
[ -n "$wine" ] || skip "no wine64 (Debian: wine64)"
command -v xvfb-run >/dev/null || skip "no xvfb-run (Debian: xvfb)"
command -v xdotool >/dev/null || skip "no xdotool (Debian: xdotool)"

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$program" "$dir/tiny.exe"
title="Naamloos document zonder titel"
printf '"Untitled" "%s"\n' "$title" >"$dir/nl.txt"
(cd "$dir" && "$vorlang" -g -p tiny -d nl -o out >vorlang.out 2>&1) ||
  { cat "$dir/vorlang.out"; echo "vorlang -g failed"; exit 1; }

# A prefix of its own, made on first start (the slow part); the language set
# so that the English resources are the ones wine picks.
# No offer to install .NET or the HTML engine on that first start.
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8 LC_ALL=C.UTF-8
cat >"$dir/run.sh" <<RUN
"$wine" "$dir/out.exe" >"$dir/wine.log" 2>&1 &
i=0
while [ \$i -lt 60 ]; do
  xdotool search --name "^$title\\\$" >"$dir/found" 2>/dev/null && exit 0
  sleep 1
  i=\$((i + 1))
done
exit 1
RUN
timeout 120 xvfb-run -a sh "$dir/run.sh" >"$dir/xvfb.log" 2>&1
status=$?
# Ends the program and every wine process of the prefix.
server=$(dirname "$wine")/wineserver
[ -x "$server" ] || server=wineserver
timeout 20 "$server" -k 2>/dev/null
if [ "$status" -ne 0 ]; then
  tail -n 20 "$dir/wine.log" "$dir/xvfb.log"
  echo "no window titled \"$title\" within a minute under wine (status $status)"
  exit 1
fi
echo "found the window \"$title\" under wine"
