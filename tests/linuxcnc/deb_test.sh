#!/usr/bin/env bash
# deb_test.sh [PENDANT]
# Builds the .deb of the component PENDANT with tools/make_deb.sh into a scratch folder and checks
# what dpkg sees in it: its dependencies, the files, their modes and owner, a stripped program, a
# postinst that cannot fail an install, and that dpkg on this machine would install it.
# Exit 0 on pass, 1 on failure, 77 when the component was not built.
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
program=${1:-}
if [ -z "$program" ] || [ ! -x "$program" ]; then
  echo "skip: the LinuxCNC component was not built (LinuxCNC's headers are missing)"
  exit 77
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

deb=$(bash "$top/tools/make_deb.sh" "$program" "$scratch/out")
version=$(sed -nE 's/^#define PENDANT_VERSION_TEXT "([0-9.]+)"$/\1/p' "$top/src/host_windows/version.h")
[ "$(basename "$deb")" = "pendant-linuxcnc_${version}_$(dpkg --print-architecture).deb" ] ||
  fail "package name $(basename "$deb")"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Version)" = "$version" ] || fail "Version $(field Version), not $version"
depends=$(field Depends)
# Package names alone, one a line.
names=$(sed -E 's/ *\([^)]*\)//g; s/, */\n/g' <<<"$depends")
for needed in linuxcnc-uspace libc6 libstdc++6 libudev1; do
  [ "$(grep -cxF "$needed" <<<"$names")" -eq 1 ] || fail "Depends names $needed not once: $depends"
done
info=$(dpkg-deb --info "$deb")
grep -qE '^ +[0-9]+ bytes, +[0-9]+ lines +\* +postinst' <<<"$info" ||
  fail "postinst missing or not executable"

# "mode owner path" per entry, leading "./" and trailing "/" dropped.
dpkg-deb --contents "$deb" | awk '{ p = $6; sub(/^\./, "", p); sub(/\/$/, "", p); print $1, $2, p }' \
  >"$scratch/contents"
expect() {
  local mode=$1 path=$2
  grep -qxF -- "$mode root/root $path" "$scratch/contents" ||
    fail "$path: want $mode root/root, have '$(grep -F " $path" "$scratch/contents" | head -n 1)'"
}
expect -rwxr-xr-x /usr/bin/pendant
expect -rw-r--r-- /lib/udev/rules.d/60-pendant.rules
expect -rw-r--r-- /usr/share/doc/pendant-linuxcnc/linuxcnc_guide.txt
expect -rw-r--r-- /usr/share/doc/pendant-linuxcnc/copyright
for example in "$top"/examples/linuxcnc/*; do
  expect -rw-r--r-- "/usr/share/doc/pendant-linuxcnc/examples/${example##*/}"
done
# Nothing else: every entry root's, directories 0755, files 0644 unless the program.
stray=$(awk '$2 != "root/root" || ($1 != "drwxr-xr-x" && $1 != "-rw-r--r--" && $3 != "/usr/bin/pendant")' \
  "$scratch/contents")
[ -z "$stray" ] || fail "unexpected entries: $stray"

dpkg-deb --extract "$deb" "$scratch/root"
sections=$(readelf --section-headers "$scratch/root/usr/bin/pendant")
if grep -qE '\.symtab|\.debug_' <<<"$sections"; then
  fail "/usr/bin/pendant is not stripped"
fi
# The copyright file is machine-readable, under MIT, and names every LinuxCNC library the program
# links with.
copyright=$scratch/root/usr/share/doc/pendant-linuxcnc/copyright
head -n 1 "$copyright" | grep -qxF 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "copyright: not in the machine-readable format"
grep -qxF 'License: MIT' "$copyright" || fail "copyright: no MIT licence"
grep -qi 'all rights reserved' "$copyright" && fail "copyright: still reserves all rights"
for library in $(readelf --dynamic "$scratch/root/usr/bin/pendant" |
  sed -nE 's/.*Shared library: \[(liblinuxcnc[^]]*)\].*/\1/p'); do
  grep -qF "$library" "$copyright" || fail "copyright: does not name $library"
done
[ -f "$top/LICENSE" ] && grep -q '^MIT License' "$top/LICENSE" || fail "LICENSE: no MIT licence"

# The program still loads and runs after stripping: an unknown option is refused with the usage,
# --help explains the options.
set +e
usage=$("$scratch/root/usr/bin/pendant" --no-such-option 2>&1)
rc=$?
help=$("$scratch/root/usr/bin/pendant" --help 2>&1)
help_rc=$?
set -e
[ "$rc" -eq 2 ] && grep -q '^usage: pendant' <<<"$usage" ||
  fail "stripped program: exit $rc, '$usage'"
[ "$help_rc" -eq 0 ] && grep -q -- '--monitor' <<<"$help" && grep -q 'loadusr -Wn NAME' <<<"$help" ||
  fail "stripped program: --help exit $help_rc, '$help'"

# The postinst ends well whether or not udevadm and a udev daemon are there (chroot, container).
dpkg-deb --control "$deb" "$scratch/control"
for path in "$PATH" /nonexistent; do
  PATH=$path /bin/sh "$scratch/control/postinst" configure >/dev/null 2>&1 ||
    fail "postinst failed ($([ "$path" = /nonexistent ] && echo without || echo with) udevadm)"
done

# dpkg on this machine accepts it: the dependencies are met and no file clashes.
if ! out=$(dpkg --dry-run --install "$deb" 2>&1); then
  fail "dpkg --dry-run --install refused it: $out"
fi

if [ "$failures" -ne 0 ]; then
  echo "package.deb: $failures failures"
  exit 1
fi
echo "package.deb: $(basename "$deb") ($(wc -l <"$scratch/contents") entries) passes"
