"""Real intrapartum recordings (CTU-UHB, FHRMA) run through both modes.

The recordings are not part of the repository; these tests skip when the folder
(CORVANE_REAL_DATA) is absent.
"""

import json

import pytest

import corvane
from conftest import REAL_FILES, read_text
from report_checks import check_report

pytestmark = pytest.mark.skipif(not REAL_FILES, reason="real CTG recordings not available")


@pytest.mark.parametrize("path", REAL_FILES, ids=[p.name for p in REAL_FILES])
def test_real_recording_gives_consistent_reports(path):
    text = read_text(path)
    chunk = json.loads(corvane.analyze_csv_string(text))
    assert chunk["input"]["rows"] == sum(1 for line in text.splitlines()[1:] if line.strip())
    assert len(chunk["windows"]) == 1
    check_report(chunk)
    rolling_text = corvane.analyze_csv_string(text, window_min=20, step_sec=300)
    rolling = json.loads(rolling_text)
    check_report(rolling)
    # The last rolling window is what last_only returns.
    last = json.loads(corvane.analyze_csv_string(text, window_min=20, step_sec=300, last_only=True))
    assert last["windows"] == rolling["windows"][-1:]
    # Every window's event is in exactly one recording event.
    events = corvane.Report.from_text(rolling_text).recording_events()
    kinds = ("acceleration", "deceleration", "contraction")
    assert sum(e.window_count for e in events) == sum(len(w[f"{k}_events"]) for w in rolling["windows"] for k in kinds)
    keys = [(e.kind, e.start_time.replace(microsecond=0), e.end_time.replace(microsecond=0)) for e in events]
    assert len(set(keys)) == len(keys)
    assert all(e.first_window <= e.last_window and e.window_count <= e.last_window - e.first_window + 1 for e in events)
