#!/usr/bin/env bash
# Runs the example mill (examples/linuxcnc) with AXIS, in a copy of the configuration.
#
#   run_machine.sh                     on the X display in $DISPLAY, for a person to use
#   run_machine.sh --screenshot PNG    under Xvfb: bring the machine up, turn the pendant's wheel,
#                                      save a screenshot of AXIS to PNG, close
#
# For the screenshot the real component reads the virtual pendant, and the wheel is turned by
# pushing its reports, when PENDANT_BUILD (default build/native) holds pendant and vpendant-fuse
# and this runs as root with /dev/fuse; otherwise, and on a person's display, the stand-in
# component (tests/linuxcnc/standin_pendant.py) plays the pendant, or the program
# PENDANT_COMPONENT names. As root, LinuxCNC runs as the ordinary user of the machine test
# (PENDANT_LINUXCNC_USER, default pendant-ci).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
user=${PENDANT_LINUXCNC_USER:-pendant-ci}
shot=
case ${1:-} in
  --screenshot) shot=$(realpath -m "${2:?usage: $0 [--screenshot PNG]}") ;;
  "") ;;
  *) echo "usage: $0 [--screenshot PNG]" >&2; exit 2 ;;
esac

[ -x /usr/bin/linuxcnc ] || { echo "LinuxCNC is not installed (tools/setup.sh)" >&2; exit 77; }
if [ -e /tmp/linuxcnc.lock ] && { pgrep -x milltask >/dev/null || pgrep -x linuxcncsvr >/dev/null; }; then
  echo "another LinuxCNC is running; stop it first" >&2
  exit 1
fi
exec 9>>/tmp/pendant-linuxcnc.flock
flock -w 120 9

run_as=()
if [ "$(id -u)" -eq 0 ]; then
  id -u "$user" >/dev/null 2>&1 || useradd --system --user-group --no-create-home \
    --home-dir /nonexistent --shell /usr/sbin/nologin "$user"
  run_as=(runuser -u "$user" --)
fi

# shellcheck source=vpendant.sh
. "$here/vpendant.sh"
work=$(mktemp -d /tmp/pendant-axis.XXXXXX)
# The mount goes first: rm -rf must not walk into it.
trap 'stop_vpendant; rm -rf "$work"' EXIT
mkdir "$work/config"
cp "$top"/examples/linuxcnc/* "$work/config/"
cp "$here/driver.py" "$here/standin_pendant.py" "$here/axis_shot.py" "$work/"
chmod 755 "$work" "$work"/*.py
build=${PENDANT_BUILD:-$top/build/native}
component_line=${PENDANT_COMPONENT:-$work/standin_pendant.py}
shot_args=()
if [ -n "$shot" ] && [ -z "${PENDANT_COMPONENT:-}" ] && [ -x "$build/pendant" ] \
  && [ -x "$build/vpendant-fuse" ] && [ "$(id -u)" -eq 0 ] && [ -e /dev/fuse ]; then
  if start_vpendant "$work" "$build/pendant" "$build/vpendant-fuse"; then
    shot_args=(--vpendant "$vpendant_mount")
  else
    echo "run_machine: the virtual pendant did not mount; the stand-in plays the pendant" >&2
    component_line=$work/standin_pendant.py
  fi
elif [ -n "$shot" ] && [ -z "${PENDANT_COMPONENT:-}" ]; then
  echo "run_machine: no component and virtual pendant in $build (or not root with /dev/fuse);" \
    "the stand-in plays the pendant" >&2
fi
sed -i "s|^COMPONENT = .*|COMPONENT = $component_line|" "$work/config/mill.ini"
# Not into the virtual pendant's mount: it is served as it is.
[ "$(id -u)" -ne 0 ] || find "$work" -path "$work/vp" -prune -o -exec chown "$user:" {} +

ini=$work/config/mill.ini
env_of=(env -i HOME="$work" PATH=/usr/bin:/bin LANG=C.UTF-8)
if [ -z "$shot" ]; then
  cd "$work/config"
  [ "$(id -u)" -ne 0 ] || xhost "+si:localuser:$user" >/dev/null 2>&1 || true
  "${run_as[@]}" "${env_of[@]}" DISPLAY="${DISPLAY:?no X display}" linuxcnc "$ini"
  exit $?
fi

cd "$work/config"
"${run_as[@]}" "${env_of[@]}" xvfb-run -a -s "-screen 0 1280x860x24" bash -c '
  linuxcnc -r "$1" >"$3/linuxcnc.log" 2>&1 &
  lcnc=$!
  /usr/bin/python3 "$3/axis_shot.py" "$1" "$3/shot.png" "${@:4}"
  shot_rc=$?
  wait $lcnc
  exit $shot_rc' bash "$ini" "$shot" "$work" "${shot_args[@]}" || {
  echo "run_machine: the screenshot run failed; LinuxCNC said:" >&2
  tail -n 30 "$work/linuxcnc.log" >&2
  exit 1
}
mkdir -p "$(dirname "$shot")"
cp "$work/shot.png" "$shot"
echo "run_machine: AXIS after a wheel jog in $shot ($([ ${#shot_args[@]} -gt 0 ] \
  && echo "the component, wheel turns pushed to the virtual pendant" || echo "the stand-in"))"
