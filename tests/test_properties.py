"""Properties that hold for every recording, checked on generated ones.

Recordings are drawn as a few parameters (length, sample rate, heart-rate
shape, awkward values, gaps, duplicate times, timestamp layouts) and filled in
by a seeded generator, so that each example is minutes of realistic signal
with deliberate oddities rather than a handful of random rows.
"""

import datetime as dt
import json
import math
import random

import pytest
from hypothesis import given
from hypothesis import strategies as st

import corvane
from corvane.synthetic import RecordingShape, generate_rows
from conftest import examples
from report_checks import check_report

EPOCH = dt.datetime(1970, 1, 1)
AWKWARD = [0.0, -1.0, -0.0, math.nan, math.inf, -math.inf, 1e308, 29.99, 30.0, 240.0, 240.01, 300.0, 300.5, None, "abc"]
COLUMNS = ("hr1", "hr2", "hrm", "toco")
HEADER = {"hr1": "HR1", "hr2": "HR2", "hrm": "HRM", "toco": "TOCO"}

# Timestamp layouts; each writes the same instant. Those in SAME_TEXT are read
# back by both entry paths as exactly the text written.
LAYOUTS = ("plain", "fraction", "offset", "iso_t", "iso_z", "padded")
SAME_TEXT = ("plain", "fraction", "offset")


def stamp(ms, layout, rng):
    """The instant `ms` as a monitor timestamp text in the given layout."""
    offset = rng.choice([-300, -90, 0, 60, 120, 345, 23 * 60 + 59]) if layout == "offset" else 0
    local = EPOCH + dt.timedelta(milliseconds=ms + offset * 60_000)
    text = local.strftime("%Y-%m-%d" + ("T" if layout in ("iso_t", "iso_z") else " ") + "%H:%M:%S")
    millis = f"{local.microsecond // 1000:03d}"
    if millis != "000" or layout == "fraction":
        text += "." + rng.choice([millis, millis + "9", millis.rstrip("0") or "0"])
    if layout == "offset":
        text += f"{'-' if offset < 0 else '+'}{abs(offset) // 60:02d}:{abs(offset) % 60:02d}"
    return {"iso_z": text + "Z", "padded": " " + text + "\t"}.get(layout, text)


@st.composite
def recordings(draw, layouts=LAYOUTS, distinct=False, max_seconds=32 * 60):
    """A recording: rows of {"ms", "t", "hr1", "hr2", "hrm", "toco"} in file order."""
    seed = draw(st.integers(0, 2**32 - 1))
    # Lengths around the window sizes and the chunk span matter most.
    seconds = min(max_seconds, draw(st.sampled_from([0, 1, 9, 10, 11, 20, 24, 31])) * 60 + draw(st.integers(0, 59)))
    every = draw(st.sampled_from([1, 2, 4]))  # of the generator's 4 Hz samples: 4, 2 or 1 Hz
    start_ms = draw(st.integers(946_684_800_000, 1_900_000_000_000))  # 2000 to 2030
    shape = RecordingShape(minutes=seconds / 60, seed=seed, baseline_bpm=draw(st.floats(80.0, 190.0)),
                           variability_bpm=draw(st.floats(0.0, 25.0)), early_decel_share=draw(st.floats(0.0, 1.0)))
    awkward = draw(st.lists(st.tuples(st.floats(0, 1), st.sampled_from(COLUMNS), st.sampled_from(AWKWARD)), max_size=12))
    gaps = draw(st.lists(st.tuples(st.floats(0, 1), st.integers(1, 400)), max_size=3))
    duplicates = [] if distinct else draw(st.lists(st.floats(0, 1), max_size=6))
    chosen_layouts = draw(st.lists(st.sampled_from(layouts), min_size=1, max_size=3, unique=True))
    rng = random.Random(seed)
    rows = [dict(zip(("ms",) + COLUMNS, (start_ms + round(t * 1000), *values))) for t, *values in generate_rows(shape)[::every]
            if not any(g * seconds <= t < g * seconds + length for g, length in gaps)]
    for position, column, value in awkward:
        if rows:
            rows[int(position * (len(rows) - 1))][column] = value
    for position in duplicates:
        if rows:
            copy = dict(rows[int(position * (len(rows) - 1))])
            copy["hr1"] = None if copy["hr1"] is None or isinstance(copy["hr1"], str) else copy["hr1"] + 1.5
            rows.insert(int(position * (len(rows) - 1)) + 1, copy)
    for row in rows:
        row["t"] = stamp(row["ms"], rng.choice(chosen_layouts), rng)
    return rows


