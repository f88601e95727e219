#!/usr/bin/env bash
# Formats the project's C++ sources with the root .clang-format.
#   tools/format.sh           rewrites every file that is not formatted
#   tools/format.sh --check   changes nothing; lists the unformatted files and fails if there are any
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "clang-format is missing (apt-get install clang-format)" >&2; exit 2; }
mapfile -t files < <(git ls-files -- '*.cpp' '*.hpp' '*.h')
if [ "${1:-}" = "--check" ]; then
    bad=()
    for f in "${files[@]}"; do
        clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
    done
    if [ ${#bad[@]} -gt 0 ]; then
        printf 'not formatted: %s\n' "${bad[@]}" >&2
        echo "run: bash tools/format.sh" >&2
        exit 1
    fi
    echo "all ${#files[@]} sources formatted"
    exit 0
fi
clang-format -i "${files[@]}"
