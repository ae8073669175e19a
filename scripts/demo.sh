#!/usr/bin/env bash
# Builds tarn and the bench, installs them into build/demo-install and runs the bench demo, then the upgraders
# whose devices share the first serial line, each in a scenario of its own.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
cmake --install build/release --prefix build/demo-install >/dev/null
bench=build/demo-install/bin/tarn-bench
"$bench" demo

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 1000 /dev/urandom >"$work/imu_demo.bin"
head -c 500 /dev/urandom >"$work/rc_demo.bin"

# One upgrader on its own aircraft: what it shows, the simulator on /dev/ttyS0, then the tool and its image.
step() {
    local explanation=$1 simulator=$2 tool=$3 image=$4
    printf '\n### %s\n$ %s %s\n' "$explanation" "$tool" "$image"
    local start status=0
    start=$(date +%s%3N)
    "$bench" --sim "$simulator" --file "$work/$image" -- "$tool" "$image" || status=$?
    printf '\n[exit status %d after %d ms]\n' "$status" $(($(date +%s%3N) - start))
}

step "The IMU behind the flight controller: flag, prepare, erase, the 1000-byte image in scrambled 240-byte \
blocks (the last one filled with zeros), application information, run, flag off." \
    imu-bootloader upgrade_imu imu_demo.bin
step "The remote-control module: jump into its bootloader, request, size and CRC-8, erase, the 500-byte image \
in frames of 240, 240 and 20 bytes, jump back to the application. Each frame waits for its acknowledgement." \
    rc-module upgrade_rc rc_demo.bin
