"""Bedside streaming: ``Monitor`` analyzes a recording while it arrives.

    monitor = Monitor(window_min=30, step_sec=60)
    for piece in pieces_of_a_csv_export:
        for window in monitor.add_csv(piece):
            print(window.window_end, window.classification)
    latest = monitor.current()

Every window returned equals the window with the same end in
``analyze_csv(all text received, window_min=..., step_sec=...)``; ``current()``
equals the one window of that analysis with ``last_only=True``. Only the last
``window_min`` of samples is held, whatever the length of the stream.
"""

from __future__ import annotations

from typing import Iterable, List, Optional, Sequence, Tuple

from corvane import _native
from corvane.report import InputSummary, Report, Window

__all__ = ["Monitor"]

_VALUE_FIELDS = 5  # hr1, hr2, hr3, hrm, toco


def _sample_row(row: Sequence[object]) -> Tuple[object, ...]:
    values = tuple(row)
    if not 1 <= len(values) <= 1 + _VALUE_FIELDS:
        raise TypeError(f"a sample row is (timestamp, hr1, hr2, hr3, hrm, toco); got {len(values)} items")
    return values + (None,) * (1 + _VALUE_FIELDS - len(values))


class Monitor:
    """Rolling analysis of a monitor recording fed as it arrives.

    A window is complete, and returned, once a sample later than its end has
    arrived. A row no later than the end of a window already returned cannot
    change that window; it is counted in ``late_rows`` and later windows
    include it. A bad row raises the ValueError the whole-text analysis gives
    for it, from the call that completes the row, and is not taken; the text
    after it is read by the next call, which also returns the windows
    completed before the error.
    """

    def __init__(self, *, channel: str = "HR1", ga_weeks: Optional[int] = None, window_min: int = 30, step_sec: int = 60) -> None:
        self._native = _native.Monitor(channel=channel, ga_weeks=ga_weeks, window_min=window_min, step_sec=step_sec)

    def add_csv(self, text: str) -> List[Window]:
        """Take the next piece of a CSV export (header first, split anywhere; a
        line is read once its line feed has arrived) and return the windows it
        completed."""
        return list(self._add_csv_report(text).windows)

    def _add_csv_report(self, text: str) -> Report:
        """add_csv's windows as a report text (the input so far and those windows)."""
        return Report.from_text(self._native.add_csv(text))

    def add_samples(self, rows: Iterable[Sequence[object]]) -> List[Window]:
        """Take parsed rows ``(timestamp text, hr1, hr2, hr3, hrm, toco)`` (values
        float or None; trailing ones may be left out) and return the windows they
        completed. In messages the k-th row given is row k + 1, as below a header."""
        return list(Report.from_text(self._native.add_samples([_sample_row(row) for row in rows])).windows)

    def current(self) -> Optional[Window]:
        """The window ending at the latest sample, or None before any sample."""
        windows = Report.from_text(self._native.current()).windows
        return windows[0] if windows else None

    @property
    def input(self) -> InputSummary:
        """The summary of every row received so far."""
        return Report.from_text(self._native.input()).input

    @property
    def late_rows(self) -> int:
        """Rows that arrived no later than the end of a window already returned."""
        return int(self._native.late_rows())

    @property
    def held_samples(self) -> int:
        """Samples held for the windows still to come (at most one window's worth)."""
        return int(self._native.held_samples())
