#!/usr/bin/env bash
# Checks the product DLL's PE tables: a 32-bit image, exactly the host's export names, no import
# of a MinGW runtime DLL (the host folder would not have one), and a version resource that tells
# what the file is in its properties on Windows.
# usage: check_pe.sh <objdump> <Pendant.dll> <windres> <version, e.g. 3.4.0>
set -euo pipefail
objdump=$1
dll=$2
windres=$3
version=$4

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

# The version resource, decompiled: numbers and texts.
resource=$("$windres" -i "$dll" -J coff -O rc 2>/dev/null | tr -d '\r' || true)
numbers=$(tr '.' ',' <<<"$version" | sed 's/,/, /g')
for field in FILEVERSION PRODUCTVERSION; do
  grep -Eq "^[[:space:]]*$field[[:space:]]+$numbers, 0\$" <<<"$resource" ||
    fail "version resource: $field is not $version"
done
value() {
  sed -nE "s/^[[:space:]]*VALUE \"$1\", \"(.*)\"\$/\1/p" <<<"$resource"
}
[ "$(value FileVersion)" = "$version" ] || fail "version resource: FileVersion is not $version"
[ "$(value ProductVersion)" = "$version" ] || fail "version resource: ProductVersion is not $version"
[ "$(value OriginalFilename)" = "$(basename "$dll")" ] ||
  fail "version resource: OriginalFilename is not $(basename "$dll")"
[ -n "$(value FileDescription)" ] || fail "version resource: no FileDescription"
[ -n "$(value ProductName)" ] || fail "version resource: no ProductName"

if [ "$failed" -ne 0 ]; then
  echo "check_pe: $dll failed"
  exit 1
fi
echo "check_pe: $dll: PE32, $(wc -l <<<"$names") exports, version $version ($(value ProductName))," \
  "imports: $(tr '\n' ' ' <<<"$imports")"
