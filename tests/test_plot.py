"""The trace plot, its sample reader and the timestamp reading behind it."""

import collections
import datetime as dt
import json
import math
import sys

import pytest

import corvane
from corvane._events import merge_events
from corvane._seconds import recording_millis, runs, second_series
from corvane._windows import window_bounds
from corvane.plot import drawn_events, plot_recording, save_figure, select_window
from corvane.recording import read_csv_recording, read_request_recording
from corvane.timestamps import epoch_millis, epoch_seconds
from conftest import REAL_DATA_DIR, TESTS_DIR, read_text

pytest.importorskip("matplotlib")

GOLDEN_DIR = TESTS_DIR / "golden"
CASES = json.loads(read_text(GOLDEN_DIR / "cases.json"))
CASE_IDS = [case["input"] for case in CASES]
EPOCH = dt.datetime(1970, 1, 1)


def seconds(text):
    """Epoch seconds of a plain 'YYYY-MM-DD HH:MM:SS[.fff]' text, computed here
    independently of the package."""
    whole, _, fraction = text.partition(".")
    stamp = dt.datetime.strptime(whole, "%Y-%m-%d %H:%M:%S")
    return (stamp - EPOCH).total_seconds() + (int(fraction.ljust(3, "0")[:3]) / 1000 if fraction else 0.0)


def load_case(case):
    text = read_text(GOLDEN_DIR / case["input"])
    if case["function"] == "analyze_csv_string":
        return read_csv_recording(text), corvane.analyze_csv(text, **case["kwargs"])
    return read_request_recording(text), corvane.analyze_json(text)


def shaded_spans(figure):
    """Kind -> list of (start, end) minutes of the shaded event spans."""
    fhr = next(axes for axes in figure.axes if axes.get_gid() == "panel-fhr")
    spans = collections.defaultdict(list)
    for patch in fhr.patches:
        gid = patch.get_gid() or ""
        if gid.startswith(("acceleration-", "deceleration-")):
            spans[gid.rsplit("-", 1)[0]].append(span_extent(patch))
    return spans


def span_extent(patch):
    # axvspan returns a Rectangle (matplotlib 3.9+) or a Polygon (earlier).
    if hasattr(patch, "get_x") and hasattr(patch, "get_width"):
        return patch.get_x(), patch.get_x() + patch.get_width()
    xs = [vertex[0] for vertex in patch.get_xy()]
    return min(xs), max(xs)


def lines_by_gid(figure, prefix):
    return [line for axes in figure.axes for line in axes.lines if (line.get_gid() or "").startswith(prefix)]


# --- events drawn where the report says ---------------------------------------


def expected_kinds(events):
    return collections.Counter(
        "acceleration" if e.kind == "acceleration" else f"deceleration-{e.deceleration_kind}"
        for e in events
        if e.kind != "contraction"
    )


@pytest.mark.parametrize("case", CASES, ids=CASE_IDS)
@pytest.mark.parametrize("window", [-1, None], ids=["last window", "whole recording"])
def test_events_are_shaded_by_kind_where_the_report_places_them(case, window):
    recording, report = load_case(case)
    figure = plot_recording(recording, report, window=window, time_axis="minutes")
    if window is None:
        events = drawn_events(report.recording_events())
    else:
        # One window's events, each once.
        events = merge_events([(0, report.to_dict()["windows"][-1])], [None])
    spans = shaded_spans(figure)
    assert collections.Counter({kind: len(found) for kind, found in spans.items()}) == expected_kinds(events)
    origin = seconds(report.input.start_timestamp)
    expected = sorted(
        ((seconds(e.start) - origin) / 60, (seconds(e.end) - origin) / 60) for e in events if e.kind != "contraction"
    )
    drawn = sorted(span for found in spans.values() for span in found)
    assert len(drawn) == len(expected)
    for (x0, x1), (e0, e1) in zip(drawn, expected):
        assert x0 == pytest.approx(e0, abs=1e-6)
        assert x1 == pytest.approx(max(e1, e0 + 1 / 60), abs=1e-6)
    contractions = [e for e in events if e.kind == "contraction"]
    (peaks,) = lines_by_gid(figure, "contraction-peaks") or [None]
    if contractions:
        assert list(peaks.get_xdata()) == pytest.approx([(seconds(e.peak) - origin) / 60 for e in contractions])
        assert list(peaks.get_ydata()) == pytest.approx([min(e.peak_toco, 100.0) for e in contractions])
    else:
        assert peaks is None


