"""Invariants every report keeps, whatever the recording: the layout of the
report's schema (keys in order, types, fixed texts, null rules, units,
repeated values, sorted lists), then what the numbers must agree on."""

import dataclasses
import math
from typing import Literal, get_args, get_origin

from corvane import _schema

UNIT_RANGES = {_schema.RATIO: (0.0, 1.0), _schema.PERCENT: (0.0, 100.0)}


def utf8_sorted_unique(values):
    encoded = [v.encode("utf-8") for v in values]
    return encoded == sorted(set(encoded))


def _resolve(data, path):
    for part in path.split("."):
        data = data[part]
    return data


def check_layout(cls, data, where="report"):
    """`data` (parsed JSON) is an object of the schema class `cls`."""
    infos = _schema.keys_of(cls)
    assert list(data) == [info.name for info in infos], where
    for info in infos:
        value, key, at = data[info.name], info.key, f"{where}.{info.name}"
        if key.null_with:
            assert (value is None) == (data[key.null_with] is None), at
        if key.same_as:
            assert value == _resolve(data, key.same_as), at
        if value is None:
            assert info.nullable, at
        elif dataclasses.is_dataclass(info.kind):
            check_layout(info.kind, value, at)
        elif get_origin(info.kind) is tuple:
            item = get_args(info.kind)[0]
            for index, element in enumerate(value):
                if dataclasses.is_dataclass(item):
                    check_layout(item, element, f"{at}[{index}]")
                else:
                    assert isinstance(element, str), at
            assert not key.sorted_unique or utf8_sorted_unique(value), (at, value)
        elif get_origin(info.kind) is Literal:
            assert value in get_args(info.kind), (at, value)
        else:
            assert type(value) is info.kind, (at, value)
            if key.unit in UNIT_RANGES:
                low, high = UNIT_RANGES[key.unit]
                assert low <= value <= high, (at, value)


def check_window(window):
    quality = window["data_quality"]
    features = window["features"]
    fetal_seconds = (
        features["fetal_hr_seconds_below_110"] + features["fetal_hr_seconds_110_to_160"] + features["fetal_hr_seconds_above_160"]
    )
    percents = (
        features["fetal_hr_percent_below_110"] + features["fetal_hr_percent_110_to_160"] + features["fetal_hr_percent_above_160"]
    )
    # A second counts in one band at most, and only seconds of the window count.
    assert fetal_seconds <= quality["expected_seconds"]
    if fetal_seconds:
        # Each percentage is printed with three decimals.
        assert math.isclose(percents, 100.0, abs_tol=0.0015 + 1e-9)
        assert features["fetal_hr_min_bpm"] <= features["fetal_hr_median_bpm"] <= features["fetal_hr_max_bpm"]
    else:
        assert percents == 0.0 and features["fetal_hr_mean_bpm"] is None
    assert features["acceleration_count"] == len(window["acceleration_events"])
    assert features["deceleration_count"] == len(window["deceleration_events"])
    assert features["contraction_count"] == len(window["contraction_events"])
    assert features["prolonged_deceleration_count"] == sum(e["kind"] == "prolonged" for e in window["deceleration_events"])
    if window["baseline_bpm"] is not None:
        assert window["baseline_bpm"] % 5 == 0
    assert len(window["alert_suppression_reasons"]) <= 1
    if window["alert_level"] in {"urgent_review", "critical", "data_quality"}:
        assert window["alert_suppression_reasons"] == []


def check_input(report):
    summary = report["input"]
    rows = summary["rows"]
    assert summary["duration_seconds"] >= 0.0
    assert summary["out_of_order_rows"] <= max(rows - 1, 0)
    assert summary["duplicate_timestamps"] <= max(rows - 1, 0)
    assert (summary["start_timestamp"] is None) == (rows == 0)
    # Every recording with a sample gives at least one window.
    assert (rows == 0) == (report["windows"] == [])


def check_report(report):
    check_layout(_schema.ReportKeys, report)
    check_input(report)
    rolling = report["analysis_mode"] == "rolling"
    assert rolling == (report["requested_window_minutes"] is not None)
    assert report["step_seconds"] >= 1
    longest = report["requested_window_minutes"] * 60 if rolling else 1800
    if not rolling:
        assert len(report["windows"]) <= 1
    for window in report["windows"]:
        assert 0.0 <= window["duration_seconds"] <= min(longest, report["input"]["duration_seconds"])
        assert window["data_quality"]["raw_samples"] <= report["input"]["rows"]
        check_window(window)
