"""Twelve recordings whose whole report text is known byte for byte."""

import json

import pytest

import corvane
from conftest import TESTS_DIR, read_text
from report_checks import check_report

GOLDEN_DIR = TESTS_DIR / "golden"
CASES = json.loads(read_text(GOLDEN_DIR / "cases.json"))


def first_difference(got, expected, path="$"):
    """The JSON path of the first value that differs, for a readable failure."""
    if type(got) is not type(expected):
        return f"{path}: {got!r} != {expected!r}"
    if isinstance(got, dict):
        if list(got) != list(expected):
            return f"{path}: keys {list(got)} != {list(expected)}"
        for key in got:
            found = first_difference(got[key], expected[key], f"{path}.{key}")
            if found:
                return found
        return None
    if isinstance(got, list):
        for index, (a, b) in enumerate(zip(got, expected)):
            found = first_difference(a, b, f"{path}[{index}]")
            if found:
                return found
        if len(got) != len(expected):
            return f"{path}: length {len(got)} != {len(expected)}"
        return None
    return None if got == expected else f"{path}: {got!r} != {expected!r}"


@pytest.mark.parametrize("case", CASES, ids=[case["input"] for case in CASES])
def test_report_matches_byte_for_byte(case):
    analyze = getattr(corvane, case["function"])
    got = analyze(read_text(GOLDEN_DIR / case["input"]), **case["kwargs"])
    expected = read_text(GOLDEN_DIR / case["expected"])
    check_report(json.loads(expected))
    if got != expected:
        difference = first_difference(json.loads(got), json.loads(expected))
        pytest.fail(f"first difference: {difference or 'number formatting or layout'}")


@pytest.mark.parametrize("case", CASES[:4], ids=[case["input"] for case in CASES[:4]])
def test_reports_are_identical_across_calls(case):
    analyze = getattr(corvane, case["function"])
    text = read_text(GOLDEN_DIR / case["input"])
    assert analyze(text, **case["kwargs"]) == analyze(text, **case["kwargs"])
