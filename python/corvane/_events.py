"""The events of a whole recording, each once.

Rolling windows overlap, so one acceleration, deceleration or contraction is
usually reported by several windows. :func:`merged_values` merges them:

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
from typing import Any, Dict, List, Mapping, Optional, Sequence, Tuple, Union

from corvane._schema import EVENT_TYPES, DecelerationKind, EventKind
from corvane._windows import Bounds, bounds_of, detection_span
from corvane.timestamps import epoch_millis

__all__ = [
    "EVENT_FAMILIES",
    "RECORDING_EVENT_COLUMNS",
    "RecordingEvent",
    "merge_events",
    "merged_values",
    "recording_event_values",
]

EVENT_FAMILIES = tuple(EVENT_TYPES)
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
    disagree (empty otherwise). ``cut_at_window_edge`` is true when, in every
    window that saw it, the event starts at the first second the window
    searched or ends at its last second: the window's edge cut it short."""

    kind: EventKind
    deceleration_kind: Optional[DecelerationKind]
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
    kinds_seen: Tuple[DecelerationKind, ...]
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
# One window's sighting of an event: the window's number, its data for the
# event, the distance in ms from the event to the nearer edge of the span the
# window searched (None when unknown), and whether the event touches that edge.
_Sighting = Tuple[int, Event, Optional[int], bool]
# The values of a RecordingEvent, in the order of its fields.
EventValues = Tuple[Any, ...]
_NO_KINDS: Tuple[str, ...] = ()


def _merged(family: str, sightings: List[_Sighting]) -> EventValues:
    if len(sightings) == 1:
        chosen = sightings[0][1]
        kinds_seen = _NO_KINDS
    else:
        if any(margin is None for _, _, margin, _ in sightings):
            chosen = sightings[-1][1]
        else:  # furthest from the edges; the newer window on a tie
            chosen = max(reversed(sightings), key=lambda sighting: sighting[2])[1]  # type: ignore[no-any-return]
        kinds_seen = _NO_KINDS
        if family == "deceleration":
            kinds = tuple(dict.fromkeys(sighting[1]["kind"] for sighting in sightings))
            kinds_seen = kinds if len(kinds) > 1 else _NO_KINDS
    get = chosen.get
    # The report prints every double with decimals, so the values are floats already.
    return (
        family,
        get("kind"),
        chosen["start"],
        get("peak"),
        chosen["end"],
        chosen["duration_seconds"],
        get("peak_bpm"),
        get("nadir_bpm"),
        get("depth_bpm"),
        get("onset_to_nadir_seconds"),
        get("peak_toco"),
        sightings[0][0],
        sightings[-1][0],
        len(sightings),
        kinds_seen,
        all(sighting[3] for sighting in sightings),
    )


def _order(key: _Key) -> Tuple[Any, ...]:
    family, start, end = key
    # Events whose times cannot be read go last, by text.
    if isinstance(start, int) and isinstance(end, int):
        return (False, start, False, end, EVENT_FAMILIES.index(family))
    return (
        isinstance(start, str),
        start if isinstance(start, int) else 0,
        isinstance(end, str),
        end if isinstance(end, int) else 0,
        EVENT_FAMILIES.index(family),
        str(start),
        str(end),
    )


def merged_values(
    windows: Sequence[Tuple[int, Mapping[str, Any]]], bounds: Sequence[Optional[Bounds]]
) -> List[EventValues]:
    """The events of the numbered windows (each as the report's data for the
    window) merged by the module's rule, as the values of RecordingEvent's
    fields; `bounds` gives each window's (start, end) in ms, or None where
    unknown."""
    # Each text is read once: the same texts recur in every window.
    seconds: Dict[str, Union[int, str]] = {}

    def second(text: str) -> Union[int, str]:
        found = seconds.get(text)
        if found is None:
            millis = epoch_millis(text)
            found = seconds[text] = text if millis is None else millis // _MS_PER_SECOND * _MS_PER_SECOND
        return found

    merged: Dict[_Key, List[_Sighting]] = {}
    for (number, window), window_bounds_ms in zip(windows, bounds):
        span = None if window_bounds_ms is None else detection_span(window_bounds_ms)
        for family in EVENT_FAMILIES:
            for event in window[f"{family}_events"]:
                start, end = second(event["start"]), second(event["end"])
                if span is None or not isinstance(start, int) or not isinstance(end, int):
                    sighting: _Sighting = (number, event, None, False)
                else:
                    first, last = span
                    # A run still going at the window's end is ended at its last
                    # second; one already going when the span began, at its first.
                    sighting = (number, event, min(start - first, last - end), start <= first or end >= last)
                merged.setdefault((family, start, end), []).append(sighting)
    return [_merged(key[0], merged[key]) for key in sorted(merged, key=_order)]


def merge_events(
    windows: Sequence[Tuple[int, Mapping[str, Any]]], bounds: Sequence[Optional[Bounds]]
) -> Tuple[RecordingEvent, ...]:
    """:func:`merged_values` as RecordingEvent records."""
    return tuple(RecordingEvent(*values) for values in merged_values(windows, bounds))


def recording_event_values(report: Mapping[str, Any]) -> List[EventValues]:
    """The values of each RecordingEvent of a report given as its parsed JSON
    data, in the order of the fields."""
    windows = report["windows"]
    summary = report["input"]
    bounds: Sequence[Optional[Bounds]] = bounds_of(
        summary["start_timestamp"], summary["end_timestamp"], report["requested_window_minutes"],
        report["step_seconds"], len(windows),
    ) or [None] * len(windows)
    return merged_values(list(enumerate(windows)), bounds)
