"""Invariants every report keeps, whatever the recording: the layout of the
report's schema (keys in order, types, fixed texts, null rules, units,
repeated values, sorted lists), then what the numbers must agree on."""

import dataclasses
import math
from typing import Literal, get_args, get_origin

from corvane import _schema

UNIT_RANGES = {_schema.RATIO: (0.0, 1.0), _schema.PERCENT: (0.0, 100.0)}
BANDS = ("below_110", "110_to_160", "above_160")


def check_layout(cls, data, where="report"):
    """`data` (parsed JSON) is an object of the schema class `cls`."""
    infos = _schema.keys_of(cls)
    assert list(data) == [info.name for info in infos], where
    for info in infos:
        value, key, at = data[info.name], info.key, f"{where}.{info.name}"
        assert not key.null_with or (value is None) == (data[key.null_with] is None), at
        if key.same_as:
            expected = data
            for part in key.same_as.split("."):
                expected = expected[part]
            assert value == expected, at
        if value is None:
            assert info.nullable, at
        elif dataclasses.is_dataclass(info.kind):
            check_layout(info.kind, value, at)
        elif get_origin(info.kind) is tuple:
            item = get_args(info.kind)[0]
            for index, element in enumerate(value):
                assert check_layout(item, element, f"{at}[{index}]") if dataclasses.is_dataclass(item) else isinstance(element, str), at
            encoded = [v.encode("utf-8") for v in value] if key.sorted_unique else []
            assert encoded == sorted(set(encoded)), (at, value)
        elif get_origin(info.kind) is Literal:
            assert value in get_args(info.kind), (at, value)
        else:
            low, high = UNIT_RANGES.get(key.unit, (value, value))
            assert type(value) is info.kind and low <= value <= high, (at, value)
    return True


def check_window(window):
    quality, features = window["data_quality"], window["features"]
    seconds = sum(features[f"fetal_hr_seconds_{band}"] for band in BANDS)
    percents = sum(features[f"fetal_hr_percent_{band}"] for band in BANDS)
    # A second counts in one band at most, and only seconds of the window count.
    assert seconds <= quality["expected_seconds"]
    if seconds:
        assert math.isclose(percents, 100.0, abs_tol=0.0015 + 1e-9)  # three decimals each
        assert features["fetal_hr_min_bpm"] <= features["fetal_hr_median_bpm"] <= features["fetal_hr_max_bpm"]
    else:
        assert percents == 0.0 and features["fetal_hr_mean_bpm"] is None
    for kind in ("acceleration", "deceleration", "contraction"):
        assert features[f"{kind}_count"] == len(window[f"{kind}_events"])
    assert features["prolonged_deceleration_count"] == sum(e["kind"] == "prolonged" for e in window["deceleration_events"])
    assert window["baseline_bpm"] is None or window["baseline_bpm"] % 5 == 0
    assert len(window["alert_suppression_reasons"]) <= 1
    if window["alert_level"] in {"urgent_review", "critical", "data_quality"}:
        assert window["alert_suppression_reasons"] == []


def check_report(report):
    check_layout(_schema.ReportKeys, report)
    summary, rows = report["input"], report["input"]["rows"]
    assert summary["duration_seconds"] >= 0.0 and (summary["start_timestamp"] is None) == (rows == 0)
    assert max(summary["out_of_order_rows"], summary["duplicate_timestamps"]) <= max(rows - 1, 0)
    assert (rows == 0) == (report["windows"] == [])  # every recording with a sample gives a window
    rolling = report["analysis_mode"] == "rolling"
    assert rolling == (report["requested_window_minutes"] is not None) and report["step_seconds"] >= 1
    assert rolling or len(report["windows"]) <= 1
    longest = report["requested_window_minutes"] * 60 if rolling else 1800
    for window in report["windows"]:
        assert 0.0 <= window["duration_seconds"] <= min(longest, summary["duration_seconds"])
        assert window["data_quality"]["raw_samples"] <= rows
        check_window(window)
