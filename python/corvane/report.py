"""The typed Python API: analyse a recording and get a :class:`Report`.

``analyze_csv`` and ``analyze_json`` run the native analysis and wrap its JSON
report text in frozen dataclasses whose attribute names are the report's keys::

    report = corvane.analyze_csv("recording.csv", window_min=20, step_sec=300)
    for window in report.windows:
        print(window.window_end, window.classification, window.baseline_bpm)
    report.text          # the exact report text
    report.to_dict()     # the same as json.loads(report.text)
    report.windows_frame(), report.events_frame()   # pandas DataFrames

A *source* is read as follows: a :class:`pathlib.Path` (any ``os.PathLike``)
is a file to read; a ``str`` without a line break that names an existing file
is that file, and so is one that ends in .csv, .json or .hea or holds a path
separator (FileNotFoundError when there is no such file); any other ``str`` is
the recording's text itself; an object with a ``read()`` method is a file
object whose content is read. Files are read as UTF-8 (or UTF-16 with a
byte-order mark) with their line endings kept and a byte-order mark removed;
a file that is not text raises ValueError naming it.
"""

from __future__ import annotations

import dataclasses
import json
import os
from dataclasses import dataclass
from typing import IO, TYPE_CHECKING, Any, Dict, List, Literal, Optional, Tuple, Union, get_args, get_origin, get_type_hints

from corvane import _native
from corvane._text_files import CSV_EXPORT, JSON_REQUEST, decode, read_file
from corvane._events import RECORDING_EVENT_COLUMNS, RecordingEvent, recording_events
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

Channel = Literal["HR1", "HR2", "HR3"]
AnalysisMode = Literal["rolling", "chunk"]
Classification = Literal["category_i", "category_ii", "category_iii", "unclassified"]
AlertLevel = Literal["none", "warning", "urgent_review", "critical", "data_quality"]
BaselineClass = Literal["bradycardia", "normal", "tachycardia"]
VariabilityClass = Literal["absent", "minimal", "moderate", "marked"]
TocoRecurrenceConfidence = Literal["low", "limited", "adequate"]
LateDecelTimingConfidence = Literal["confirmed", "limited", "low", "not_applicable"]
DecelerationKind = Literal["variable", "early", "late", "prolonged", "gradual_unclassified"]
EventKind = Literal["acceleration", "deceleration", "contraction"]

Source = Union[str, "os.PathLike[str]", IO[str], IO[bytes]]

_PANDAS_MISSING = "pandas is needed for data frames: install corvane[pandas]"


@dataclass(frozen=True)
class InputSummary:
    """The whole recording as read: row count, first and last timestamp, span."""

    rows: int
    start_timestamp: Optional[str]
    end_timestamp: Optional[str]
    duration_seconds: float
    out_of_order_rows: int
    duplicate_timestamps: int


@dataclass(frozen=True)
class CategoryIiiDiagnostics:
    """Why a window is, or is not, Category III."""

    cat_iii_candidate: bool
    cat_iii_blockers: Tuple[str, ...]
    variability_near_absent: bool
    recurrent_late_candidate: bool
    recurrent_variable_candidate: bool
    toco_recurrence_confidence: TocoRecurrenceConfidence
    late_decel_timing_confidence: LateDecelTimingConfidence


@dataclass(frozen=True)
class Features:
    """The numeric summary of one window (heart rates in bpm, times in seconds)."""

    fetal_hr_min_bpm: Optional[float]
    fetal_hr_p05_bpm: Optional[float]
    fetal_hr_mean_bpm: Optional[float]
    fetal_hr_median_bpm: Optional[float]
    fetal_hr_p95_bpm: Optional[float]
    fetal_hr_max_bpm: Optional[float]
    fetal_hr_std_dev_bpm: Optional[float]
    baseline_delta_mean_bpm: Optional[float]
    fetal_hr_seconds_below_110: int
    fetal_hr_seconds_110_to_160: int
    fetal_hr_seconds_above_160: int
    fetal_hr_percent_below_110: float
    fetal_hr_percent_110_to_160: float
    fetal_hr_percent_above_160: float
    acceleration_count: int
    deceleration_count: int
    prolonged_deceleration_count: int
    total_deceleration_seconds: float
    deepest_deceleration_nadir_bpm: Optional[float]
    max_deceleration_depth_bpm: Optional[float]
    contraction_count: int
    contractions_per_10_min: float
    toco_mean: Optional[float]
    toco_max: Optional[float]
    maternal_hr_mean_bpm: Optional[float]
    fetal_maternal_mean_difference_bpm: Optional[float]


