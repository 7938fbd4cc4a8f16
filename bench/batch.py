"""Batch benchmark: `corvane batch --jobs 2` on the real CTU-UHB recordings.

    python bench/batch.py [--data DIR] [--jobs 2] [--repeats 3]

Runs the 94 converted CTU-UHB recordings (ctu_uhb_*.csv; not part of the
repository) in chunk mode and in rolling mode (20-minute windows every 300 s),
and prints for each mode:

- the wall time of the `corvane batch` command, start-up included, and the
  files analyzed per second;
- the same batch through `run_batch` in this process, and the share of the
  workers' time spent outside the analysis calls (reading the file, parsing
  the report, building the rows), measured inside the workers. Target: under
  30 %.

Times are the best of --repeats runs; the outside share is their median.
"""

from __future__ import annotations

import argparse
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

from corvane.batch import run_batch

REPO = pathlib.Path(__file__).resolve().parent.parent
# CORVANE_REAL_DATA names the folder of real recordings (relative: from the project root).
DEFAULT_DATA = pathlib.Path(os.path.normpath(REPO / os.environ.get("CORVANE_REAL_DATA", "../shared/data/ctg-real")))
MODES = {
    "chunk": {},
    "rolling 20 min / 300 s": {"window_min": 20, "step_sec": 300},
}
OUTSIDE_NATIVE_TARGET = 0.30


def line(name: str, value: float, unit: str, target: str = "") -> None:
    print(f"{name:<58} {value:>10.3f} {unit:<8} {target}".rstrip())


def cli_seconds(files, options, jobs: int, outdir: str) -> float:
    flags = []
    for key, value in options.items():
        flags += [f"--{key.replace('_', '-')}", str(value)]
    command = [sys.executable, "-m", "corvane", "batch", *map(str, files), "-o", outdir, "--jobs", str(jobs), "--no-progress", *flags]
    began = time.perf_counter()
    subprocess.run(command, check=True, capture_output=True)
    return time.perf_counter() - began


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", type=pathlib.Path, default=DEFAULT_DATA, help="folder holding ctu_uhb_*.csv")
    parser.add_argument("--jobs", type=int, default=2, help="worker processes (default 2)")
    parser.add_argument("--repeats", type=int, default=3, help="runs per figure; the best is kept (default 3)")
    args = parser.parse_args(argv)

    files = sorted(args.data.glob("ctu_uhb_*.csv"))
    if not files:
        print(f"no ctu_uhb_*.csv recordings in {args.data}", file=sys.stderr)
        return 1
    megabytes = sum(p.stat().st_size for p in files) / 2**20
    print(f"{len(files)} CTU-UHB recordings, {megabytes:.1f} MB, --jobs {args.jobs}, best of {args.repeats}")
    with tempfile.TemporaryDirectory(prefix="corvane-batch-bench-") as scratch:
        for mode, options in MODES.items():
            wall = min(cli_seconds(files, options, args.jobs, scratch) for _ in range(args.repeats))
            results = [run_batch(files, scratch, jobs=args.jobs, progress=False, **options) for _ in range(args.repeats)]
            best = min(results, key=lambda r: r.wall_seconds)
            assert best.failed == 0, best.errors
            outside = statistics.median(r.outside_native_share for r in results)
            line(f"{mode}: corvane batch wall time", wall, "s")
            line(f"{mode}: files per second (command)", len(files) / wall, "files/s")
            line(f"{mode}: run_batch wall time", best.wall_seconds, "s")
            line(f"{mode}: files per second (run_batch)", len(files) / best.wall_seconds, "files/s")
            print(f"{mode}: {best.windows} windows, {best.events} events")
            line(
                f"{mode}: worker time outside the native call",
                100.0 * outside,
                "%",
                f"target < {OUTSIDE_NATIVE_TARGET:.0%}",
            )
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
