"""The per-second signal of a span, as the analysis prepares it, for drawing.

The analysis judges a window on one value per whole second: the mean of the
second's usable rows (fetal and maternal heart rate 30-240 bpm, TOCO 0-300)
taken from the rows that lie inside the window. From that series it counts:

- a second *without fetal signal* when no usable fetal value fell into it
  (``fetal_usable_ratio`` = seconds with fetal signal / seconds of the window);
- a second of *suspected maternal capture* when it has both a fetal and a
  maternal value and the two lie within 5 bpm of each other
  (``suspected_maternal_capture_ratio`` = such seconds / seconds with both).

This module rebuilds that series from a :class:`~corvane.recording.Recording`
so that plots and the review page can shade exactly the seconds the report
counted. Given a window's own bounds it gives the window's figures.
"""

from __future__ import annotations

import bisect
import math
from dataclasses import dataclass
from typing import List, Optional, Sequence, Tuple

from corvane.recording import Recording

__all__ = ["SecondSeries", "second_series", "recording_millis", "runs", "CAPTURE_MAX_DIFFERENCE_BPM"]

# Fetal and maternal rates at most this far apart count as maternal capture.
CAPTURE_MAX_DIFFERENCE_BPM = 5.0
_MS_PER_SECOND = 1000


@dataclass(frozen=True)
class SecondSeries:
    """One entry per whole second from ``first_ms`` on (``None`` = no usable
    value in that second)."""

    first_ms: int
    fetal: Tuple[Optional[float], ...]
    maternal: Tuple[Optional[float], ...]
    toco: Tuple[Optional[float], ...]

    def __len__(self) -> int:
        return len(self.fetal)

    def no_fetal_signal(self) -> List[bool]:
        return [value is None for value in self.fetal]

    def maternal_capture(self) -> List[bool]:
        return [
            fetal is not None and maternal is not None and abs(fetal - maternal) <= CAPTURE_MAX_DIFFERENCE_BPM
            for fetal, maternal in zip(self.fetal, self.maternal)
        ]

    def fetal_usable_ratio(self) -> float:
        return (len(self) - sum(self.no_fetal_signal())) / len(self) if len(self) else 0.0

    def maternal_capture_ratio(self) -> float:
        paired = sum(1 for f, m in zip(self.fetal, self.maternal) if f is not None and m is not None)
        return sum(self.maternal_capture()) / paired if paired else 0.0


def recording_millis(recording: Recording) -> List[int]:
    """Each sample's instant in whole milliseconds since the epoch."""
    origin = recording.origin_epoch_seconds
    if origin is None:
        return []
    return [round((origin + second) * _MS_PER_SECOND) for second in recording.seconds]


def _mean_of_seconds(
    millis: Sequence[int], values: Sequence[float], rows: range, first_ms: int, count: int
) -> Tuple[Optional[float], ...]:
    sums = [0.0] * count
    counts = [0] * count
    for row in rows:
        value = values[row]
        if math.isnan(value):
            continue
        # Summed in time order, as the analysis does, so the means are the same doubles.
        index = (millis[row] // _MS_PER_SECOND * _MS_PER_SECOND - first_ms) // _MS_PER_SECOND
        sums[index] += value
        counts[index] += 1
    return tuple(total / number if number else None for total, number in zip(sums, counts))


def second_series(
    recording: Recording, channel: str, start_ms: int, end_ms: int, millis: Optional[Sequence[int]] = None
) -> SecondSeries:
    """The per-second series of the rows from `start_ms` to `end_ms` (both
    inclusive), covering every second from the one holding `start_ms` to the
    one holding `end_ms`. `millis` are the rows' instants when already known
    (see :func:`recording_millis`)."""
    if millis is None:
        millis = recording_millis(recording)
    first_ms = start_ms // _MS_PER_SECOND * _MS_PER_SECOND
    last_ms = end_ms // _MS_PER_SECOND * _MS_PER_SECOND
    count = (last_ms - first_ms) // _MS_PER_SECOND + 1 if last_ms >= first_ms else 0
    rows = range(bisect.bisect_left(millis, start_ms), bisect.bisect_right(millis, end_ms))
    fetal, maternal, toco = (
        _mean_of_seconds(millis, recording.signal(name), rows, first_ms, count) for name in (channel, "hrm", "toco")
    )
    return SecondSeries(first_ms, fetal, maternal, toco)


def runs(flags: Sequence[bool], first_ms: int) -> List[Tuple[int, int]]:
    """The runs of consecutive set flags as (start, end) in ms, the end being
    the start of the first second after the run."""
    found: List[Tuple[int, int]] = []
    start: Optional[int] = None
    for index, flag in enumerate(list(flags) + [False]):
        if flag and start is None:
            start = index
        elif not flag and start is not None:
            found.append((first_ms + start * _MS_PER_SECOND, first_ms + index * _MS_PER_SECOND))
            start = None
    return found
