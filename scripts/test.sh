#!/usr/bin/env bash
# Builds and runs every test: the Release suite, then the AddressSanitizer + UndefinedBehaviorSanitizer suite.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
for preset in release asan; do
    echo "=== ${preset}: build"
    cmake --preset "${preset}" >/dev/null
    cmake --build --preset "${preset}" -j "${jobs}"
    echo "=== ${preset}: tests"
    ctest --preset "${preset}"
done
