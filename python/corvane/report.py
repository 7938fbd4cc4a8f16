"""The typed Python API: analyze a recording and get a :class:`Report`.

``analyze_csv`` and ``analyze_json`` run the native analysis and wrap its JSON
report text in frozen dataclasses whose attribute names are the report's keys::

    report = corvane.analyze_csv("recording.csv", window_min=20, step_sec=300)
    for window in report.windows:
        print(window.window_end, window.classification, window.baseline_bpm)
    report.text          # the exact report text
    report.to_dict()     # the same as json.loads(report.text)
    report.windows_frame(), report.events_frame()   # pandas DataFrames

A *source* is a path, a text or a file object (see
:func:`corvane._text_files.read_source`). Files are read as UTF-8 (or UTF-16
with a byte-order mark) with their line endings kept and a byte-order mark
removed; a file that is not text raises ValueError naming it.

The dataclasses themselves, with every key's type, unit and null rule, are
stated once in :mod:`corvane._schema`; this module builds them from a report
text and adds the data frames.
"""

from __future__ import annotations

import dataclasses
import inspect
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Dict, List, Literal, Optional, Tuple, Union, get_args, get_origin

from corvane import _native
from corvane._events import RECORDING_EVENT_COLUMNS, RecordingEvent, recording_event_values
from corvane._review import review_page
from corvane._schema import (
    EVENT_TYPES,
    AccelerationEvent,
    AlertLevel,
    AnalysisMode,
    BaselineClass,
    CategoryIiiDiagnostics,
    Channel,
    Classification,
    ContractionEvent,
    DataQuality,
    DecelerationEvent,
    DecelerationKind,
    EventKind,
    Features,
    InputSummary,
    LateDecelTimingConfidence,
    ReportConfig,
    ReportKeys,
    TocoRecurrenceConfidence,
    VariabilityClass,
    Window,
    keys_of,
    parse_report,
)
from corvane._text_files import JSON_REQUEST, Source, read_source
from corvane.timestamps import parse_timestamp

if TYPE_CHECKING:  # pragma: no cover
    import pandas

    from corvane.recording import Recording

__all__ = [
    "AccelerationEvent",
    "AlertLevel",
    "AnalysisMode",
    "BaselineClass",
    "CategoryIiiDiagnostics",
    "Channel",
    "Classification",
    "ContractionEvent",
    "DataQuality",
    "DecelerationEvent",
    "DecelerationKind",
    "EventKind",
    "Features",
    "InputSummary",
    "LateDecelTimingConfidence",
    "OPTION_DEFAULTS",
    "RecordingEvent",
    "Report",
    "ReportConfig",
    "Source",
    "TocoRecurrenceConfidence",
    "VariabilityClass",
    "Window",
    "analyze_csv",
    "analyze_json",
    "read_source",
]

# The CSV analysis options and their defaults, as the native function declares them.
OPTION_DEFAULTS: Dict[str, Any] = {
    name: parameter.default
    for name, parameter in list(inspect.signature(_native.analyze_csv_string).parameters.items())[1:]
}

_PANDAS_MISSING = "pandas is needed for data frames: install corvane[pandas]"


