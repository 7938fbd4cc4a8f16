"""The trace plot, its sample readers and the timestamp reading behind them."""

import collections
import datetime as dt
import math
import sys

import pytest

import corvane
from conftest import GOLDEN_CASES, GOLDEN_DIR, REAL_DATA_DIR, data_rows, read_text
from corvane._events import merge_events
from corvane._layout import without
from corvane._seconds import recording_millis, runs, second_series
from corvane._windows import window_bounds
from corvane.plot import drawn_events, plot_recording, save_figure, select_window
from corvane.recording import read_csv_recording, read_request_recording
from corvane.synthetic import RecordingShape, generate_csv, main as synthetic_main
from corvane.timestamps import epoch_millis, epoch_seconds

seconds = epoch_seconds  # its own table: test_timestamp_reading

pytest.importorskip("matplotlib")

CASES = {case["input"]: case for case in GOLDEN_CASES}


def load(case):
    case = CASES[case] if isinstance(case, str) else case
    text = read_text(GOLDEN_DIR / case["input"]) if isinstance(case["input"], str) else read_text(case["input"])
    if case["function"] == "analyze_csv_string":
        return read_csv_recording(text), corvane.analyze_csv(text, **case["kwargs"])
    return read_request_recording(text), corvane.analyze_json(text)


def panel(figure, gid):
    return next(axes for axes in figure.axes if axes.get_gid() == gid)


def extent(patch):  # a Rectangle (matplotlib 3.9+) or a Polygon
    if hasattr(patch, "get_width"):
        return patch.get_x(), patch.get_x() + patch.get_width()
    xs = [vertex[0] for vertex in patch.get_xy()]
    return min(xs), max(xs)


def shaded_spans(figure):
    spans = collections.defaultdict(list)
    for patch in panel(figure, "panel-fhr").patches:
        if (patch.get_gid() or "").startswith(("acceleration-", "deceleration-")):
            spans[patch.get_gid().rsplit("-", 1)[0]].append(extent(patch))
    return spans


def lines(figure, prefix):
    return [line for axes in figure.axes for line in axes.lines if (line.get_gid() or "").startswith(prefix)]


@pytest.mark.parametrize("name", CASES)
@pytest.mark.parametrize("window", [-1, None], ids=["last window", "whole recording"])
def test_events_are_shaded_by_kind_where_the_report_places_them(name, window):
    recording, report = load(name)
    figure = plot_recording(recording, report, window=window, time_axis="minutes")
    events = drawn_events(report.recording_events()) if window is None else merge_events([(0, report.to_dict()["windows"][-1])], [None])
    kinds = collections.Counter("acceleration" if e.kind == "acceleration" else f"deceleration-{e.deceleration_kind}"
                                for e in events if e.kind != "contraction")
    spans = shaded_spans(figure)
    assert collections.Counter({kind: len(found) for kind, found in spans.items()}) == kinds
    origin = seconds(report.input.start_timestamp)
    expected = sorted(((seconds(e.start) - origin) / 60, (seconds(e.end) - origin) / 60) for e in events if e.kind != "contraction")
    drawn = sorted(span for found in spans.values() for span in found)
    assert [x for span in drawn for x in span] == pytest.approx([x for e0, e1 in expected for x in (e0, max(e1, e0 + 1 / 60))], abs=1e-6)
    contractions = [e for e in events if e.kind == "contraction"]
    (peaks,) = lines(figure, "contraction-peaks") or [None]
    assert (peaks is None) == (not contractions)
    if contractions:
        assert list(peaks.get_xdata()) == pytest.approx([(seconds(e.peak) - origin) / 60 for e in contractions])
        assert list(peaks.get_ydata()) == pytest.approx([min(e.peak_toco, 100.0) for e in contractions])


