"""The report's layout, stated once.

Each object of the JSON report is a frozen dataclass here whose fields are the
object's keys in the order the report prints them. A field's annotation is the
key's type (``Optional`` where the key may be ``null``, ``Literal`` for the
fixed texts, ``Tuple`` for arrays) and its :class:`Key` gives the meaning,
the unit and when the value is ``null``.

Everything else derives from these classes: the typed API (``corvane.report``
builds and checks a report through them), the batch tables' columns, the
report checks of the tests and ``docs/report-reference.md`` (written by
``docs/make_report_reference.py``). The report text itself is written by the
native core; nothing here changes it.
"""

from __future__ import annotations

import dataclasses
import json
import re
from dataclasses import dataclass
from typing import Annotated, Any, Dict, Literal, NamedTuple, Optional, Tuple, Union, get_args, get_origin, get_type_hints

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
    "EVENT_TYPES",
    "EventKind",
    "Features",
    "InputSummary",
    "Key",
    "KeyInfo",
    "LateDecelTimingConfidence",
    "ReportConfig",
    "ReportKeys",
    "TocoRecurrenceConfidence",
    "VariabilityClass",
    "Window",
    "keys_of",
    "parse_report",
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

# Units. A ratio lies in 0-1 and a percentage in 0-100.
BPM = "bpm"
SECONDS = "seconds"
MINUTES = "minutes"
RATIO = "0–1"
PERCENT = "percent"
PER_10_MIN = "per 10 min"
TOCO = "TOCO"


@dataclass(frozen=True)
class Key:
    """What a key means. `null` says when the value is null; `null_with` names
    a key of the same object that is null exactly when this one is;
    `same_as` the path (from the same object) of a key that always holds the
    same value; `sorted_unique` marks a list sorted by its texts' UTF-8 bytes,
    without duplicates."""

    meaning: str
    unit: Optional[str] = None
    null: Optional[str] = None
    null_with: Optional[str] = None
    same_as: Optional[str] = None
    sorted_unique: bool = False


_NO_ROWS = "when the recording has no rows"
_NO_FETAL = "when the window has no fetal second"
_NO_DECELERATION = "without decelerations"
_NO_TOCO = "without TOCO seconds"


@dataclass(frozen=True)
class ReportConfig:
    """The settings a report was produced with (the report's first four keys)."""

    channel: Annotated[Channel, Key("fetal heart-rate channel analyzed")]
    analysis_mode: Annotated[AnalysisMode, Key("rolling windows, or one chunk of the last 30 minutes")]
    requested_window_minutes: Annotated[
        Optional[int], Key("rolling window length (10–30)", MINUTES, null="in chunk mode")
    ]
    step_seconds: Annotated[
        int, Key("step between rolling window ends (a requested 0 is reported as 1; JSON requests: always 60)", SECONDS)
    ]


@dataclass(frozen=True)
class InputSummary:
    """The whole recording as read: row count, first and last timestamp, span."""

    rows: Annotated[int, Key("rows (samples) read; blank lines are not rows")]
    start_timestamp: Annotated[Optional[str], Key("timestamp of the earliest row", null=_NO_ROWS)]
    end_timestamp: Annotated[
        Optional[str], Key("timestamp of the latest row", null=_NO_ROWS, null_with="start_timestamp")
    ]
    duration_seconds: Annotated[float, Key("latest minus earliest row time; 0 without rows", SECONDS)]
    out_of_order_rows: Annotated[
        int, Key("rows timed earlier than the row before them in the file (rows are sorted before analysis)")
    ]
    duplicate_timestamps: Annotated[
        int, Key("neighbouring pairs of rows (after sorting) with the same time; all rows are kept")
    ]


@dataclass(frozen=True)
class CategoryIiiDiagnostics:
    """Why a window is, or is not, Category III."""

    cat_iii_candidate: Annotated[
        bool,
        Key(
            "the window shows a Category III pattern: sinusoidal, or absent / near-absent variability with "
            "bradycardia or recurrent late or variable decelerations"
        ),
    ]
    cat_iii_blockers: Annotated[
        Tuple[str, ...],
        Key(
            "for a candidate that is not sinusoidal: what stands between it and a confirmed Category III "
            '(e.g. "variability is near-absent, not absent", "recurrent late decelerations are not confirmed"); '
            "empty otherwise",
            sorted_unique=True,
        ),
    ]
    variability_near_absent: Annotated[
        bool, Key('variability above 1 and at most 3 bpm (the lower end of "minimal")')
    ]
    recurrent_late_candidate: Annotated[
        bool,
        Key(
            "late decelerations recur with at least two contractions, or absent / near-absent variability with "
            "two or more late or gradual decelerations"
        ),
    ]
    recurrent_variable_candidate: Annotated[bool, Key("the same for variable decelerations")]
    toco_recurrence_confidence: Annotated[
        TocoRecurrenceConfidence,
        Key(
            '`"low"`: TOCO usable in less than half the window; `"adequate"`: at least two contractions in a '
            'window of at least 20 minutes; else `"limited"`'
        ),
    ]
    late_decel_timing_confidence: Annotated[
        LateDecelTimingConfidence,
        Key(
            '`"confirmed"`: a late deceleration was timed against a contraction; `"not_applicable"`: no late '
            'and no gradual deceleration; `"low"`: sparse TOCO or no contraction; else `"limited"`'
        ),
    ]


