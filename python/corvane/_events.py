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
from typing import TYPE_CHECKING, Any, Dict, Iterator, List, Mapping, Optional, Sequence, Tuple, Union

from corvane._windows import Bounds, bounds_of, detection_span
from corvane.timestamps import epoch_millis

if TYPE_CHECKING:  # pragma: no cover
    from corvane.report import DecelerationKind, EventKind, Report

__all__ = ["RecordingEvent", "merge_events", "recording_events", "recording_events_of", "RECORDING_EVENT_COLUMNS", "EVENT_FAMILIES"]

EVENT_FAMILIES = ("acceleration", "deceleration", "contraction")
_MS_PER_SECOND = 1000
_EPOCH_UTC = _dt.datetime(1970, 1, 1, tzinfo=_dt.timezone.utc)


@dataclass(frozen=True)
class RecordingEvent:
    """One acceleration, deceleration or contraction of the recording.

    ``kind`` is the family; ``deceleration_kind`` the kind of a deceleration.
    ``start``, ``peak`` (contractions only) and ``end`` are the report's texts;
    the properties ``start_time``, ``peak_time`` and ``end_time`` give the
    instants as UTC datetimes (None where a text is not a time); ``peak_time``
    is a contraction's peak or a deceleration's nadir. ``first_window`` and
    ``last_window`` number the first and last window that reported it
    (0 = first), ``window_count`` how many did. ``kinds_seen`` lists the
    deceleration kinds the windows gave, in the order first seen, when they
    disagree (empty otherwise)."""

    kind: "EventKind"
    deceleration_kind: Optional["DecelerationKind"]
    start: str
    peak: Optional[str]
    end: str
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

    @property
    def start_time(self) -> Optional[_dt.datetime]:
        return _utc(epoch_millis(self.start))

    @property
    def end_time(self) -> Optional[_dt.datetime]:
        return _utc(epoch_millis(self.end))

    @property
    def peak_time(self) -> Optional[_dt.datetime]:
        if self.kind != "deceleration":
            return None if self.peak is None else _utc(epoch_millis(self.peak))
        onset = epoch_millis(self.start)
        if onset is None or self.onset_to_nadir_seconds is None:
            return None
        # The nadir, counted from the start of the onset's second.
        return _utc(onset // _MS_PER_SECOND * _MS_PER_SECOND + round(self.onset_to_nadir_seconds * 1000))


def _utc(millis: Optional[int]) -> Optional[_dt.datetime]:
    return None if millis is None else _EPOCH_UTC + _dt.timedelta(milliseconds=millis)


_FIELDS = tuple(RecordingEvent.__dataclass_fields__)
# The fields, with the instants after the texts: the columns of a data frame.
RECORDING_EVENT_COLUMNS = _FIELDS[:5] + ("start_time", "peak_time", "end_time") + _FIELDS[5:]

_Key = Tuple[str, Union[int, str], Union[int, str]]
Event = Mapping[str, Any]


class _Clock:
    """Timestamp texts read once each: the same texts recur in every window."""

    def __init__(self) -> None:
        self._millis: Dict[str, Optional[int]] = {}

    def millis(self, text: str) -> Optional[int]:
        if text not in self._millis:
            self._millis[text] = epoch_millis(text)
        return self._millis[text]

    def second(self, text: str) -> Union[int, str]:
        """The start of the second a text names, in ms; the text itself when it is not a time."""
        millis = self.millis(text)
        return text if millis is None else millis // _MS_PER_SECOND * _MS_PER_SECOND


def _window_events(window: Mapping[str, Any]) -> Iterator[Tuple[str, Event]]:
    for family in EVENT_FAMILIES:
        for event in window[f"{family}_events"]:
            yield family, event


@dataclass
class _Sighting:
    window: int
    event: Event
    margin: Optional[int]  # ms from the event to the nearer edge of the searched span
    cut: bool


def _sighting(number: int, event: Event, key: _Key, span: Optional[Bounds]) -> _Sighting:
    start, end = key[1], key[2]
    if span is None or not isinstance(start, int) or not isinstance(end, int):
        return _Sighting(number, event, None, False)
    first, last = span
    # A run still going at the window's end is ended at its last second; one
    # already going at the start of the span begins at its first second.
    cut = start <= first or end >= last
    return _Sighting(number, event, min(start - first, last - end), cut)


def _chosen(sightings: Sequence[_Sighting]) -> _Sighting:
    if any(sighting.margin is None for sighting in sightings):
        return sightings[-1]
    return max(reversed(sightings), key=lambda sighting: sighting.margin)  # type: ignore[arg-type, return-value]


def _merged(family: str, sightings: Sequence[_Sighting]) -> RecordingEvent:
    chosen = _chosen(sightings).event
    kinds_seen: Tuple[Any, ...] = ()
    if family == "deceleration":
        kinds = tuple(dict.fromkeys(sighting.event["kind"] for sighting in sightings))
        kinds_seen = kinds if len(kinds) > 1 else ()
    # The report prints every double with decimals, so the values are floats already.
    return RecordingEvent(
        family,  # type: ignore[arg-type]
        chosen.get("kind"),
        chosen["start"],
        chosen.get("peak"),
        chosen["end"],
        chosen["duration_seconds"],
        chosen.get("peak_bpm"),
        chosen.get("nadir_bpm"),
        chosen.get("depth_bpm"),
        chosen.get("onset_to_nadir_seconds"),
        chosen.get("peak_toco"),
        sightings[0].window,
        sightings[-1].window,
        len(sightings),
        kinds_seen,
        all(sighting.cut for sighting in sightings),
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
    windows: Sequence[Tuple[int, Mapping[str, Any]]], bounds: Sequence[Optional[Bounds]]
) -> Tuple[RecordingEvent, ...]:
    """The events of the numbered windows (each as the report's data for the
    window) merged by the module's rule; `bounds` gives each window's
    (start, end) in ms, or None where unknown."""
    clock = _Clock()
    found: Dict[_Key, List[_Sighting]] = {}
    for (number, window), window_bounds_ms in zip(windows, bounds):
        span = None if window_bounds_ms is None else detection_span(window_bounds_ms)
        for family, event in _window_events(window):
            key: _Key = (family, clock.second(event["start"]), clock.second(event["end"]))
            found.setdefault(key, []).append(_sighting(number, event, key, span))
    return tuple(_merged(key[0], found[key]) for key in sorted(found, key=_order))


def recording_events_of(report: Mapping[str, Any]) -> Tuple[RecordingEvent, ...]:
    """:func:`recording_events` of a report given as its parsed JSON data."""
    windows = report["windows"]
    summary = report["input"]
    bounds: Sequence[Optional[Bounds]] = bounds_of(
        summary["start_timestamp"], summary["end_timestamp"], report["requested_window_minutes"],
        report["step_seconds"], len(windows),
    ) or [None] * len(windows)
    return merge_events(list(enumerate(windows)), bounds)


def recording_events(report: "Report") -> Tuple[RecordingEvent, ...]:
    """The report's events merged across windows (see the module's rule), in
    time order of their start, then end, then family."""
    return recording_events_of(report.to_dict())
