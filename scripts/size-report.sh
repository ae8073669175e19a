#!/usr/bin/env bash
# Size of the shipped binary: builds the static AArch64 tarn for each board, prints its stripped size and the
# largest symbols in the file (code and data; zero-filled data takes no room) with their share. Not part of
# the test run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh g++-aarch64-linux-gnu
top=${1:-5}
for board in hi3519 dm368 bench; do
    preset="aarch64-${board}"
    cmake --preset "${preset}" >/dev/null
    cmake --build --preset "${preset}" -j "$(nproc)" >/dev/null
    binary="build/${preset}/code/tarn"
    stripped="build/${preset}/tarn.stripped"
    aarch64-linux-gnu-strip -o "${stripped}" "${binary}"
    size=$(stat -c %s "${stripped}")
    echo "${board}: stripped static size ${size} bytes ($((size / 1024)) KiB)"
    symbols=$(aarch64-linux-gnu-nm --size-sort --reverse-sort --print-size --demangle "${binary}")
    awk -v total="${size}" -v top="${top}" '
            function hex(text,    value, i) {
                value = 0
                for (i = 1; i <= length(text); i++) value = value * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
                return value
            }
            $3 ~ /^[tTrRdD]$/ {
                bytes = hex($2); name = $4; for (i = 5; i <= NF; i++) name = name " " $i
                printf "  %8d  %5.1f%%  %s\n", bytes, 100.0 * bytes / total, name
                if (++shown == top) exit
            }' <<<"${symbols}"
done