@dataclass(frozen=True)
class AccelerationEvent:
    start: str
    end: str
    duration_seconds: float
    peak_bpm: float


@dataclass(frozen=True)
class DecelerationEvent:
    start: str
    end: str
    duration_seconds: float
    nadir_bpm: float
    depth_bpm: float
    onset_to_nadir_seconds: float
    kind: DecelerationKind


@dataclass(frozen=True)
class ContractionEvent:
    start: str
    peak: str
    end: str
    duration_seconds: float
    peak_toco: float


@dataclass(frozen=True)
class DataQuality:
    """How much usable signal the window had (ratios from 0 to 1)."""

    expected_seconds: int
    raw_samples: int
    fetal_usable_ratio: float
    maternal_usable_ratio: float
    toco_usable_ratio: float
    suspected_maternal_capture_ratio: float


@dataclass(frozen=True)
class Window:
    """The findings of one analysis window."""

    window_start: str
    window_end: str
    duration_seconds: float
    classification: Classification
    alert_level: AlertLevel
    baseline_bpm: Optional[int]
    baseline_class: Optional[BaselineClass]
    variability_bpm: Optional[float]
    variability_class: Optional[VariabilityClass]
    sinusoidal_pattern: bool
    category_iii_diagnostics: CategoryIiiDiagnostics
    features: Features
    acceleration_events: Tuple[AccelerationEvent, ...]
    deceleration_events: Tuple[DecelerationEvent, ...]
    contraction_events: Tuple[ContractionEvent, ...]
    data_quality: DataQuality
    contractions: int
    contractions_per_10_min: float
    tachysystole: Optional[bool]
    reasons: Tuple[str, ...]
    high_risk_features: Tuple[str, ...]
    protective_features: Tuple[str, ...]
    alert_suppression_reasons: Tuple[str, ...]
    limitations: Tuple[str, ...]


@dataclass(frozen=True)
class ReportConfig:
    """The settings a report was produced with (the report's first four keys)."""

    channel: Channel
    analysis_mode: AnalysisMode
    requested_window_minutes: Optional[int]
    step_seconds: int


@dataclass(frozen=True, repr=False)
class Report:
    """One analysis report. Build it with :func:`analyze_csv`, :func:`analyze_json`
    or :meth:`Report.from_text`; ``text`` keeps the report's exact JSON text."""

    channel: Channel
    analysis_mode: AnalysisMode
    requested_window_minutes: Optional[int]
    step_seconds: int
    input: InputSummary
    windows: Tuple[Window, ...]
    text: str = dataclasses.field(compare=False)

    @classmethod
    def from_text(cls, text: str) -> "Report":
        """A report from its JSON text (as returned by the native functions or
        saved by ``corvane analyze``). Raises ValueError when the text is not a
        report of this layout."""
        try:
            data = _load(text)
        except json.JSONDecodeError as error:
            raise ValueError(f"not a report: {error}") from None
        if not isinstance(data, dict):
            raise ValueError("not a report: the text is not a JSON object")
        values = _build_fields(cls, data, "report", exclude=("text",))
        return cls(**values, text=text)

    @property
    def config(self) -> ReportConfig:
        return ReportConfig(self.channel, self.analysis_mode, self.requested_window_minutes, self.step_seconds)

    def to_dict(self) -> Dict[str, Any]:
        """The report as plain Python data, equal to ``json.loads(report.text)``."""
        data: Dict[str, Any] = _load(self.text)
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
        return recording_events(self)

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
        for column in ("duration_seconds", "peak_bpm", "nadir_bpm", "depth_bpm", "onset_to_nadir_seconds", "peak_toco"):
            frame[column] = frame[column].astype("float64")
        return frame

    def to_html(self, recording: Union["Recording", Source], *, title: Optional[str] = None) -> str:
        """The interactive review page of this report as one self-contained
        HTML text (needs ``pip install corvane[review]``). `recording` is the
        analysed recording: a :class:`~corvane.recording.Recording`, or the
        CSV export or JSON request as a path, text or file object."""
        from corvane._review import review_page

        return review_page(self, recording, title=title)

    def __repr__(self) -> str:
        return (
            f"Report(channel={self.channel!r}, analysis_mode={self.analysis_mode!r}, "
            f"requested_window_minutes={self.requested_window_minutes!r}, step_seconds={self.step_seconds!r}, "
            f"rows={self.input.rows!r}, windows={len(self.windows)})"
        )


