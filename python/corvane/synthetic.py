"""Synthetic 4 Hz CTG recordings in the monitor CSV export format.

The generator is deterministic for a given seed. It draws a fetal heart rate
with a slowly drifting baseline, moderate beat-to-beat variability,
accelerations, contractions on the TOCO channel (with an early deceleration
mirroring some of them), a maternal heart rate, and short signal dropouts.
It backs the bundled sample recording, the tests and the benchmarks.

    python -m corvane.synthetic --minutes 40 --seed 7 -o recording.csv
"""

from __future__ import annotations

import argparse
import datetime as _dt
import math
import random
import sys
from dataclasses import dataclass
from typing import List, Optional

__all__ = ["RecordingShape", "generate_rows", "generate_csv", "main"]

SAMPLE_RATE_HZ = 4
HEADER = "Date,HR1,HR2,HRM,TOCO"


@dataclass(frozen=True)
class RecordingShape:
    """What the synthetic recording contains."""

    minutes: float = 40.0
    seed: int = 7
    start: str = "2024-03-01 08:00:00"
    baseline_bpm: float = 138.0
    variability_bpm: float = 5.0
    acceleration_every_min: float = 7.0
    contraction_every_min: float = 3.2
    early_decel_share: float = 0.4
    dropout_share: float = 0.01
    maternal_bpm: float = 84.0


def _bump(t: float, centre: float, width: float) -> float:
    """A smooth bell of height 1 centred on `centre` with half-width `width`."""
    x = (t - centre) / width
    return math.exp(-0.5 * x * x) if abs(x) < 6.0 else 0.0


def generate_rows(shape: RecordingShape = RecordingShape()) -> List[List[Optional[float]]]:
    """One row per sample: [seconds from start, hr1, hr2, hrm, toco] (None = blank)."""
    rng = random.Random(shape.seed)
    total_seconds = shape.minutes * 60.0
    n = int(round(total_seconds * SAMPLE_RATE_HZ)) + 1

    accelerations = []
    t = rng.uniform(60.0, 180.0)
    while t < total_seconds:
        accelerations.append((t, rng.uniform(18.0, 28.0), rng.uniform(9.0, 14.0)))
        t += shape.acceleration_every_min * 60.0 * rng.uniform(0.8, 1.2)
    contractions = []
    t = rng.uniform(40.0, 120.0)
    while t < total_seconds:
        contractions.append((t, rng.uniform(35.0, 60.0), rng.uniform(18.0, 26.0), rng.random() < shape.early_decel_share))
        t += shape.contraction_every_min * 60.0 * rng.uniform(0.85, 1.15)

    # Variability: a few slow oscillations with random phases plus jitter.
    waves = [(rng.uniform(1.5, 6.0) / 60.0, rng.uniform(0.0, 2 * math.pi), rng.uniform(0.5, 1.0)) for _ in range(5)]
    wave_norm = sum(w[2] for w in waves)
    dropout_left = 0
    rows: List[List[Optional[float]]] = []
    for i in range(n):
        t = i / SAMPLE_RATE_HZ
        drift = 3.0 * math.sin(2 * math.pi * t / 1500.0 + 0.7)
        wobble = sum(a * math.sin(2 * math.pi * f * t + p) for f, p, a in waves) / wave_norm
        fhr = shape.baseline_bpm + drift + shape.variability_bpm * 1.6 * wobble + rng.gauss(0.0, 0.8)
        for centre, height, width in accelerations:
            fhr += height * _bump(t, centre, width)
        toco = 12.0 + rng.gauss(0.0, 0.6)
        for centre, height, width, early in contractions:
            b = _bump(t, centre, width)
            toco += height * b
            if early:
                # A gradual fall mirroring the contraction: nadir at its peak.
                fhr -= 32.0 * _bump(t, centre, width * 1.8)
        hrm = shape.maternal_bpm + 3.0 * math.sin(2 * math.pi * t / 240.0) + rng.gauss(0.0, 1.0)

        if dropout_left == 0 and rng.random() < shape.dropout_share / (SAMPLE_RATE_HZ * 4):
            dropout_left = rng.randint(4, 40)
        hr1: Optional[float] = None
        if dropout_left > 0:
            dropout_left -= 1
        else:
            hr1 = round(fhr * 4) / 4  # monitors report quarter beats
        rows.append([t, hr1, None, round(hrm, 1), round(max(toco, 0.0), 1)])
    return rows


def _format_time(start: _dt.datetime, seconds: float) -> str:
    stamp = start + _dt.timedelta(milliseconds=int(round(seconds * 1000)))
    return stamp.strftime("%Y-%m-%d %H:%M:%S.") + f"{stamp.microsecond // 1000:03d}"


def _cell(value: Optional[float]) -> str:
    if value is None:
        return ""
    return f"{value:g}" if value != int(value) else str(int(value))


def generate_csv(shape: RecordingShape = RecordingShape()) -> str:
    """The recording as monitor CSV export text."""
    start = _dt.datetime.strptime(shape.start, "%Y-%m-%d %H:%M:%S")
    lines = [HEADER]
    for t, hr1, hr2, hrm, toco in generate_rows(shape):
        lines.append(",".join([_format_time(start, t), _cell(hr1), _cell(hr2), _cell(hrm), _cell(toco)]))
    return "\n".join(lines) + "\n"


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(description="Write a synthetic 4 Hz CTG recording as monitor CSV.")
    parser.add_argument("--minutes", type=float, default=40.0, help="recording length (default 40)")
    parser.add_argument("--seed", type=int, default=7, help="random seed (default 7)")
    parser.add_argument("--start", default="2024-03-01 08:00:00", help="first timestamp")
    parser.add_argument("-o", "--output", default="-", help="output file (default: standard output)")
    args = parser.parse_args(argv)
    text = generate_csv(RecordingShape(minutes=args.minutes, seed=args.seed, start=args.start))
    if args.output == "-":
        sys.stdout.write(text)
    else:
        with open(args.output, "w", encoding="utf-8", newline="") as handle:
            handle.write(text)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