@dataclass(frozen=True)
class Features:
    """The numeric summary of one window (heart rates in bpm, times in seconds)."""

    fetal_hr_min_bpm: Annotated[Optional[float], Key("lowest fetal value", BPM, null=_NO_FETAL)]
    fetal_hr_p05_bpm: Annotated[Optional[float], Key("5th percentile (no interpolation)", BPM, null=_NO_FETAL)]
    fetal_hr_mean_bpm: Annotated[Optional[float], Key("mean", BPM, null=_NO_FETAL)]
    fetal_hr_median_bpm: Annotated[
        Optional[float], Key("median (the upper middle value for an even count)", BPM, null=_NO_FETAL)
    ]
    fetal_hr_p95_bpm: Annotated[Optional[float], Key("95th percentile", BPM, null=_NO_FETAL)]
    fetal_hr_max_bpm: Annotated[Optional[float], Key("highest fetal value", BPM, null=_NO_FETAL)]
    fetal_hr_std_dev_bpm: Annotated[Optional[float], Key("population standard deviation", BPM, null=_NO_FETAL)]
    baseline_delta_mean_bpm: Annotated[
        Optional[float], Key("`fetal_hr_mean_bpm` − `baseline_bpm`", BPM, null="unless both exist")
    ]
    fetal_hr_seconds_below_110: Annotated[int, Key("seconds with a fetal value below 110", SECONDS)]
    fetal_hr_seconds_110_to_160: Annotated[int, Key("seconds from 110 to 160 inclusive", SECONDS)]
    fetal_hr_seconds_above_160: Annotated[int, Key("seconds above 160", SECONDS)]
    fetal_hr_percent_below_110: Annotated[
        float, Key("share of the fetal seconds below 110; 0 without fetal seconds", PERCENT)
    ]
    fetal_hr_percent_110_to_160: Annotated[
        float, Key("share from 110 to 160; the three percentages add up to 100 (± rounding)", PERCENT)
    ]
    fetal_hr_percent_above_160: Annotated[float, Key("share above 160", PERCENT)]
    acceleration_count: Annotated[int, Key("number of `acceleration_events`")]
    deceleration_count: Annotated[int, Key("number of `deceleration_events`, all kinds")]
    prolonged_deceleration_count: Annotated[int, Key('decelerations of kind `"prolonged"`')]
    total_deceleration_seconds: Annotated[
        float, Key("sum of the decelerations' durations; 0 without decelerations", SECONDS)
    ]
    deepest_deceleration_nadir_bpm: Annotated[
        Optional[float], Key("lowest `nadir_bpm` of the decelerations", BPM, null=_NO_DECELERATION)
    ]
    max_deceleration_depth_bpm: Annotated[
        Optional[float], Key("largest `depth_bpm` of the decelerations", BPM, null=_NO_DECELERATION)
    ]
    contraction_count: Annotated[int, Key("number of `contraction_events`")]
    contractions_per_10_min: Annotated[
        float,
        Key(
            "contractions of the last 20 minutes divided by the whole window's length, times 10 (so a 30-minute "
            "window spreads a 20-minute count over 30 minutes)",
            PER_10_MIN,
        ),
    ]
    toco_mean: Annotated[Optional[float], Key("mean TOCO", TOCO, null=_NO_TOCO)]
    toco_max: Annotated[Optional[float], Key("highest per-second TOCO", TOCO, null=_NO_TOCO)]
    maternal_hr_mean_bpm: Annotated[
        Optional[float], Key("mean maternal rate (HRM)", BPM, null="without maternal seconds")
    ]
    fetal_maternal_mean_difference_bpm: Annotated[
        Optional[float], Key("`fetal_hr_mean_bpm` − `maternal_hr_mean_bpm`", BPM, null="unless both exist")
    ]


@dataclass(frozen=True)
class AccelerationEvent:
    start: Annotated[str, Key("first second of the rise")]
    end: Annotated[str, Key("last second of the rise (one second after the last qualifying second)")]
    duration_seconds: Annotated[float, Key("length of the rise", SECONDS)]
    peak_bpm: Annotated[float, Key("highest fetal value during it", BPM)]


