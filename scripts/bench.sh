#!/usr/bin/env bash
# Builds the native reader benchmark and runs bench/bench.py against the
# installed package (run scripts/test.sh once first to make the venv).
set -euo pipefail
cd "$(dirname "$0")/.."
venv=${CORVANE_VENV:-.venv}
export PATH="$PWD/$venv/bin:$PATH"
cmake -S . -B build/bench-native -G Ninja -DCORVANE_BUILD_MODULE=OFF -DCORVANE_BUILD_BENCH=ON >/dev/null
cmake --build build/bench-native -j2 >/dev/null
"$venv/bin/python" bench/bench.py "$@"