def test_chunk_report_shows_every_event_once():
    case = next(case for case in CASES if case["input"] == "recurrent_late_30min.csv")
    recording, report = load_case(case)
    figure = plot_recording(recording, report)
    spans = shaded_spans(figure)
    assert {kind: len(found) for kind, found in spans.items()} == dict(expected_kinds(report.recording_events()))
    assert {"deceleration-late", "deceleration-variable"} <= set(spans)


@pytest.mark.parametrize("name", ["accelerations_ga31_rolling.csv", "signal_gap_no_rows.csv"])
def test_baselines_and_strip_follow_the_windows(name):
    case = next(case for case in CASES if case["input"] == name)
    recording, report = load_case(case)
    figure = plot_recording(recording, report, time_axis="minutes")
    baselines = lines_by_gid(figure, "baseline-")
    assert [line.get_ydata()[0] for line in baselines] == [w.baseline_bpm for w in report.windows]
    origin = seconds(report.input.start_timestamp)
    series = second_series(recording, report.channel, *[round(seconds(report.input.start_timestamp) * 1000),
                                                         round(seconds(report.input.end_timestamp) * 1000)])
    gaps = [((a / 1000 - origin) / 60, (b / 1000 - origin) / 60) for a, b in runs(series.no_fetal_signal(), series.first_ms)]
    # Each baseline lies within the 10 minutes before its window's end and
    # never over seconds without fetal signal.
    for line, window in zip(baselines, report.windows):
        xs = [x for x in line.get_xdata() if not math.isnan(x)]
        end = (seconds(window.window_end) - origin) / 60
        assert end - 10 - 1e-9 <= min(xs) and max(xs) <= end + 1e-9
        for x0, x1 in zip(xs[::2], xs[1::2]):
            assert not any(g0 < x1 - 1e-9 and x0 + 1e-9 < g1 for g0, g1 in gaps)
    assert (len(gaps) > 0) == (name == "signal_gap_no_rows.csv")
    strip = next(axes for axes in figure.axes if axes.get_gid() == "panel-strip")
    categories = [patch for patch in strip.patches if (patch.get_gid() or "").startswith("strip-category-")]
    alerts = [patch for patch in strip.patches if (patch.get_gid() or "").startswith("strip-alert-")]
    assert len(categories) == len(alerts) == len(report.windows)
    # Rolling windows tile the strip: each block starts where the previous ended.
    extents = [span_extent(patch) for patch in categories]
    for (_, previous_end), (start, _) in zip(extents, extents[1:]):
        assert start == pytest.approx(previous_end)


@pytest.mark.parametrize(
    "window, expected",
    [(None, [0, 1, 2, 3]), (0, [0]), (2, [2]), (-1, [3]), (-4, [0])],
)
def test_select_window(window, expected):
    report = load_case(next(c for c in CASES if c["input"] == "offsets_out_of_order.csv"))[1]
    assert [number for number, _ in select_window(report, window)] == expected


@pytest.mark.parametrize("window, count", [(4, 4), (-5, 4)])
def test_select_window_out_of_range(window, count):
    report = load_case(next(c for c in CASES if c["input"] == "offsets_out_of_order.csv"))[1]
    with pytest.raises(ValueError) as raised:
        select_window(report, window)
    assert str(raised.value) == f"window {window} is out of range: the report has {count} windows"


# --- figure size, files, labels -----------------------------------------------


@pytest.fixture(scope="module")
def sample(sample_csv_path):
    text = read_text(sample_csv_path)
    return read_csv_recording(text), corvane.analyze_csv(text, window_min=20, step_sec=300)