def _load(text: str) -> Any:
    # Timestamp texts are copied into the report as written, so a tab or a
    # carriage return inside one reaches the report raw: accept control
    # characters inside strings.
    return json.loads(text, strict=False)


def _describe(value: Any) -> str:
    return "null" if value is None else type(value).__name__


def _convert(kind: Any, value: Any, where: str) -> Any:
    """`value` from the JSON data as the annotated type `kind`, or ValueError."""
    origin = get_origin(kind)
    if origin is Union:
        options = [option for option in get_args(kind) if option is not type(None)]
        if value is None:
            return None
        return _convert(options[0], value, where)
    if origin is Literal:
        if isinstance(value, str) and value in get_args(kind):
            return value
        raise ValueError(f"not a report: {where} is {value!r}, expected one of {', '.join(get_args(kind))}")
    if origin is tuple:
        (item_kind, _ellipsis) = get_args(kind)
        if not isinstance(value, list):
            raise ValueError(f"not a report: {where} is {_describe(value)}, expected an array")
        return tuple(_convert(item_kind, item, f"{where}[{index}]") for index, item in enumerate(value))
    if isinstance(kind, type) and dataclasses.is_dataclass(kind):
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
    expected = {bool: "true or false", int: "an integer", float: "a number", str: "a string"}.get(kind, str(kind))
    raise ValueError(f"not a report: {where} is {_describe(value)}, expected {expected}")


_HINTS: Dict[type, Dict[str, Any]] = {}


def _hints(cls: type) -> Dict[str, Any]:
    if cls not in _HINTS:
        _HINTS[cls] = get_type_hints(cls)
    return _HINTS[cls]


def _build_fields(cls: type, data: Dict[str, Any], where: str, exclude: Tuple[str, ...] = ()) -> Dict[str, Any]:
    hints = _hints(cls)
    names = [field.name for field in dataclasses.fields(cls) if field.name not in exclude]
    missing = [name for name in names if name not in data]
    if missing:
        raise ValueError(f"not a report: {where} has no key {missing[0]!r}")
    unknown = [key for key in data if key not in names]
    if unknown:
        raise ValueError(f"not a report: {where} has an unknown key {unknown[0]!r}")
    return {name: _convert(hints[name], data[name], f"{where}.{name}") for name in names}


# ---------------------------------------------------------------------------
# Sources and the two entry points


def read_source(source: Source, expected: str = CSV_EXPORT) -> str:
    """The text of a source: a path, a text, or a file object (see the module
    documentation for how a ``str`` is told apart). `expected` names what the
    source should hold in the error for a file that is not text."""
    if isinstance(source, os.PathLike):
        return read_file(source, expected)
    if isinstance(source, str):
        if source and "\n" not in source and "\r" not in source and (os.path.isfile(source) or _names_a_file(source)):
            return read_file(source, expected)
        return source
    read = getattr(source, "read", None)
    if callable(read):
        content = read()
        if isinstance(content, bytes):
            name = getattr(source, "name", None)
            return decode(content, name if isinstance(name, str) else "the file object", expected)
        if isinstance(content, str):
            return content[1:] if content.startswith("\ufeff") else content
        raise TypeError(f"the file object's read() returned {type(content).__name__}, expected str or bytes")
    raise TypeError(
        f"source must be a path, a str or a file object, not {type(source).__name__}"
    )


# A one-line str with one of these endings, or with a path separator, is a
# file name even when no such file exists (then FileNotFoundError), never text.
_FILE_SUFFIXES = (".csv", ".json", ".hea")


def _names_a_file(text: str) -> bool:
    separators = [sep for sep in (os.sep, os.altsep) if sep]
    return text.lower().endswith(_FILE_SUFFIXES) or any(sep in text for sep in separators)


