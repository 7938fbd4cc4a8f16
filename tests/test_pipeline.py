"""The two entry pipelines end to end: error order, windows, last_only, limits."""

import datetime as dt
import json

import pytest

import corvane

EMPTY_REPORT = """{
  "channel": "HR1",
  "analysis_mode": "chunk",
  "requested_window_minutes": null,
  "step_seconds": 60,
  "input": {
    "rows": 0,
    "start_timestamp": null,
    "end_timestamp": null,
    "duration_seconds": 0.000,
    "out_of_order_rows": 0,
    "duplicate_timestamps": 0
  },
  "windows": [
  ]
}
"""

START = dt.datetime(2024, 3, 10, 10, 0, 0)


def stamp(seconds: float) -> str:
    moment = START + dt.timedelta(seconds=seconds)
    return moment.strftime("%Y-%m-%d %H:%M:%S")


def csv_every_second(seconds: int, hr: float = 140.0) -> str:
    rows = ["Date,HR1,HRM,TOCO"] + [f"{stamp(s)},{hr},85,10" for s in range(seconds + 1)]
    return "\n".join(rows) + "\n"


def windows(report_text: str):
    return json.loads(report_text)["windows"]


def test_header_only_gives_the_empty_report():
    assert corvane.analyze_csv_string("Date,HR1,HR2,HR3,HRM,TOCO\n") == EMPTY_REPORT
    assert corvane.analyze_csv_string("Date") == EMPTY_REPORT


@pytest.mark.parametrize(
    "kwargs, message",
    [
        # The CSV is read first, so its error wins over a bad window_min ...
        ({"csv_text": "HR1\n1\n", "window_min": 5}, "CSV is missing required Date column"),
        ({"csv_text": "", "window_min": 5, "channel": "HR9"}, "CSV is empty; expected a header row"),
        # ... and window_min is checked before the channel.
        ({"csv_text": "Date\n", "window_min": 5, "channel": "HR9"}, "window_min must be between 10 and 30"),
        ({"csv_text": "Date\n", "window_min": 0}, "window_min must be between 10 and 30"),
        ({"csv_text": "Date\n", "window_min": 9}, "window_min must be between 10 and 30"),
        ({"csv_text": "Date\n", "window_min": 31}, "window_min must be between 10 and 30"),
        ({"csv_text": "Date\n", "channel": " hr4 "}, "unsupported fetal channel: HR4"),
        ({"csv_text": "Date\n", "channel": "HR 1"}, "unsupported fetal channel: HR 1"),
        ({"csv_text": "Date\n", "channel": "  "}, "unsupported fetal channel: "),
        ({"csv_text": "Date\n", "channel": "hrm"}, "unsupported fetal channel: HRM"),
        ({"csv_text": "Date,HR1\n2024-01-01 00:00:00,1\nnope,2\n"}, "row 3 has invalid Date: timestamp is missing date/time separator: nope"),
    ],
)
def test_csv_errors_surface_in_pipeline_order(kwargs, message):
    with pytest.raises(ValueError) as raised:
        corvane.analyze_csv_string(**kwargs)
    assert str(raised.value) == message


@pytest.mark.parametrize("window_min", [10, 30])
def test_window_min_bounds_are_accepted(window_min):
    report = json.loads(corvane.analyze_csv_string(csv_every_second(60), window_min=window_min))
    assert report["requested_window_minutes"] == window_min
    assert report["analysis_mode"] == "rolling"


@pytest.mark.parametrize(
    "seconds, window_min, step_sec, expected_ends",
    [
        # 25 minutes, 10-minute windows, 60 s step: ends at 10, 11, ..., 25 minutes.
        (1500, 10, 60, [600 + 60 * k for k in range(16)]),
        # 25.5 minutes: the same 16 windows plus a final one ending at the last sample.
        (1530, 10, 60, [600 + 60 * k for k in range(16)] + [1530]),
        # A 20-minute step: the first window, then one ending at the last sample.
        (1500, 10, 1200, [600, 1500]),
        # Shorter than the window: one window over the whole recording.
        (300, 10, 60, [300]),
        # Exactly one window long.
        (600, 10, 60, [600]),
    ],
)
def test_rolling_window_ends(seconds, window_min, step_sec, expected_ends):
    report = windows(corvane.analyze_csv_string(csv_every_second(seconds), window_min=window_min, step_sec=step_sec))
    assert [w["window_end"] for w in report] == [stamp(end) for end in expected_ends]
    assert [w["window_start"] for w in report] == [stamp(max(0, end - window_min * 60)) for end in expected_ends]