@pytest.mark.parametrize("speed", [1, 3])
def test_paper_speed_sets_the_width(sample, speed):
    recording, report = sample
    one = plot_recording(recording, report, paper_speed=1).get_size_inches()[0]
    figure = plot_recording(recording, report, paper_speed=speed)
    minutes = recording.seconds[-1] / 60
    # The drawing area is the recording's length at the paper speed; margins are fixed.
    assert figure.get_size_inches()[0] - one == pytest.approx(minutes * (speed - 1) / 2.54)
    fhr = next(axes for axes in figure.axes if axes.get_gid() == "panel-fhr")
    width_cm = fhr.get_position().width * figure.get_size_inches()[0] * 2.54
    assert width_cm == pytest.approx(minutes * speed, rel=1e-6)
    assert fhr.get_ylim() == (50.0, 210.0)


@pytest.mark.parametrize("speed", [0, 2, 2.5, None])
def test_other_paper_speeds_are_refused(sample, speed):
    recording, report = sample
    with pytest.raises(ValueError, match="paper speed must be 1 or 3 cm/min"):
        plot_recording(recording, report, paper_speed=speed)


@pytest.mark.parametrize("extension, magic", [("png", b"\x89PNG\r\n\x1a\n"), ("svg", b"<?xml"), ("pdf", b"%PDF")])
def test_sample_renders_to_each_format(sample, tmp_path, extension, magic):
    recording, report = sample
    path = tmp_path / f"trace.{extension}"
    save_figure(plot_recording(recording, report), path)
    content = path.read_bytes()
    assert len(content) > 1000 and content.startswith(magic)


@pytest.mark.parametrize(
    "case_name, labels",
    [
        ("recurrent_late_30min.csv", ["late deceleration", "variable deceleration", "contraction peak", "alert: urgent review"]),
        ("accelerations_ga31_rolling.csv", ["acceleration", "category I", "alert: none"]),
        ("variable_severe_json.json", ["variable deceleration", "maternal HR"]),
    ],
)
def test_svg_holds_panels_and_legend_labels(tmp_path, case_name, labels):
    recording, report = load_case(next(c for c in CASES if c["input"] == case_name))
    path = tmp_path / "trace.svg"
    save_figure(plot_recording(recording, report), path)
    svg = path.read_text(encoding="utf-8")
    for text in ["FHR (HR1), bpm", "TOCO", "category", "alert", "baseline", "fetal HR (HR1)", "normal band 110–160 bpm"] + labels:
        assert text in svg, text
    assert 'id="panel-fhr"' in svg and 'id="panel-toco"' in svg


def test_unknown_picture_format_is_refused(sample, tmp_path):
    recording, report = sample
    with pytest.raises(ValueError, match=r"must be a \.png, \.svg or \.pdf file"):
        save_figure(plot_recording(recording, report), tmp_path / "trace.gif")


def test_the_selected_channel_is_drawn():
    case = next(c for c in CASES if c["input"] == "twins_channel_hr2_json.json")
    recording, report = load_case(case)
    assert report.channel == "HR2"
    figure = plot_recording(recording, report)
    (fetal,) = lines_by_gid(figure, "trace-fetal")
    drawn = [value for value in fetal.get_ydata() if not math.isnan(value)]
    assert drawn == [value for value in recording.signal("hr2") if not math.isnan(value)]
    assert drawn != [value for value in recording.signal("hr1") if not math.isnan(value)]


def test_report_without_windows_still_draws():
    recording = read_csv_recording("Date,HR1\n")
    report = corvane.analyze_csv("Date,HR1\n")
    figure = plot_recording(recording, report)
    assert shaded_spans(figure) == {}
    assert lines_by_gid(figure, "baseline-") == []


def test_trace_breaks_where_rows_are_missing():
    rows = [0, 1, 2, 10, 11, 30]  # two gaps longer than three seconds
    text = "Date,HR1,TOCO\n" + "".join(f"2024-03-10 10:00:{s:02d},140,10\n" for s in rows)
    figure = plot_recording(read_csv_recording(text), corvane.analyze_csv(text), time_axis="minutes")
    (fetal,) = lines_by_gid(figure, "trace-fetal")
    xs = list(fetal.get_xdata())
    assert sum(math.isnan(x) for x in xs) == 2
    assert [x * 60 for x in xs if not math.isnan(x)] == pytest.approx(rows)


# --- signal quality, axes and title --------------------------------------------