@dataclass(frozen=True, repr=False)
class Report(ReportKeys):
    """One analysis report. Build it with :func:`analyze_csv`, :func:`analyze_json`
    or :meth:`Report.from_text`; ``text`` keeps the report's exact JSON text."""

    text: str = dataclasses.field(compare=False)

    @classmethod
    def from_text(cls, text: str) -> "Report":
        """A report from its JSON text (as returned by the native functions or
        saved by ``corvane analyze``). Raises ValueError when the text is not a
        report of this layout."""
        try:
            data = parse_report(text)
        except ValueError as error:
            raise ValueError(f"not a report: {error}") from None
        if not isinstance(data, dict):
            raise ValueError("not a report: the text is not a JSON object")
        return cls(**_build_fields(ReportKeys, data, "report"), text=text)

    @property
    def config(self) -> ReportConfig:
        return ReportConfig(*(getattr(self, info.name) for info in keys_of(ReportConfig)))

    def to_dict(self) -> Dict[str, Any]:
        """The report as plain Python data, equal to ``json.loads(report.text)``."""
        data: Dict[str, Any] = parse_report(self.text)
        return data

    def windows_frame(self) -> "pandas.DataFrame":
        """One row per window, indexed by window number (0 = first): the window's
        headline values, its Category III diagnostics, features and data-quality
        figures as flat columns, its phrase lists as tuples, and
        ``window_start_time`` / ``window_end_time`` as UTC datetimes."""
        pandas = _import_pandas()
        rows = [_window_row(window) for window in self.windows]
        frame = pandas.DataFrame(rows, columns=_WINDOW_COLUMNS)
        for column in ("window_start_time", "window_end_time"):
            frame[column] = pandas.to_datetime(frame[column], utc=True)
        frame.index = pandas.RangeIndex(len(rows), name="window")
        return frame

    def events_frame(self) -> "pandas.DataFrame":
        """One row per event of every window, in report order: the window number
        and its end, ``kind`` ("acceleration", "deceleration" or "contraction"),
        ``deceleration_kind`` for decelerations, the event's times and values
        (absent values are NaN / None) and ``start_time`` / ``end_time`` as UTC
        datetimes."""
        pandas = _import_pandas()
        rows: List[Dict[str, Any]] = []
        for number, window in enumerate(self.windows):
            rows.extend(_event_rows(number, window))
        frame = pandas.DataFrame(rows, columns=_EVENT_COLUMNS)
        for column in ("start_time", "end_time"):
            frame[column] = pandas.to_datetime(frame[column], utc=True)
        frame["window"] = frame["window"].astype("int64")
        for column in _EVENT_NUMBER_COLUMNS:
            frame[column] = frame[column].astype("float64")
        return frame

    def recording_events(self) -> Tuple[RecordingEvent, ...]:
        """Each acceleration, deceleration and contraction of the recording
        once, however many overlapping windows reported it: window events of
        the same family that start in the same second and end in the same
        second are one event (see :class:`RecordingEvent`), in time order."""
        return tuple(RecordingEvent(*values) for values in recording_event_values(self.to_dict()))

    def recording_events_frame(self) -> "pandas.DataFrame":
        """:meth:`recording_events` as a data frame: one row per event, the
        fields of :class:`RecordingEvent` as columns with ``start_time``,
        ``peak_time`` and ``end_time`` (UTC datetimes) after the texts,
        ``kinds_seen`` as tuples, absent values NaN / None."""
        pandas = _import_pandas()
        rows = [[getattr(event, name) for name in RECORDING_EVENT_COLUMNS] for event in self.recording_events()]
        frame = pandas.DataFrame(rows, columns=list(RECORDING_EVENT_COLUMNS))
        for column in ("start_time", "peak_time", "end_time"):
            frame[column] = pandas.to_datetime(frame[column], utc=True)
        for info in keys_of(RecordingEvent):
            if info.kind is float:
                frame[info.name] = frame[info.name].astype("float64")
        return frame

    def to_html(self, recording: Union["Recording", Source], *, title: Optional[str] = None) -> str:
        """The interactive review page of this report as one self-contained
        HTML text (needs ``pip install corvane[review]``). `recording` is the
        analyzed recording: a :class:`~corvane.recording.Recording`, or the
        CSV export or JSON request as a path, text or file object."""
        return review_page(self, recording, title=title)

    def __repr__(self) -> str:
        return (
            f"Report(channel={self.channel!r}, analysis_mode={self.analysis_mode!r}, "
            f"requested_window_minutes={self.requested_window_minutes!r}, step_seconds={self.step_seconds!r}, "
            f"rows={self.input.rows!r}, windows={len(self.windows)})"
        )


def _describe(value: Any) -> str:
    return "null" if value is None else type(value).__name__


def _convert(kind: Any, nullable: bool, value: Any, where: str) -> Any:
    """`value` from the JSON data as a key of type `kind`, or ValueError."""
    if value is None and nullable:
        return None
    origin = get_origin(kind)
    if origin is Literal:
        if isinstance(value, str) and value in get_args(kind):
            return value
        raise ValueError(f"not a report: {where} is {value!r}, expected one of {', '.join(get_args(kind))}")
    if origin is tuple:
        item_kind = get_args(kind)[0]
        if not isinstance(value, list):
            raise ValueError(f"not a report: {where} is {_describe(value)}, expected an array")
        return tuple(_convert(item_kind, False, item, f"{where}[{index}]") for index, item in enumerate(value))
    if dataclasses.is_dataclass(kind):
        if not isinstance(value, dict):
            raise ValueError(f"not a report: {where} is {_describe(value)}, expected an object")
        return kind(**_build_fields(kind, value, where))
    if kind is bool:
        if isinstance(value, bool):
            return value
    elif kind is int:
        if isinstance(value, int) and not isinstance(value, bool):
            return value
    elif kind is float:
        if isinstance(value, (int, float)) and not isinstance(value, bool):
            return float(value)
    elif kind is str:
        if isinstance(value, str):
            return value
    expected = {bool: "true or false", int: "an integer", float: "a number", str: "a string"}[kind]
    raise ValueError(f"not a report: {where} is {_describe(value)}, expected {expected}")


