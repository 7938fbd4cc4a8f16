"""The trace plot, its sample reader and the timestamp reading behind it."""

import collections
import datetime as dt
import json
import math
import sys

import pytest

import corvane
from corvane.plot import merged_events, plot_recording, save_figure, select_window
from corvane.recording import read_csv_recording, read_request_recording
from corvane.report import Report
from corvane.timestamps import epoch_seconds
from conftest import TESTS_DIR, read_text

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


def expected_kinds(window):
    counts = collections.Counter(f"deceleration-{event.kind}" for event in window.deceleration_events)
    if window.acceleration_events:
        counts["acceleration"] = len(window.acceleration_events)
    return counts


# --- events drawn where the report says ---------------------------------------


@pytest.mark.parametrize("case", CASES, ids=CASE_IDS)
def test_last_window_events_are_shaded_by_kind_where_the_report_places_them(case):
    recording, report = load_case(case)
    figure = plot_recording(recording, report, window=-1)
    window = report.windows[-1]
    spans = shaded_spans(figure)
    assert collections.Counter({kind: len(found) for kind, found in spans.items()}) == expected_kinds(window)
    origin = seconds(report.input.start_timestamp)
    expected = sorted(
        ((seconds(e.start) - origin) / 60, (seconds(e.end) - origin) / 60)
        for e in window.acceleration_events + window.deceleration_events
    )
    drawn = sorted(span for found in spans.values() for span in found)
    assert len(drawn) == len(expected)
    for (x0, x1), (e0, e1) in zip(drawn, expected):
        assert x0 == pytest.approx(e0, abs=1e-6)
        assert x1 == pytest.approx(max(e1, e0 + 1 / 60), abs=1e-6)
    (peaks,) = lines_by_gid(figure, "contraction-peaks") or [None]
    if window.contraction_events:
        assert list(peaks.get_xdata()) == pytest.approx(
            [(seconds(e.peak) - origin) / 60 for e in window.contraction_events]
        )
        assert list(peaks.get_ydata()) == pytest.approx([min(e.peak_toco, 100.0) for e in window.contraction_events])
    else:
        assert peaks is None


def test_chunk_report_shows_every_event_once():
    case = next(case for case in CASES if case["input"] == "recurrent_late_30min.csv")
    recording, report = load_case(case)
    figure = plot_recording(recording, report)
    spans = shaded_spans(figure)
    assert {kind: len(found) for kind, found in spans.items()} == dict(expected_kinds(report.windows[0]))
    assert {"deceleration-late", "deceleration-variable"} <= set(spans)


def test_baselines_and_strip_follow_the_windows():
    case = next(case for case in CASES if case["input"] == "accelerations_ga31_rolling.csv")
    recording, report = load_case(case)
    figure = plot_recording(recording, report)
    baselines = lines_by_gid(figure, "baseline-")
    assert [line.get_ydata()[0] for line in baselines] == [w.baseline_bpm for w in report.windows]
    origin = seconds(report.input.start_timestamp)
    # Each baseline ends at its window's end and starts at most 10 minutes before.
    for line, window in zip(baselines, report.windows):
        x0, x1 = line.get_xdata()
        assert x1 == pytest.approx((seconds(window.window_end) - origin) / 60)
        assert x1 - x0 <= 10 + 1e-9
    strip = next(axes for axes in figure.axes if axes.get_gid() == "panel-strip")
    categories = [patch for patch in strip.patches if (patch.get_gid() or "").startswith("strip-category-")]
    alerts = [patch for patch in strip.patches if (patch.get_gid() or "").startswith("strip-alert-")]
    assert len(categories) == len(alerts) == len(report.windows)
    # Rolling windows tile the strip: each block starts where the previous ended.
    extents = [span_extent(patch) for patch in categories]
    for (_, previous_end), (start, _) in zip(extents, extents[1:]):
        assert start == pytest.approx(previous_end)


# --- merging the events of overlapping windows ---------------------------------


