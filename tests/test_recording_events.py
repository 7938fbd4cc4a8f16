"""Recording-level events: one event however many windows reported it."""

import datetime as dt
import json

import pytest

import corvane
from conftest import GOLDEN_DIR, REAL_DATA_DIR, data_rows, read_text
from corvane.plot import drawn_events

TEMPLATE = json.loads(read_text(GOLDEN_DIR / "recurrent_late_30min.report.json"))


def t(minute, second=0, fraction=""):
    return f"2024-03-10 10:{minute:02d}:{second:02d}{fraction}"


def event(family, start, end, kind="variable"):
    return {"acceleration": {"start": start, "end": end, "duration_seconds": 20.0, "peak_bpm": 160.0},
            "deceleration": {"start": start, "end": end, "duration_seconds": 20.0, "nadir_bpm": 100.0, "depth_bpm": 30.0,
                             "onset_to_nadir_seconds": 5.0, "kind": kind},
            "contraction": {"start": start, "peak": start, "end": end, "duration_seconds": 60.0, "peak_toco": 50.0}}[family]


def rolling_report(minutes, step_sec, windows):
    """10-minute rolling windows over 10:00 - 10:`minutes`; `windows` gives each window's events."""
    data = dict(TEMPLATE, analysis_mode="rolling", requested_window_minutes=10, step_seconds=step_sec)
    data["input"] = dict(data["input"], start_timestamp=t(0), end_timestamp=t(minutes))
    data["windows"] = [dict(TEMPLATE["windows"][0], acceleration_events=[], deceleration_events=[], contraction_events=[]) for _ in windows]
    for window, events in zip(data["windows"], windows):
        for family, *times in events:
            window[f"{family}_events"].append(event(family, *times))
    return corvane.Report.from_text(json.dumps(data))


OVERLAPPING = (25, 300)  # windows 10:00-10:10, 10:05-10:15, 10:10-10:20, 10:15-10:25
D = "deceleration"
# (recording length in minutes and step, events of each window as (family, start,
#  end[, kind]), expected (family, start, first window, last window, windows, kinds
#  seen, cut at a window edge, kind)); 20 minutes in 600 s steps are adjacent windows.
MERGE_CASES = data_rows("recording-events.jsonl")


@pytest.mark.parametrize("case", MERGE_CASES, ids=[case["note"][:60] for case in MERGE_CASES])
def test_window_events_merge_into_recording_events(case):
    events = rolling_report(case["minutes"], case["step_sec"], case["windows"]).recording_events()
    assert [[e.kind, e.start, e.first_window, e.last_window, e.window_count, list(e.kinds_seen), e.cut_at_window_edge,
             e.deceleration_kind] for e in events] == case["expected"]


def test_drawn_events_keep_the_whole_event_once_and_the_frame():
    report = rolling_report(*OVERLAPPING, [[(D, t(4, 50), t(5, 30))], [(D, t(5), t(5, 30)), (D, t(5, 30), t(6))], [], []])
    # The cut version gives way to the whole one; an event that only touches it stays.
    assert [(e.start, e.end) for e in drawn_events(report.recording_events())] == [(t(4, 50), t(5, 30)), (t(5, 30), t(6))]
    pytest.importorskip("pandas")
    report = rolling_report(*OVERLAPPING, MERGE_CASES[0]["windows"])
    frame = report.recording_events_frame()
    (event,) = report.recording_events()
    fields = list(corvane.RecordingEvent.__dataclass_fields__)
    assert list(frame.columns) == fields[:5] + ["start_time", "peak_time", "end_time"] + fields[5:]
    row = frame.iloc[0]
    assert row.start_time == event.start_time == dt.datetime(2024, 3, 10, 10, 6, tzinfo=dt.timezone.utc)
    assert row.peak_time == dt.datetime(2024, 3, 10, 10, 6, 5, tzinfo=dt.timezone.utc)  # the nadir
    assert row.kinds_seen == ("gradual_unclassified", "late") and row.peak_bpm != row.peak_bpm  # NaN


REAL = sorted(REAL_DATA_DIR.glob("ctu_uhb_*.csv"))[:6] + sorted((REAL_DATA_DIR / "fhrma-fs").glob("*.csv"))


@pytest.mark.skipif(not REAL, reason="real CTG recordings not available")
@pytest.mark.parametrize("path", REAL, ids=[p.name for p in REAL])
def test_every_window_event_is_in_exactly_one_recording_event(path):
    report = corvane.analyze_csv(read_text(path), channel="HR2" if "Scalp" in path.name else "HR1",
                                 window_min=20, step_sec=60)
    events = report.recording_events()
    sightings = sum(
        len(w.acceleration_events) + len(w.deceleration_events) + len(w.contraction_events) for w in report.windows
    )
    assert sum(e.window_count for e in events) == sightings
    keys = [(e.kind, e.start_time.replace(microsecond=0), e.end_time.replace(microsecond=0)) for e in events]
    assert len(set(keys)) == len(keys)
    assert all(e.first_window <= e.last_window and e.window_count <= e.last_window - e.first_window + 1 for e in events)
