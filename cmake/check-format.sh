#!/usr/bin/env bash
# Checks that every C and C++ file git tracks follows .clang-format, and names
# each one that drifts with the first lines of its difference.  Exits non-zero
# if any does.  `cmake/check-format.sh --fix` reformats them in place instead.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
clang_format=${CLANG_FORMAT:-clang-format}
if ! command -v "$clang_format" >/dev/null; then
    echo "$0: $clang_format not found" >&2
    exit 2
fi

mapfile -t files < <(git ls-files '*.c' '*.h' '*.cpp' '*.hpp')
if [ "${1:-}" = --fix ]; then
    "$clang_format" -i "${files[@]}"
    exit 0
fi

drift=0
for f in "${files[@]}"; do
    if ! "$clang_format" "$f" | cmp -s - "$f"; then
        echo "$f drifts from .clang-format:"
        "$clang_format" "$f" | diff "$f" - | head -n 12 | sed 's/^/  /' || true
        drift=$((drift + 1))
    fi
done
if [ "$drift" -ne 0 ]; then
    echo "clang-format: $drift of ${#files[@]} files drift (cmake/check-format.sh --fix mends them)"
    exit 1
fi
echo "clang-format: all ${#files[@]} files follow .clang-format"
