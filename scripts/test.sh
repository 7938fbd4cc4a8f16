#!/usr/bin/env bash
# Builds corvane and runs every test: the C++ unit tests (GoogleTest) and the
# Python end-to-end tests (pytest) against the installed package.
# Installs what the tests need on a fresh machine: GoogleTest from Debian's
# libgtest-dev when it is missing, everything else from PyPI into the venv.
# Extra arguments go to pytest, e.g. `scripts/test.sh -k golden`.
set -euo pipefail
cd "$(dirname "$0")/.."

have_gtest() {
  printf '#include <gtest/gtest.h>\n' | "${CXX:-c++}" -std=c++20 -fsyntax-only -x c++ - 2>/dev/null
}
if ! have_gtest; then
  install=(apt-get install -y -qq --no-install-recommends libgtest-dev)
  if [ "$(id -u)" -eq 0 ]; then
    sudo=()
  elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    sudo=(sudo -n)
  else
    echo "scripts/test.sh: GoogleTest is missing; install it with: sudo apt-get install libgtest-dev" >&2
    exit 1
  fi
  echo "scripts/test.sh: installing GoogleTest (libgtest-dev) from Debian" >&2
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" "${install[@]}" >/dev/null
fi

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
