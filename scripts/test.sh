#!/usr/bin/env bash
# Builds and runs every test:
#   1. the format check (clang-format over the tracked sources);
#   2. the Release suite (unit and integration tests on the bench);
#   3. the same suite built with AddressSanitizer + UndefinedBehaviorSanitizer;
#   4. the unit tests built with ThreadSanitizer (threads, locks, FIFO, device links);
#   5. the integration suite against the static AArch64 bench-board binary, run under qemu-user. It needs the
#      cross compiler and qemu-user: a user who cannot install them gets the host stages and a note why this
#      one was skipped;
#   6. the flash and partition scenarios in a VM on the kernel's own MTD layer and NAND simulator
#      (scripts/vm-tests.sh; qemu-system-x86 and busybox-static), skipped likewise where they are missing;
#   7. every fuzz target for about 20 s from its seeds (scripts/fuzz.sh; clang with libFuzzer), skipped likewise
#      where clang's fuzzer runtime is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh clang-format --optional g++-aarch64-linux-gnu qemu-user-static qemu-system-x86 busybox-static

jobs=$(nproc)
# build PRESET [TARGET]: configures and builds the preset, all of it or one target.
build() {
    echo "=== $1: build"
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" -j "${jobs}" ${2:+--target "$2"}
}

# --- format: before anything is built, so a badly formatted change fails in seconds ---
echo "=== format: clang-format --dry-run --Werror"
scripts/format-check.sh

# --- host suites ---
for preset in release asan; do
    build "${preset}"
    echo "=== ${preset}: tests"
    ctest --preset "${preset}"
done

# --- ThreadSanitizer: the unit tests only, so only their program is built ---
build tsan tarn_unit_tests
echo "=== tsan: unit tests"
ctest --preset tsan -L unit

# --- AArch64 bench board under qemu-user (skipped, saying why, without the cross tools) ---
missing=""
command -v aarch64-linux-gnu-g++ >/dev/null || missing+="${missing:+, }aarch64-linux-gnu-g++ (g++-aarch64-linux-gnu)"
command -v qemu-aarch64-static >/dev/null || missing+="${missing:+, }qemu-aarch64-static (qemu-user-static)"
if [ -n "${missing}" ]; then
    echo "=== aarch64-bench under qemu-user: SKIPPED: ${missing} not found (as root, scripts/test.sh installs them)"
else
    build aarch64-bench
    stage="${PWD}/build/aarch64-bench/stage"
    cmake --install build/aarch64-bench --prefix "${stage}" >/dev/null
    echo "=== aarch64-bench under qemu-user: integration tests"
    TARN_TEST_PREFIX="${stage}" TARN_TEST_RUNNER=qemu-aarch64-static ctest --preset release -L integration
fi

# --- The kernel's MTD layer in a VM (skipped, saying why, without qemu, busybox-static or the kernel package) ---
missing=""
command -v qemu-system-x86_64 >/dev/null || missing+="${missing:+, }qemu-system-x86_64 (qemu-system-x86)"
[ -x /bin/busybox ] && ! ldd /bin/busybox >/dev/null 2>&1 || missing+="${missing:+, }a static busybox (busybox-static)"
if [ -n "${missing}" ]; then
    echo "=== vm: SKIPPED: ${missing} not found (as root, scripts/test.sh installs them)"
elif ! kernel_error=$(scripts/vm/kernel.sh 2>&1 >/dev/null); then
    echo "=== vm: SKIPPED: no guest kernel: ${kernel_error}"
else
    cmake --install build/release --prefix build/release/stage >/dev/null
    echo "=== vm: flash and partition scenarios on the kernel's NAND simulator"
    scripts/vm-tests.sh build/release
    echo "=== vm: tarn-bench --vm prints what the sandbox prints"
    bench=(build/release/stage/bin/tarn-bench --flash dm368 --bad-block 5 --env scripts/vm/environment.txt --)
    sandboxed=$("${bench[@]}" priuenv 2>&1)
    virtual=$(build/release/stage/bin/tarn-bench --vm "${bench[@]:1}" priuenv 2>&1)
    if [ "${sandboxed}" != "${virtual}" ]; then
        diff <(echo "${sandboxed}") <(echo "${virtual}") || true
        echo "tarn-bench --vm printed otherwise than the sandbox" >&2
        exit 1
    fi
fi

# --- Fuzz stage: its own build (build/fuzz, clang); skipped, saying why, without clang's fuzzer runtime ---
scripts/install-deps.sh --optional clang libclang-rt-14-dev
if ! command -v clang++ >/dev/null || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "install ok installed"; then
    echo "=== fuzz: SKIPPED: clang++ or libclang-rt-14-dev (libFuzzer) not found (as root, scripts/test.sh installs them)"
else
    echo "=== fuzz: every target"
    scripts/fuzz.sh
fi
