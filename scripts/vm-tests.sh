#!/usr/bin/env bash
# Runs the flash and partition scenarios of the integration suite in a VM, on the kernel's own MTD layer over
# its NAND simulator instead of the bench's fake driver (scripts/vm/run.sh boots it). The same tests, the same
# expectations: the fixture loads the simulator with each board's table (TARN_TEST_NANDSIM) and the fake
# driver passes every request on to the kernel, adding only its faults and journal. The serial tests among them
# (the flight controller's upgrade, the lens console) run over two of the kernel's 8250 UARTs wired together.
#   scripts/vm-tests.sh [BUILD_DIR] [GTEST_FILTER]
# BUILD_DIR is a host build with its stage installed (default build/release).
set -euo pipefail
cd "$(dirname "$0")/.."

build=$(realpath "${1:-build/release}")
filter=${2:-FakeMtdTest.*:FlashModuleTest.*:UenvToolTest.*:BinmergeTest.*:UpgradeHi3519Test.*:UpgradeDm368Test.*:UpgradeFmuTest.ProgramsA120Byte*:UpgradeFmuTest.CrcMismatch*:UpgradeFmuTest.LineHeld*:LensDebugTest.*}
tests=${build}/tests/tarn_integration_tests
if [ ! -x "${tests}" ] || [ ! -x "${build}/stage/bin/tarn" ]; then
    echo "vm-tests.sh: ${tests} or ${build}/stage/bin/tarn missing (build and stage ${build} first)" >&2
    exit 2
fi
# The other projects' MTD and environment tools the tests check against.
host_tools=()
for tool in mtd_debug mkenvimage fw_printenv fw_setenv nandwrite; do
    path=$(command -v "${tool}" || true)
    [ -z "${path}" ] || host_tools+=(--copy "${path}")
done
exec scripts/vm/run.sh --timeout "${TARN_VM_TIMEOUT:-600}" --copy "${build}/stage" --copy "${tests}" \
    --copy "${build}/tests/tarn_flash_probe" \
    "${host_tools[@]}" --env TARN_TEST_NANDSIM=/lib/modules/nandsim.ko \
    --wire 1=2 --env TARN_TEST_UARTS=/dev/ttyS2,/dev/ttyS1 -- \
    "${tests}" --gtest_filter="${filter}" --gtest_brief=1
