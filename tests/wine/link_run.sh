#!/bin/sh
# Runs one Wine test program: link_run.sh <prefix-dir> <arch: x86_64|i686> <program.exe> [args...]
# The prefix is created once (headless: null graphics driver) and shared by the tests of one build
# directory. Exit code 77 means Wine cannot run programs of that architecture here.
set -u
prefix=$1
arch=$2
shift 2

if [ "$arch" = x86_64 ]; then
  wine=/usr/lib/wine/wine64
  winearch=win64
else
  wine=/usr/lib/wine/wine
  winearch=win32
fi
[ -x "$wine" ] || { echo "no $wine"; exit 77; }

export WINEPREFIX="$prefix" WINEARCH="$winearch" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.ready" ]; then
    rm -rf "$prefix"
    "$wine" wineboot -i >/dev/null 2>&1 || exit 77
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    WINEPREFIX="$prefix" wineserver -w
    touch "$prefix/.ready"
  fi
) 9>"$prefix.lock" || exit 77

"$wine" "$@"
