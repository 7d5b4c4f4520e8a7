#!/usr/bin/env bash
# Fails on an include that points up: a folder of src/ may include itself and the folders below
# it, never one above. Bottom first:
#   text      ASCII helpers
#   host      the host boundary: callbacks, data blocks, host codes, version
#   settings  profile store, settings and their key table, list texts, the dialog model
#   core      what the behaviours work on (host, settings, ticks, platform services)
#   input     report layout and the input chain's behaviours
#   jog       the wheel and its functions
#   host_windows  the Windows host's rendering of what the behaviours ask of the machine
#   host_linuxcnc LinuxCNC's rendering of it, into plain pin values
#   link      ShuttleWin: discovery, hot-plug, the poll
#   module    the module object, its lifecycle and the exports
#   platform  Win32, Linux and the simulation
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(text host settings core input jog host_windows host_linuxcnc link module platform)
declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

bad=0
while IFS= read -r file; do
  folder=${file#src/}
  folder=${folder%%/*}
  [ -n "${rank[$folder]+x}" ] || { echo "layers: $file is in no known layer" >&2; bad=1; continue; }
  while IFS= read -r target; do
    [ -n "${rank[$target]+x}" ] || continue
    if [ "${rank[$target]}" -gt "${rank[$folder]}" ]; then
      echo "layers: $file includes $target/, which sits above $folder/" >&2
      bad=1
    fi
  done < <(sed -nE 's|^[[:space:]]*#[[:space:]]*include[[:space:]]+"([a-z_0-9]+)/.*|\1|p' "$file")
done < <(find src -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

# The host's codes and data-block offsets are the host rendering's words: the behaviours and the
# link below and above it say what they ask for through core/machine.h.
while IFS= read -r file; do
  case $file in src/host/* | src/host_windows/* | src/platform/*) continue ;; esac
  if grep -qE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"host/(host_codes|host_blocks)\.h"' "$file"; then
    echo "layers: $file names the host's codes or data blocks; only src/host_windows renders them" >&2
    bad=1
  fi
done < <(find src -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
[ "$bad" -eq 0 ] && echo "layers: every include points down"
exit "$bad"
