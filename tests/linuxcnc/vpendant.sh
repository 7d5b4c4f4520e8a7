# Sourced by the LinuxCNC scripts: mounts the virtual pendant for the real component.
#
#   start_vpendant WORK PENDANT VPENDANT_FUSE
#       copies PENDANT to WORK/pendant, mounts VPENDANT_FUSE at WORK/vp and sets component_line
#       to the component reading it; returns 1 (with the server's log) when it did not mount
#   stop_vpendant
#       ends the server and unmounts; safe to call twice or before a start
#
# Run as root: the mount must be open to LinuxCNC's ordinary user, so leave WORK/vp out of any
# chown.

vpendant_pid=
vpendant_mount=

start_vpendant() {
  local work=$1 component=$2 fuse=$3
  # The pendant is plugged in before LinuxCNC starts; the component finds it by its USB ids in
  # the virtual sysfs.
  cp "$component" "$work/pendant"
  chmod 755 "$work/pendant"
  vpendant_mount=$work/vp
  mkdir -p "$vpendant_mount"
  "$fuse" "$vpendant_mount" 2>"$work/vpendant.log" &
  vpendant_pid=$!
  for _ in $(seq 200); do [ -e "$vpendant_mount/control" ] && break; sleep 0.01; done
  if [ ! -e "$vpendant_mount/control" ]; then
    cat "$work/vpendant.log" >&2
    stop_vpendant
    return 1
  fi
  component_line="$work/pendant --sysfs $vpendant_mount/sys --dev-root $vpendant_mount/dev"
}

stop_vpendant() {
  [ -n "$vpendant_pid" ] || return 0
  kill "$vpendant_pid" 2>/dev/null || true  # it unmounts on its way out
  wait "$vpendant_pid" 2>/dev/null || true
  mountpoint -q "$vpendant_mount" && umount -l "$vpendant_mount"
  vpendant_pid=
}
