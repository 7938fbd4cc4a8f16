"""Invariants every report keeps, whatever the recording."""

import math

ALERTS = {"none", "warning", "urgent_review", "critical", "data_quality"}
CATEGORIES = {"category_i", "category_ii", "category_iii", "unclassified"}
SORTED_LISTS = ("reasons", "high_risk_features", "protective_features")


def utf8_sorted_unique(values):
    encoded = [v.encode("utf-8") for v in values]
    return encoded == sorted(set(encoded))


def check_window(window):
    quality = window["data_quality"]
    assert quality["raw_samples"] >= 0 and quality["expected_seconds"] >= 0
    for key in ("fetal_usable_ratio", "maternal_usable_ratio", "toco_usable_ratio", "suspected_maternal_capture_ratio"):
        assert 0.0 <= quality[key] <= 1.0, (key, quality[key])
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
    assert features["contraction_count"] == len(window["contraction_events"]) == window["contractions"]
    assert features["contractions_per_10_min"] == window["contractions_per_10_min"]
    assert features["prolonged_deceleration_count"] == sum(e["kind"] == "prolonged" for e in window["deceleration_events"])
    assert (window["baseline_bpm"] is None) == (window["baseline_class"] is None)
    assert (window["variability_bpm"] is None) == (window["variability_class"] is None)
    if window["baseline_bpm"] is not None:
        assert window["baseline_bpm"] % 5 == 0
    assert window["classification"] in CATEGORIES
    assert window["alert_level"] in ALERTS
    for key in SORTED_LISTS:
        assert utf8_sorted_unique(window[key]), (key, window[key])
    assert utf8_sorted_unique(window["category_iii_diagnostics"]["cat_iii_blockers"])
    assert len(window["alert_suppression_reasons"]) <= 1
    if window["alert_level"] in {"urgent_review", "critical", "data_quality"}:
        assert window["alert_suppression_reasons"] == []


def check_input(report):
    summary = report["input"]
    rows = summary["rows"]
    assert summary["duration_seconds"] >= 0.0
    assert summary["out_of_order_rows"] <= max(rows - 1, 0)
    assert summary["duplicate_timestamps"] <= max(rows - 1, 0)
    assert (summary["start_timestamp"] is None) == (summary["end_timestamp"] is None) == (rows == 0)
    # Every recording with a sample gives at least one window.
    assert (rows == 0) == (report["windows"] == [])


def check_report(report):
    check_input(report)
    rolling = report["analysis_mode"] == "rolling"
    assert report["analysis_mode"] in {"rolling", "chunk"}
    assert rolling == (report["requested_window_minutes"] is not None)
    assert report["step_seconds"] >= 1
    longest = report["requested_window_minutes"] * 60 if rolling else 1800
    if not rolling:
        assert len(report["windows"]) <= 1
    for window in report["windows"]:
        assert 0.0 <= window["duration_seconds"] <= min(longest, report["input"]["duration_seconds"])
        assert window["data_quality"]["raw_samples"] <= report["input"]["rows"]
        check_window(window)
