"""Write docs/report-reference.md from the report's layout in corvane._schema.

    python docs/make_report_reference.py

The key tables come from the schema (names, types, units, null rules,
meanings); the prose between them is here. tests/test_report_api.py checks
that the committed page is this script's output.
"""

from __future__ import annotations

import dataclasses
import pathlib
from typing import Literal, get_args, get_origin

from corvane import _schema

PAGE = pathlib.Path(__file__).resolve().parent / "report-reference.md"

INTRO = """\
# Report reference

<!-- Written by docs/make_report_reference.py from python/corvane/_schema.py; edit those, not this page. -->

Every key of the JSON report that `corvane analyze`, `analyze_csv_string` and
`analyze_json_string` return, in the order the report prints them. The typed API
(`corvane.analyze_csv`, `corvane.analyze_json`) exposes the same keys as attributes of
frozen dataclasses: `report.input.rows`, `report.windows[0].features.toco_mean`,
`report.windows[0].deceleration_events[0].kind`; arrays become tuples.

Conventions:

- Heart rates are in beats per minute (bpm), durations in seconds, TOCO in the monitor's
  own units (nominally 0–100). Ratios lie in 0–1 and percentages in 0–100.
- Decimal numbers are printed with exactly three decimals (`140.000`); counts, the
  baseline, `requested_window_minutes` and `step_seconds` are plain integers.
- `null` means "not measurable", never zero: a value is `null` only where this page says so.
  A ratio or percentage whose denominator is zero is `0.000`, not `null`.
- Timestamps are texts, copied exactly as the recording wrote them (for a JSON request:
  with the `T` replaced by a blank and a trailing `Z` removed; an offset stays). A second
  of a window in which no row was recorded is named by its instant in milliseconds since
  1970-01-01 UTC followed by `ms` (`1709280000000ms`).

## Windows and segments

Each window is analyzed over three nested spans, all ending at the window's end:

| span | used for |
|---|---|
| the whole window | `features`, `data_quality`, the contraction rate's divisor, tachysystole |
| the last 20 minutes ("current 20-minute segment") | accelerations, decelerations, contractions, the sinusoidal test |
| the last 10 minutes ("current 10-minute segment") | baseline and variability |

In *chunk* mode there is one window: the last 30 minutes of the recording (all of it when
shorter). In *rolling* mode windows of `requested_window_minutes` end every `step_seconds`
from the start of the recording, plus a last window ending at the last sample; rolling
windows overlap, so one physical event is usually reported by several windows.
"""

# (heading, prose before the table, the object the table lists)
SECTIONS = [
    ("Top level", "", _schema.ReportKeys),
    ("`input`", "", _schema.InputSummary),
    (
        "Window",
        "Each element of `windows`. Its phrase lists are fixed texts: compare them as whole strings. In the\n"
        "pandas frames (`report.windows_frame()`) these lists are tuples, and the `features`,\n"
        "`category_iii_diagnostics` and `data_quality` keys are flat columns.",
        _schema.Window,
    ),
    ("`category_iii_diagnostics`", "Why a window is, or is not, Category III. Filled for every window.", _schema.CategoryIiiDiagnostics),
    (
        "`features`",
        "Computed over the per-second values of the **whole window** (each second holds the mean of\n"
        "its usable rows; usable fetal and maternal rates are 30–240 bpm, usable TOCO 0–300).",
        _schema.Features,
    ),
    (
        "Events",
        "Events are detected over the last 20 minutes of the window, in time order. Their `start`,\n"
        "`peak` and `end` are the timestamp texts of the per-second values closest to those\n"
        "instants. No accelerations or decelerations are reported for a window without a baseline.\n\n"
        "`acceleration_events`: a rise of at least A bpm above the baseline for at least A seconds\n"
        "and less than 2 minutes, peaking within 30 seconds of its start; A is 10 below 32 weeks of\n"
        "gestation (`ga_weeks`), 15 otherwise. Up to three seconds below the threshold are bridged.",
        _schema.AccelerationEvent,
    ),
    (
        None,
        "`deceleration_events`: a fall of at least 15 bpm below the baseline lasting at least 15\nseconds.",
        _schema.DecelerationEvent,
    ),
    (
        None,
        "`contraction_events`: peaks of the smoothed TOCO trace (7-second moving average), with\n"
        "levels set from the segment's own TOCO percentiles, at least 55 seconds apart and lasting\n"
        "10 seconds to 3 minutes.",
        _schema.ContractionEvent,
    ),
    ("`data_quality`", "", _schema.DataQuality),
]

_UNIT_TEXT = {_schema.RATIO: "ratio (0–1)"}


def type_text(info: _schema.KeyInfo) -> str:
    kind, unit = info.kind, info.key.unit if info.key else None
    if get_origin(kind) is Literal:
        text = ", ".join(f'`"{value}"`' for value in get_args(kind))
    elif get_origin(kind) is tuple:
        text = "array of text" if get_args(kind)[0] is str else "array of objects"
    elif dataclasses.is_dataclass(kind):
        text = "object"
    elif kind is bool:
        text = "true/false"
    elif kind is int:
        text = f"integer ({unit})" if unit else "integer"
    elif kind is float:
        text = _UNIT_TEXT.get(unit, unit) if unit else "number"
    else:
        text = "text"
    return text + (" or `null`" if info.nullable else "")


def meaning_text(info: _schema.KeyInfo) -> str:
    key = info.key
    assert key is not None, info.name
    parts = [key.meaning]
    if key.same_as:
        parts.append(f"always equal to `{key.same_as}`")
    if key.sorted_unique:
        parts.append("sorted, no duplicates")
    if info.nullable:
        parts.append(f"`null` {key.null}" if key.null else f"`null` exactly when `{key.null_with}` is")
    return "; ".join(parts)


def table(cls: type) -> str:
    rows = [f"| `{info.name}` | {type_text(info)} | {meaning_text(info)} |" for info in _schema.keys_of(cls)]
    return "\n".join(["| key | type | meaning |", "|---|---|---|", *rows])


def render() -> str:
    parts = [INTRO]
    for heading, prose, cls in SECTIONS:
        if heading:
            parts.append(f"## {heading}\n")
        if prose:
            parts.append(prose + "\n")
        parts.append(table(cls) + "\n")
    return "\n".join(parts)


if __name__ == "__main__":
    PAGE.write_text(render(), encoding="utf-8")
