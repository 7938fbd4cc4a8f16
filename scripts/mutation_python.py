"""Mutation testing of the Python package: a fixed, seeded sample of mutmut mutants.

    python scripts/mutation_python.py [--list]

mutmut names modules by their path below src/, so the package is staged as
build/mutation/python-stage/src/corvane (with the installed extension module beside it)
next to a copy of tests/, README.md and docs/. All of mutmut's mutants are generated there;
SAMPLE_SIZE of them, spread over the modules in proportion to their mutant counts, are run
against the whole pytest suite (mutmut runs, for each mutant, the tests that reach its
function in-process; tests that start a Python child run the installed package there).
Results go to build/mutation/python-results.tsv; the last lines printed are the totals.
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import random
import shutil
import subprocess
import sys

REPO = pathlib.Path(__file__).resolve().parent.parent
STAGE = REPO / "build" / "mutation" / "python-stage"
SEED = 20261206
SAMPLE_SIZE = 130
SHARED = (REPO / ".." / "shared").resolve()
MUTMUT_CONFIG = """[tool.mutmut]
source_paths = ["src/corvane"]
also_copy = ["README.md", "docs"]
pytest_add_cli_args = ["-p", "no:cacheprovider", "-q"]
pytest_add_cli_args_test_selection = ["tests"]
timeout_multiplier = 10.0
"""
GENERATE = """
import mutmut.__main__ as m
m.makedirs("mutants", exist_ok=True)
m.copy_src_dir()
m.copy_also_copy_files()
m.create_mutants(2)
"""


def stage() -> None:
    import corvane._native as native

    shutil.rmtree(STAGE, ignore_errors=True)
    files = subprocess.run(["git", "ls-files", "python/corvane", "tests", "docs", "README.md"], cwd=REPO,
                           check=True, capture_output=True, text=True).stdout.split()
    for relpath in files:
        target = STAGE / (relpath.replace("python/corvane", "src/corvane", 1))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(REPO / relpath, target)
    shutil.copy2(native.__file__, STAGE / "src" / "corvane" / pathlib.Path(native.__file__).name)
    (STAGE / "pyproject.toml").write_text(MUTMUT_CONFIG)


def environment() -> dict:
    # Tests that start a Python child (the CLI, the environment checks) run the installed,
    # unmutated package there: mutmut's mutated functions can only run inside its own process.
    return {**os.environ,
            "CORVANE_REGRESSION": os.environ.get("CORVANE_REGRESSION", str(SHARED / "regression" / "cases.jsonl.gz")),
            "CORVANE_REAL_DATA": os.environ.get("CORVANE_REAL_DATA", str(SHARED / "data" / "ctg-real")),
            "CORVANE_JSON_TEST_SUITE": os.environ.get("CORVANE_JSON_TEST_SUITE",
                                                      str(SHARED / "data" / "json-test-suite"))}


def mutants_by_module() -> dict[str, list[str]]:
    found = {}
    for meta in sorted((STAGE / "mutants" / "src").rglob("*.py.meta")):
        keys = sorted(json.loads(meta.read_text())["exit_code_by_key"])
        if keys:
            found[str(meta.relative_to(STAGE / "mutants" / "src"))[: -len(".py.meta")]] = keys
    return found


def sample(found: dict[str, list[str]]) -> list[str]:
    total = sum(len(keys) for keys in found.values())
    chosen = []
    for module, keys in found.items():
        quota = min(len(keys), max(1, round(SAMPLE_SIZE * len(keys) / total)))
        chosen += sorted(random.Random(f"{SEED}:{module}").sample(keys, quota))
    return chosen


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    args = parser.parse_args()

    stage()
    mutmut = [sys.executable, "-m", "mutmut"]
    subprocess.run([sys.executable, "-c", GENERATE], cwd=STAGE, check=True, env=environment(),
                   stdout=subprocess.DEVNULL)
    chosen = sample(mutants_by_module())
    if args.list:
        print("\n".join(chosen))
        print(f"{len(chosen)} mutants")
        return 0
    log = REPO / "build" / "mutation" / "mutmut.log"
    with log.open("w") as output:
        subprocess.run(mutmut + ["run", "--max-children", "2", *chosen], cwd=STAGE, env=environment(),
                       stdout=output, stderr=subprocess.STDOUT)
    listing = subprocess.run(mutmut + ["results", "--all", "true"], cwd=STAGE, env=environment(), check=True,
                             capture_output=True, text=True).stdout
    status = dict(line.strip().rsplit(": ", 1) for line in listing.splitlines() if ": " in line)
    results = [(name, status.get(name, "not run")) for name in chosen]
    if all(state == "not run" for _, state in results):
        print(f"mutation_python.py: mutmut ran no mutant; its output is in {log}", file=sys.stderr)
        return 1
    (REPO / "build" / "mutation" / "python-results.tsv").write_text("".join(f"{n}\t{s}\n" for n, s in results))
    counts = {key: sum(1 for _, s in results if s == key)
              for key in ("killed", "survived", "timeout", "no tests", "suspicious", "not run")}
    print("survivors:")
    for name, state in results:
        if state in ("survived", "no tests"):
            print(f"  {name}  ({state})")
    scored = counts["killed"] + counts["survived"] + counts["timeout"] + counts["no tests"]
    print(f"Python mutants: {len(results)} sampled; not reached by any test {counts['no tests']}, "
          f"suspicious {counts['suspicious']}, not run {counts['not run']}")
    print(f"Python killed {counts['killed']} / survived {counts['survived'] + counts['no tests']} / "
          f"timed out {counts['timeout']}  (score {counts['killed'] + counts['timeout']}/{scored})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
