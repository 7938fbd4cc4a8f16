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
    for key in ("fetal_usable_ratio", "maternal_usable_ratio", "toco_usable_ratio", "suspected_maternal_capture_ratio"):
        assert 0.0 <= quality[key] <= 1.0, (key, quality[key])
    features = window["features"]
    fetal_seconds = (
        features["fetal_hr_seconds_below_110"] + features["fetal_hr_seconds_110_to_160"] + features["fetal_hr_seconds_above_160"]
    )
    percents = (
        features["fetal_hr_percent_below_110"] + features["fetal_hr_percent_110_to_160"] + features["fetal_hr_percent_above_160"]
    )
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


def check_report(report):
    for window in report["windows"]:
        check_window(window)