@pytest.mark.parametrize("seconds, start", [(1500, 0), (2700, 900)])
def test_chunk_mode_covers_at_most_the_last_30_minutes(seconds, start):
    report = json.loads(corvane.analyze_csv_string(csv_every_second(seconds), step_sec=5))
    assert report["analysis_mode"] == "chunk"
    assert [(w["window_start"], w["window_end"]) for w in report["windows"]] == [(stamp(start), stamp(seconds))]


def test_step_zero_runs_as_one_second():
    text = csv_every_second(605)
    zero = corvane.analyze_csv_string(text, window_min=10, step_sec=0)
    one = corvane.analyze_csv_string(text, window_min=10, step_sec=1)
    assert zero == one
    assert json.loads(zero)["step_seconds"] == 1
    assert len(windows(zero)) == 6


def test_last_only_keeps_the_last_window_and_the_full_input_summary():
    text = csv_every_second(1530)
    full = json.loads(corvane.analyze_csv_string(text, window_min=10))
    last = json.loads(corvane.analyze_csv_string(text, window_min=10, last_only=True))
    assert last["windows"] == full["windows"][-1:]
    assert {k: v for k, v in last.items() if k != "windows"} == {k: v for k, v in full.items() if k != "windows"}
    single = csv_every_second(300)
    assert corvane.analyze_csv_string(single, last_only=True) == corvane.analyze_csv_string(single)


def test_one_sample_gives_one_zero_length_window_in_both_modes():
    text = f"Date,HR1\n{stamp(0)},140\n"
    for kwargs in ({}, {"window_min": 10}):
        report = json.loads(corvane.analyze_csv_string(text, **kwargs))
        assert report["input"]["duration_seconds"] == 0
        assert report["input"]["start_timestamp"] == report["input"]["end_timestamp"] == stamp(0)
        assert [(w["window_start"], w["window_end"], w["duration_seconds"]) for w in report["windows"]] == [
            (stamp(0), stamp(0), 0)
        ]


@pytest.mark.parametrize(
    "later, expected_windows",
    [
        # Two rows a year apart with 10-minute windows and a 1 s step: 31,535,401 windows.
        ("2025-03-10 10:00:00", 31_535_401),
        # A mistyped year thousands of years later.
        ("9024-03-10 10:00:00", None),
    ],
)
def test_rolling_window_count_is_limited(later, expected_windows):
    text = f"Date,HR1\n{stamp(0)},140\n{later},140\n"
    with pytest.raises(ValueError) as raised:
        corvane.analyze_csv_string(text, window_min=10, step_sec=1)
    message = str(raised.value)
    assert message.startswith("recording spans ") and message.endswith(" analysis windows; at most 1000000 are supported")
    count = int(message.split()[2])
    assert count > 1_000_000
    if expected_windows is not None:
        assert count == expected_windows
    # Chunk mode analyzes one window whatever the span.
    assert len(windows(corvane.analyze_csv_string(text))) == 1


def test_one_window_past_the_limit_is_refused_with_the_exact_count():
    # 10-minute windows, 1 s step: a span of W + 1,000,000 s needs 1,000,001 windows.
    text = f"Date\n{stamp(0)}\n{stamp(600 + 1_000_000)}\n"
    with pytest.raises(ValueError) as raised:
        corvane.analyze_csv_string(text, window_min=10, step_sec=1)
    assert str(raised.value) == "recording spans 1000001 analysis windows; at most 1000000 are supported"
    assert len(windows(corvane.analyze_csv_string(text, window_min=10, step_sec=100_000))) == 11


def test_extreme_timestamps_do_not_overflow():
    text = "Date,HR1\n0000-01-01 00:00:00,140\n292000000-01-01 00:00:00,140\n"
    report = json.loads(corvane.analyze_csv_string(text))
    assert report["input"]["rows"] == 2
    assert len(report["windows"]) == 1
    with pytest.raises(ValueError, match="analysis windows"):
        corvane.analyze_csv_string(text, window_min=30, step_sec=4294967295)


def test_json_requests_run_one_chunk_with_a_sixty_second_step():
    samples = [{"t": stamp(s).replace(" ", "T") + "Z", "hr1": 140} for s in range(0, 2700, 1)]
    request = json.dumps({"episode_id": "e", "sent_at": "s", "samples": samples})
    report = json.loads(corvane.analyze_json_string(request))
    assert (report["analysis_mode"], report["requested_window_minutes"], report["step_seconds"]) == ("chunk", None, 60)
    assert [(w["window_start"], w["window_end"]) for w in report["windows"]] == [(stamp(899), stamp(2699))]


def test_csv_and_json_give_the_same_windows():
    csv_text = csv_every_second(700, hr=150)
    samples = [{"t": stamp(s), "hr1": 150, "hrm": 85, "toco": 10} for s in range(701)]
    json_text = json.dumps({"episode_id": "e", "sent_at": "s", "samples": samples})
    assert corvane.analyze_csv_string(csv_text) == corvane.analyze_json_string(json_text)
