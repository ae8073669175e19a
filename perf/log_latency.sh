#!/bin/bash
# Latency from a byte's arrival to the recorder's file, median and worst, for dlogger (the kernel log device)
# and mcu_dlogger (a serial line at 11520 bytes/s), each on the bench with a card: tarn_log_latency samples the
# source's count and the file's size every millisecond. The machine may be shared: run it a few times.
#
#   perf/log_latency.sh [BUILD_DIR (build/release)] [SECONDS (20)]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
seconds=${2:-20}

# The sandbox has a /tmp of its own, so everything it needs lives in the build folder.
stage="$build/perf-stage"
work="$build/log-latency"
cmake --build "$build" --target tarn_log_latency >/dev/null
cmake --install "$build" --prefix "$stage" >/dev/null
rm -rf "$work"
mkdir -p "$work"
"$build/perf/tarn_log_latency" "$stage" "$work" "$seconds"
rm -rf "$work"
