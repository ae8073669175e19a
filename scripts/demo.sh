#!/usr/bin/env bash
# Builds tarn and the bench, installs them into build/demo-install and runs the bench demo, then the upgraders
# whose devices share the first serial line and the raw serial console, each in a scenario of its own.
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
# The second-generation flight controller's file: identity, image length 3000 (big-endian), type 1, the rest of
# the 256-byte header zero, then the image.
{
    printf 'OrvoxPelicarnSmartSystem\x00\x00\x0b\xb8\x00\x01'
    head -c 226 /dev/zero
    head -c 3000 /dev/urandom
} >"$work/fmu_super_demo.bin"

# One tool on its own aircraft: what it shows, the simulator (with its port, if not the usual one) and its
# knobs, the file the tool gets ("-" for none), then the tool and its arguments. A tool that runs until it is
# stopped gets limit=SECONDS in front.
step() {
    local explanation=$1 simulator=$2 file=$3
    shift 3
    local -a sim
    read -r -a sim <<<"$simulator"
    local -a bench_options=(--sim "${sim[0]}")
    for knob in "${sim[@]:1}"; do
        bench_options+=(--knob "$knob")
    done
    [[ $file == - ]] || bench_options+=(--file "$work/$file")
    [[ -z ${limit:-} ]] || bench_options+=(--time-limit "$limit")
    printf '\n### %s\n$ %s\n' "$explanation" "$*"
    local start status=0
    start=$(date +%s%3N)
    "$bench" "${bench_options[@]}" -- "$@" || status=$?
    printf '\n[exit status %d after %d ms]\n' "$status" $(($(date +%s%3N) - start))
}

step "The IMU behind the flight controller: flag, prepare, erase, the 1000-byte image in scrambled 240-byte \
blocks (the last one filled with zeros), application information, run, flag off." \
    imu-bootloader imu_demo.bin upgrade_imu imu_demo.bin
step "The remote-control module: jump into its bootloader, request, size and CRC-8, erase, the 500-byte image \
in frames of 240, 240 and 20 bytes, jump back to the application. Each frame waits for its acknowledgement." \
    rc-module rc_demo.bin upgrade_rc rc_demo.bin
step "The second-generation flight controller: restart into its bootloader, 5 s pause, drain, handshake, drain, \
erase (the bootloader names 1024-byte fragments), the 3256-byte file in four numbered fragments, finish, restart \
into the application. The mandated waits alone take 15 s." \
    "fmu-super fraglen=1024" fmu_super_demo.bin upgrade_fmu_super -u fmu_super_demo.bin
step "The battery behind the second-generation flight controller: its firmware version, asked through the \
pass-through flag (tarn-ops runs the library operations no tool calls)." \
    fmu-super - tarn-ops bms_getVer
limit=2 step "The raw serial console on a microcontroller that prints two log lines, then is quiet for 400 ms, \
over and over: each burst is one group of bytes, stamped with the time of day. The console runs until it is \
stopped (here after 2 s, so its status is 128 + SIGTERM)." \
    "mcu-log:1 burst=32 pause=400" - uart_debug -p 1 -r
