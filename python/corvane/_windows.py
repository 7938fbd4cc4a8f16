"""Where each window of a report lies in time, in milliseconds.

A report prints the texts of a window's first and last rows, not the instants
the window was cut at. Those instants follow from the recording's first and
last instants and the report's options, exactly as the analysis chose them:

- chunk mode: one window over the last 30 minutes (or the whole recording);
- rolling mode: windows of W minutes whose ends advance by the step from
  first + W, plus a last window ending at the recording's end when the steps
  do not land on it; a recording shorter than W is one window.

A report made with ``last_only`` keeps only the last of those windows.
"""

from __future__ import annotations

from typing import List, Optional, Tuple

from corvane._schema import ReportKeys
from corvane.timestamps import epoch_millis

__all__ = ["Bounds", "EVENT_SPAN_MS", "bounds_of", "detection_span", "findings_scope", "window_bounds"]

Bounds = Tuple[int, int]  # (start, end) in ms since the epoch, both ends inside

_MS_PER_MINUTE = 60_000
_MS_PER_SECOND = 1000
_CHUNK_MS = 30 * _MS_PER_MINUTE
# Events and contractions are looked for in the last 20 minutes of a window.
EVENT_SPAN_MS = 20 * _MS_PER_MINUTE


def _rolling(first: int, last: int, window_ms: int, step_ms: int, keep: int) -> List[Bounds]:
    """The rolling windows of the recording; only the last `keep` are kept,
    so that a last-only report of a long run costs no list of every window."""
    bounds: List[Bounds] = []
    end = last if last - first < window_ms else first + window_ms
    while end <= last:
        bounds.append((max(first, end - window_ms), end))
        if len(bounds) > keep:
            del bounds[0]
        end += step_ms
    if end - step_ms != last:
        bounds.append((max(first, last - window_ms), last))
    return bounds


def _count(first: int, last: int, window_ms: int, step_ms: int) -> int:
    if last - first < window_ms:
        return 1
    steps, rest = divmod(last - first - window_ms, step_ms)
    return steps + 1 + (1 if rest else 0)


def bounds_of(
    first_text: Optional[str], last_text: Optional[str], window_minutes: Optional[int], step_seconds: int, count: int
) -> Optional[List[Bounds]]:
    """(start, end) in milliseconds of each of the `count` windows of a report
    whose recording runs from `first_text` to `last_text`, analyzed with the
    given options; None when a time cannot be read here or `count` does not
    fit the options."""
    if not count:
        return []
    first = epoch_millis(first_text or "")
    last = epoch_millis(last_text or "")
    if first is None or last is None or last < first:
        return None
    if window_minutes is None:
        return [(max(first, last - _CHUNK_MS), last)] if count == 1 else None
    window_ms = window_minutes * _MS_PER_MINUTE
    step_ms = max(step_seconds, 1) * _MS_PER_SECOND
    expected = _count(first, last, window_ms, step_ms)
    if expected == count:
        return _rolling(first, last, window_ms, step_ms, count)
    if count == 1:  # a last-only report
        return _rolling(first, last, window_ms, step_ms, 1)[-1:]
    return None


def window_bounds(report: ReportKeys) -> Optional[List[Bounds]]:
    """(start, end) in milliseconds of each window of the report, in report
    order; None when the recording's first or last time cannot be read here
    or the windows do not fit the report's options."""
    return bounds_of(
        report.input.start_timestamp,
        report.input.end_timestamp,
        report.requested_window_minutes,
        report.step_seconds,
        len(report.windows),
    )


def detection_span(bounds: Bounds) -> Bounds:
    """The whole seconds (first, last second's start in ms) in which a window
    looks for events: its last 20 minutes."""
    start, end = bounds
    span_start = max(start, end - EVENT_SPAN_MS)
    return -(-span_start // _MS_PER_SECOND) * _MS_PER_SECOND, (end // _MS_PER_SECOND) * _MS_PER_SECOND


def _step_text(seconds: int) -> str:
    seconds = max(seconds, 1)
    return f"{seconds // 60} min" if seconds % 60 == 0 else f"{seconds} s"


def findings_scope(report: ReportKeys) -> str:
    """Which windows a report's findings come from, in words."""
    count = len(report.windows)
    if not count:
        return "no analysis window"
    minutes = report.requested_window_minutes
    if minutes is None:
        if report.input.duration_seconds * 1000 <= _CHUNK_MS:
            return "findings from the whole recording (one chunk)"
        return "findings from the last 30 minutes only (one chunk)"
    first = epoch_millis(report.input.start_timestamp or "")
    last = epoch_millis(report.input.end_timestamp or "")
    step_ms = max(report.step_seconds, 1) * _MS_PER_SECOND
    if count == 1 and first is not None and last is not None and _count(first, last, minutes * _MS_PER_MINUTE, step_ms) > 1:
        return f"findings from the last {minutes}-min window only"
    plural = "window" if count == 1 else "windows"
    return f"findings from rolling {minutes}-min windows every {_step_text(report.step_seconds)} ({count} {plural})"
