#!/usr/bin/env bash
# Builds tarn and the bench, installs them into build/demo-install and runs the bench demo.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
cmake --install build/release --prefix build/demo-install >/dev/null
exec build/demo-install/bin/tarn-bench demo
