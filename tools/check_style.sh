#!/usr/bin/env bash
# The project's style stays followed:
#   ./tools/check_style.sh format            clang-format --dry-run over every C++ file
#   ./tools/check_style.sh tidy BUILD_DIR     clang-tidy over the portable and simulation sources
#                                             changed against main (or in the last commit when
#                                             there is no main to compare with), using the compile
#                                             database of BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."

cxx_files() {
  git ls-files -co --exclude-standard -- 'src/*.h' 'src/*.cpp' 'tests/*.h' 'tests/*.cpp' \
    'tools/*.h' 'tools/*.cpp' 'include/*.h' | grep -v '^third_party/' || true
}

case ${1:-} in
  format)
    mapfile -t files < <(cxx_files)
    clang-format --dry-run -Werror "${files[@]}"
    echo "format: ${#files[@]} files follow .clang-format"
    ;;
  tidy)
    build=${2:?usage: check_style.sh tidy BUILD_DIR}
    [ -f "$build/compile_commands.json" ] || { echo "tidy: no $build/compile_commands.json" >&2; exit 1; }
    if ! git rev-parse -q --verify HEAD >/dev/null 2>&1; then
      echo "tidy: not a git checkout, nothing to compare with"
      exit 0
    fi
    base=$(git merge-base HEAD main 2>/dev/null || true)
    if [ -z "$base" ] || [ "$base" = "$(git rev-parse HEAD)" ]; then
      base=HEAD~1
      git rev-parse -q --verify "$base" >/dev/null || { echo "tidy: no earlier commit"; exit 0; }
    fi
    # The Win32 sources are not in the native compile database.
    mapfile -t files < <(git diff --name-only --diff-filter=AMR "$base" -- 'src/*.cpp' |
      grep -v '^src/platform/win32/' | while read -r f; do [ -f "$f" ] && echo "$f"; done)
    if [ "${#files[@]}" -eq 0 ]; then
      echo "tidy: no changed sources"
      exit 0
    fi
    printf '%s\n' "${files[@]}" |
      xargs -P "${PENDANT_JOBS:-2}" -n 4 clang-tidy -p "$build" --quiet --warnings-as-errors='*' \
        2>/dev/null
    echo "tidy: ${#files[@]} changed sources clean"
    ;;
  *)
    echo "usage: check_style.sh format | tidy BUILD_DIR" >&2
    exit 2
    ;;
esac
