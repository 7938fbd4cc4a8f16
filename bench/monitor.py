"""Streaming cost of corvane.Monitor: per completed window, per row, and memory
over a long stream.

    python bench/monitor.py                  # 7 days at 4 Hz, 30-minute windows every 60 s
    python bench/monitor.py --days 1 --window-min 20 --step-sec 300

The stream is a 4 Hz synthetic hour (corvane.synthetic) repeated hour after
hour with advancing timestamps, fed one step of rows at a time, as a bedside
feed would arrive. Printed:
  - per completed window: the time of the native call that completes it (one
    step of rows plus the window's analysis), p50/p99/max, in wall-clock time
    and in the thread's CPU time, and the wall-clock time through the Python
    wrapper (which also builds the Window record);
  - per row: total feeding time divided by the rows, with the windows' cost
    included (amortised);
  - memory: resident size and held samples after each day, which should stay
    flat after the first window.
"""

from __future__ import annotations

import argparse
import datetime as dt
import statistics
import time

import corvane
from corvane.synthetic import RecordingShape, generate_csv

ROWS_PER_SECOND = 4


def resident_mb() -> float:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def hour_blocks(days: int):
    """The rows of each hour of the stream, as a list of lines."""
    hour = generate_csv(RecordingShape(minutes=60, seed=7, start="2024-03-01 00:00:00"))
    header, _, rows = hour.partition("\n")
    rows = rows[: rows.rindex("2024-03-01 01:00:00")]
    start = dt.datetime(2024, 3, 1)
    yield header + "\n"
    for index in range(days * 24):
        stamp = (start + dt.timedelta(hours=index)).strftime("%Y-%m-%d %H:")
        yield rows.replace("2024-03-01 00:", stamp)


def quantile(values, q):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(q * len(ordered)))] if ordered else float("nan")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--days", type=int, default=7)
    parser.add_argument("--window-min", type=int, default=30)
    parser.add_argument("--step-sec", type=int, default=60)
    args = parser.parse_args()

    monitor = corvane.Monitor(window_min=args.window_min, step_sec=args.step_sec)
    native = monitor._native
    step_rows = args.step_sec * ROWS_PER_SECOND
    window_ms, wrapper_ms, window_cpu_ms = [], [], []
    rows = 0
    feeding = 0.0
    blocks = hour_blocks(args.days)
    native.add_csv(next(blocks))
    print(f"{args.days} days at {ROWS_PER_SECOND} Hz, {args.window_min}-minute windows every {args.step_sec} s")
    print(f"{'day':>4} {'rows':>10} {'windows':>8} {'held':>6} {'RSS MB':>7}")
    for hour, block in enumerate(blocks, start=1):
        lines = block.splitlines(keepends=True)
        for start in range(0, len(lines), step_rows):
            piece = "".join(lines[start : start + step_rows])
            # Every other step through the wrapper, to see what the Window record costs.
            wrapped = (start // step_rows) % 2 == 1
            began, began_cpu = time.perf_counter(), time.thread_time()
            if wrapped:
                completed = len(monitor.add_csv(piece))
            else:
                completed = native.add_csv(piece).count('"window_start"')
            took, took_cpu = time.perf_counter() - began, time.thread_time() - began_cpu
            feeding += took
            if completed == 1:
                (wrapper_ms if wrapped else window_ms).append(took * 1000)
                if not wrapped:
                    window_cpu_ms.append(took_cpu * 1000)
            rows += len(lines[start : start + step_rows])
        if hour % 24 == 0:
            print(f"{hour // 24:>4} {rows:>10} {len(window_ms) + len(wrapper_ms):>8} {monitor.held_samples:>6} {resident_mb():>7.1f}")
    # CPU time of the calling thread leaves out the time other processes of a
    # busy machine take the core away.
    measures = (("native call", window_ms), ("native call, thread CPU time", window_cpu_ms), ("Python wrapper", wrapper_ms))
    for name, values in measures:
        print(
            f"per completed window, {name}: p50 {statistics.median(values):.3f} ms, "
            f"p99 {quantile(values, 0.99):.3f} ms, max {max(values):.3f} ms ({len(values)} windows)"
        )
    print(f"per row, amortised (windows included): {feeding / rows * 1e6:.2f} us over {rows} rows")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