@pytest.mark.parametrize("name", ["accelerations_ga31_rolling.csv", "signal_gap_no_rows.csv"])
def test_baselines_and_strip_follow_the_windows(name):
    recording, report = load(name)
    figure = plot_recording(recording, report, time_axis="minutes")
    baselines = lines(figure, "baseline-")
    assert [line.get_ydata()[0] for line in baselines] == [w.baseline_bpm for w in report.windows]
    origin = seconds(report.input.start_timestamp)
    series = second_series(recording, report.channel, round(origin * 1000), round(seconds(report.input.end_timestamp) * 1000))
    gaps = [((a / 1000 - origin) / 60, (b / 1000 - origin) / 60) for a, b in runs(series.no_fetal_signal(), series.first_ms)]
    assert (len(gaps) > 0) == (name == "signal_gap_no_rows.csv")
    # A baseline lies in the 10 minutes before its window's end, never over seconds without signal.
    for line, window in zip(baselines, report.windows):
        xs = [x for x in line.get_xdata() if not math.isnan(x)]
        end = (seconds(window.window_end) - origin) / 60
        assert end - 10 - 1e-9 <= min(xs) and max(xs) <= end + 1e-9
        assert not any(g0 < x1 - 1e-9 and x0 + 1e-9 < g1 for x0, x1 in zip(xs[::2], xs[1::2]) for g0, g1 in gaps)
    strip = panel(figure, "panel-strip").patches
    categories = [extent(p) for p in strip if (p.get_gid() or "").startswith("strip-category-")]
    assert len(categories) == len([p for p in strip if (p.get_gid() or "").startswith("strip-alert-")]) == len(report.windows)
    assert [start for start, _ in categories[1:]] == pytest.approx([end for _, end in categories[:-1]])  # tiled


def test_select_window():  # numbers out of range: the command-line table
    report = load("offsets_out_of_order.csv")[1]
    assert [[n for n, _ in select_window(report, w)] for w in (None, 0, 2, -1, -4)] == [[0, 1, 2, 3], [0], [2], [3], [0]]


@pytest.fixture(scope="module")
def sample(sample_csv_path):
    text = read_text(sample_csv_path)
    return read_csv_recording(text), corvane.analyze_csv(text, window_min=20, step_sec=300)


def tick_labels(figure):
    figure.canvas.draw()
    toco = panel(figure, "panel-toco")
    return [t.get_text() for t in toco.get_xticklabels() if t.get_position()[0] >= toco.get_xlim()[0] - 1e-9]


def test_paper_speed_time_axis_and_a_missing_matplotlib(sample, monkeypatch):
    recording, report = sample
    one = plot_recording(recording, report, paper_speed=1).get_size_inches()[0]
    figure = plot_recording(recording, report, paper_speed=3)
    minutes = recording.seconds[-1] / 60
    assert figure.get_size_inches()[0] - one == pytest.approx(minutes * 2 / 2.54)  # margins are fixed
    fhr = panel(figure, "panel-fhr")
    assert fhr.get_position().width * figure.get_size_inches()[0] * 2.54 == pytest.approx(minutes * 3, rel=1e-6)
    assert fhr.get_ylim() == (50.0, 210.0)
    for speed in (0, 2, 2.5, None):
        with pytest.raises(ValueError, match="paper speed must be 1 or 3 cm/min"):
            plot_recording(recording, report, paper_speed=speed)
    assert tick_labels(plot_recording(*sample, time_axis="clock"))[:3] == ["08:00\n2024-03-01", "08:05", "08:10"]
    assert tick_labels(plot_recording(*sample, time_axis="minutes"))[:3] == ["0", "5", "10"]
    text = "Date,HR1\n" + "".join(f"{dt.datetime(2024, 3, 10, 23, 50) + dt.timedelta(seconds=i)},140\n" for i in range(1200))
    assert "00:00\n2024-03-11" in tick_labels(plot_recording(read_csv_recording(text), corvane.analyze_csv(text), paper_speed=3))
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    with pytest.raises(ImportError, match=r"install corvane\[plot\]"):
        plot_recording(*sample)


