"""What a picture of a recording shows, whatever draws it.

The static plot (:mod:`corvane.plot`) and the interactive review page draw the
same things from a report and its recording: the windows' blocks on the
strip, the recording's events once and whole, each window's baseline broken
where there is no fetal signal, the seconds without fetal signal and of
suspected maternal capture, the stretches with absent or flat TOCO, and the
heart-rate range. Times here are seconds from the recording's first sample.
"""

from __future__ import annotations

import bisect
import math
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence, Tuple

from corvane._events import RecordingEvent, merge_events
from corvane._schema import Window
from corvane._seconds import recording_millis, runs, second_series
from corvane.recording import Recording
from corvane.timestamps import epoch_seconds

if TYPE_CHECKING:  # pragma: no cover
    from corvane.report import Report

__all__ = [
    "Quality",
    "Tile",
    "baseline_segments",
    "event_colour",
    "event_label",
    "drawn_events",
    "events_to_draw",
    "fhr_range",
    "flat_toco_runs",
    "quality_runs",
    "select_window",
    "time_range",
    "values_within",
    "window_tiles",
    "without",
]

SECONDS_PER_MINUTE = 60.0
_MS_PER_SECOND = 1000.0
# The baseline of a window is estimated over its last 10 minutes.
BASELINE_SPAN_SECONDS = 600.0
# Heart-rate and TOCO ranges, as on CTG paper.
FHR_RANGE = (50.0, 210.0)
FHR_NORMAL_BAND = (110.0, 160.0)
FHR_GRID_STEP = 10.0
TOCO_RANGE = (0.0, 100.0)
# A TOCO trace whose 20th and 95th percentiles lie closer than this shows no
# contraction (the analysis finds none in such a trace either).
_FLAT_TOCO_RANGE = 5.0
# Drawn when a recording has no sample at all.
_EMPTY_SPAN_SECONDS = 600.0

NO_TOCO_TEXT = "no TOCO signal"
NO_SIGNAL_LABEL = "no fetal signal"
CAPTURE_LABEL = "suspected maternal capture (fetal within 5 bpm of maternal)"
NORMAL_BAND_LABEL = "normal band 110–160 bpm"

# Colours shared by the plot and the review page.
FETAL_COLOUR = "#1a1a1a"
MATERNAL_COLOUR = "#1e6fd9"
TOCO_COLOUR = "#1a1a1a"
BASELINE_COLOUR = "#1b7f2a"
BAND_COLOUR = "#d9ecd0"
NO_SIGNAL_COLOUR = "#9e9e9e"
CAPTURE_COLOUR = "#42a5f5"
ACCELERATION_COLOUR = "#00a69c"
DECELERATION_COLOURS = {
    "variable": "#ff9800",
    "early": "#fdd835",
    "late": "#e53935",
    "prolonged": "#8e24aa",
    "gradual_unclassified": "#8d6e63",
}
CONTRACTION_COLOUR = "#c2185b"
# (colour, short text, legend text) of each category and alert level.
CATEGORY_STYLE = {
    "category_i": ("#66bb6a", "cat I", "category I"),
    "category_ii": ("#ffca28", "cat II", "category II"),
    "category_iii": ("#e53935", "cat III", "category III"),
    "unclassified": ("#bdbdbd", "unclassified", "unclassified"),
}
ALERT_STYLE = {
    "none": ("#eeeeee", "none", "alert: none"),
    "warning": ("#fff176", "warning", "alert: warning"),
    "urgent_review": ("#ffa726", "urgent review", "alert: urgent review"),
    "critical": ("#c62828", "critical", "alert: critical"),
    "data_quality": ("#90a4ae", "data quality", "alert: data quality"),
}


def event_label(event: RecordingEvent) -> str:
    """ "acceleration", "late deceleration", "contraction", ..."""
    if event.kind == "deceleration" and event.deceleration_kind is not None:
        return f"{event.deceleration_kind.replace('_', ' ')} deceleration"
    return event.kind


