"""The typed Python API: analyze_csv / analyze_json, Report, its frames and its recording events."""

import codecs
import dataclasses
import functools
import datetime as dt
import inspect
import io
import json
import pathlib
import runpy
import sys

import pytest

import corvane
from corvane import _native
from corvane.plot import drawn_events
from corvane.report import Report, read_source
from conftest import GOLDEN_CASES as CASES, GOLDEN_DIR, REPO_DIR, data_rows, read_text

CASE_IDS = [case["input"] for case in CASES]

HEADER_ONLY = "Date,HR1,TOCO\n"
TWO_ROWS = "Date,HR1,HRM,TOCO\n2024-03-10 14:05:09,140,80,10\n2024-03-10 14:05:10,141,80,11\n"


def typed_call(case, source):
    return corvane.analyze_csv(source, **case["kwargs"]) if case["function"] == "analyze_csv_string" else corvane.analyze_json(source)


def assert_mirrors(value, data, where="report"):
    """Each key of the JSON data is an attribute holding the same value with the JSON type (arrays as tuples)."""
    if isinstance(data, (dict, list)):
        names = [f.name for f in dataclasses.fields(value) if f.name != "text"] if isinstance(data, dict) else None
        assert (names == list(data)) if isinstance(data, dict) else (type(value) is tuple and len(value) == len(data)), where
        for key, item in data.items() if isinstance(data, dict) else enumerate(data):
            assert_mirrors(getattr(value, key) if isinstance(data, dict) else value[key], item, f"{where}.{key}")
    else:
        assert type(value) is type(data) and value == data, (where, value, data)


@pytest.mark.parametrize("case", CASES, ids=CASE_IDS)
def test_golden_report_round_trip(case):
    report, expected = typed_call(case, GOLDEN_DIR / case["input"]), read_text(GOLDEN_DIR / case["expected"])
    assert report.text == expected and report.to_dict() == json.loads(expected)
    assert_mirrors(report, json.loads(expected))
    assert report.config == corvane.ReportConfig(*list(json.loads(expected).values())[:4])
    if case["function"] == "analyze_json_string":
        text = read_text(GOLDEN_DIR / case["input"])
        assert {corvane.analyze_json(source).text for source in (str(GOLDEN_DIR / case["input"]), text, io.StringIO(text))} == {expected}


def test_reports_are_frozen_and_to_dict_is_a_fresh_object():
    report = corvane.analyze_csv(TWO_ROWS)
    report.to_dict()["windows"].clear()
    assert len(report.to_dict()["windows"]) == 1
    with pytest.raises(dataclasses.FrozenInstanceError):
        report.windows[0].baseline_bpm = 150
    # After the third fraction digit nothing is read as time: a raw tab survives into the report.
    tab = corvane.analyze_csv("Date,HR1\n2024-03-10 14:05:09.123\tx,140\n2024-03-10 14:05:10,140\n")
    assert tab.input.start_timestamp == tab.windows[0].window_start == "2024-03-10 14:05:09.123\tx"


CRLF_ROWS = TWO_ROWS.replace("\n", "\r\n")
GOLDEN_CSV = GOLDEN_DIR / "offsets_out_of_order.csv"


@pytest.mark.parametrize("make_source, kwargs", [
    (lambda path: path, {"window_min": 10, "step_sec": 120}), (str, {"channel": " hr2 ", "ga_weeks": 31}),
    (read_text, {"window_min": 10, "step_sec": 0, "last_only": True}), (lambda p: io.StringIO(read_text(p)), {}),
    (lambda p: io.BytesIO(p.read_bytes()), {"window_min": 10}), (lambda p: open(p, encoding="utf-8", newline=""), {}),
])
def test_sources_and_options_give_the_native_report(make_source, kwargs):
    report = corvane.analyze_csv(make_source(GOLDEN_CSV), **kwargs)
    assert report.text == _native.analyze_csv_string(read_text(GOLDEN_CSV), **kwargs)


def test_a_string_is_a_file_only_when_one_line_names_one(tmp_path, monkeypatch):
    assert [read_source(text) for text in ("Date,HR1", "", "Date,HR1\n")] == ["Date,HR1", "", "Date,HR1\n"]
    monkeypatch.chdir(tmp_path)
    (tmp_path / "Date,HR1").write_text("not this", encoding="utf-8")
    assert (read_source("Date,HR1"), read_source("Date,HR1\n")) == ("not this", "Date,HR1\n")


@pytest.mark.parametrize("data", [
    CRLF_ROWS.encode(), codecs.BOM_UTF8 + CRLF_ROWS.encode(),  # a spreadsheet's "CSV UTF-8"
    codecs.BOM_UTF16_LE + CRLF_ROWS.encode("utf-16-le"), codecs.BOM_UTF16_BE + CRLF_ROWS.encode("utf-16-be"),
])
def test_files_are_read_without_byte_order_mark_and_with_their_line_endings(tmp_path, data):
    (path := tmp_path / "export.csv").write_bytes(data)
    assert {read_source(s) for s in (path, str(path), io.BytesIO(data), io.StringIO("\ufeff" + CRLF_ROWS))} == {CRLF_ROWS}


