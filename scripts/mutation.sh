#!/usr/bin/env bash
# Mutation testing: how many deliberately broken versions of the code the tests catch.
# Reruns exactly the same seeded sample each time (the sample changes only when the code does):
#   C++ core:       universalmutator mutants of src/fhr_core (scripts/mutation.py)
#   Python package: mutmut mutants of python/corvane (scripts/mutation_python.py)
# Takes about an hour on two cores. Run scripts/test.sh once first (it makes the venv).
#   scripts/mutation.sh            both halves
#   scripts/mutation.sh cpp|python one half
set -euo pipefail
cd "$(dirname "$0")/.."
venv=${CORVANE_VENV:-.venv}
export PATH="$PWD/$venv/bin:$PATH"
"$venv/bin/python" -m pip install -q universalmutator==1.14.1 mutmut==3.8.1 scikit-build-core
"$venv/bin/python" -m pip install -q --no-build-isolation . >/dev/null
what=${1:-both}
if [ "$what" = both ] || [ "$what" = cpp ]; then
  "$venv/bin/python" scripts/mutation.py | tee build/mutation-cpp.log | grep -v '^\['
fi
if [ "$what" = both ] || [ "$what" = python ]; then
  "$venv/bin/python" scripts/mutation_python.py | tee build/mutation-python.log
fi
