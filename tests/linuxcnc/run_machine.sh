#!/usr/bin/env bash
# Runs the example mill (examples/linuxcnc) with AXIS, in a copy of the configuration.
#
#   run_machine.sh                     on the X display in $DISPLAY, for a person to use
#   run_machine.sh --screenshot PNG    under Xvfb: bring the machine up, turn the pendant's wheel,
#                                      save a screenshot of AXIS to PNG, close
#
# The pendant is the stand-in component (tests/linuxcnc/standin_pendant.py) until the real one
# is built; PENDANT_COMPONENT names another program. As root, LinuxCNC runs as the ordinary
# user of the machine test (PENDANT_LINUXCNC_USER, default pendant-ci).
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

work=$(mktemp -d /tmp/pendant-axis.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/config"
cp "$top"/examples/linuxcnc/* "$work/config/"
cp "$here/driver.py" "$here/standin_pendant.py" "$here/axis_shot.py" "$work/"
chmod 755 "$work" "$work"/*.py
sed -i "s|^COMPONENT = .*|COMPONENT = ${PENDANT_COMPONENT:-$work/standin_pendant.py}|" \
  "$work/config/mill.ini"
[ "$(id -u)" -ne 0 ] || chown -R "$user:" "$work"

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
  /usr/bin/python3 "$3/axis_shot.py" "$1" "$3/shot.png"
  shot_rc=$?
  wait $lcnc
  exit $shot_rc' bash "$ini" "$shot" "$work" || {
  echo "run_machine: the screenshot run failed; LinuxCNC said:" >&2
  tail -n 30 "$work/linuxcnc.log" >&2
  exit 1
}
mkdir -p "$(dirname "$shot")"
cp "$work/shot.png" "$shot"
echo "run_machine: AXIS after a wheel jog in $shot"
