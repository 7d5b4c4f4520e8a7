#!/usr/bin/env bash
# Runs the example mill (examples/linuxcnc) in a real, headless LinuxCNC with driver.py as its
# display program, and checks that LinuxCNC shuts down cleanly afterwards.
#
#   machine_test.sh [--standin]    the stand-in component plays the pendant (the default)
#   machine_test.sh --component PENDANT VPENDANT_FUSE [--demo]
#                                  the real component PENDANT reads a virtual pendant that
#                                  VPENDANT_FUSE serves (mounted here, as root, for LinuxCNC's user);
#                                  --demo plays a short session and prints what moved
#
# LinuxCNC refuses to run as root, so as root the run happens as an ordinary system user
# (PENDANT_LINUXCNC_USER, default pendant-ci, created if absent) in a copy of the configuration
# it owns. One line per check; exit 0 on pass, 77 when LinuxCNC is not installed, 1 on failure.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
user=${PENDANT_LINUXCNC_USER:-pendant-ci}
limit=${PENDANT_LINUXCNC_TIMEOUT:-50}
pendant=standin
component=
vpendant_fuse=
demo=
case ${1:-} in
  --standin | "") ;;
  --component)
    pendant=virtual
    component=${2:?usage: $0 --component PENDANT VPENDANT_FUSE}
    vpendant_fuse=${3:?usage: $0 --component PENDANT VPENDANT_FUSE}
    [ "${4:-}" = --demo ] && demo=--demo
    ;;
  *) echo "usage: $0 [--standin] | --component PENDANT VPENDANT_FUSE" >&2; exit 2 ;;
esac

if [ ! -x /usr/bin/linuxcnc ] || ! /usr/bin/python3 -c 'import linuxcnc, hal' 2>/dev/null; then
  echo "skip: LinuxCNC is not installed (tools/setup.sh installs it as an optional set)"
  exit 77
fi
if [ "$pendant" = virtual ] && { [ "$(id -u)" -ne 0 ] || [ ! -e /dev/fuse ]; }; then
  echo "skip: the virtual pendant needs root and /dev/fuse (LinuxCNC's user opens it)"
  exit 77
fi

# LinuxCNC's processes, for telling a running instance from a stale lock and for leftovers.
lcnc_processes='^(rtapi_app|milltask|linuxcncsvr|halui|io|iocontrol|standin_pendant.py|driver.py|pendant)$'

# One LinuxCNC per machine: our own runs queue here; someone else's makes this run fail.
exec 9>>/tmp/pendant-linuxcnc.flock
chmod a+rw /tmp/pendant-linuxcnc.flock 2>/dev/null || true
flock -w 120 9 || { echo "FAIL another machine test held the lock for 2 minutes"; exit 1; }
if [ -e /tmp/linuxcnc.lock ]; then
  if pgrep -x linuxcncsvr >/dev/null || pgrep -x milltask >/dev/null; then
    echo "FAIL another LinuxCNC is running (/tmp/linuxcnc.lock); stop it first"
    exit 1
  fi
  rm -f /tmp/linuxcnc.lock 2>/dev/null || true
fi

# LinuxCNC's System V keys: its NML buffers, motion's (100), HAL's and RTAPI's.
lcnc_ipc_keys() {
  awk '$1 == "B" { printf "0x%08x\n", $10 }' /usr/share/linuxcnc/linuxcnc.nml 2>/dev/null
  printf '%s\n' 0x00000064 0x48414c32 0x48484c34
}
# "M|S key owner" for each of LinuxCNC's shared memory segments and semaphores present now.
lcnc_ipc_objects() {
  { ipcs -m | awk '$1 ~ /^0x/ { print "M", $1, $3 }'
    ipcs -s | awk '$1 ~ /^0x/ { print "S", $1, $3 }'; } | grep -wFf <(lcnc_ipc_keys) || true
}

run_as=()
if [ "$(id -u)" -eq 0 ]; then
  if ! id -u "$user" >/dev/null 2>&1; then
    useradd --system --user-group --no-create-home --home-dir /nonexistent \
      --shell /usr/sbin/nologin "$user"
  fi
  run_as=(runuser -u "$user" --)
else
  user=$(id -un)
fi