@pytest.mark.parametrize("name, labels", [
    ("recurrent_late_30min.csv", ["late deceleration", "variable deceleration", "contraction peak", "alert: urgent review"]),
    ("accelerations_ga31_rolling.csv", ["acceleration", "category I", "alert: none"]),
    ("variable_severe_json.json", ["variable deceleration", "maternal HR"]),
])
def test_files_hold_panels_and_legend_labels(tmp_path, name, labels):
    figure = plot_recording(*load(name))
    for extension, magic in (("png", b"\x89PNG\r\n\x1a\n"), ("pdf", b"%PDF"), ("svg", b"<?xml")):
        save_figure(figure, tmp_path / f"trace.{extension}")
        assert (tmp_path / f"trace.{extension}").read_bytes().startswith(magic)
    svg = (tmp_path / "trace.svg").read_text(encoding="utf-8")
    fixed = ["FHR (HR1), bpm", "TOCO", "category", "alert", "baseline", "fetal HR (HR1)", "normal band 110–160 bpm",
             'id="panel-fhr"', 'id="panel-toco"']
    assert [text for text in fixed + labels if text not in svg] == []  # other formats: the command-line table


def test_the_selected_channel_is_drawn_and_a_report_without_windows_draws():
    recording, report = load("twins_channel_hr2_json.json")
    (fetal,) = lines(plot_recording(recording, report), "trace-fetal")
    drawn = [value for value in fetal.get_ydata() if not math.isnan(value)]
    assert report.channel == "HR2" and drawn == [v for v in recording.signal("hr2") if not math.isnan(v)]
    assert drawn != [v for v in recording.signal("hr1") if not math.isnan(v)]
    figure = plot_recording(read_csv_recording("Date,HR1\n"), corvane.analyze_csv("Date,HR1\n"))
    assert shaded_spans(figure) == {} and lines(figure, "baseline-") == []


def test_trace_breaks_where_rows_are_missing():
    rows = [0, 1, 2, 10, 11, 30]  # two gaps longer than three seconds
    text = "Date,HR1,TOCO\n" + "".join(f"2024-03-10 10:00:{s:02d},140,10\n" for s in rows)
    (fetal,) = lines(plot_recording(read_csv_recording(text), corvane.analyze_csv(text), time_axis="minutes"), "trace-fetal")
    xs = list(fetal.get_xdata())
    assert sum(math.isnan(x) for x in xs) == 2 and [x * 60 for x in xs if not math.isnan(x)] == pytest.approx(rows)


REAL = sorted(REAL_DATA_DIR.glob("ctu_uhb_*.csv"))[:3] + sorted((REAL_DATA_DIR / "fhrma-fs").glob("*.csv"))
QUALITY_CASES = list(CASES) + [{"input": p, "function": "analyze_csv_string", "kwargs": {
    "channel": "HR2" if "Scalp" in p.name else "HR1", "window_min": 20, "step_sec": 300}} for p in REAL]


@pytest.mark.parametrize("case", QUALITY_CASES, ids=[c if isinstance(c, str) else c["input"].name for c in QUALITY_CASES])
def test_shaded_seconds_are_the_seconds_the_report_counted(case):
    recording, report = load(case)
    bounds = window_bounds(report)
    assert len(bounds) == len(report.windows)
    for (start, end), window in zip(bounds, report.windows):
        series = second_series(recording, report.channel, start, end, recording_millis(recording))
        quality, features = window.data_quality, window.features
        assert len(series) == quality.expected_seconds
        assert f"{series.fetal_usable_ratio():.3f}" == f"{quality.fetal_usable_ratio:.3f}"
        assert f"{series.maternal_capture_ratio():.3f}" == f"{quality.suspected_maternal_capture_ratio:.3f}"
        assert sum(value is not None for value in series.fetal) == (
            features.fetal_hr_seconds_below_110 + features.fetal_hr_seconds_110_to_160 + features.fetal_hr_seconds_above_160)


@pytest.mark.parametrize("name", ["maternal_capture_hr2.csv", "signal_gap_no_rows.csv"])
def test_one_window_plot_shades_that_windows_seconds(name):
    recording, report = load(name)
    fhr = panel(plot_recording(recording, report, window=-1, time_axis="minutes"), "panel-fhr")
    series = second_series(recording, report.channel, *window_bounds(report)[-1])
    origin = recording.origin_epoch_seconds
    for gid, flags in (("shade-capture", series.maternal_capture()), ("shade-no-signal", series.no_fetal_signal())):
        xs = [[vertex[0] * 60 for vertex in path.vertices] for c in fhr.collections if c.get_gid() == gid for path in c.get_paths()]
        shaded = [edge for x in sorted((min(x), max(x)) for x in xs) for edge in x]
        assert shaded == pytest.approx([e - origin for run in runs(flags, series.first_ms) for e in (run[0] / 1000, run[1] / 1000)])
        assert bool(shaded) or gid != ("shade-capture" if "capture" in name else "shade-no-signal")


