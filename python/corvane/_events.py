"""The events of a whole recording, each once.

Rolling windows overlap, so one acceleration, deceleration or contraction is
usually reported by several windows. :func:`recording_events` merges them:

    Two window events are the same recording event when they are of the same
    family (acceleration, deceleration or contraction) and start in the same
    second and end in the same second.

Instants are compared, not texts: a window names a second by the first of
its own rows in that second, so two windows may write the same second
differently at their edges. A text that cannot be read as a time is compared
as text. Nothing else is compared, so a deceleration that one window calls
"gradual_unclassified" and another "late" (because only the second saw the
contraction) is one event, and ``kinds_seen`` lists both kinds. Events that
merely overlap, for example one cut short by a window's edge and the whole
one seen by the next window, stay separate events; ``cut_at_window_edge``
marks those that touch the edge of every window that saw them.

The measured values of a merged event (its texts, duration, peak, nadir,
depth, kind) are those of the window that saw it furthest from the edges of
the span it searched (the last 20 minutes of the window), the newer window on
a tie: that window had the most trace on both sides of the event.
"""

from __future__ import annotations

import datetime as _dt
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Dict, Iterator, List, Optional, Sequence, Tuple, Union

from corvane._windows import Bounds, detection_span, window_bounds
from corvane.timestamps import epoch_millis, parse_timestamp

if TYPE_CHECKING:  # pragma: no cover
    from corvane.report import DecelerationKind, EventKind, Report, Window

__all__ = ["RecordingEvent", "merge_events", "recording_events", "RECORDING_EVENT_FIELDS", "EVENT_FAMILIES"]

EVENT_FAMILIES = ("acceleration", "deceleration", "contraction")
_MS_PER_SECOND = 1000
_EPOCH_UTC = _dt.datetime(1970, 1, 1, tzinfo=_dt.timezone.utc)


@dataclass(frozen=True)
class RecordingEvent:
    """One acceleration, deceleration or contraction of the recording.

    ``kind`` is the family; ``deceleration_kind`` the kind of a deceleration.
    ``start``, ``peak`` (contractions only) and ``end`` are the report's texts;
    ``start_time``, ``peak_time`` and ``end_time`` the instants as UTC
    datetimes (None where a text is not a time); ``peak_time`` is a
    contraction's peak or a deceleration's nadir. ``first_window`` and
    ``last_window`` number the first and last window that reported it
    (0 = first), ``window_count`` how many did. ``kinds_seen`` lists the
    deceleration kinds the windows gave, in the order first seen, when they
    disagree (empty otherwise)."""

    kind: "EventKind"
    deceleration_kind: Optional["DecelerationKind"]
    start: str
    peak: Optional[str]
    end: str
    start_time: Optional[_dt.datetime]
    peak_time: Optional[_dt.datetime]
    end_time: Optional[_dt.datetime]
    duration_seconds: float
    peak_bpm: Optional[float]
    nadir_bpm: Optional[float]
    depth_bpm: Optional[float]
    onset_to_nadir_seconds: Optional[float]
    peak_toco: Optional[float]
    first_window: int
    last_window: int
    window_count: int
    kinds_seen: Tuple["DecelerationKind", ...]
    cut_at_window_edge: bool


RECORDING_EVENT_FIELDS = tuple(RecordingEvent.__dataclass_fields__)

_Key = Tuple[str, Union[int, str], Union[int, str]]


def _second(text: str) -> Union[int, str]:
    millis = epoch_millis(text)
    return text if millis is None else millis // _MS_PER_SECOND * _MS_PER_SECOND


def _utc(text: Optional[str]) -> Optional[_dt.datetime]:
    parsed = None if text is None else parse_timestamp(text)
    return None if parsed is None else parsed.utc


def _window_events(window: "Window") -> Iterator[Tuple[str, Any]]:
    for family, events in zip(
        EVENT_FAMILIES, (window.acceleration_events, window.deceleration_events, window.contraction_events)
    ):
        for event in events:
            yield family, event