# No LinuxCNC runs now, so what another user's left behind is stale, and LinuxCNC would fail on it
# ("shmget ... Permission denied", "semget: Permission denied") with nothing to show why.
stale=$(lcnc_ipc_objects | awk -v me="$user" '$3 != me')
if [ -n "$stale" ]; then
  echo "FAIL LinuxCNC cannot start: another user's LinuxCNC left shared memory or semaphores behind" \
    "that $user may not use:"
  awk '{ printf "  %s %s of %s\n", ($1 == "M" ? "shared memory" : "semaphore"), $2, $3 }' <<<"$stale"
  echo "No LinuxCNC runs now, so they are stale. Remove them as root (or as their owner):"
  echo "  ipcrm$(awk '{ printf " -%s %s", $1, $2 }' <<<"$stale")"
  exit 1
fi

work=$(mktemp -d /tmp/pendant-linuxcnc.XXXXXX)
config=$work/config
mkdir "$config"
cp "$top"/examples/linuxcnc/* "$config/"
cp "$here/driver.py" "$here/standin_pendant.py" "$work/"
chmod 755 "$work" "$work/driver.py" "$work/standin_pendant.py"
report=$work/report
: >"$report"

pendant_args=--standin
component_line=$work/standin_pendant.py
# shellcheck source=vpendant.sh
. "$here/vpendant.sh"
if [ "$pendant" = virtual ]; then
  trap stop_vpendant EXIT
  start_vpendant "$work" "$component" "$vpendant_fuse" \
    || { echo "FAIL the virtual pendant did not mount"; exit 1; }
  pendant_args="--vpendant $vpendant_mount $demo"
  # The Y axis runs reversed.
  sed -i -e "s|^Yreverse = .*|Yreverse = 1|" "$config/mill.ini"
fi

launched=$(date +%s.%N)
sed -i \
  -e "s|^DISPLAY = .*|DISPLAY = $work/driver.py $pendant_args --report $report --t0 $launched|" \
  -e "s|^COMPONENT = .*|COMPONENT = $component_line|" \
  "$config/mill.ini"
# Not into the virtual pendant's mount: it is served as it is.
[ "$(id -u)" -ne 0 ] || find "$work" -path "$work/vp" -prune -o -exec chown "$user:" {} +

started=$(date +%s%N)
rc=0
(cd "$config" && timeout -k 5 "$limit" "${run_as[@]}" env -i HOME="$work" PATH=/usr/bin:/bin \
  LANG=C.UTF-8 linuxcnc -r "$config/mill.ini") >"$work/linuxcnc.log" 2>&1 || rc=$?
ended=$(date +%s.%N)
ran_ms=$((($(date +%s%N) - started) / 1000000))
stop_ms=?
[ -s "$report.exited" ] && stop_ms=$(awk -v a="$(cat "$report.exited")" -v b="$ended" \
  'BEGIN { printf "%.0f", (b - a) * 1000 }')

cat "$report"
failed=0
grep -q '^FAIL' "$report" && failed=1
grep -q '^ok   E-stop' "$report" || { echo "FAIL driver: did not finish its checks"; failed=1; }

# Shutdown: LinuxCNC returns the driver's code, leaves no process of its own and no lock.
left=""
for _ in $(seq 20); do
  left=$(pgrep -l -u "$user" . | awk '{print $2}' | grep -E "$lcnc_processes" | tr '\n' ' ' || true)
  [ -z "$left" ] && [ ! -e /tmp/linuxcnc.lock ] && break
  sleep 0.1
done
# The component leaves through hal_exit when LinuxCNC stops it, unless the last check killed it.
component_end=
if [ "$pendant" = virtual ]; then
  if grep -q '^ok   watchdog: killed component' "$report"; then
    component_end=", the component killed by the last check"
  elif grep -q '^pendant: stopped$' "$work/linuxcnc.log"; then
    component_end=", the component left through hal_exit"
  else
    echo "FAIL shutdown: the component did not say it stopped"
    failed=1
  fi
fi
# LinuxCNC passes on the driver's exit code: 1 when a check failed.
if [ "$rc" -eq "$failed" ] && [ -z "$left" ] && [ ! -e /tmp/linuxcnc.lock ]; then
  echo "ok   shutdown: linuxcnc returned $rc, no process left, lock removed$component_end; stopped ${stop_ms} ms after the driver, whole run ${ran_ms} ms"
else
  echo "FAIL shutdown: linuxcnc returned $rc${left:+, left running: $left}$([ -e /tmp/linuxcnc.lock ] && echo ', /tmp/linuxcnc.lock remains')"
  failed=1
  # Leave no half-stopped instance to the next run.
  (cd "$config" && "${run_as[@]}" env -i HOME="$work" PATH=/usr/bin:/bin halrun -U) >/dev/null 2>&1 || true
  rm -f /tmp/linuxcnc.lock
fi

# A LinuxCNC that failed may leave its objects behind, which would stop the next user's.
if [ -z "$left" ]; then
  ours=$(lcnc_ipc_objects | awk -v me="$user" '$3 == me { printf "-%s %s ", $1, $2 }')
  # shellcheck disable=SC2086
  [ -z "$ours" ] || ipcrm $ours 2>/dev/null || true
fi

# LinuxCNC's own metric AXIS simulation with the pendant added by the README's steps: its HAL
# files from LinuxCNC's library, pendant.hal and goto_zero.ngc beside the INI, the README's INI
# lines. Its tool changer dialog needs an X display: Xvfb. (LinuxCNC shows a failed run in a
# dialog there, which nobody closes: a failure ends at the time limit.)
shipped_ini=/usr/share/doc/linuxcnc/examples/sample-configs/sim/axis/axis_mm.ini
if [ "$pendant" = virtual ] && [ -z "$demo" ] && [ "$failed" -eq 0 ]; then
  if [ ! -f "$shipped_ini" ] || ! command -v xvfb-run >/dev/null; then
    echo "skip: shipped configuration: needs $shipped_ini and xvfb-run"
  else
    shipped=$work/shipped
    mkdir "$shipped"
    cp "$shipped_ini" "$(dirname "$shipped_ini")/../sim_mm.tbl" "$top/examples/linuxcnc/pendant.hal" \
      "$top/examples/linuxcnc/goto_zero.ngc" "$shipped/"
    ini=$shipped/axis_mm.ini
    sed -i -e '/^HALFILE = simulated_home.hal/a HALFILE = pendant.hal' \
      -e '/^\[RS274NGC\]/a SUBROUTINE_PATH = .' "$ini"
    cat >>"$ini" <<'END'

[HALUI]
MDI_COMMAND = G10 L20 P0 X0
MDI_COMMAND = G10 L20 P0 Y0
MDI_COMMAND = G10 L20 P0 Z0
MDI_COMMAND = O<goto_zero> CALL

[PENDANT]
COMPONENT = pendant
END
    : >"$report.shipped"
    sed -i \
      -e "s|^DISPLAY = .*|DISPLAY = $work/driver.py --vpendant $vpendant_mount --shipped --report $report.shipped --t0 $(date +%s.%N)|" \
      -e "s|^COMPONENT = .*|COMPONENT = $component_line|" "$ini"
    [ "$(id -u)" -ne 0 ] || chown -R "$user:" "$shipped" "$report.shipped"
    # A fresh pendant: the last one still holds the reports pushed after its component was killed.
    stop_vpendant
    start_vpendant "$work" "$component" "$vpendant_fuse" \
      || { echo "FAIL the virtual pendant did not mount again"; exit 1; }
    rc=0
    (cd "$shipped" && timeout -k 5 "$limit" "${run_as[@]}" env -i HOME="$work" PATH=/usr/bin:/bin \
      LANG=C.UTF-8 xvfb-run -a linuxcnc -r "$ini") >"$work/shipped.log" 2>&1 || rc=$?
    cat "$report.shipped"
    if ! grep -q '^ok   shipped configuration' "$report.shipped" || [ "$rc" -ne 0 ]; then
      echo "FAIL shipped configuration: linuxcnc returned $rc; its output:"
      sed 's/^/  | /' "$work/shipped.log" | tail -n 30
      failed=1
    fi
  fi
fi

if [ "$failed" -ne 0 ]; then
  echo "LinuxCNC's output (kept in $work):"
  sed 's/^/  | /' "$work/linuxcnc.log" | tail -n 40
  stop_vpendant
  exit 1
fi
stop_vpendant
rm -rf "$work"
exit 0
