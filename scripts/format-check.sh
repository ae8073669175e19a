#!/usr/bin/env bash
# clang-format over every C++ source and header of the tree (product, bench, tests): lists what is wrong and
# fails, changes nothing. The tracked files in a git checkout, otherwise every source under the tree's folders.
set -euo pipefail
cd "$(dirname "$0")/.."

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t sources < <(git ls-files '*.cpp' '*.h')
else
    mapfile -t sources < <(find code bench tests perf -type f \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null | sort)
fi
clang-format --dry-run --Werror "${sources[@]}"
echo "clang-format: ${#sources[@]} files clean"
