#!/bin/bash
# Wall time of `upgrade_fmu_super -u` for a 256 KiB image behind its 256-byte header (262,400 bytes) against
# the fmu-super simulator paced at 11,520 bytes/s (115200 baud) each way, fragment length 2048, instant erase;
# next to its floor: 15 s of mandated waits (restart pause and two drains) and every byte of both directions
# at line rate. The kept image is compared with the file. The best of RUNS runs is shown.
#
#   perf/fmu_super_wall_time.sh [BUILD_DIR (build/release)] [RUNS (3)]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
runs=${2:-3}
rate=11520
image=$((256 * 1024))
fragment=2048

# The sandbox has a /tmp of its own, so everything it needs lives in the build folder.
stage="$build/perf-stage"
work="$build/fmu-super-wall-time"
cmake --install "$build" --prefix "$stage" >/dev/null
mkdir -p "$work"
cd "$work"
{
    printf 'OrvoxPelicarnSmartSystem\x00\x04\x00\x00\x00\x01'
    head -c 226 /dev/zero
    head -c "$image" /dev/urandom
} >fmu.bin
size=$(stat -c %s fmu.bin)

# Both directions: two 41-byte restart requests, handshake and its answer (7 each), erase (13) and its answer
# (17), each fragment with its index (11 bytes of packet around it) and its answer (13), finish and answer (7).
fragments=$(((size + fragment - 1) / fragment))
bytes=$((2 * 41 + 2 * 7 + 13 + 17 + size + fragments * (11 + 13) + 2 * 7))
floor=$(awk -v b="$bytes" -v r="$rate" 'BEGIN { printf "%.2f", 15 + b / r }')

best=999
for _ in $(seq "$runs"); do
    rm -f kept.bin
    start=$(date +%s%N)
    "$stage/bin/tarn-bench" --sim fmu-super --knob "line-rate=$rate" --knob "fraglen=$fragment" \
        --knob "image=$work/kept.bin" --file fmu.bin -- upgrade_fmu_super -u fmu.bin >run.log 2>&1 ||
        { echo "upgrade_fmu_super failed, see $work/run.log" >&2; exit 1; }
    wall=$(awk -v s="$start" -v e="$(date +%s%N)" 'BEGIN { printf "%.2f", (e - s) / 1e9 }')
    cmp -s fmu.bin kept.bin || { echo "the simulator did not keep the file" >&2; exit 1; }
    best=$(awk -v a="$best" -v b="$wall" 'BEGIN { print (b < a ? b : a) }')
done
awk -v w="$best" -v f="$floor" -v b="$bytes" -v s="$size" \
    'BEGIN { printf "upgrade_fmu_super -u, %d-byte file: wall %.2f s, floor %.2f s (15 s + %d bytes at line rate), %.3fx\n", s, w, f, b, w / f }'
