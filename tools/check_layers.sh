#!/usr/bin/env bash
# Fails on an include that points up or sideways: a folder of src/ may include itself and the
# folders below it, never one above, and one host's wing never includes the other's. Bottom first:
#   text      ASCII helpers
#   settings  profile store, settings and their key table, list texts, the dialog model
#   core      what the behaviours work on: settings, ticks, the machine seam, platform services
#   input     report layout and the input chain's behaviours
#   jog       the wheel and its functions
#   link      the pendant link: discovery, hot-plug, the poll, over a neutral device bus
# Above the middle, side by side, one wing per host:
#   host_windows   the Windows host: its boundary, its rendering, the module, exports, lifecycle
#   host_linuxcnc  LinuxCNC: its rendering into pin values, the component's module, INI settings
# And above each wing only its own platforms:
#   platform/win32, platform/sim      over host_windows
#   platform/linux, platform/linuxcnc over host_linuxcnc (linuxcnc may use linux)
set -euo pipefail
cd "$(dirname "$0")/.."
middle="text settings core input jog link"
declare -A below=(
  [text]=""
  [settings]="text"
  [core]="text settings"
  [input]="text settings core"
  [jog]="text settings core input"
  [link]="text settings core input jog"
  [host_windows]="$middle"
  [host_linuxcnc]="$middle"
  [platform/win32]="$middle host_windows"
  [platform/sim]="$middle host_windows"
  [platform/linux]="$middle host_linuxcnc"
  [platform/linuxcnc]="$middle host_linuxcnc platform/linux"
)
wing_of() {
  case $1 in
    host_windows | platform/win32 | platform/sim) echo host_windows ;;
    host_linuxcnc | platform/linux | platform/linuxcnc) echo host_linuxcnc ;;
    *) echo "" ;;
  esac
}
# The layer a path under src/ (or an include's target path) belongs to.
layer_of() {
  local path=$1 first rest
  first=${path%%/*}
  if [ "$first" = platform ]; then
    rest=${path#platform/}
    echo "platform/${rest%%/*}"
  else
    echo "$first"
  fi
}

bad=0
while IFS= read -r file; do
  folder=$(layer_of "${file#src/}")
  [ -n "${below[$folder]+x}" ] || { echo "layers: $file is in no known layer" >&2; bad=1; continue; }
  while IFS= read -r include; do
    target=$(layer_of "$include")
    [ -n "${below[$target]+x}" ] || continue
    [ "$target" = "$folder" ] && continue
    case " ${below[$folder]} " in *" $target "*) continue ;; esac
    from=$(wing_of "$folder")
    to=$(wing_of "$target")
    if [ -n "$from" ] && [ -n "$to" ] && [ "$from" != "$to" ]; then
      echo "layers: $file includes $target/, which belongs to the other host's wing" >&2
    elif [ -n "$to" ] && [ -z "$from" ]; then
      echo "layers: $file includes $target/, a host's wing; the middle names no host" >&2
    else
      echo "layers: $file includes $target/, which sits above $folder/" >&2
    fi
    bad=1
  done < <(sed -nE 's|^[[:space:]]*#[[:space:]]*include[[:space:]]+"([a-z_0-9]+/[a-z_0-9]*).*|\1|p' "$file")
done < <(find src -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
[ "$bad" -eq 0 ] && echo "layers: every include points down, and neither wing includes the other"
exit "$bad"