REAL = sorted(REAL_DATA_DIR.glob("ctu_uhb_*.csv"))[:3] + sorted((REAL_DATA_DIR / "fhrma-fs").glob("*.csv"))
TWIN_CASES = [pytest.param(case, id=case["input"]) for case in CASES] + [
    pytest.param({"input": p, "function": "analyze_csv_string", "kwargs": {"channel": "HR2" if "Scalp" in p.name else "HR1",
                  "window_min": 20, "step_sec": 300}}, id=p.name)
    for p in REAL
]


@pytest.mark.parametrize("case", TWIN_CASES)
def test_shaded_seconds_are_the_seconds_the_report_counted(case):
    recording, report = load_case(case)
    millis = recording_millis(recording)
    bounds = window_bounds(report)
    assert len(bounds) == len(report.windows)
    for (start, end), window in zip(bounds, report.windows):
        series = second_series(recording, report.channel, start, end, millis)
        quality = window.data_quality
        assert len(series) == quality.expected_seconds
        assert f"{series.fetal_usable_ratio():.3f}" == f"{quality.fetal_usable_ratio:.3f}"
        assert f"{series.maternal_capture_ratio():.3f}" == f"{quality.suspected_maternal_capture_ratio:.3f}"
        features = window.features
        assert sum(value is not None for value in series.fetal) == (
            features.fetal_hr_seconds_below_110 + features.fetal_hr_seconds_110_to_160 + features.fetal_hr_seconds_above_160
        )


def shade_runs(figure, gid):
    fhr = next(axes for axes in figure.axes if axes.get_gid() == "panel-fhr")
    found = [c for c in fhr.collections if c.get_gid() == gid]
    xs = [[vertex[0] for vertex in path.vertices] for c in found for path in c.get_paths()]
    return sorted((min(x) * 60, max(x) * 60) for x in xs)


@pytest.mark.parametrize("name", ["maternal_capture_hr2.csv", "signal_gap_no_rows.csv"])
def test_one_window_plot_shades_that_windows_seconds(name):
    case = next(c for c in CASES if c["input"] == name)
    recording, report = load_case(case)
    figure = plot_recording(recording, report, window=-1, time_axis="minutes")
    series = second_series(recording, report.channel, *window_bounds(report)[-1])
    origin = recording.origin_epoch_seconds
    for gid, flags in (("shade-capture", series.maternal_capture()), ("shade-no-signal", series.no_fetal_signal())):
        expected = [(a / 1000 - origin, b / 1000 - origin) for a, b in runs(flags, series.first_ms)]
        assert [edge for run in shade_runs(figure, gid) for edge in run] == pytest.approx([e for run in expected for e in run])
    assert shade_runs(figure, "shade-capture" if "capture" in name else "shade-no-signal")


def rows(values, column="HR1"):
    return f"Date,{column}\n" + "".join(f"2024-03-10 10:{i // 60:02d}:{i % 60:02d},{v}\n" for i, v in enumerate(values))


@pytest.mark.parametrize(
    "text, fhr_low, no_toco",
    [
        (rows([140] * 300), 50.0, 1),  # no TOCO column at all
        (rows([140] * 150 + [45] * 150), 40.0, 1),  # below 50: the grid goes down to 40
        (rows([140] * 300 + [30] * 5), 30.0, 1),
        ("Date,HR1,TOCO\n" + "".join(f"2024-03-10 10:{i // 60:02d}:{i % 60:02d},140,{i % 4}\n" for i in range(300)), 50.0, 1),
        ("Date,HR1,TOCO\n" + "".join(f"2024-03-10 10:{i // 60:02d}:{i % 60:02d},140,{i % 60}\n" for i in range(300)), 50.0, 0),
    ],
    ids=["no toco", "fhr 45", "fhr 30", "flat toco", "toco"],
)
def test_fhr_axis_and_missing_toco(text, fhr_low, no_toco):
    figure = plot_recording(read_csv_recording(text), corvane.analyze_csv(text))
    fhr, toco = (next(a for a in figure.axes if a.get_gid() == gid) for gid in ("panel-fhr", "panel-toco"))
    assert fhr.get_ylim() == (fhr_low, 210.0)
    assert [t.get_text() for t in toco.texts if t.get_gid() == "no-toco-signal"] == ["no TOCO signal"] * no_toco


