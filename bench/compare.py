"""Before/after table of bench/bench.py for two builds, measured in one run.

    python bench/compare.py BEFORE_PYTHON:BEFORE_NATIVE_DIR AFTER_PYTHON:AFTER_NATIVE_DIR [--rounds 3]

Each side is a Python interpreter with corvane installed and the folder of its native reader
benchmarks (build/bench-native/bench of that tree). The two sides run alternately, `--rounds`
times each, so that a busy machine slows both alike; a figure's best round is kept (the highest
rate, the lowest time or memory). Extra arguments after `--` go to bench.py (e.g. --skip-day-1s).
"""

from __future__ import annotations

import argparse
import json
import pathlib
import subprocess
import sys

BENCH = pathlib.Path(__file__).resolve().parent / "bench.py"


def run_side(side: str, extra: list[str]) -> dict:
    python, _, native_dir = side.partition(":")
    command = [python, str(BENCH), "--json", *(["--native-dir", native_dir] if native_dir else []), *extra]
    return json.loads(subprocess.run(command, check=True, capture_output=True, text=True).stdout.splitlines()[-1])


def best(rounds: list[dict], name: str) -> float | None:
    values = [figures[name]["value"] for figures in rounds if name in figures]
    if not values:
        return None
    higher_is_better = rounds[0][name]["unit"].endswith("/s")
    return max(values) if higher_is_better else min(values)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--rounds", type=int, default=3)
    argv = sys.argv[1:]
    extra = argv[argv.index("--") + 1:] if "--" in argv else []
    arguments = parser.parse_args(argv[:len(argv) - len(extra) - (1 if extra else 0)])

    before, after = [], []
    for round_number in range(arguments.rounds):
        print(f"round {round_number + 1} of {arguments.rounds}", file=sys.stderr, flush=True)
        before.append(run_side(arguments.before, extra))
        after.append(run_side(arguments.after, extra))

    print(f"| figure | before | after | target |\n|---|---|---|---|")
    for name, figure in after[0].items():
        old, new = best(before, name), best(after, name)
        old_text = "—" if old is None else f"{old:.3f}"
        print(f"| {name} ({figure['unit']}) | {old_text} | {new:.3f} | {figure['target']} |")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
