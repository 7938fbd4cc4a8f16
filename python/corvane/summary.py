"""A one-line-per-window text summary of a report, for an 80-column terminal.

    window end     cat alert         base variab.  acc  V  E  L  P  G ctx/10 fetal%
    03-01 08:40:00 I   none           140 moderate   1  0  0  0  0  0    2.0   99.2

Columns: the window's end (month-day and time of day as recorded), category
(I, II, III, or - when unclassified), alert level, baseline (bpm), variability
class, accelerations, decelerations by kind (V variable, E early, L late,
P prolonged, G gradual but unclassified), contractions per 10 minutes and the
share of the window's seconds with a usable fetal heart rate (percent).
"""

from __future__ import annotations

from typing import Callable, List, NamedTuple

from corvane.report import Report, Window
from corvane.timestamps import parse_timestamp

__all__ = ["DECELERATION_LETTERS", "format_summary", "summary_header", "summary_lines", "window_line"]

# Deceleration kinds in column order, with their one-letter headers.
DECELERATION_LETTERS = (
    ("variable", "V"),
    ("early", "E"),
    ("late", "L"),
    ("prolonged", "P"),
    ("gradual_unclassified", "G"),
)
_CATEGORY_LABELS = {"category_i": "I", "category_ii": "II", "category_iii": "III", "unclassified": "-"}
_ABSENT = "-"
_END_FORMAT = "%m-%d %H:%M:%S"
_END_WIDTH = 14
_PERCENT = 100.0


class _Column(NamedTuple):
    header: str
    width: int
    right: bool
    value: Callable[[Window], str]


def _window_end(window: Window) -> str:
    parsed = parse_timestamp(window.window_end)
    if parsed is None:
        return window.window_end[:_END_WIDTH]
    return parsed.wall_clock.strftime(_END_FORMAT)


def _deceleration_count(kind: str) -> Callable[[Window], str]:
    return lambda window: str(sum(1 for event in window.deceleration_events if event.kind == kind))


def _optional(value: object) -> str:
    return _ABSENT if value is None else str(value)


_COLUMNS = [
    _Column("window end", _END_WIDTH, False, _window_end),
    _Column("cat", 3, False, lambda w: _CATEGORY_LABELS[w.classification]),
    _Column("alert", 13, False, lambda w: w.alert_level),
    _Column("base", 4, True, lambda w: _optional(w.baseline_bpm)),
    _Column("variab.", 8, False, lambda w: _optional(w.variability_class)),
    _Column("acc", 3, True, lambda w: str(len(w.acceleration_events))),
]
_COLUMNS += [_Column(letter, 2, True, _deceleration_count(kind)) for kind, letter in DECELERATION_LETTERS]
_COLUMNS += [
    _Column("ctx/10", 6, True, lambda w: f"{w.contractions_per_10_min:.1f}"),
    _Column("fetal%", 6, True, lambda w: f"{w.data_quality.fetal_usable_ratio * _PERCENT:.1f}"),
]


def _line(cells: List[str]) -> str:
    parts = [
        cell.rjust(column.width) if column.right else cell.ljust(column.width) for column, cell in zip(_COLUMNS, cells)
    ]
    return " ".join(parts).rstrip()


def summary_header() -> str:
    """The line naming the columns."""
    return _line([column.header for column in _COLUMNS])


def window_line(window: Window) -> str:
    """One window's line."""
    return _line([column.value(window) for column in _COLUMNS])


def summary_lines(report: Report) -> List[str]:
    """The header line, then one line per window in report order."""
    return [summary_header()] + [window_line(window) for window in report.windows]


def format_summary(report: Report) -> str:
    """The summary as text, each line ended by a line feed."""
    return "".join(line + "\n" for line in summary_lines(report))
