#!/usr/bin/env bash
# Checks the product DLL's PE tables: a 32-bit image, exactly the host's export names, and no
# import of a MinGW runtime DLL (the host folder would not have one).
# usage: check_pe.sh <objdump> <Pendant.dll>
set -euo pipefail
objdump=$1
dll=$2

expected="Config
DllCanUnloadNow
DllGetClassObject
DllRegisterServer
DllUnregisterServer
DoDwell
Home
InitControl
JogOff
JogOn
PostInitControl
Probe
Purge
Reset
SetCode
SetDoButton
SetGetDRO
SetGetLED
SetProName
SetSetDRO
SetSetLED
StopPlug
Update"

failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

dump=$("$objdump" -p "$dll")

grep -Eq '^Magic[[:space:]]+010b[[:space:]]+\(PE32\)' <<<"$dump" || fail "not a PE32 image"

names=$(awk '/\[Ordinal\/Name Pointer\] Table/ { inTable = 1; next }
             inTable && /^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]+/ { print $NF; next }
             inTable { inTable = 0 }' <<<"$dump" | LC_ALL=C sort)
if [ "$names" != "$expected" ]; then
  fail "export names differ from the host's list:"
  diff <(echo "$expected") <(echo "$names") || true
fi
grep -Eq '@[0-9]+$' <<<"$names" && fail "decorated export name"

imports=$(grep -E '^[[:space:]]*DLL Name:' <<<"$dump" | awk '{ print $3 }')
if grep -Eiq 'libstdc\+\+|libgcc|libwinpthread' <<<"$imports"; then
  fail "imports a MinGW runtime DLL: $(grep -Ei 'libstdc|libgcc|libwinpthread' <<<"$imports" | tr '\n' ' ')"
fi

if [ "$failed" -ne 0 ]; then
  echo "check_pe: $dll failed"
  exit 1
fi
echo "check_pe: $dll: PE32, $(wc -l <<<"$names") exports, imports: $(tr '\n' ' ' <<<"$imports")"
