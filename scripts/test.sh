#!/usr/bin/env bash
# Builds and runs every test:
#   1. the Release suite (unit and integration tests on the bench);
#   2. the same suite built with AddressSanitizer + UndefinedBehaviorSanitizer;
#   3. the unit tests built with ThreadSanitizer (threads, locks, FIFO, device links);
#   4. the integration suite against the static AArch64 bench-board binary, run under qemu-user;
#   5. every fuzz target for about 20 s from its seeds (scripts/fuzz.sh; clang, libFuzzer).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh g++-aarch64-linux-gnu qemu-user-static

jobs=$(nproc)
build() {
    echo "=== $1: build"
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" -j "${jobs}"
}

for preset in release asan; do
    build "${preset}"
    echo "=== ${preset}: tests"
    ctest --preset "${preset}"
done

build tsan
echo "=== tsan: unit tests"
ctest --preset tsan -L unit

build aarch64-bench
stage="${PWD}/build/aarch64-bench/stage"
cmake --install build/aarch64-bench --prefix "${stage}" >/dev/null
echo "=== aarch64-bench under qemu-user: integration tests"
TARN_TEST_PREFIX="${stage}" TARN_TEST_RUNNER=qemu-aarch64-static ctest --preset release -L integration

# Fuzz stage: its own build (build/fuzz, clang) and its own packages, both handled by the script.
echo "=== fuzz: every target"
scripts/fuzz.sh
