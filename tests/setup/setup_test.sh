#!/usr/bin/env bash
# tools/setup.sh against a stub apt-get, dpkg and dpkg-query on the PATH: a mirror that is being
# synced (every update fails, the 32-bit Wine package cannot be installed), a required package
# that cannot be installed, a healthy mirror, and a machine that has everything.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
setup=$here/../../tools/setup.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL [$scenario]: $*"
  failures=$((failures + 1))
}

# The stubs keep the installed packages in $STUB/installed and log every call in $STUB/calls.
mkdir -p "$work/bin"
cat >"$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "apt-get $*" >>"$STUB/calls"
case $1 in
  update)
    if [ -n "${STUB_UPDATE_FAILS:-}" ]; then
      echo "E: Failed to fetch http://mirror/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100
    fi
    exit 0 ;;
  install)
    shift
    pkgs=()
    for a in "$@"; do case $a in -*) ;; *) pkgs+=("$a") ;; esac; done
    for p in "${pkgs[@]}"; do
      if grep -qx "$p" <<<"${STUB_BROKEN:-}"; then
        echo "Some packages could not be installed."
        echo "The following packages have unmet dependencies:"
        echo " $p : Depends: libfoo:i386 (= 8.0) but 8.0+deb12u1 is to be installed"
        echo "E: Unable to correct problems, you have held broken packages."
        exit 100
      fi
      if grep -qx "$p" <<<"${STUB_UNKNOWN:-}"; then
        echo "E: Unable to locate package $p"
        exit 100
      fi
    done
    printf '%s\n' "${pkgs[@]}" >>"$STUB/installed"
    exit 0 ;;
  source)
    mkdir -p pugixml-1.13/src && touch pugixml-1.13/src/pugixml.cpp
    exit 0 ;;
esac
exit 0
STUB
cat >"$work/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
pkg=${*: -1}
case $* in
  *source:Version*) echo "1.13-3" ;;
  *) grep -qx "$pkg" "$STUB/installed" 2>/dev/null && echo "install ok installed" || exit 1 ;;
esac
STUB
cat >"$work/bin/dpkg" <<'STUB'
#!/usr/bin/env bash
echo "dpkg $*" >>"$STUB/calls"
[ "$1" = --print-foreign-architectures ] && [ -f "$STUB/i386" ] && echo i386
[ "$1" = --add-architecture ] && touch "$STUB/i386"
exit 0
STUB
chmod +x "$work/bin"/*

# Runs setup.sh in a fresh scenario folder; sets $out, $err and $rc.
run_setup() {
  scenario=$1
  shift
  export STUB=$work/$scenario
  mkdir -p "$STUB/top" "$STUB/etc/sources.list.d"
  : >"$STUB/installed"
  : >"$STUB/calls"
  echo "Types: deb" >"$STUB/etc/sources.list.d/debian.sources"
  env "$@" PATH="$work/bin:$PATH" PENDANT_SETUP_TOP="$STUB/top" PENDANT_APT_ETC="$STUB/etc" \
    PENDANT_SETUP_PAUSE=0 bash "$setup" >"$STUB/out" 2>"$STUB/err"
  rc=$?
  out=$(cat "$STUB/out")
  err=$(cat "$STUB/err")
}
updates() { grep -c '^apt-get update' "$STUB/calls"; }
installed() { grep -qx "$1" "$STUB/installed"; }

run_setup mirror-mid-sync STUB_UPDATE_FAILS=1 STUB_BROKEN=wine32:i386
[ $rc -eq 0 ] || fail "setup ended with $rc: $err"
[ "$(updates)" -ge 3 ] || fail "apt-get update was not retried: $(updates) calls"
grep -q '^setup: warning: apt-get update failed 3 times' <<<"$out" || fail "no update warning"
grep -q '^setup: warning: cannot install wine32:i386 (32-bit Wine): Unable to correct problems, you have held broken packages. (wine32:i386 : Depends: libfoo:i386' <<<"$out" ||
  fail "no warning naming wine32:i386 and apt's reason: $out"
installed g++ && installed wine64 && installed clang || fail "required packages not installed"
installed wine32:i386 && fail "wine32:i386 counted as installed"
grep -q '^32-bit Wine: wine32:i386 not installed .*64-bit Wine' "$STUB/top/build/setup.skipped" ||
  fail "build/setup.skipped does not say what was skipped"
[ -f "$STUB/top/third_party/pugixml/src/pugixml.cpp" ] || fail "pugixml source not fetched"

run_setup required-missing STUB_UNKNOWN=libgtest-dev
[ $rc -ne 0 ] || fail "setup succeeded without libgtest-dev"
[ "$err" = "setup: cannot install libgtest-dev, which the build needs: Unable to locate package libgtest-dev" ] ||
  fail "not one clear line naming the package: $err"

run_setup healthy
[ $rc -eq 0 ] || fail "setup ended with $rc: $err"
[ "$(updates)" -ge 1 ] || fail "no apt-get update"
grep -q 'warning' <<<"$out" && fail "warnings on a healthy mirror: $out"
[ -f "$STUB/top/build/setup.skipped" ] && fail "setup.skipped written on a healthy mirror"
installed wine32:i386 || fail "wine32:i386 not installed"

# The same scenario again: everything is there, so apt-get is not called at all.
: >"$STUB/calls"
env PATH="$work/bin:$PATH" PENDANT_SETUP_TOP="$STUB/top" PENDANT_APT_ETC="$STUB/etc" \
  bash "$setup" >"$STUB/out" 2>&1 || fail "second run failed: $(cat "$STUB/out")"
grep -q '^apt-get' "$STUB/calls" && fail "apt-get called on a machine that has everything"

if [ $failures -eq 0 ]; then
  echo "setup: 4 scenarios passed"
else
  exit 1
fi