@pytest.mark.parametrize(
    "time_axis, labels",
    [("clock", ["08:00\n2024-03-01", "08:05", "08:10"]), ("minutes", ["0", "5", "10"])],
)
def test_time_axis_labels(sample, time_axis, labels):
    recording, report = sample
    figure = plot_recording(recording, report, time_axis=time_axis)
    figure.canvas.draw()
    toco = next(a for a in figure.axes if a.get_gid() == "panel-toco")
    left, _ = toco.get_xlim()
    shown = [t.get_text() for t in toco.get_xticklabels() if t.get_position()[0] >= left - 1e-9]
    assert shown[:3] == labels


def test_midnight_shows_the_new_date():
    text = "Date,HR1\n" + "".join(
        f"{(dt.datetime(2024, 3, 10, 23, 50) + dt.timedelta(seconds=i)):%Y-%m-%d %H:%M:%S},140\n" for i in range(1200)
    )
    figure = plot_recording(read_csv_recording(text), corvane.analyze_csv(text), paper_speed=3)
    figure.canvas.draw()
    toco = next(a for a in figure.axes if a.get_gid() == "panel-toco")
    assert "00:00\n2024-03-11" in [t.get_text() for t in toco.get_xticklabels()]


@pytest.mark.parametrize(
    "name, kwargs, window, scope",
    [
        ("reassuring_40min_chunk.csv", {}, None, "findings from the last 30 minutes only (one chunk)"),
        ("sinusoidal_25min.csv", {}, None, "findings from the whole recording (one chunk)"),
        ("reassuring_40min_chunk.csv", {"window_min": 20, "step_sec": 300}, None,
         "findings from rolling 20-min windows every 5 min (5 windows)"),
        ("reassuring_40min_chunk.csv", {"window_min": 10, "step_sec": 90}, None,
         "findings from rolling 10-min windows every 90 s (21 windows)"),
        ("reassuring_40min_chunk.csv", {"window_min": 20, "last_only": True}, None,
         "findings from the last 20-min window only"),
        ("reassuring_40min_chunk.csv", {"window_min": 20, "step_sec": 300}, 1,
         "findings from window 1 only: 2024-02-18 19:43:55 – 2024-02-18 20:03:55"),
    ],
)
def test_title_says_where_the_findings_come_from(name, kwargs, window, scope):
    text = read_text(GOLDEN_DIR / name)
    figure = plot_recording(read_csv_recording(text), corvane.analyze_csv(text, **kwargs), window=window)
    strip = next(a for a in figure.axes if a.get_gid() == "panel-strip")
    assert strip.get_title(loc="left") == f"HR1 · {scope} · paper 1 cm/min"


def test_plot_without_matplotlib_says_what_to_install(sample, monkeypatch):
    recording, report = sample
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    with pytest.raises(ImportError, match=r"install corvane\[plot\]"):
        plot_recording(recording, report)


# --- the sample reader ----------------------------------------------------------

NAN = float("nan")


def same(values, expected):
    return len(values) == len(expected) and all(
        (math.isnan(a) and math.isnan(b)) or a == b for a, b in zip(values, expected)
    )