def analyze_csv(
    source: Source,
    *,
    channel: str = "HR1",
    ga_weeks: Optional[int] = None,
    window_min: Optional[int] = None,
    step_sec: int = 60,
    last_only: bool = False,
) -> Report:
    """Analyse a monitor CSV export (path, text or file object) and return the
    :class:`Report`. The options are those of ``analyze_csv_string``; bad input
    raises its ``ValueError``."""
    text = read_source(source)
    return Report.from_text(
        _native.analyze_csv_string(
            text, channel=channel, ga_weeks=ga_weeks, window_min=window_min, step_sec=step_sec, last_only=last_only
        )
    )


def analyze_json(source: Source) -> Report:
    """Analyse a JSON analysis request (path, text or file object) and return
    the :class:`Report`. Bad requests raise ``analyze_json_string``'s ``ValueError``."""
    return Report.from_text(_native.analyze_json_string(read_source(source, JSON_REQUEST)))


# ---------------------------------------------------------------------------
# Data frames

_DIAGNOSTIC_FIELDS = [field.name for field in dataclasses.fields(CategoryIiiDiagnostics)]
_FEATURE_FIELDS = [field.name for field in dataclasses.fields(Features)]
_QUALITY_FIELDS = [field.name for field in dataclasses.fields(DataQuality)]
_PHRASE_FIELDS = ["reasons", "high_risk_features", "protective_features", "alert_suppression_reasons", "limitations"]
_HEADLINE_FIELDS = [
    "window_start",
    "window_end",
    "duration_seconds",
    "classification",
    "alert_level",
    "baseline_bpm",
    "baseline_class",
    "variability_bpm",
    "variability_class",
    "sinusoidal_pattern",
]


def _window_columns() -> List[str]:
    columns = ["window_start_time", "window_end_time"] + _HEADLINE_FIELDS + _DIAGNOSTIC_FIELDS
    # The features repeat the window's contractions_per_10_min (always equal):
    # one column carries both.
    columns += [name for name in _FEATURE_FIELDS if name not in columns]
    columns += _QUALITY_FIELDS + ["contractions", "tachysystole"] + _PHRASE_FIELDS
    return columns


_WINDOW_COLUMNS = _window_columns()
_EVENT_NUMBER_COLUMNS = [
    "duration_seconds",
    "peak_bpm",
    "nadir_bpm",
    "depth_bpm",
    "onset_to_nadir_seconds",
    "peak_toco",
]
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
    row: Dict[str, Any] = {name: getattr(window, name) for name in _HEADLINE_FIELDS}
    row["window_start_time"] = _utc(window.window_start)
    row["window_end_time"] = _utc(window.window_end)
    for group, names in (
        (window.category_iii_diagnostics, _DIAGNOSTIC_FIELDS),
        (window.features, _FEATURE_FIELDS),
        (window.data_quality, _QUALITY_FIELDS),
    ):
        for name in names:
            row[name] = getattr(group, name)
    row["contractions"] = window.contractions
    row["tachysystole"] = window.tachysystole
    for name in _PHRASE_FIELDS:
        row[name] = getattr(window, name)
    return row


def _event_rows(number: int, window: Window) -> List[Dict[str, Any]]:
    rows: List[Dict[str, Any]] = []

    def add(kind: str, event: Any, **values: Any) -> None:
        row: Dict[str, Any] = {column: None for column in _EVENT_COLUMNS}
        row.update(
            window=number,
            window_end=window.window_end,
            kind=kind,
            start=event.start,
            end=event.end,
            start_time=_utc(event.start),
            end_time=_utc(event.end),
            duration_seconds=event.duration_seconds,
        )
        row.update(values)
        rows.append(row)

    for acceleration in window.acceleration_events:
        add("acceleration", acceleration, peak_bpm=acceleration.peak_bpm)
    for deceleration in window.deceleration_events:
        add(
            "deceleration",
            deceleration,
            deceleration_kind=deceleration.kind,
            nadir_bpm=deceleration.nadir_bpm,
            depth_bpm=deceleration.depth_bpm,
            onset_to_nadir_seconds=deceleration.onset_to_nadir_seconds,
        )
    for contraction in window.contraction_events:
        add("contraction", contraction, peak=contraction.peak, peak_toco=contraction.peak_toco)
    return rows