def event_colour(event: RecordingEvent) -> str:
    if event.kind == "deceleration" and event.deceleration_kind is not None:
        return DECELERATION_COLOURS[event.deceleration_kind]
    return ACCELERATION_COLOUR if event.kind == "acceleration" else CONTRACTION_COLOUR


def select_window(report: Report, window: Optional[int]) -> List[Tuple[int, Window]]:
    """The numbered windows to draw: all of them, or the one numbered `window`
    (0 = first, negative numbers count from the end as in Python)."""
    numbered = list(enumerate(report.windows))
    if window is None:
        return numbered
    count = len(numbered)
    if not -count <= window < count:
        plural = "window" if count == 1 else "windows"
        raise ValueError(f"window {window} is out of range: the report has {count} {plural}")
    return [numbered[window]]


def _event_span(event: RecordingEvent) -> Optional[Tuple[float, float]]:
    start, end = epoch_seconds(event.start), epoch_seconds(event.end)
    return None if start is None or end is None else (start, end)


def drawn_events(events: Sequence[RecordingEvent]) -> List[RecordingEvent]:
    """The recording events to draw, each physical event once and whole.

    Windows may report overlapping versions of one event: cut short where a
    window's edge fell inside it, or with edges moved by a different
    baseline. Per family, events are taken whole ones first (not cut at the
    edge of every window that saw them), then the longest, then the most
    recently seen; an event overlapping one already taken is left out.
    Events whose times cannot be read are left out. The result is in time
    order."""
    taken: Dict[str, List[Tuple[float, float]]] = {}
    chosen: List[Tuple[Tuple[float, float], RecordingEvent]] = []
    ranked = sorted(
        ((span, event) for event in events for span in [_event_span(event)] if span is not None),
        key=lambda item: (item[1].cut_at_window_edge, -(item[0][1] - item[0][0]), -item[1].last_window),
    )
    for span, event in ranked:
        spans = taken.setdefault(event.kind, [])
        if any(span[0] < other_end and other_start < span[1] for other_start, other_end in spans):
            continue
        spans.append(span)
        chosen.append((span, event))
    chosen.sort(key=lambda item: item[0])
    return [event for _, event in chosen]


@dataclass(frozen=True)
class Tile:
    """A window's block on the strip: its number, the window, and its start
    and end in seconds from the first sample."""

    number: int
    window: Window
    start: float
    end: float


def window_tiles(
    windows: Sequence[Tuple[int, Window]], offset_of: Any, since_previous: bool
) -> List[Tile]:
    """Each window's span in seconds; with `since_previous` a window starts
    where the previous one ended, so that overlapping rolling windows tile."""
    spans: List[Tile] = []
    previous_end: Optional[float] = None
    for number, window in windows:
        start, end = offset_of(window.window_start), offset_of(window.window_end)
        if start is None or end is None:
            continue
        if since_previous and previous_end is not None:
            start = max(start, previous_end)
        previous_end = end
        if end > start or (end == start and not spans):
            spans.append(Tile(number, window, start, end))
    return spans


@dataclass(frozen=True)
class Quality:
    """Runs of seconds, in seconds from the first sample: no fetal signal,
    and suspected maternal capture."""

    no_signal: List[Tuple[float, float]]
    capture: List[Tuple[float, float]]


def quality_runs(recording: Recording, channel: str, bounds: Optional[Tuple[int, int]]) -> Quality:
    """The seconds without fetal signal and of suspected maternal capture as
    the analysis counts them, over the window with `bounds` (start, end in ms)
    or over the whole recording."""
    millis = recording_millis(recording)
    origin = recording.origin_epoch_seconds
    if not millis or origin is None:
        return Quality([], [])
    start_ms, end_ms = bounds if bounds is not None else (millis[0], millis[-1])
    series = second_series(recording, channel, start_ms, end_ms, millis)

    def seconds(found: List[Tuple[int, int]]) -> List[Tuple[float, float]]:
        return [(start / _MS_PER_SECOND - origin, end / _MS_PER_SECOND - origin) for start, end in found]

    return Quality(
        seconds(runs(series.no_fetal_signal(), series.first_ms)),
        seconds(runs(series.maternal_capture(), series.first_ms)),
    )


