#!/bin/bash
# Throughput of a 60 MiB appfs write on the bench's fake flash. First the page writer (row erased, every page
# written, read back and compared) next to a plain loop without read-back (the same erase, one positioned
# write a page) in one process on the same device and driver (tarn_perf's Appfs benchmarks); then whole
# `upgrade_hi3519 -p` runs, process start and checks included. Every tool run starts from fresh flash
# images; the best of RUNS runs is shown. The machine may be shared: CPU seconds are the steadier figure.
#
#   perf/flash_write_throughput.sh [BUILD_DIR (build/release)] [RUNS (5)]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
runs=${2:-5}
size=$((60 * 1024 * 1024))

# The sandbox has a /tmp of its own, so everything it needs lives in the build folder.
stage="$build/perf-stage"
work="$build/flash-throughput"
cmake --install "$build" --prefix "$stage" >/dev/null
mkdir -p "$work"
cd "$work"
if [ ! -f appfs.img ] || [ "$(stat -c %s appfs.img)" -ne "$size" ]; then
    head -c "$size" /dev/urandom >appfs.img # no all-0xFF page: every page is programmed
fi
printf 'bootargs=mem=512M ubi.mtd=2\nbootpart=0\n' >env.txt

# One run on fresh images: prints "wall cpu" in seconds.
run() {
    rm -rf images
    "$stage/bin/tarn-bench" --flash hi3519 --images "$work/images" --cmdline "mem=512M ubi.mtd=2" --env env.txt \
        --file appfs.img -- /bin/bash -c "TIMEFORMAT='%R %U %S'; time { $1; } >/dev/null 2>&1" 2>&1 |
        awk 'NF == 3 && $1 ~ /^[0-9.]+$/ { printf "%.3f %.3f\n", $1, $2 + $3 }' | tail -n 1
    cmp -s appfs.img <(head -c "$size" images/mtd6.img) || echo "the image was not written whole: $1" >&2
}

measure() {
    local name=$1 command=$2 best_wall=999 best_cpu=999
    for _ in $(seq "$runs"); do
        read -r wall cpu < <(run "$command")
        best_wall=$(awk -v a="$best_wall" -v b="$wall" 'BEGIN { print (b < a ? b : a) }')
        best_cpu=$(awk -v a="$best_cpu" -v b="$cpu" 'BEGIN { print (b < a ? b : a) }')
    done
    awk -v n="$name" -v w="$best_wall" -v c="$best_cpu" -v s="$size" \
        'BEGIN { printf "%-34s wall %6.3f s %7.1f MB/s   cpu %6.3f s %7.1f MB/s\n", n, w, s / w / 1e6, c, s / c / 1e6 }'
}

rm -rf images
"$stage/bin/tarn-bench" --flash hi3519 --images "$work/images" -- "$build/perf/tarn_perf" \
    --benchmark_filter=FlashAppfs 2>&1 | grep '^BM_'
measure "upgrade_hi3519 -p, whole run" "$stage/bin/upgrade_hi3519 -p appfs.img"
