#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine (as root) and fetches the
# pugixml source for the Windows build. Idempotent: a machine that has everything returns at once.
#
# Packages come in sets. The required set (the build of everything shipped, the native tests)
# must install: a failure ends setup with one line naming the package and apt's reason. An
# optional set may fail: setup warns, goes on, and writes what it skipped to build/setup.skipped,
# which ./run repeats in its summary. A package mirror that is being synced fails some index
# downloads for an hour or more, so `apt-get update` is retried and then taken as a warning: what
# can still be installed is installed.
#
# For the test of this script (tests/setup): PENDANT_SETUP_TOP (the checkout), PENDANT_APT_ETC
# (/etc/apt), PENDANT_SETUP_TRIES (3) and PENDANT_SETUP_PAUSE (seconds between tries, 5).
set -euo pipefail

top=${PENDANT_SETUP_TOP:-$(cd "$(dirname "$0")/.." && pwd)}
apt_etc=${PENDANT_APT_ETC:-/etc/apt}
tries=${PENDANT_SETUP_TRIES:-3}
pause=${PENDANT_SETUP_PAUSE:-5}
third_party=$top/third_party
skipped_file=$top/build/setup.skipped

required=(
  g++ cmake make ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libpugixml-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine wine64 xvfb xauth dpkg-dev
  clang libclang-rt-14-dev clang-format clang-tidy
)

# Optional sets, one per line: "label|what the tests do without it|packages...".
optional_sets=(
  "32-bit Wine|the Wine tests run the x86_64 build under 64-bit Wine; the shipped i686 DLL is still built and checked|wine32:i386"
  "Linux pendant bus|the virtual pendant over FUSE and the Linux bus's tests are skipped|libudev-dev fuse3 libfuse3-dev"
  "LinuxCNC|the LinuxCNC machine test is skipped and the example cannot be run|linuxcnc-uspace linuxcnc-uspace-dev python3 imagemagick"
  "valgrind|the poll's instruction count (bench.poll_cost) is skipped|valgrind"
)

export DEBIAN_FRONTEND=noninteractive
skipped=()

have_package() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed$'
}

missing_of() {
  local p
  for p in "$@"; do have_package "$p" || echo "$p"; done
}

# apt's reason for a failure in one line: its first error, with the first unmet dependency.
apt_reason() {
  local out=$1 error detail
  error=$(grep -m1 -E '^E: ' <<<"$out" | sed -E 's/^E: //' || true)
  detail=$(grep -m1 -E ' : (Depends|PreDepends|Conflicts|Breaks):' <<<"$out" |
    sed -E 's/^ +//; s/ +$//' || true)
  [ -n "$error" ] || error=$(grep -v '^ *$' <<<"$out" | tail -n 1)
  [ -n "$error" ] || error="apt-get failed without a message"
  if [ -n "$detail" ]; then echo "$error ($detail)"; else echo "$error"; fi
}

updated=0
apt_update() {
  [ $updated -eq 0 ] || return 0
  updated=1
  local try out=
  for ((try = 1; try <= tries; try++)); do
    if out=$(apt-get update -qq 2>&1); then return 0; fi
    if [ "$try" -lt "$tries" ]; then
      echo "setup: apt-get update failed (try $try of $tries), trying again in ${pause} s"
      sleep "$pause"
    fi
  done
  echo "setup: warning: apt-get update failed $tries times; going on with the package lists" \
    "that did download: $(apt_reason "$out")"
}

# Installs the packages in one go, else one by one; prints "PACKAGE<TAB>REASON" for each that
# does not install.
install_packages() {
  local out p
  out=$(apt-get install -y -qq --no-install-recommends "$@" 2>&1) && return 0
  for p in "$@"; do
    have_package "$p" && continue
    out=$(apt-get install -y -qq --no-install-recommends "$p" 2>&1) ||
      printf '%s\t%s\n' "$p" "$(apt_reason "$out")"
  done
}

# The 32-bit Wine set needs the i386 architecture; its packages come with the next update.
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386

mapfile -t missing < <(missing_of "${required[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt_update
  failures=$(install_packages "${missing[@]}")
  if [ -n "$failures" ]; then
    IFS=$'\t' read -r p reason <<<"$(head -n 1 <<<"$failures")"
    echo "setup: cannot install $p, which the build needs: $reason" >&2
    exit 1
  fi
fi

for set in "${optional_sets[@]}"; do
  IFS='|' read -r label without packages <<<"$set"
  read -r -a packages <<<"$packages"
  mapfile -t missing < <(missing_of "${packages[@]}")
  [ ${#missing[@]} -gt 0 ] || continue
  echo "setup: installing ${missing[*]} ($label)"
  apt_update
  failures=$(install_packages "${missing[@]}")
  [ -n "$failures" ] || continue
  while IFS=$'\t' read -r p reason; do
    echo "setup: warning: cannot install $p ($label): $reason"
    skipped+=("$label: $p not installed ($reason); $without")
  done <<<"$failures"
done

mkdir -p "$top/build"
if [ ${#skipped[@]} -gt 0 ]; then
  printf '%s\n' "${skipped[@]}" >"$skipped_file"
else
  rm -f "$skipped_file"
fi

# The source entries are derived from this machine's own apt configuration, so no archive
# address is ever written into the repository.
add_source_entries() {
  local out=$apt_etc/sources.list.d/pendant-build-src.sources
  local list=$apt_etc/sources.list.d/pendant-build-src.list
  [ -f "$out" ] || [ -f "$list" ] && return 0
  local f
  : >"$out.tmp"
  for f in "$apt_etc"/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    case "$f" in *pendant-build-src*) continue ;; esac
    sed -e 's/^Types:.*/Types: deb-src/' "$f" >>"$out.tmp"
    echo >>"$out.tmp"
  done
  if [ -s "$out.tmp" ]; then mv "$out.tmp" "$out"; else rm -f "$out.tmp"; fi
  if [ -f "$apt_etc/sources.list" ] && grep -q '^deb ' "$apt_etc/sources.list"; then
    grep '^deb ' "$apt_etc/sources.list" | sed -e 's/^deb /deb-src /' >"$list"
  fi
  updated=0
  apt_update
}

version=$(dpkg-query -W -f='${source:Version}' libpugixml-dev)
upstream=${version%-*}
upstream=${upstream#*:}
stamp="$third_party/pugixml.version"
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$version" ]; then
  add_source_entries
  rm -rf "$third_party/pugixml" "$third_party/fetch"
  mkdir -p "$third_party/fetch"
  if ! out=$(cd "$third_party/fetch" && apt-get source -qq "pugixml=$version" 2>&1); then
    echo "setup: cannot fetch the pugixml $upstream source, which the Windows build needs:" \
      "$(apt_reason "$out")" >&2
    exit 1
  fi
  src=$(find "$third_party/fetch" -maxdepth 1 -mindepth 1 -type d -name 'pugixml-*' | head -n 1)
  [ -n "$src" ] && [ -f "$src/src/pugixml.cpp" ] || {
    echo "setup: cannot fetch the pugixml $upstream source, which the Windows build needs:" \
      "no src/pugixml.cpp in what apt-get source unpacked" >&2
    exit 1
  }
  mv "$src" "$third_party/pugixml"
  rm -rf "$third_party/fetch"
  echo "$version" >"$stamp"
  echo "setup: pugixml $upstream source in third_party/pugixml"
fi