@dataclass
class _Sighting:
    window: int
    event: Any
    margin: Optional[int]  # ms from the event to the nearer edge of the searched span
    cut: bool


def _sighting(number: int, event: Any, key: _Key, bounds: Optional[Bounds]) -> _Sighting:
    start, end = key[1], key[2]
    if bounds is None or not isinstance(start, int) or not isinstance(end, int):
        return _Sighting(number, event, None, False)
    first, last = detection_span(bounds)
    # A run still going at the window's end is ended at its last second; one
    # already going at the start of the span begins at its first second.
    cut = start <= first or end >= last
    return _Sighting(number, event, min(start - first, last - end), cut)


def _chosen(sightings: Sequence[_Sighting]) -> _Sighting:
    if any(sighting.margin is None for sighting in sightings):
        return sightings[-1]
    return max(reversed(sightings), key=lambda sighting: sighting.margin)


def _merged(family: str, sightings: Sequence[_Sighting]) -> RecordingEvent:
    chosen = _chosen(sightings).event
    peak: Optional[str] = getattr(chosen, "peak", None)
    peak_time = _utc(peak)
    kinds_seen: Tuple[Any, ...] = ()
    if family == "deceleration":
        kinds = tuple(dict.fromkeys(sighting.event.kind for sighting in sightings))
        kinds_seen = kinds if len(kinds) > 1 else ()
        onset = _second(chosen.start)
        if isinstance(onset, int):  # the nadir, counted from the start of the onset's second
            peak_time = _EPOCH_UTC + _dt.timedelta(milliseconds=onset + round(chosen.onset_to_nadir_seconds * 1000))
    return RecordingEvent(
        kind=family,  # type: ignore[arg-type]
        deceleration_kind=getattr(chosen, "kind", None),
        start=chosen.start,
        peak=peak,
        end=chosen.end,
        start_time=_utc(chosen.start),
        peak_time=peak_time,
        end_time=_utc(chosen.end),
        duration_seconds=chosen.duration_seconds,
        peak_bpm=getattr(chosen, "peak_bpm", None),
        nadir_bpm=getattr(chosen, "nadir_bpm", None),
        depth_bpm=getattr(chosen, "depth_bpm", None),
        onset_to_nadir_seconds=getattr(chosen, "onset_to_nadir_seconds", None),
        peak_toco=getattr(chosen, "peak_toco", None),
        first_window=sightings[0].window,
        last_window=sightings[-1].window,
        window_count=len(sightings),
        kinds_seen=kinds_seen,
        cut_at_window_edge=all(sighting.cut for sighting in sightings),
    )


def _order(key: _Key) -> Tuple[Any, ...]:
    _, start, end = key
    # Events whose times cannot be read go last, by text.
    return (
        isinstance(start, str),
        start if isinstance(start, int) else 0,
        isinstance(end, str),
        end if isinstance(end, int) else 0,
        EVENT_FAMILIES.index(key[0]),
        str(start),
        str(end),
    )


def merge_events(
    windows: Sequence[Tuple[int, "Window"]], bounds: Sequence[Optional[Bounds]]
) -> Tuple[RecordingEvent, ...]:
    """The events of the numbered windows merged by the module's rule;
    `bounds` gives each window's (start, end) in ms, or None where unknown."""
    found: Dict[_Key, List[_Sighting]] = {}
    for (number, window), window_bounds_ms in zip(windows, bounds):
        for family, event in _window_events(window):
            key: _Key = (family, _second(event.start), _second(event.end))
            found.setdefault(key, []).append(_sighting(number, event, key, window_bounds_ms))
    return tuple(_merged(key[0], found[key]) for key in sorted(found, key=_order))


def recording_events(report: "Report") -> Tuple[RecordingEvent, ...]:
    """The report's events merged across windows (see the module's rule), in
    time order of their start, then end, then family."""
    bounds: Sequence[Optional[Bounds]] = window_bounds(report) or [None] * len(report.windows)
    return merge_events(list(enumerate(report.windows)), bounds)
