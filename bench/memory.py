"""Peak resident memory of one call against input size, and a leak check.

    python bench/memory.py                 # CSV and JSON, 1 MB .. 1 GB
    python bench/memory.py --max-csv-mb 256 --max-json-mb 64 --calls 2000

Each figure comes from a fresh interpreter: it builds the input text, resets
its peak resident size (Linux: /proc/self/clear_refs), makes one call and
reads the peak (VmHWM). The figure is that peak minus the resident size just
before the call, so the input text itself is not counted; "ratio" divides it
by the input size. Recordings are 4 Hz synthetic ones (corvane.synthetic):
one hour is generated and repeated hour after hour with advancing
timestamps, so the text grows without the generator's own cost.

The leak check makes CALLS calls of every kind (CSV and JSON, chunk and
rolling, failures) in one process and prints the resident size after a
tenth of them and after all; both should be the same to within noise.
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
import textwrap
import time

MB = 1 << 20

CHILD = textwrap.dedent(
    """
    import datetime as dt, json, sys, time
    import corvane
    from corvane.synthetic import RecordingShape, generate_csv

    # The size is in MB, or "Nh" for exactly N hours of rows.
    kind, size, options = sys.argv[1], sys.argv[2], json.loads(sys.argv[3])
    hours = int(size[:-1]) if size.endswith("h") else None
    START = dt.datetime(2024, 3, 1, 0, 0, 0)

    def status(key):
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1]) * 1024
        raise RuntimeError(key)

    # One hour of rows starting at 00:00:00 (the row at 01:00:00 is left out),
    # repeated with the date and hour of each following hour.
    hour = generate_csv(RecordingShape(minutes=60, seed=7, start="2024-03-01 00:00:00"))
    header, _, rows = hour.partition("\\n")
    rows = rows[: rows.rindex("2024-03-01 01:00:00")]
    if kind == "json":
        samples = []
        for line in rows.splitlines():
            t, hr1, hr2, hrm, toco = line.split(",")
            cells = [f'"t":"{t}"'] + [f'"{k}":{v}' for k, v in (("hr1", hr1), ("hrm", hrm), ("toco", toco)) if v]
            samples.append("{" + ",".join(cells) + "}")
        block = ",".join(samples)
    else:
        block = rows
    target = int(float(size) * (1 << 20)) if hours is None else None
    blocks = []
    length = 0
    for index in range(1_000_000):
        if (hours is not None and index == hours) or (target is not None and length >= target):
            break
        stamp = (START + dt.timedelta(hours=index)).strftime("%Y-%m-%d %H:")
        part = block.replace("2024-03-01 00:", stamp)
        if target is not None and length + len(part) > target:
            # The last hour in part, cut at a row boundary.
            if kind == "json":
                cut = part.rfind(',{"t"', 0, max(target - length, 1))
            else:
                cut = part.rfind("\\n", 0, max(target - length, 1)) + 1
            blocks.append(part[:cut] if cut > 0 else "")
            break
        blocks.append(part)
        length += len(part)
    if kind == "json":
        text = '{"episode_id":"bench","sent_at":"2024-03-01T00:00:00Z","samples":[' + ",".join(blocks) + "]}"
    else:
        text = header + "\\n" + "".join(blocks)
    del blocks, block, rows, hour
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    before = status("VmRSS")
    start = time.perf_counter()
    if kind == "json":
        report = corvane.analyze_json_string(text)
    else:
        report = corvane.analyze_csv_string(text, **options)
    seconds = time.perf_counter() - start
    peak = status("VmHWM")
    summary = json.loads(report) if len(report) < (64 << 20) else None
    print(json.dumps({
        "input_bytes": len(text),
        "rows": summary["input"]["rows"] if summary else None,
        "windows": len(summary["windows"]) if summary else report.count('\\n    {\\n'),
        "report_bytes": len(report),
        "growth": peak - before,
        "seconds": seconds,
    }))
    """
)

LEAK_CHILD = textwrap.dedent(
    """
    import json, sys
    import corvane
    from corvane.synthetic import RecordingShape, generate_csv

    calls = int(sys.argv[1])
    text = generate_csv(RecordingShape(minutes=12, seed=4))
    request = json.dumps({"episode_id": "e", "sent_at": "s", "samples": [
        {"t": line.split(",")[0], "hr1": float(line.split(",")[1] or 0)} for line in text.splitlines()[1:400]]})

    def status(key):
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1]) * 1024

    kinds = [
        lambda: corvane.analyze_csv_string(text),
        lambda: corvane.analyze_csv_string(text, window_min=10, step_sec=30, last_only=True),
        lambda: corvane.analyze_json_string(request),
        lambda: corvane.analyze_csv_string(text, channel="HR7"),
        lambda: corvane.analyze_json_string(request[:-3]),
        lambda: corvane.analyze_csv_string("Date\\n" + "x" * 1000),
        lambda: corvane.analyze_csv_string(text, ga_weeks=300),
    ]
    marks = {calls // 10: "after_tenth", calls: "after_all"}
    out = {}
    for index in range(1, calls + 1):
        try:
            kinds[index % len(kinds)]()
        except (ValueError, OverflowError):
            pass
        if index in marks:
            out[marks[index]] = status("VmRSS")
    print(json.dumps(out))
    """
)


def run_child(kind: str, size: str, options: dict) -> dict:
    command = [sys.executable, "-c", CHILD, kind, size, json.dumps(options)]
    return json.loads(subprocess.run(command, check=True, capture_output=True, text=True).stdout)


def sizes_up_to(limit_mb: float) -> list[float]:
    sizes, size = [], 1.0
    while size <= limit_mb:
        sizes.append(size)
        size *= 4
    return sizes


def print_row(label: str, figures: dict, wall: float) -> None:
    growth = figures["growth"] / MB
    size = figures["input_bytes"] / MB
    rows = f"{figures['rows']:>11,}" if figures["rows"] is not None else f"{'-':>11}"
    print(
        f"{label:<34} {size:>9.1f} {rows} {figures['windows']:>8,} {figures['report_bytes'] / MB:>9.2f}"
        f" {growth:>10.1f} {growth / size:>6.2f} {figures['seconds']:>8.2f} {wall:>7.1f}",
        flush=True,
    )


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--max-csv-mb", type=float, default=1024)
    parser.add_argument("--max-json-mb", type=float, default=1024)
    parser.add_argument("--calls", type=int, default=10_000)
    args = parser.parse_args()

    print(f"{'case':<34} {'input MB':>9} {'rows':>11} {'windows':>8} {'report MB':>9} {'peak+ MB':>10}"
          f" {'ratio':>6} {'call s':>8} {'wall s':>7}")
    cases = [(f"CSV chunk {size:g} MB", "csv", f"{size:g}", {}) for size in sizes_up_to(args.max_csv_mb)]
    cases += [(f"JSON chunk {size:g} MB", "json", f"{size:g}", {}) for size in sizes_up_to(args.max_json_mb)]
    # Rolling runs: 10-minute windows every minute over 2, 8 and 24 hours,
    # and every second over 2 and 24 hours (the report then dominates).
    for hours, step in ((2, 60), (8, 60), (24, 60), (2, 1), (24, 1)):
        cases.append((f"CSV rolling 10 min/{step} s, {hours} h", "csv", f"{hours}h", {"window_min": 10, "step_sec": step}))
    for label, kind, size, options in cases:
        start = time.perf_counter()
        print_row(label, run_child(kind, size, options), time.perf_counter() - start)

    command = [sys.executable, "-c", LEAK_CHILD, str(args.calls)]
    leak = json.loads(subprocess.run(command, check=True, capture_output=True, text=True).stdout)
    tenth, whole = leak["after_tenth"] / MB, leak["after_all"] / MB
    print(f"\nRSS after {args.calls // 10:,} calls: {tenth:.1f} MB; after {args.calls:,} calls: {whole:.1f} MB"
          f" (change {whole - tenth:+.1f} MB)")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
