#!/usr/bin/env bash
# Fuzzes the parsers of outside bytes: the libFuzzer programs built from tests/fuzz/fuzz_<name>.cpp by the fuzz
# preset (clang, AddressSanitizer + UndefinedBehaviorSanitizer).
#
#   scripts/fuzz.sh                          every target for 20 s (the test command's fuzz stage)
#   scripts/fuzz.sh TARGET SECONDS [ARG...]  one target for that long; ARGs go to libFuzzer (e.g. -runs=10000000,
#                                            which ends the run first when it comes before the time)
#   scripts/fuzz.sh --merge TARGET           adds to the committed seeds what the runs' work corpus covers beyond them
#
# A run starts from the committed seeds in tests/fuzz/corpus/<name>/ but grows a copy in build/fuzz/work/<name>/,
# so the tree only changes through --merge. An input that fails is kept as build/fuzz/artifacts/<name>-crash-...
# and the script fails; replay it with build/fuzz/tests/fuzz/fuzz_<name> FILE.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly stage_seconds=20
readonly build="build/fuzz"
readonly programs="${build}/tests/fuzz"

scripts/install-deps.sh clang libclang-rt-14-dev

all_targets() {
    for source in tests/fuzz/fuzz_*.cpp; do
        basename "${source}" .cpp | sed 's/^fuzz_//'
    done
}

# "mlink" and "fuzz_mlink" name the same target.
target_name() {
    local name="${1#fuzz_}"
    if [ ! -f "tests/fuzz/fuzz_${name}.cpp" ]; then
        echo "fuzz.sh: no target '${1}' (targets: $(all_targets | tr '\n' ' '))" >&2
        exit 2
    fi
    echo "${name}"
}

build_targets() {
    cmake --preset fuzz >/dev/null
    local targets=()
    for name in "$@"; do
        targets+=(--target "fuzz_${name}")
    done
    cmake --build --preset fuzz -j "$(nproc)" "${targets[@]}"
}

# run NAME SECONDS [ARG...]: the target from a fresh copy of its seeds; prints the executions and the time.
run() {
    local name="$1" seconds="$2"
    shift 2
    local work="${build}/work/${name}" log="${build}/work/${name}.log"
    rm -rf "${work}"
    mkdir -p "${work}" "${build}/artifacts"
    cp -r "tests/fuzz/corpus/${name}/." "${work}/"
    echo "=== fuzz ${name}: ${seconds} s"
    local start=${SECONDS} status=0
    "${programs}/fuzz_${name}" -max_total_time="${seconds}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="${build}/artifacts/${name}-" "$@" "${work}" >"${log}" 2>&1 || status=$?
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "${log}")
    echo "    ${runs:-?} executions in $((SECONDS - start)) s"
    if [ "${status}" -ne 0 ]; then
        tail -n 40 "${log}" >&2
        echo "fuzz ${name} failed (status ${status}); the input is in ${build}/artifacts/, the log in ${log}" >&2
        return 1
    fi
}

if [ "${1:-}" = "--merge" ]; then
    [ $# -eq 2 ] || { echo "usage: scripts/fuzz.sh --merge TARGET" >&2; exit 2; }
    name=$(target_name "$2")
    [ -d "${build}/work/${name}" ] || { echo "fuzz.sh: no work corpus for ${name}: run it first" >&2; exit 2; }
    build_targets "${name}"
    "${programs}/fuzz_${name}" -merge=1 "tests/fuzz/corpus/${name}" "${build}/work/${name}"
    exit 0
fi

if [ $# -eq 0 ]; then
    mapfile -t names < <(all_targets)
    build_targets "${names[@]}"
    for name in "${names[@]}"; do
        run "${name}" "${stage_seconds}"
    done
    exit 0
fi

if [ $# -lt 2 ]; then
    echo "usage: scripts/fuzz.sh [TARGET SECONDS [libFuzzer arguments...]] | --merge TARGET" >&2
    exit 2
fi
name=$(target_name "$1")
seconds="$2"
shift 2
build_targets "${name}"
run "${name}" "${seconds}" "$@"