def time_range(recording: Recording, spans: Sequence[Tile], selected: bool) -> Tuple[float, float]:
    ends = [span.end for span in spans]
    starts = [span.start for span in spans]
    if not selected and recording.seconds:
        starts.append(recording.seconds[0])
        ends.append(recording.seconds[-1])
    if not starts:
        return 0.0, _EMPTY_SPAN_SECONDS
    start, end = min(starts), max(ends)
    if end <= start:
        end = start + SECONDS_PER_MINUTE
    return start, end


def values_within(recording: Recording, name: str, start: float, end: float) -> List[float]:
    first = bisect.bisect_left(recording.seconds, start)
    last = bisect.bisect_right(recording.seconds, end)
    return [value for value in recording.signal(name)[first:last] if not math.isnan(value)]


def fhr_range(recording: Recording, channel: str, start: float, end: float) -> Tuple[float, float]:
    """50–210 bpm, extended downward to the next 10 bpm line below the lowest
    fetal or maternal rate drawn."""
    lowest = min(
        values_within(recording, channel, start, end) + values_within(recording, "hrm", start, end),
        default=FHR_RANGE[0],
    )
    low = min(FHR_RANGE[0], math.floor(lowest / FHR_GRID_STEP) * FHR_GRID_STEP)
    return low, FHR_RANGE[1]


def toco_is_flat(values: Sequence[float]) -> bool:
    """No values, or too little spread to show a contraction."""
    if not values:
        return True
    ordered = sorted(values)
    last = len(ordered) - 1
    return ordered[int(last * 0.95 + 0.5)] - ordered[int(last * 0.2 + 0.5)] < _FLAT_TOCO_RANGE


def events_to_draw(
    report: Report, chosen: Sequence[Tuple[int, Window]], bounds: Optional[List[Tuple[int, int]]], selected: bool
) -> List[RecordingEvent]:
    """One window's own events, or the whole recording's, once and whole."""
    if selected:
        number = chosen[0][0] if chosen else 0
        window_bounds_ms = [bounds[number]] if bounds is not None else [None]
        windows = report.to_dict()["windows"]
        return list(merge_events([(number, windows[number]) for number, _ in chosen], window_bounds_ms))
    return drawn_events(report.recording_events())


def flat_toco_runs(recording: Recording, spans: Sequence[Tile], start: float, end: float) -> List[Tuple[float, float]]:
    """The stretches (of whole window blocks of the strip) whose TOCO is absent
    or flat, joined where they meet."""
    found: List[Tuple[float, float]] = []
    for left, right in [(span.start, span.end) for span in spans] or [(start, end)]:
        if not toco_is_flat(values_within(recording, "toco", left, right)):
            continue
        if found and found[-1][1] == left:
            found[-1] = (found[-1][0], right)
        else:
            found.append((left, right))
    return found


def without(start: float, end: float, holes: Sequence[Tuple[float, float]]) -> List[Tuple[float, float]]:
    """The parts of [start, end] outside the holes (sorted, not overlapping)."""
    parts: List[Tuple[float, float]] = []
    for hole_start, hole_end in holes:
        if hole_end <= start or hole_start >= end:
            continue
        if hole_start > start:
            parts.append((start, hole_start))
        start = max(start, hole_end)
    if end > start:
        parts.append((start, end))
    return parts


def baseline_segments(tile: Tile, no_signal: Sequence[Tuple[float, float]]) -> List[Tuple[float, float]]:
    """Where a window's baseline is drawn: over the last 10 minutes it was
    estimated from, within the window's block of the strip (so rolling
    windows tile), and not over the seconds without fetal signal."""
    return without(max(tile.start, tile.end - BASELINE_SPAN_SECONDS), tile.end, no_signal)