@pytest.mark.parametrize("source, error", [  # the native errors: tests/data/native-calls.jsonl
    (b"Date,HR1\n", TypeError), (42, TypeError), (None, TypeError), (pathlib.Path("/nonexistent/recording.csv"), FileNotFoundError),
    ("recordng.csv", FileNotFoundError), ("data/recording", FileNotFoundError), (io.BytesIO(b"PK\x03\x04"), ValueError),
])
def test_unusable_sources(source, error):
    with pytest.raises(error):
        corvane.analyze_csv(source)


# Texts changed from a golden report ("set" and "pop" name keys by dotted path), and
# what Report.from_text makes of them: the error it raises, or a window's attribute.
TEXT_CASES = data_rows("report-texts.jsonl")


@pytest.mark.parametrize("case", TEXT_CASES, ids=[case.get("error", case.get("attribute")) for case in TEXT_CASES])
def test_texts_read_as_reports(case):
    data = json.loads(read_text(GOLDEN_DIR / "recurrent_late_30min.report.json"))
    for path, value in [*case.get("set", {}).items(), *((path, KeyError) for path in case.get("pop", []))]:
        *parents, last = [int(part) if part.isdigit() else part for part in path.split(".")]
        place = functools.reduce(lambda place, part: place[part], parents, data)
        place.pop(last) if value is KeyError else place.__setitem__(last, value)
    text = case.get("text", json.dumps(data))
    if "error" in case:
        with pytest.raises(ValueError) as raised:
            Report.from_text(text)
        assert case["error"] in str(raised.value)
    else:
        value = getattr(Report.from_text(text).windows[0], case["attribute"])
        assert value == case["value"] and type(value) is type(case["value"])


def test_repr_is_short():
    assert repr(corvane.analyze_csv(GOLDEN_CSV, window_min=10, step_sec=120)) == (
        "Report(channel='HR1', analysis_mode='rolling', requested_window_minutes=10, step_seconds=120, rows=3601, windows=4)")


# --- data frames -----------------------------------------------------------------

FRAME_CASES = ["accelerations_ga31_rolling.csv", "recurrent_late_30min.csv", "variable_severe_json.json",
               "tachysystole_35min.csv", "absent_variability_bradycardia.csv"]


def utc(pandas, text):
    return pandas.Timestamp(dt.datetime.strptime(text[:19], "%Y-%m-%d %H:%M:%S").replace(tzinfo=dt.timezone.utc))


@pytest.mark.parametrize("case", [c for c in CASES if c["input"] in FRAME_CASES], ids=FRAME_CASES)
def test_frames_have_one_row_per_window_and_per_event_with_the_report_values(case):
    pandas = pytest.importorskip("pandas")
    report = typed_call(case, GOLDEN_DIR / case["input"])
    data = report.to_dict()
    windows, events = report.windows_frame(), report.events_frame()
    assert windows.index.name == "window" and list(windows.index) == list(range(len(data["windows"])))
    assert list(windows.columns).count("contractions_per_10_min") == 1
    rows = events.iterrows()
    for number, window in enumerate(data["windows"]):
        flat = {k: v for k, v in window.items() if not k.endswith("_events")}
        for group in ("features", "data_quality", "category_iii_diagnostics"):
            flat.update(flat.pop(group))
        row = windows.loc[number]
        for key, expected in flat.items():
            got = row[key]
            assert (pandas.isna(got) if expected is None else got == (tuple(expected) if isinstance(expected, list) else expected)), key
        assert row["window_end_time"] == utc(pandas, window["window_end"])
        for family in ("acceleration", "deceleration", "contraction"):
            for event in window[f"{family}_events"]:
                _, row = next(rows)
                assert (row["window"], row["window_end"], row["kind"]) == (number, window["window_end"], family)
                assert row["start_time"] == utc(pandas, event["start"])
                for key, value in event.items():
                    assert row["deceleration_kind" if key == "kind" else key] == value, key
                assert pandas.isna(row["deceleration_kind"]) == (family != "deceleration")
                assert pandas.isna(row["peak_toco"]) == (family != "contraction")
    assert next(rows, None) is None


def test_frames_of_a_report_without_windows_and_without_pandas(monkeypatch):
    pytest.importorskip("pandas")
    report = corvane.analyze_csv(HEADER_ONLY)
    assert report.windows == () and len(report.windows_frame()) == len(report.events_frame()) == 0
    assert "fetal_hr_mean_bpm" in report.windows_frame().columns and "deceleration_kind" in report.events_frame().columns
    monkeypatch.setitem(sys.modules, "pandas", None)
    for method in (report.windows_frame, report.events_frame, report.recording_events_frame):
        with pytest.raises(ImportError, match=r"install corvane\[pandas\]"):
            method()


def test_typed_options_are_the_native_ones_and_the_reference_page_is_generated():
    native = inspect.signature(_native.analyze_csv_string).parameters
    typed = inspect.signature(corvane.analyze_csv).parameters
    assert list(typed) == ["source"] + list(native)[1:]
    assert all(typed[n].default == native[n].default and typed[n].kind is typed[n].KEYWORD_ONLY for n in list(native)[1:])
    render = runpy.run_path(str(REPO_DIR / "docs" / "make_report_reference.py"))["render"]
    assert (REPO_DIR / "docs" / "report-reference.md").read_text(encoding="utf-8") == render(), "run docs/make_report_reference.py"


# --- recording events: one event however many windows reported it ----------------

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
