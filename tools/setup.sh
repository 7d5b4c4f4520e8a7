#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine (as root) and fetches the
# pugixml source for the Windows build. Idempotent: a machine that has everything returns at once.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
third_party="$top/third_party"

packages=(
  g++ cmake make ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libpugixml-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine wine32:i386 wine64 xvfb xauth dpkg-dev
  clang libclang-rt-14-dev clang-format clang-tidy
)

missing=()
have_package() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed$'
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  missing+=(i386-arch)
fi
for p in "${packages[@]}"; do
  have_package "$p" || missing+=("$p")
done

export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
fi

# The source entries are derived from this machine's own apt configuration, so no archive
# address is ever written into the repository.
add_source_entries() {
  local out=/etc/apt/sources.list.d/pendant-build-src.sources
  local list=/etc/apt/sources.list.d/pendant-build-src.list
  [ -f "$out" ] || [ -f "$list" ] && return 0
  local f
  : >"$out.tmp"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    case "$f" in *pendant-build-src*) continue ;; esac
    sed -e 's/^Types:.*/Types: deb-src/' "$f" >>"$out.tmp"
    echo >>"$out.tmp"
  done
  if [ -s "$out.tmp" ]; then mv "$out.tmp" "$out"; else rm -f "$out.tmp"; fi
  if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
    grep '^deb ' /etc/apt/sources.list | sed -e 's/^deb /deb-src /' >"$list"
  fi
  apt-get update -qq
}

version=$(dpkg-query -W -f='${source:Version}' libpugixml-dev)
upstream=${version%-*}
upstream=${upstream#*:}
stamp="$third_party/pugixml.version"
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$version" ]; then
  add_source_entries
  rm -rf "$third_party/pugixml" "$third_party/fetch"
  mkdir -p "$third_party/fetch"
  (cd "$third_party/fetch" && apt-get source -qq "pugixml=$version" >/dev/null 2>&1 ||
    apt-get source "pugixml=$version")
  src=$(find "$third_party/fetch" -maxdepth 1 -mindepth 1 -type d -name 'pugixml-*' | head -n 1)
  [ -f "$src/src/pugixml.cpp" ] || { echo "setup: pugixml source not found" >&2; exit 1; }
  mv "$src" "$third_party/pugixml"
  rm -rf "$third_party/fetch"
  echo "$version" >"$stamp"
  echo "setup: pugixml $upstream source in third_party/pugixml"
fi