def _build_fields(cls: type, data: Dict[str, Any], where: str) -> Dict[str, Any]:
    infos = keys_of(cls)
    missing = [info.name for info in infos if info.name not in data]
    if missing:
        raise ValueError(f"not a report: {where} has no key {missing[0]!r}")
    names = {info.name for info in infos}
    unknown = [key for key in data if key not in names]
    if unknown:
        raise ValueError(f"not a report: {where} has an unknown key {unknown[0]!r}")
    return {info.name: _convert(info.kind, info.nullable, data[info.name], f"{where}.{info.name}") for info in infos}


# ---------------------------------------------------------------------------
# Sources and the two entry points


def analyze_csv(
    source: Source,
    *,
    channel: str = "HR1",
    ga_weeks: Optional[int] = None,
    window_min: Optional[int] = None,
    step_sec: int = 60,
    last_only: bool = False,
) -> Report:
    """Analyze a monitor CSV export (path, text or file object) and return the
    :class:`Report`. The options are those of ``analyze_csv_string``; bad input
    raises its ``ValueError``."""
    text = read_source(source)
    return Report.from_text(
        _native.analyze_csv_string(
            text, channel=channel, ga_weeks=ga_weeks, window_min=window_min, step_sec=step_sec, last_only=last_only
        )
    )


def analyze_json(source: Source) -> Report:
    """Analyze a JSON analysis request (path, text or file object) and return
    the :class:`Report`. Bad requests raise ``analyze_json_string``'s ``ValueError``."""
    return Report.from_text(_native.analyze_json_string(read_source(source, JSON_REQUEST)))


# ---------------------------------------------------------------------------
# Data frames


def _flat_window_values() -> List[Tuple[Optional[str], str]]:
    """(section, key) of each value of a window in the windows frame: the
    window's own values and those of its sections in report order, without
    the events; a name already taken is left out (the features repeat the
    window's contraction rate)."""
    values: List[Tuple[Optional[str], str]] = []
    for info in keys_of(Window):
        if dataclasses.is_dataclass(info.kind):
            values += [(info.name, inner.name) for inner in keys_of(info.kind)]
        elif get_origin(info.kind) is not tuple or get_args(info.kind)[0] is str:
            values.append((None, info.name))
    taken: Dict[str, Tuple[Optional[str], str]] = {}
    for section, name in values:
        taken.setdefault(name, (section, name))
    return list(taken.values())


_WINDOW_VALUES = _flat_window_values()
_WINDOW_COLUMNS = ["window_start_time", "window_end_time"] + [name for _, name in _WINDOW_VALUES]
# Each event type's keys, with a deceleration's kind under its own column name.
_EVENT_KEYS = {
    event_type: [(info.name, "deceleration_kind" if info.name == "kind" else info.name) for info in keys_of(cls)]
    for event_type, cls in EVENT_TYPES.items()
}
_EVENT_NUMBER_COLUMNS = list(
    dict.fromkeys(info.name for cls in EVENT_TYPES.values() for info in keys_of(cls) if info.kind is float)
)
_EVENT_COLUMNS = [
    "window",
    "window_end",
    "kind",
    "deceleration_kind",
    "start",
    "peak",
    "end",
    "start_time",
    "end_time",
] + _EVENT_NUMBER_COLUMNS


def _import_pandas() -> Any:
    try:
        import pandas
    except ImportError as error:
        raise ImportError(_PANDAS_MISSING) from error
    return pandas


def _utc(text: str) -> Any:
    parsed = parse_timestamp(text)
    return None if parsed is None else parsed.utc


def _window_row(window: Window) -> Dict[str, Any]:
    row: Dict[str, Any] = {
        name: getattr(window if section is None else getattr(window, section), name) for section, name in _WINDOW_VALUES
    }
    row["window_start_time"] = _utc(window.window_start)
    row["window_end_time"] = _utc(window.window_end)
    return row


def _event_rows(number: int, window: Window) -> List[Dict[str, Any]]:
    rows: List[Dict[str, Any]] = []
    for event_type, keys in _EVENT_KEYS.items():
        for event in getattr(window, f"{event_type}_events"):
            row: Dict[str, Any] = dict.fromkeys(_EVENT_COLUMNS)
            row.update({column: getattr(event, name) for name, column in keys})
            row.update(
                window=number,
                window_end=window.window_end,
                kind=event_type,
                start_time=_utc(event.start),
                end_time=_utc(event.end),
            )
            rows.append(row)
    return rows
