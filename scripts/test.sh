#!/usr/bin/env bash
# Builds corvane and runs every test: the C++ unit tests (GoogleTest) and the
# Python end-to-end tests (pytest) against the installed package.
# Extra arguments go to pytest, e.g. `scripts/test.sh -k golden`.
set -euo pipefail
cd "$(dirname "$0")/.."

venv=${CORVANE_VENV:-.venv}
[ -x "$venv/bin/python" ] || python3 -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
"$venv/bin/python" -m pip install -q cmake ninja
"$venv/bin/python" -m pip install -q ".[test]"

export PATH="$PWD/$venv/bin:$PATH"
cmake -S . -B build/tests -G Ninja -DCORVANE_BUILD_MODULE=OFF -DCORVANE_BUILD_TESTS=ON >/dev/null
cmake --build build/tests -j2
build/tests/fhr_core_tests --gtest_brief=1

# Run from outside the source tree so that `import corvane` is the installed wheel.
cd tests && "../$venv/bin/python" -m pytest -q -p no:cacheprovider . "$@"
