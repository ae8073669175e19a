#!/usr/bin/env bash
# Shows that the suite does not flake: builds each preset, keeps every core busy with a load generator, and
# runs the tests that are not labelled slow ten times in a row (each test until its first failure) under that
# load. The ThreadSanitizer build runs its unit tests only, as the test command does. It takes long, so it is
# not part of scripts/test.sh.
#
#   scripts/flake-check.sh [PRESET...]     presets: release asan tsan (the default is all three)
#
# The load: stress-ng's CPU workers when stress-ng is installed, otherwise one busy shell loop per core, at the
# tests' own priority (nice 0). Each preset runs at its own test parallelism from CMakePresets.json: 16 for
# Release, 8 for the sanitizer builds, whose processes are several times heavier and whose receive threads must
# still meet the devices' real-time answers. Logs: build/flake-check/<preset>.log.
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(release asan tsan)
repeats=10
cores=$(nproc)
logs=build/flake-check
mkdir -p "${logs}"

load_pids=()
stop_load() {
    local pid
    for pid in "${load_pids[@]}"; do
        kill "${pid}" 2>/dev/null || true
    done
    for pid in "${load_pids[@]}"; do
        wait "${pid}" 2>/dev/null || true
    done
    load_pids=()
}
trap stop_load EXIT
trap 'exit 130' INT TERM HUP

start_load() {
    if command -v stress-ng >/dev/null; then
        nice -n 0 stress-ng --cpu "${cores}" --timeout 0 --quiet &
        load_pids+=($!)
        load="stress-ng --cpu ${cores}"
    else
        local core
        for ((core = 0; core < cores; ++core)); do
            nice -n 0 bash -c 'while :; do :; done' &
            load_pids+=($!)
        done
        load="${cores} busy shell loops (nice 0)"
    fi
}

for preset in "${presets[@]}"; do
    echo "=== ${preset}: build"
    cmake --preset "${preset}" >/dev/null
    if [ "${preset}" = tsan ]; then
        cmake --build --preset tsan -j "${cores}" --target tarn_unit_tests
    else
        cmake --build --preset "${preset}" -j "${cores}"
    fi
done

start_load
echo "=== load: ${load}; load average $(cut -d' ' -f1-3 /proc/loadavg)"

summary=()
failed=0
for preset in "${presets[@]}"; do
    selection=(-LE slow)
    [ "${preset}" = tsan ] && selection=(-L unit)
    log="${logs}/${preset}.log"
    echo "=== ${preset}: ctest ${selection[*]} --repeat until-fail:${repeats} (log: ${log})"
    started=${SECONDS}
    status=0
    ctest --preset "${preset}" "${selection[@]}" --repeat "until-fail:${repeats}" --output-on-failure >"${log}" 2>&1 || status=$?
    minutes=$(((SECONDS - started) / 60))
    seconds=$(((SECONDS - started) % 60))
    counted=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "${log}" || echo "no result line")
    line="${preset}: ${counted}, each test up to ${repeats} runs, ${minutes}m${seconds}s"
    if [ "${status}" -ne 0 ]; then
        failed=1
        line+=" -- FAILED:"$'\n'"$(sed -n '/The following tests FAILED/,$p' "${log}" | grep -E '^[[:space:]]+[0-9]+ - ' || true)"
    fi
    summary+=("${line}")
    echo "${line}"
done
echo "=== load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
stop_load

echo
echo "=== flake check under ${load}"
printf '%s\n' "${summary[@]}"
exit "${failed}"
