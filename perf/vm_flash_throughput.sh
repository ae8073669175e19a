#!/bin/bash
# Throughput of a 60 MiB appfs write on the kernel's own MTD layer, in the VM (scripts/vm/run.sh) over its
# NAND simulator with the hi3519 table: the page writer (erase, every page written, read back and compared)
# and a plain positioned-write loop (tarn_perf's Appfs benchmarks), then the system's `nandwrite` (no read-back)
# of the same image into the same erased partition. One VM run, so every figure comes from the same device.
#
#   perf/vm_flash_throughput.sh [BUILD_DIR (build/release)]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
for tool in nandwrite flash_erase; do
    command -v "${tool}" >/dev/null || { echo "${tool} not found (Debian's mtd-utils)" >&2; exit 2; }
done
[ -x "${build}/perf/tarn_perf" ] || { echo "${build}/perf/tarn_perf missing: build it first" >&2; exit 2; }

# In the guest: the benchmarks make their own image and remove it; nandwrite writes a random 60 MiB image made
# in the working directory (a tmpfs). The clock is /proc/uptime's, in hundredths of a second.
guest=$(
    cat <<'GUEST'
set -e
insmod /lib/modules/nandsim.ko id_bytes=0x20,0xda,0x00,0x15 parts=8,80,400,480,80,400,480,120
"$TARN_PERF" --benchmark_filter=FlashAppfs --benchmark_min_time=2 2>&1 | grep '^BM_'
size=$((60 * 1024 * 1024))
head -c "${size}" /dev/urandom >appfs.img
best=0
for run in 1 2 3; do
    flash_erase -q /dev/mtd6 0 0
    start=$(tr -d . </proc/uptime | cut -d' ' -f1)
    nandwrite -q /dev/mtd6 appfs.img
    end=$(tr -d . </proc/uptime | cut -d' ' -f1)
    echo "nandwrite run ${run}: $(( (end - start) * 10 )) ms, $(( size / 10000 / (end - start) )) MB/s"
done
GUEST
)
exec "${root}/scripts/vm/run.sh" --timeout 900 --memory 1024 --copy "${build}/perf/tarn_perf" \
    --copy "$(command -v nandwrite)" --copy "$(command -v flash_erase)" \
    --env "TARN_PERF=${build}/perf/tarn_perf" -- sh -c "${guest}"
