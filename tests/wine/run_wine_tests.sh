#!/usr/bin/env bash
# Runs Win32 test programs under Wine in a prefix of their own.
#
# usage: run_wine_tests.sh [--arch win64|win32] [--prefix DIR] [--timeout SECONDS] [--xvfb]
#                          [--keep-server] PROGRAM.exe [ARGS...]
#        run_wine_tests.sh [--arch A] [--prefix DIR] [--driver SYS] [--unplug TOOL] --start
#        run_wine_tests.sh [--arch A] [--prefix DIR] --stop
#        run_wine_tests.sh --probe-win32     exit 0 when 32-bit Wine can run here
#
# A crash ends the program at once (no debugger is started). The prefix is created once (about 11 s) and reused; it gets the null graphics driver, so windows,
# dialogs and message boxes work without a display (--xvfb runs under a virtual X server instead,
# for screenshots). Each program runs with a timeout; the prefix's wine server is stopped at the
# end unless --keep-server. --start creates the prefix and leaves a warmed-up persistent server
# running, so a series of --keep-server runs starts in about a second each instead of six; --stop
# ends it. --driver puts a kernel driver into the prefix's drivers folder first (only while the
# prefix's server is down is that safe); --unplug runs `TOOL unplug` once the server is up, so no
# virtual device left over from an earlier run is present. Exit code: the program's, 124 on timeout, 77 when the requested Wine
# cannot run here (ctest reports that as skipped).
set -uo pipefail

arch=win64
prefix=
timeout_s=60
xvfb=0
keep_server=0
action=run
driver=
unplug_tool=

# 32-bit Wine needs a kernel that executes 32-bit programs; asking its loader for the version
# answers that in a fraction of a second either way.
probe_win32() {
  [ -x /usr/lib/wine/wine ] && timeout 5 /usr/lib/wine/wine --version >/dev/null 2>&1
}

while [ $# -gt 0 ]; do
  case $1 in
    --arch) arch=$2; shift 2 ;;
    --prefix) prefix=$2; shift 2 ;;
    --timeout) timeout_s=$2; shift 2 ;;
    --xvfb) xvfb=1; shift ;;
    --keep-server) keep_server=1; shift ;;
    --probe-win32) probe_win32; exit $? ;;
    --driver) driver=$2; shift 2 ;;
    --unplug) unplug_tool=$2; shift 2 ;;
    --start) action=start; shift ;;
    --stop) action=stop; shift ;;
    --) shift; break ;;
    -*) echo "run_wine_tests: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $action != run ] || [ $# -ge 1 ] || {
  echo "usage: run_wine_tests.sh [options] PROGRAM.exe [ARGS...]" >&2
  exit 2
}

case $arch in
  win64) loader=/usr/lib/wine/wine64 ;;
  win32)
    probe_win32 || { echo "run_wine_tests: 32-bit Wine cannot run here, skipped"; exit 77; }
    loader=/usr/lib/wine/wine ;;
  *) echo "run_wine_tests: --arch must be win64 or win32" >&2; exit 2 ;;
esac
[ -x "$loader" ] || { echo "run_wine_tests: $loader missing, skipped"; exit 77; }
# The 64-bit server serves 32-bit clients too.
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver32

prefix=${prefix:-$PWD/wine-prefix-$arch}
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=${WINEDEBUG:--all} WINESERVER=$server
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

# One creation at a time, even when several tests start together.
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.pendant-ready" ]; then
  rm -rf "$prefix"
  echo "run_wine_tests: creating $prefix"
  timeout 180 "$loader" wineboot -i >/dev/null 2>&1 || {
    echo "run_wine_tests: wineboot failed" >&2
    exit 1
  }
  "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  "$server" -w
  touch "$prefix/.pendant-ready"
fi
if [ -n "$driver" ]; then
  drivers=$prefix/drive_c/windows/system32/drivers
  if ! cmp -s "$driver" "$drivers/$(basename "$driver")"; then
    # winedevice may have the old file loaded: the server goes down first.
    "$server" -k >/dev/null 2>&1
    "$server" -w >/dev/null 2>&1
    mkdir -p "$drivers"
    cp "$driver" "$drivers/" || { echo "run_wine_tests: cannot copy $driver" >&2; exit 1; }
  fi
fi
flock -u 9
exec 9>&-

case $action in
  start)
    # Detached from our output and lock, or whoever waits for them would wait for the server.
    "$server" -p </dev/null >/dev/null 2>&1
    timeout 120 "$loader" cmd /c exit </dev/null >/dev/null 2>&1
    if [ -n "$unplug_tool" ]; then
      timeout 60 "$loader" "$unplug_tool" unplug </dev/null >/dev/null 2>&1 || {
        echo "run_wine_tests: $unplug_tool unplug failed" >&2
        exit 1
      }
    fi
    exit 0
    ;;
  stop)
    "$server" -k >/dev/null 2>&1
    exit 0
    ;;
esac

program=$1
shift
cd "$(dirname "$program")" || exit 1
if [ "$xvfb" -eq 1 ]; then
  timeout "$timeout_s" xvfb-run -a "$loader" "$program" "$@"
else
  timeout "$timeout_s" "$loader" "$program" "$@"
fi
rc=$?
[ "$keep_server" -eq 1 ] || "$server" -k >/dev/null 2>&1
if [ $rc -eq 124 ]; then
  echo "run_wine_tests: $(basename "$program") timed out after ${timeout_s} s"
elif [ $rc -ne 0 ]; then
  echo "run_wine_tests: $(basename "$program") exited with code $rc"
fi
exit $rc