def window_with(events, end="2024-03-10 10:20:00"):
    base = json.loads(read_text(GOLDEN_DIR / "recurrent_late_30min.report.json"))["windows"][0]
    base = dict(base, window_end=end, acceleration_events=[], deceleration_events=[], contraction_events=[])
    for family, start, stop, kind in events:
        if family == "acceleration":
            base["acceleration_events"].append({"start": start, "end": stop, "duration_seconds": 10.0, "peak_bpm": 160.0})
        elif family == "deceleration":
            base["deceleration_events"].append(
                {"start": start, "end": stop, "duration_seconds": 10.0, "nadir_bpm": 100.0, "depth_bpm": 30.0,
                 "onset_to_nadir_seconds": 5.0, "kind": kind}
            )
        else:
            base["contraction_events"].append(
                {"start": start, "peak": start, "end": stop, "duration_seconds": 60.0, "peak_toco": 50.0}
            )
    return base


def report_of(windows):
    data = json.loads(read_text(GOLDEN_DIR / "recurrent_late_30min.report.json"))
    data["windows"] = windows
    return Report.from_text(json.dumps(data))


def t(minute, second=0):
    return f"2024-03-10 10:{minute:02d}:{second:02d}"


MERGE_CASES = [
    # One window: everything, in time order.
    (
        [[("deceleration", t(5), t(6), "late"), ("acceleration", t(1), t(2), None)]],
        [("acceleration", 0, t(1)), ("deceleration", 0, t(5))],
    ),
    # The same deceleration seen by two windows with other edges: the newer wins.
    (
        [[("deceleration", t(5), t(6), "gradual_unclassified")], [("deceleration", t(5, 2), t(6, 1), "late")]],
        [("deceleration", 1, t(5, 2))],
    ),
    # An older event no newer window reports is kept.
    (
        [[("acceleration", t(1), t(2), None), ("acceleration", t(8), t(9), None)], [("acceleration", t(8), t(9), None)]],
        [("acceleration", 0, t(1)), ("acceleration", 1, t(8))],
    ),
    # Different families never supersede each other.
    (
        [[("deceleration", t(3), t(4), "variable")], [("acceleration", t(3), t(4), None), ("contraction", t(3), t(4), None)]],
        [("acceleration", 1, t(3)), ("contraction", 1, t(3)), ("deceleration", 0, t(3))],
    ),
    # Events of one window that touch are both kept.
    (
        [[("deceleration", t(3), t(4), "variable"), ("deceleration", t(4), t(5), "late")]],
        [("deceleration", 0, t(3)), ("deceleration", 0, t(4))],
    ),
    # An older detection that spans two newer ones is replaced by both.
    (
        [[("contraction", t(2), t(6), None)], [("contraction", t(2), t(3), None), ("contraction", t(5), t(6), None)]],
        [("contraction", 1, t(2)), ("contraction", 1, t(5))],
    ),
    # Events whose times cannot be read are left out.
    ([[("acceleration", "not a time", t(2), None)]], []),
]


@pytest.mark.parametrize("windows, expected", MERGE_CASES)
def test_merged_events(windows, expected):
    report = report_of([window_with(events) for events in windows])
    placed = merged_events(list(enumerate(report.windows)), epoch_seconds)
    assert [(item.family, item.window, item.event.start) for item in placed] == expected


def test_whole_recording_draws_the_merged_events():
    windows = [
        window_with([("deceleration", t(5), t(6), "gradual_unclassified"), ("acceleration", t(1), t(2), None)]),
        window_with([("deceleration", t(5, 2), t(6, 1), "late")], end=t(25)),
    ]
    report = report_of(windows)
    recording = read_csv_recording("Date,HR1\n" + "".join(f"{t(m)},140\n" for m in range(0, 26)))
    spans = shaded_spans(plot_recording(recording, report))
    assert {kind: len(found) for kind, found in spans.items()} == {"acceleration": 1, "deceleration-late": 1}


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
    figure = plot_recording(read_csv_recording(text), corvane.analyze_csv(text))
    (fetal,) = lines_by_gid(figure, "trace-fetal")
    xs = list(fetal.get_xdata())
    assert sum(math.isnan(x) for x in xs) == 2
    assert [x * 60 for x in xs if not math.isnan(x)] == pytest.approx(rows)


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
        assert got is None
    else:
        assert got == pytest.approx(expected, abs=1e-9)