@dataclass(frozen=True)
class DecelerationEvent:
    start: Annotated[str, Key("first second of the fall")]
    end: Annotated[str, Key("last second of the fall")]
    duration_seconds: Annotated[float, Key("length of the fall", SECONDS)]
    nadir_bpm: Annotated[float, Key("lowest fetal value during it", BPM)]
    depth_bpm: Annotated[float, Key("`baseline_bpm` − `nadir_bpm`", BPM)]
    onset_to_nadir_seconds: Annotated[float, Key("time from its start to the nadir", SECONDS)]
    kind: Annotated[
        DecelerationKind,
        Key(
            '`"prolonged"`: 2 to 10 minutes long; else `"variable"`: nadir reached in under 30 s; a gradual fall '
            'becomes `"early"` when its nadir is within 5 s of a contraction peak, `"late"` when it lags the peak '
            'by more than 5 s, and stays `"gradual_unclassified"` otherwise'
        ),
    ]


@dataclass(frozen=True)
class ContractionEvent:
    start: Annotated[str, Key("onset of the contraction")]
    peak: Annotated[str, Key("peak of the contraction")]
    end: Annotated[str, Key("end of the contraction")]
    duration_seconds: Annotated[float, Key("onset to end", SECONDS)]
    peak_toco: Annotated[float, Key("smoothed TOCO level at the peak", TOCO)]


@dataclass(frozen=True)
class DataQuality:
    """How much usable signal the window had (ratios from 0 to 1)."""

    expected_seconds: Annotated[
        int, Key("seconds the window spans, both end seconds counted (a 20-minute window has 1201)", SECONDS)
    ]
    raw_samples: Annotated[int, Key("rows inside the window, both ends included")]
    fetal_usable_ratio: Annotated[
        float, Key("share of the expected seconds with a usable fetal value (30–240 bpm)", RATIO)
    ]
    maternal_usable_ratio: Annotated[float, Key("the same for the maternal rate", RATIO)]
    toco_usable_ratio: Annotated[float, Key("the same for TOCO (0–300)", RATIO)]
    suspected_maternal_capture_ratio: Annotated[
        float,
        Key(
            "among seconds with both rates, the share where fetal and maternal lie within 5 bpm of each other: "
            "a high value suggests the fetal channel is recording the mother's pulse; 0 without such seconds",
            RATIO,
        ),
    ]


@dataclass(frozen=True)
class Window:
    """The findings of one analysis window."""

    window_start: Annotated[
        str,
        Key(
            "timestamp of the window's first row (else of its first second; `\"unknown\"` only for a window "
            "without any second)"
        ),
    ]
    window_end: Annotated[str, Key("timestamp of the window's last row (same fallbacks)")]
    duration_seconds: Annotated[float, Key("window end minus window start", SECONDS)]
    classification: Annotated[
        Classification,
        Key(
            'the three-tier category; `"unclassified"` without a determinate baseline or variability; see '
            "[Limitations](../README.md#limitations)"
        ),
    ]
    alert_level: Annotated[
        AlertLevel,
        Key(
            '`"critical"` for a Category III window; `"data_quality"` with fetal signal in less than half of '
            "the window (this outranks every other level) or for an unclassified window"
        ),
    ]
    baseline_bpm: Annotated[
        Optional[int],
        Key(
            "baseline fetal heart rate of the last 10 minutes, a multiple of 5 (10 % trimmed mean, rounded to "
            "5 bpm)",
            BPM,
            null="with fewer than 120 seconds of usable fetal signal in those 10 minutes",
        ),
    ]
    baseline_class: Annotated[
        Optional[BaselineClass],
        Key('`"bradycardia"` below 110, `"normal"` 110–160, `"tachycardia"` above 160', null_with="baseline_bpm"),
    ]
    variability_bpm: Annotated[
        Optional[float],
        Key(
            "baseline variability: median over the one-minute chunks of the last 10 minutes of the "
            "5th-to-95th-percentile amplitude, using only seconds within 25 bpm of the baseline",
            BPM,
            null="without a baseline or with fewer than two chunks of at least 30 such seconds",
        ),
    ]
    variability_class: Annotated[
        Optional[VariabilityClass],
        Key('`"absent"` ≤ 1, `"minimal"` ≤ 5, `"moderate"` ≤ 25, `"marked"` > 25', null_with="variability_bpm"),
    ]
    sinusoidal_pattern: Annotated[
        bool,
        Key(
            "a smooth oscillation of 3–5 cycles per minute over the last 20 minutes (only windows of at least "
            "20 minutes with at most 5 consecutive seconds missing can show it)"
        ),
    ]
    category_iii_diagnostics: Annotated[CategoryIiiDiagnostics, Key("why the window is, or is not, Category III")]
    features: Annotated[Features, Key("the numeric summary of the whole window")]
    acceleration_events: Annotated[Tuple[AccelerationEvent, ...], Key("accelerations, in time order")]
    deceleration_events: Annotated[Tuple[DecelerationEvent, ...], Key("decelerations, in time order")]
    contraction_events: Annotated[Tuple[ContractionEvent, ...], Key("contractions, in time order")]
    data_quality: Annotated[DataQuality, Key("how much usable signal the window had")]
    contractions: Annotated[int, Key("number of `contraction_events`", same_as="features.contraction_count")]
    contractions_per_10_min: Annotated[
        float, Key("contraction rate", PER_10_MIN, same_as="features.contractions_per_10_min")
    ]
    tachysystole: Annotated[
        Optional[bool],
        Key(
            "more than 15 detected contractions",
            null="(not assessed) unless the window spans at least 30 minutes and has at least 1200 seconds of TOCO",
        ),
    ]
    reasons: Annotated[
        Tuple[str, ...], Key("why the window received its category, as fixed English phrases", sorted_unique=True)
    ]
    high_risk_features: Annotated[
        Tuple[str, ...],
        Key('concerning findings (e.g. "absent variability", "recurrent late decelerations")', sorted_unique=True),
    ]
    protective_features: Annotated[
        Tuple[str, ...],
        Key('reassuring findings (e.g. "moderate variability", "accelerations present")', sorted_unique=True),
    ]
    alert_suppression_reasons: Annotated[
        Tuple[str, ...],
        Key(
            "at most one phrase, present when an alert was withheld or lowered for a deceleration finding of "
            "limited burden"
        ),
    ]
    limitations: Annotated[
        Tuple[str, ...],
        Key(
            "what limits this window's assessment (short window, too few contractions, sparse TOCO, no "
            "baseline), in the order found"
        ),
    ]