def minutes_of(values, toco=None):
    return "Date,HR1" + (",TOCO" if toco else "") + "\n" + "".join(
        f"2024-03-10 10:{i // 60:02d}:{i % 60:02d},{v}" + (f",{toco(i)}" if toco else "") + "\n" for i, v in enumerate(values))


@pytest.mark.parametrize("text, fhr_low, no_toco", [
    (minutes_of([140] * 300), 50.0, 1), (minutes_of([140] * 150 + [45] * 150), 40.0, 1),
    (minutes_of([140] * 300 + [30] * 5), 30.0, 1), (minutes_of([140] * 300, lambda i: i % 4), 50.0, 1),
    (minutes_of([140] * 300, lambda i: i % 60), 50.0, 0),
], ids=["no toco", "fhr 45", "fhr 30", "flat toco", "toco"])
def test_fhr_axis_and_missing_toco(text, fhr_low, no_toco):
    figure = plot_recording(read_csv_recording(text), corvane.analyze_csv(text))
    assert panel(figure, "panel-fhr").get_ylim() == (fhr_low, 210.0)
    assert [t.get_text() for t in panel(figure, "panel-toco").texts if t.get_gid() == "no-toco-signal"] == ["no TOCO signal"] * no_toco


def test_holes_joined_toco_gaps_and_synthetic_recordings(capsys):
    assert without(0, 10, [(-5, -1), (2, 3), (9, 14), (20, 30)]) == [(0, 2), (3, 9)]
    text = minutes_of([140] * 1800)  # three windows without TOCO: one joined stretch
    figure = plot_recording(read_csv_recording(text), corvane.analyze_csv(text, window_min=10, step_sec=600))
    assert [t.get_text() for t in panel(figure, "panel-toco").texts if t.get_gid() == "no-toco-signal"] == ["no TOCO signal"]
    shape = RecordingShape(minutes=20)  # a contraction every 3.2 min: TOCO rises 6 times
    assert corvane.analyze_csv(generate_csv(shape), window_min=20).windows[-1].contractions >= 5
    assert synthetic_main(["--minutes", "1"]) == 0 and capsys.readouterr().out == generate_csv(RecordingShape(minutes=1))


@pytest.mark.parametrize("case", data_rows("plot-titles.jsonl"), ids=lambda case: case["title"].split(" \u00b7 ")[1][:44].strip())
def test_title_says_where_the_findings_come_from(case):
    text = read_text(GOLDEN_DIR / case["input"])
    figure = plot_recording(read_csv_recording(text), corvane.analyze_csv(text, **case["kwargs"]), window=case["window"])
    assert panel(figure, "panel-strip").get_title(loc="left") == case["title"]


@pytest.mark.parametrize("case", data_rows("sample-readers.jsonl"), ids=lambda case: case["note"])
def test_sample_readers(case):
    text = case["text"]
    recording = (read_request_recording if text.startswith(("{", "[", "not json")) else read_csv_recording)(text)
    assert list(recording.seconds) == case["seconds"]
    for name, values in case["signals"].items():
        got = recording.signal(name)
        assert len(got) == len(values) and all(a == b or (math.isnan(a) and math.isnan(b)) for a, b in zip(got, values)), name
    late_epoch = read_csv_recording("Date,HR1\n2024-03-10 10:00:05,1\n1970-01-01 00:00:10,2\n")
    assert (late_epoch.origin_epoch_seconds, late_epoch.offset_of(25.0)) == (10.0, 15.0)  # the earliest sample


@pytest.mark.parametrize("text, expected", data_rows("timestamps.jsonl"))
def test_timestamp_reading(text, expected):
    assert epoch_seconds(text) == (None if expected is None else pytest.approx(expected, abs=1e-9))
    assert epoch_millis(text) == (None if expected is None else round(expected * 1000))
