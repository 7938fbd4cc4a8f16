"""Benchmarks of the core against the project's targets; prints one line per figure.

    python bench/bench.py            # needs the installed package (scripts/test.sh)
    python bench/bench.py --json     # the figures as one JSON object (bench/compare.py reads it)

`--native-dir DIR` names the folder of the native reader benchmarks (default
build/bench-native/bench, which scripts/bench.sh builds); `--skip-day-1s` leaves out the
two 24-hour 1-second figures, the slowest ones.

Recordings come from corvane.synthetic (cached under build/bench). Times are the best of
several runs on one core (the first calls of a process also pay for fresh memory pages, so
the short calls run more often); peak memory is measured in a fresh subprocess per call.
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import resource
import subprocess
import sys
import time

import corvane
from corvane.synthetic import RecordingShape, generate_csv

REPO = pathlib.Path(__file__).resolve().parent.parent
CACHE = REPO / "build" / "bench"


def recording(minutes: float, seed: int = 11) -> pathlib.Path:
    CACHE.mkdir(parents=True, exist_ok=True)
    path = CACHE / f"synthetic_{int(minutes)}min_seed{seed}.csv"
    if not path.exists():
        path.write_text(generate_csv(RecordingShape(minutes=minutes, seed=seed)), encoding="utf-8", newline="")
    return path


def request(csv_path: pathlib.Path) -> pathlib.Path:
    """The recording as a JSON analysis request (one object per sample, empty cells left out)."""
    path = csv_path.with_suffix(".json")
    if not path.exists():
        header, *rows = csv_path.read_text(encoding="utf-8").splitlines()
        keys = [name.lower() for name in header.split(",")[1:]]
        samples = []
        for row in rows:
            t, *cells = row.split(",")
            samples.append("{" + ",".join([f'"t":"{t}"'] + [f'"{k}":{v}' for k, v in zip(keys, cells) if v]) + "}")
        path.write_text('{"episode_id":"bench","sent_at":"2024-03-01T00:00:00Z","samples":[' + ",".join(samples) + "]}",
                        encoding="utf-8")
    return path


def native_figures(folder: pathlib.Path, name: str, path: pathlib.Path) -> dict | None:
    binary = folder / name
    if not binary.exists():
        print(f"({binary} missing: run scripts/bench.sh for the reader figures)", file=sys.stderr)
        return None
    out = subprocess.run([str(binary), str(path)], check=True, capture_output=True, text=True).stdout
    return dict(l.split() for l in out.splitlines())


def best_of(repeats: int, call) -> float:
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best


def peak_memory_mb(path: pathlib.Path, kwargs: dict) -> tuple[float, float, float]:
    """(peak RSS growth during the call, text MB, report MB), measured in a subprocess.

    The text is read first; then the kernel's peak-RSS mark is reset, so the peak
    read after the call is the call's own (Linux: /proc/self/clear_refs).
    """
    code = f"""
import json, corvane
def status(key):
    for row in open('/proc/self/status'):
        if row.startswith(key):
            return int(row.split()[1]) / 1024
text = open({str(path)!r}, encoding='utf-8', newline='').read()
with open('/proc/self/clear_refs', 'w') as handle:
    handle.write('5')
before = status('VmRSS:')
report = corvane.analyze_csv_string(text, **{kwargs!r})
print(json.dumps([status('VmHWM:') - before, len(text) / 2**20, len(report) / 2**20]))
"""
    out = subprocess.run([sys.executable, "-c", code], check=True, capture_output=True, text=True).stdout
    return tuple(json.loads(out))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", action="store_true", help="print the figures as one JSON object")
    parser.add_argument("--native-dir", type=pathlib.Path, default=REPO / "build" / "bench-native" / "bench")
    parser.add_argument("--skip-day-1s", action="store_true", help="leave out the 24-hour 1-second figures")
    arguments = parser.parse_args()
    figures_out = {}

    def line(name: str, value: float, unit: str, target: str) -> None:
        figures_out[name] = {"value": value, "unit": unit, "target": target}
        if not arguments.json:
            print(f"{name:<58} {value:>10.3f} {unit:<6} target {target}", flush=True)

    day = recording(24 * 60)
    two_hours = recording(120)
    half_hour = recording(30)
    day_text = day.read_text(encoding="utf-8")
    if not arguments.json:
        print(f"24-hour recording: {len(day_text) / 1e6:.1f} MB, {day_text.count(chr(10)) - 1} rows")

    figures = native_figures(arguments.native_dir, "csv_read_bench", day)
    if figures:
        line("CSV read into InputData (24 h, 4 Hz)", float(figures["read_mb_per_s"]), "MB/s", ">= 700 MB/s")
    day_request = request(day)
    figures = native_figures(arguments.native_dir, "json_read_bench", day_request)
    if figures:
        size = day_request.stat().st_size / 1e6
        line(f"JSON request read into InputData (24 h, 4 Hz, {size:.1f} MB)", float(figures["read_mb_per_s"]), "MB/s",
             ">= 400 MB/s")

    text = half_hour.read_text(encoding="utf-8")
    line("chunk mode, 30-min 4 Hz recording, whole call", best_of(20, lambda: corvane.analyze_csv_string(text)) * 1e3, "ms", "<= 0.5 ms")

    line(
        "rolling 10 min / 60 s over 24 h (1,431 windows)",
        best_of(7, lambda: corvane.analyze_csv_string(day_text, window_min=10, step_sec=60)),
        "s",
        "<= 0.05 s",
    )
    text = two_hours.read_text(encoding="utf-8")
    line(
        "rolling 30 min / 1 s over 2 h (5,401 windows)",
        best_of(3, lambda: corvane.analyze_csv_string(text, window_min=30, step_sec=1)),
        "s",
        "<= 0.2 s",
    )
    if not arguments.skip_day_1s:
        line(
            "rolling 10 min / 1 s over 24 h (85,801 windows)",
            best_of(1, lambda: corvane.analyze_csv_string(day_text, window_min=10, step_sec=1)),
            "s",
            "measured",
        )
    grown, text_mb, report_mb = peak_memory_mb(day, {"window_min": 10, "step_sec": 60})
    line("peak memory growth, 24-h rolling call", grown, "MB", "<= 47.9 MB (before the shared per-second work)")
    if not arguments.skip_day_1s:
        grown, text_mb, report_mb = peak_memory_mb(day, {"window_min": 10, "step_sec": 1})
        line(f"peak memory growth, 24-h rolling 1-s call ({report_mb:.0f} MB report)", grown, "MB",
             "report-dominated")
    if arguments.json:
        print(json.dumps(figures_out))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
