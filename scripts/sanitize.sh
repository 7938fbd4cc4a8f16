#!/usr/bin/env bash
# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer: the C++
# unit tests (with leak checking) and the Python tests against a sanitized
# build of the extension module. Run scripts/test.sh first (it makes the venv).
set -euo pipefail
cd "$(dirname "$0")/.."

venv=${CORVANE_VENV:-.venv}
export PATH="$PWD/$venv/bin:$PATH"
build=build/sanitize
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE=ON \
  -DCORVANE_BUILD_TESTS=ON -DCORVANE_BUILD_MODULE=ON -DPython_EXECUTABLE="$PWD/$venv/bin/python" >/dev/null
cmake --build "$build" -j2

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ASAN_OPTIONS=detect_leaks=1 "$build/fhr_core_tests" --gtest_brief=1

# A package folder holding the Python sources and the sanitized module.
pkg="$build/pkg"
rm -rf "$pkg" && mkdir -p "$pkg"
cp -r python/corvane "$pkg/corvane"
cp "$build"/_native*.so "$pkg/corvane/"
# The interpreter itself is not built with the sanitizers, so the runtime is
# preloaded; CPython keeps memory until exit by design, so leaks are checked
# by the C++ run above, not here.
preload="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
cd tests
LD_PRELOAD="$preload" ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 PYTHONPATH="$PWD/../$pkg" \
  CORVANE_SANITIZED=1 "../$venv/bin/python" -m pytest -q -p no:cacheprovider . "$@"