@dataclass(frozen=True)
class ReportKeys(ReportConfig):
    """The report's top level: the settings of :class:`ReportConfig`, then the
    recording and its windows."""

    input: Annotated[InputSummary, Key("the whole recording")]
    windows: Annotated[
        Tuple[Window, ...],
        Key("one object per analyzed window, in order of their ends; empty when the recording has no rows"),
    ]


# The event arrays of a window (key: type + "_events"), by event type.
EventKind = Literal["acceleration", "deceleration", "contraction"]
EVENT_TYPES: Dict[str, type] = {
    "acceleration": AccelerationEvent,
    "deceleration": DecelerationEvent,
    "contraction": ContractionEvent,
}


class KeyInfo(NamedTuple):
    """One key of an object: its name, its type without ``Optional``, whether
    it may be null, and its :class:`Key` (None for a dataclass outside the report)."""

    name: str
    kind: Any
    nullable: bool
    key: Optional[Key]


_KEYS: Dict[type, Tuple[KeyInfo, ...]] = {}


def keys_of(cls: type) -> Tuple[KeyInfo, ...]:
    """The keys of a dataclass of this module (or any dataclass), in order."""
    found = _KEYS.get(cls)
    if found is None:
        hints = get_type_hints(cls, include_extras=True)
        infos = []
        for field in dataclasses.fields(cls):
            hint, key = hints[field.name], None
            if get_origin(hint) is Annotated:
                hint, *extras = get_args(hint)
                key = next((extra for extra in extras if isinstance(extra, Key)), None)
            nullable = get_origin(hint) is Union and type(None) in get_args(hint)
            if nullable:
                (hint,) = [option for option in get_args(hint) if option is not type(None)]
            infos.append(KeyInfo(field.name, hint, nullable, key))
        found = _KEYS[cls] = tuple(infos)
    return found


# The report writes a non-finite number as NaN, inf or -inf, alone after its
# key. Python's JSON reader knows NaN, Infinity and -Infinity only.
_NON_FINITE = re.compile(r'^(\s*"[^"\\]*": )(-?)inf(,?)$', re.MULTILINE)


def parse_report(text: str) -> Any:
    """The report text as Python objects (non-finite numbers become float inf
    and nan). Timestamp texts are copied into the report as written, so a tab
    or a carriage return inside one reaches the report raw: control
    characters inside strings are accepted. Raises json.JSONDecodeError."""
    try:
        return json.loads(text, strict=False)
    except json.JSONDecodeError:
        return json.loads(_NON_FINITE.sub(r"\1\2Infinity\3", text), strict=False)
