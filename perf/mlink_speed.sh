#!/bin/bash
# Speed of the mlink consoles against the bench's gimbal board and lens, both paced at 115200 baud both ways:
# `xtb_debug -g 1`, forty gets in one xtb_debug run, a 64 KiB gimbal-part upgrade and a 64 KiB lens upgrade,
# each next to its floor (every byte both ways at 11,520 B/s; these exchanges have no pauses of their own).
# The times run from the tool's first byte on the line to its end, so the tool's start is not in them. The
# figures come from the integration tests that bound them; this runs just those, in one process.
#
#   perf/mlink_speed.sh [BUILD_DIR (build/release)]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)

# The tests run the install staged in the build folder, as ctest's fixture lays it out.
cmake --install "$build" --prefix "$build/stage" >/dev/null
"$build/tests/tarn_integration_tests" \
    --gtest_filter='XtbLineRateSlow.*:LensUpgradeSlow.*' |
    grep -E 'at 115200 baud|FAILED|PASSED'
