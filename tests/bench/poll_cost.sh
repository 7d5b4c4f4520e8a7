#!/usr/bin/env bash
# The plug-in's own instructions per poll, counted by callgrind over the simulation build:
#   tests/bench/poll_cost.sh [--max-idle N] [--max-turning N] [--polls N] [--top N] DRIVER LIBRARY
# DRIVER is build/native/poll_cost, LIBRARY build/native/libpendant_sim.so. Prints
#   poll cost: idle I instructions, turning T instructions (targets <= 600, <= 1500)
# and fails (1) when a figure exceeds its limit (by default the targets); 77 without valgrind.
# --top N also lists, per phase, the N functions with the most instructions of their own.
#
# How it counts. callgrind collects only inside SimTimerTick (--toggle-collect), and the driver
# dumps each phase after a warm-up (client requests), so a dump holds exactly the measured polls.
# From a dump's total the virtual bus is taken out: every call from the plug-in's code (the
# source tree's src/) into a function of src/platform/sim/virtual_bus.cpp with all it calls
# (std::map, memcpy, ...), except the calls the bus makes back into the plug-in (the timer message
# that runs the poll). What is left is divided by the number of polls. The host callbacks the poll
# calls stay in, as they are part of the host call sequence; "host" shows how much they are.
# Counts are exact and repeatable for the same build: no timing is involved.
set -euo pipefail

max_idle=600
max_turning=1500
polls=1000
top=0
while [ $# -gt 2 ]; do
  case $1 in
    --max-idle) max_idle=$2; shift 2 ;;
    --max-turning) max_turning=$2; shift 2 ;;
    --polls) polls=$2; shift 2 ;;
    --top) top=$2; shift 2 ;;
    *) break ;;
  esac
done
if [ $# -ne 2 ]; then
  echo "usage: poll_cost.sh [--max-idle N] [--max-turning N] [--polls N] [--top N] DRIVER LIBRARY" >&2
  exit 2
fi
driver=$1
library=$2
src=$(cd "$(dirname "$0")/../.." && pwd)

if ! command -v valgrind >/dev/null; then
  echo "poll cost: valgrind is not installed, nothing measured"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Plain names and positions keep the dump readable by the attribution below.
if ! valgrind --tool=callgrind --toggle-collect=SimTimerTick --compress-strings=no \
  --compress-pos=no --callgrind-out-file="$work/out" "$driver" "$library" "$polls" \
  >"$work/log" 2>&1; then
  cat "$work/log" >&2
  echo "poll cost: the driver failed" >&2
  exit 1
fi

# Prints "own bus host" (instructions in the dump) and, with top > 0, the top functions.
attribute() {
  awk -v src="$src/src/" -v tests="$src/tests/" -v bus="$src/src/platform/sim/virtual_bus.cpp" \
    -v polls="$polls" -v top="$top" '
    function kind(key, f) {
      f = key; sub(/\034.*/, "", f)
      if (f == bus) return "bus"
      if (index(f, src) == 1) return "own"
      if (index(f, tests) == 1) return "host"
      return "other"
    }
    /^summary:/ { total = $2; next }
    /^fl=/ { fl = substr($0, 4); cur = fl; next }
    /^(fi|fe)=/ { cur = substr($0, 4); next }
    /^ob=/ { ob = substr($0, 4); next }
    /^fn=/ { fn = fl SUBSEP substr($0, 4); object[fn] = ob; next }
    /^(cfi|cfl)=/ { cfile = substr($0, 5); next }
    /^cfn=/ { cfn = substr($0, 5); next }
    /^calls=/ { incall = 1; next }
    /^[0-9]/ {
      if (incall) {
        callee = (cfile != "" ? cfile : cur) SUBSEP cfn
        edge[fn SUBSEP callee] += $2
        incall = 0; cfile = ""
      } else {
        self[fn] += $2
      }
      next
    }
    END {
      for (e in edge) {
        split(e, p, SUBSEP)
        from = kind(p[1] SUBSEP p[2]); to = kind(p[3] SUBSEP p[4])
        if (from == "own" && to == "bus") busCost += edge[e]
        if (from == "bus" && to == "own") busCost -= edge[e]
        if (from == "own" && to == "host") hostCost += edge[e]
        if (from == "bus") calledByBus[p[3] SUBSEP p[4]] = 1
        else calledByOthers[p[3] SUBSEP p[4]] = 1
      }
      print total - busCost, busCost, hostCost
      if (top <= 0) exit
      # Functions the bus alone calls are part of its cost.
      n = 0
      for (f in self) {
        if (kind(f) == "bus" || (f in calledByBus && !(f in calledByOthers))) continue
        name = f; sub(/.*\034/, "", name)
        file = f; sub(/\034.*/, "", file)
        if (file == "???") file = object[f]
        sub(/.*\//, "", file)
        printf "%d\t%.1f\t%s (%s)\n", self[f], self[f] / polls, name, file | "sort -rn | head -n " top
      }
    }' "$1"
}

# The driver dumps the idle phase first, then the turning one.
dump_of() {
  grep -l "^desc: Trigger: Client Request: $1\$" "$work"/out.* | head -n 1
}
per_poll() {
  echo $((($1 + polls / 2) / polls))
}

status=0
summary=""
for phase in idle turning; do
  dump=$(dump_of "$phase")
  [ -n "$dump" ] || { echo "poll cost: no dump of the $phase phase" >&2; exit 1; }
  read -r own bus host < <(attribute "$dump" | head -n 1)
  figure=$(per_poll "$own")
  eval "${phase}_figure=$figure"
  summary+="$phase: bus $(per_poll "$bus") left out, host callbacks $(per_poll "$host") in; "
  if [ "$top" -gt 0 ]; then
    echo "$phase: functions by own instructions (total, per poll), the bus left out"
    attribute "$dump" | tail -n +2 | sed 's/^/  /'
  fi
done

echo "poll cost: idle $idle_figure instructions, turning $turning_figure instructions" \
  "(targets <= 600, <= 1500)"
echo "  per poll, ${summary%; }"
if [ "$idle_figure" -gt "$max_idle" ]; then
  echo "poll cost: idle $idle_figure is over the limit $max_idle" >&2
  status=1
fi
if [ "$turning_figure" -gt "$max_turning" ]; then
  echo "poll cost: turning $turning_figure is over the limit $max_turning" >&2
  status=1
fi
exit $status
