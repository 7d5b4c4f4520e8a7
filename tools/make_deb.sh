#!/usr/bin/env bash
# tools/make_deb.sh PROGRAM OUTDIR
# Writes OUTDIR/pendant-linuxcnc_<version>_<arch>.deb from the built LinuxCNC component PROGRAM,
# laid out as LinuxCNC's own packages are, and prints its path. The version is the plug-in's
# (src/host_windows/version.h), so the zip and the .deb of one build carry the same number.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: tools/make_deb.sh PROGRAM OUTDIR" >&2; exit 2; }
program=$1
outdir=$2
top=$(cd "$(dirname "$0")/.." && pwd)
[ -x "$program" ] || { echo "make_deb: $program is not a program" >&2; exit 1; }

version=$(sed -nE 's/^#define PENDANT_VERSION_TEXT "([0-9.]+)"$/\1/p' "$top/src/host_windows/version.h")
[ -n "$version" ] || { echo "make_deb: no version in src/host_windows/version.h" >&2; exit 1; }
arch=$(dpkg --print-architecture)
name=pendant-linuxcnc
deb=$outdir/${name}_${version}_${arch}.deb

mkdir -p "$outdir"
work=$(mktemp -d "$outdir/.deb-XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
doc=$root/usr/share/doc/$name
# umask keeps the directories at 0755 whatever the caller's.
umask 022
mkdir -p "$root/DEBIAN" "$root/usr/bin" "$root/lib/udev/rules.d" "$doc/examples"

install -m 0755 "$program" "$root/usr/bin/pendant"
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$root/usr/bin/pendant"
install -m 0644 "$top/packaging/linux/60-pendant.rules" "$root/lib/udev/rules.d/"
install -m 0644 "$top"/examples/linuxcnc/* "$doc/examples/"
install -m 0644 "$top/docs/linuxcnc_guide.txt" "$top/packaging/linux/copyright" "$doc/"

# The libraries the program loads, as package dependencies. dpkg-shlibdeps wants a source tree
# around it; LinuxCNC ships no shlibs file for its HAL and INI libraries, so their package is
# named below instead, and a library it cannot place is left to that Depends as well.
mkdir -p "$work/src/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$name" "$name" >"$work/src/debian/control"
shlibs=$(cd "$work/src" && dpkg-shlibdeps -O --ignore-missing-info --warnings=0 \
  "$root/usr/bin/pendant" 2>/dev/null | sed -nE 's/^shlibs:Depends=//p') || shlibs=
if [ -z "$shlibs" ]; then
  shlibs="libc6, libgcc-s1, libstdc++6, libudev1"
fi
# Named once, first; with the version dpkg-shlibdeps gives it when it knows the package.
case ", $shlibs," in
  *", linuxcnc-uspace "* | *", linuxcnc-uspace,"*) depends=$shlibs ;;
  *) depends="linuxcnc-uspace, $shlibs" ;;
esac

size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
cat >"$root/DEBIAN/control" <<EOF
Package: $name
Version: $version
Architecture: $arch
Maintainer: The pendant driver's developers <maintainers@users.noreply.c-seed-1648dc88.example>
Installed-Size: $size
Depends: $depends
Section: misc
Priority: optional
Description: LinuxCNC userspace HAL component for the USB jog pendant
 The "pendant" component reads the hand-held USB jog pendant (04d8:fce4) through
 hidraw and drives LinuxCNC through HAL pins: wheel stepping and velocity jogging,
 the feed and spindle override knobs, function-button actions, the pendant's lamps
 and its safety input into the E-stop chain. Includes a udev rule giving the group
 plugdev and the user at the machine access to the pendant as /dev/pendant, and an
 example configuration. "pendant --monitor" checks the pendant without LinuxCNC.
EOF

# Only a running udev picks up the new rule; in a chroot or container there is none to tell.
cat >"$root/DEBIAN/postinst" <<'EOF'
#!/bin/sh
set -e
if [ "$1" = configure ] && command -v udevadm >/dev/null 2>&1 && [ -S /run/udev/control ]; then
  udevadm control --reload-rules || true
  udevadm trigger --subsystem-match=hidraw || true
fi
exit 0
EOF
chmod 0755 "$root/DEBIAN/postinst"
chmod 0644 "$root/DEBIAN/control"

rm -f "$deb"
dpkg-deb --build --root-owner-group -Zxz "$root" "$deb" >/dev/null
echo "$deb"
