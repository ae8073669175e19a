#!/usr/bin/env bash
# clang-format and clang-tidy over the whole tree (product, bench, tests). Needs a configured build/release.
set -euo pipefail
cd "$(dirname "$0")/.."

[ -f build/release/compile_commands.json ] || cmake --preset release >/dev/null
scripts/format-check.sh
mapfile -t units < <(git ls-files 'code/*.cpp' 'bench/*.cpp')
clang-tidy --quiet -p build/release "${units[@]}"