def cell(value):
    """A CSV value cell: blank when absent, numbers in Python's shortest exact form."""
    return "" if value is None else value if isinstance(value, str) else repr(value)


def to_csv(rows):
    return "".join(",".join([row["t"]] + [cell(row[c]) for c in COLUMNS]) + "\n" for row in [{"t": "Date", **HEADER}] + rows)


def json_number(value):
    """A value as the JSON request carries it: what no JSON number holds is absent."""
    return None if value is None or isinstance(value, str) or not math.isfinite(value) else value


def to_json(rows, channel=None, ga_weeks=None):
    request = {"episode_id": "ep-1", "sent_at": "s", "samples": [{"t": row["t"], **{c: json_number(row[c]) for c in COLUMNS}} for row in rows]}
    if channel is not None:
        request["analysis_options"] = {"fetal_channel": channel}
    if ga_weeks is not None:
        request["metadata"] = {"gestational_age_weeks": ga_weeks}
    return json.dumps(request, allow_nan=False)


def analyze(text, **kwargs):
    report_text = corvane.analyze_csv_string(text, **kwargs)
    check_report(json.loads(report_text))
    return report_text


@examples(100)
@given(recordings(layouts=SAME_TEXT), st.sampled_from(["HR1", "HR2", " hr2 "]), st.none() | st.integers(0, 255))
def test_csv_and_json_requests_give_the_same_report(rows, channel, ga_weeks):
    from_csv = analyze(to_csv(rows), channel=channel, ga_weeks=ga_weeks)
    if not rows:
        with pytest.raises(ValueError, match="^analysis request samples must not be empty$"):
            corvane.analyze_json_string(to_json(rows, channel, ga_weeks))
        return
    from_json = corvane.analyze_json_string(to_json(rows, channel, ga_weeks))
    assert from_json == from_csv
    # Values no JSON number can hold are simply unusable on the CSV path too.
    clean = [{**row, **{c: json_number(row[c]) for c in COLUMNS}} for row in rows]
    assert analyze(to_csv(clean), channel=channel, ga_weeks=ga_weeks) == from_csv


def bounded_step(rows, window_min, step_sec, most=120):
    """A step that keeps the run to about `most` windows."""
    if not rows:
        return step_sec
    times = [row["ms"] for row in rows]
    beyond = max(0, (max(times) - min(times)) // 1000 - window_min * 60)
    return max(step_sec, -(-beyond // most))


@examples(100)
@given(recordings(), st.integers(10, 30), st.integers(0, 1800), st.none() | st.integers(0, 255))
def test_last_only_is_the_last_window_of_the_full_run_and_the_summary_counts_the_rows(rows, window_min, step_sec, ga_weeks):
    step_sec = bounded_step(rows, window_min, step_sec)
    options = dict(window_min=window_min, step_sec=step_sec, ga_weeks=ga_weeks)
    full = json.loads(analyze(to_csv(rows), **options))
    last = json.loads(analyze(to_csv(rows), last_only=True, **options))
    assert last["windows"] == full["windows"][-1:] and full["step_seconds"] == max(step_sec, 1)
    assert {k: v for k, v in last.items() if k != "windows"} == {k: v for k, v in full.items() if k != "windows"}
    times = [row["ms"] for row in rows]
    ordered, summary = sorted(times), full["input"]
    assert summary["rows"] == len(rows) and summary["duplicate_timestamps"] == sum(a == b for a, b in zip(ordered, ordered[1:]))
    assert summary["out_of_order_rows"] == sum(b < a for a, b in zip(times, times[1:]))
    if rows:
        assert summary["duration_seconds"] == pytest.approx((ordered[-1] - ordered[0]) / 1000, abs=5e-4)
        assert summary["start_timestamp"] == next(r["t"] for r in rows if r["ms"] == ordered[0]).strip()


@examples(100)
@given(recordings(distinct=True), st.randoms(use_true_random=False), st.none() | st.integers(10, 30))
def test_row_order_changes_only_the_out_of_order_count(rows, shuffler, window_min):
    shuffled = list(rows)
    shuffler.shuffle(shuffled)
    options = dict(window_min=window_min, step_sec=bounded_step(rows, window_min or 10, 60))
    ordered = json.loads(analyze(to_csv(rows), **options))
    mixed = json.loads(analyze(to_csv(shuffled), **options))
    assert mixed["windows"] == ordered["windows"] and ordered["input"]["out_of_order_rows"] == 0
    assert mixed["input"] == dict(ordered["input"], out_of_order_rows=sum(b["ms"] < a["ms"] for a, b in zip(shuffled, shuffled[1:])))
