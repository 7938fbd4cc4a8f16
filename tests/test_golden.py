"""Twelve recordings whose whole report text is known byte for byte."""

import json

import pytest

import corvane
from conftest import GOLDEN_CASES as CASES, GOLDEN_DIR, read_text
from report_checks import check_report



@pytest.mark.parametrize("case", CASES, ids=[case["input"] for case in CASES])
def test_report_matches_byte_for_byte(case):
    analyze = getattr(corvane, case["function"])
    got = analyze(read_text(GOLDEN_DIR / case["input"]), **case["kwargs"])
    expected = read_text(GOLDEN_DIR / case["expected"])
    check_report(json.loads(expected))
    assert json.loads(got) == json.loads(expected)  # pytest shows the values that differ
    assert got == expected  # then number formatting and layout


@pytest.mark.parametrize("case", CASES[:4], ids=[case["input"] for case in CASES[:4]])
def test_reports_are_identical_across_calls(case):
    text = read_text(GOLDEN_DIR / case["input"])
    assert len({getattr(corvane, case["function"])(text, **case["kwargs"]) for _ in range(3)}) == 1