@pytest.mark.parametrize(
    "text, expected_seconds, signals",
    [
        # Header names in any case and order, blanks around them.
        (
            " toco , DATE,hr1\n10,2024-03-10 10:00:00,140\n12,2024-03-10 10:00:01,141\n",
            [0.0, 1.0],
            {"hr1": [140.0, 141.0], "toco": [10.0, 12.0], "hrm": [NAN, NAN]},
        ),
        # Dropout codes and impossible values are gaps; so are non-numbers.
        (
            "Date,HR1,HRM,TOCO\n2024-03-10 10:00:00,0,29,-1\n2024-03-10 10:00:01,240,30,300\n"
            "2024-03-10 10:00:02,abc,1e2,301\n2024-03-10 10:00:03,1_40,nan,inf\n",
            [0.0, 1.0, 2.0, 3.0],
            {"hr1": [NAN, 240.0, NAN, NAN], "hrm": [NAN, 30.0, 100.0, NAN], "toco": [NAN, 300.0, NAN, NAN]},
        ),
        # Rows out of order are sorted; unreadable dates and short rows are left out; CR LF.
        (
            "Date,HR1\r\n2024-03-10 10:00:05,150\r\n2024-03-10 10:00:00,140\r\nyesterday,1\r\n\r\n2024-03-10 10:00:02\r\n",
            [0.0, 2.0, 5.0],
            {"hr1": [140.0, NAN, 150.0]},
        ),
        # Offsets: 11:00:01+01:00 is one second after 10:00:00Z.
        (
            "Date,HR1\n2024-03-10T11:00:01+01:00,141\n2024-03-10T10:00:00Z,140\n",
            [0.0, 1.0],
            {"hr1": [140.0, 141.0]},
        ),
        # The leftmost of two equal columns is read.
        ("Date,HR1,hr1\n2024-03-10 10:00:00,140,150\n", [0.0], {"hr1": [140.0]}),
        # No Date column: nothing to draw.
        ("Time,HR1\n10:00,140\n", [], {"hr1": []}),
    ],
)
def test_csv_recording(text, expected_seconds, signals):
    recording = read_csv_recording(text)
    assert list(recording.seconds) == expected_seconds
    for name, values in signals.items():
        assert same(recording.signal(name), values), name


def test_csv_recording_origin_is_the_earliest_sample():
    recording = read_csv_recording("Date,HR1\n2024-03-10 10:00:05,1\n1970-01-01 00:00:10,2\n")
    assert recording.origin_epoch_seconds == 10.0
    assert recording.offset_of(25.0) == 15.0


@pytest.mark.parametrize(
    "request_text, expected_seconds, hr1",
    [
        (
            json.dumps({"samples": [{"t": "2024-03-10T10:00:01Z", "hr1": 141}, {"t": "2024-03-10T10:00:00Z", "hr1": None}]}),
            [0.0, 1.0],
            [NAN, 141.0],
        ),
        (json.dumps({"samples": [{"t": 5, "hr1": 1}, {"hr1": 2}, "x", {"t": "2024-03-10 10:00:00", "hr1": True}]}), [0.0], [NAN]),
        ("not json", [], []),
        ("[]", [], []),
    ],
)
def test_request_recording(request_text, expected_seconds, hr1):
    recording = read_request_recording(request_text)
    assert list(recording.seconds) == expected_seconds
    assert same(recording.signal("HR1"), hr1)


@pytest.mark.parametrize(
    "text, expected",
    [
        ("1970-01-01 00:00:01", 1.0),
        ("1970-01-01T00:00:01Z", 1.0),
        ("  1970-01-01 00:00:01  ", 1.0),
        ("1970-01-01 00:00:00.5", 0.5),
        ("1970-01-01 00:00:00.05", 0.05),
        ("1970-01-01 00:00:00.1239", 0.123),
        ("1970-01-01 00:00:00.", 0.0),
        ("1970-01-01T01:00:00+01:00", 0.0),
        ("1969-12-31 19:00:00-05:00", 0.0),
        ("1969-12-31 23:59:59", -1.0),
        ("2023-02-29 00:00:00", seconds("2023-03-01 00:00:00")),
        ("2024-02-31 00:00:00.25", seconds("2024-03-02 00:00:00") + 0.25),
        ("0001-01-01 00:00:00", -62135596800.0),
        ("2024-03-10 14:05:09", seconds("2024-03-10 14:05:09")),
        ("1234ms", 1.234),
        ("-1000ms", -1.0),
        ("2024/03/10 14:05:09", None),
        ("2024-13-01 00:00:00", None),
        ("2024-01-01 24:00:00", None),
        ("2024-03-10 14:05", None),
        ("2024-03-10t14:05:09", None),
        ("2024-03-10 14:05:09+0200", None),
        ("2024-03-10 14:05:09+24:00", None),
        ("0000-01-01 00:00:00", None),
        ("", None),
    ],
)
def test_timestamp_reading(text, expected):
    got = epoch_seconds(text)
    if expected is None:
        assert got is None and epoch_millis(text) is None
    else:
        assert got == pytest.approx(expected, abs=1e-9)
        assert epoch_millis(text) == round(expected * 1000)
