"""The samples of a recording, read for drawing (not for analysis).

The analysis reads its input in the compiled engine; a picture of the trace
needs the samples themselves. This reader is deliberately forgiving: a row
whose time cannot be read is left out, a value that is not a number or lies
outside the range a monitor can produce is a gap (NaN), and rows are put in
time order. Times are seconds from the first sample.
"""

from __future__ import annotations

import json
import math
import re
from dataclasses import dataclass
from typing import Any, Dict, List, Optional, Tuple

from corvane.timestamps import epoch_seconds

__all__ = ["Recording", "read_csv_recording", "read_request_recording", "SIGNALS"]

# Signal columns of a monitor export and keys of a JSON request sample.
SIGNALS = ("hr1", "hr2", "hr3", "hrm", "toco")
_HEART_RATES = ("hr1", "hr2", "hr3", "hrm")
# A heart rate outside this range is a dropout code (monitors write 0 when they
# lose the signal), not a rate: the analysis does not use it either.
HEART_RATE_RANGE = (30.0, 240.0)
TOCO_RANGE = (0.0, 300.0)

_NUMBER = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?")


@dataclass(frozen=True)
class Recording:
    """Samples in time order. ``seconds`` counts from the first sample, whose
    instant is ``origin_epoch_seconds`` (UTC); each signal holds one value per
    sample, NaN where the sample has none."""

    origin_epoch_seconds: Optional[float]
    seconds: Tuple[float, ...]
    signals: Dict[str, Tuple[float, ...]]

    def signal(self, name: str) -> Tuple[float, ...]:
        """One signal by name (hr1, hr2, hr3, hrm, toco; any letter case)."""
        return self.signals[name.lower()]

    def offset_of(self, epoch: Optional[float]) -> Optional[float]:
        """Seconds from the first sample to an instant, or None."""
        if epoch is None or self.origin_epoch_seconds is None:
            return None
        return epoch - self.origin_epoch_seconds

    def __len__(self) -> int:
        return len(self.seconds)


def _value(cell: Any, name: str) -> float:
    if isinstance(cell, bool) or cell is None:
        return math.nan
    if isinstance(cell, (int, float)):
        value = float(cell)
    elif isinstance(cell, str) and _NUMBER.fullmatch(cell.strip()):
        value = float(cell.strip())
    else:
        return math.nan
    low, high = HEART_RATE_RANGE if name in _HEART_RATES else TOCO_RANGE
    return value if low <= value <= high else math.nan


def _build(rows: List[Tuple[float, Dict[str, float]]]) -> Recording:
    # A stable sort keeps rows with equal times in file order.
    rows.sort(key=lambda row: row[0])
    if not rows:
        return Recording(None, (), {name: () for name in SIGNALS})
    origin = rows[0][0]
    seconds = tuple(epoch - origin for epoch, _ in rows)
    signals = {name: tuple(values.get(name, math.nan) for _, values in rows) for name in SIGNALS}
    return Recording(origin, seconds, signals)


def read_csv_recording(text: str) -> Recording:
    """The samples of a monitor CSV export (header with Date and any of HR1,
    HR2, HR3, HRM, TOCO in any letter case and order)."""
    lines = text.split("\n")
    header = [cell.strip().lower() for cell in lines[0].rstrip("\r").split(",")]
    positions: Dict[str, int] = {}
    for name in ("date",) + SIGNALS:
        if name in header:
            positions[name] = header.index(name)  # the leftmost column wins
    if "date" not in positions:
        return _build([])
    rows: List[Tuple[float, Dict[str, float]]] = []
    for line in lines[1:]:
        cells = line.rstrip("\r").split(",")
        if len(cells) <= positions["date"]:
            continue
        epoch = epoch_seconds(cells[positions["date"]])
        if epoch is None:
            continue
        values = {
            name: _value(cells[position], name) if position < len(cells) else math.nan
            for name, position in positions.items()
            if name != "date"
        }
        rows.append((epoch, values))
    return _build(rows)


def read_request_recording(text: str) -> Recording:
    """The samples of a JSON analysis request (``samples`` with ``t`` and the
    signal keys)."""
    try:
        request = json.loads(text)
    except ValueError:
        return _build([])
    samples: Any = request.get("samples") if isinstance(request, dict) else None
    if not isinstance(samples, list):
        return _build([])
    rows: List[Tuple[float, Dict[str, float]]] = []
    for sample in samples:
        if not isinstance(sample, dict) or not isinstance(sample.get("t"), str):
            continue
        epoch = epoch_seconds(sample["t"])
        if epoch is None:
            continue
        rows.append((epoch, {name: _value(sample.get(name), name) for name in SIGNALS}))
    return _build(rows)
