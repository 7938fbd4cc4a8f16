"""corvane.Monitor: windows streamed in pieces equal the whole-text analysis."""

import random

import pytest
from hypothesis import given
from hypothesis import strategies as st

import corvane
from conftest import examples
from corvane.synthetic import RecordingShape, generate_csv

PROFILE = examples(25)


def perturbed(text, rng, swaps, duplicates, gap_rows=0):
    """Neighbouring rows swapped, rows repeated and a stretch of rows missing, as
    monitors sometimes send them; the first row may come a little late (before
    any window is complete: window ends are measured from the first sample)."""
    header, *rows = text.splitlines(keepends=True)
    start = rng.randrange(40, max(41, len(rows)))
    del rows[start : start + gap_rows]
    if swaps:
        rows.insert(rng.randrange(1, 40), rows.pop(0))
    for i in [rng.randrange(len(rows) - 1) for _ in range(swaps)]:
        rows[i], rows[i + 1] = rows[i + 1], rows[i]
    for i in [rng.randrange(len(rows)) for _ in range(duplicates)]:
        rows.insert(i, rows[i])
    return header + "".join(rows)


@PROFILE
@given(minutes=st.floats(3, 26), window_min=st.sampled_from([10, 13, 30]), step_sec=st.sampled_from([0, 7, 60, 90, 700]),
       cuts=st.integers(1, 60), swaps=st.sampled_from([0, 0, 3]), duplicates=st.sampled_from([0, 2]),
       gap_minutes=st.sampled_from([0, 0, 2, 14]), seed=st.integers(0, 2**16))
def test_synthetic_streams_equal_offline(minutes, window_min, step_sec, cuts, swaps, duplicates, gap_minutes, seed):
    rng = random.Random(seed)
    text = perturbed(generate_csv(RecordingShape(minutes=minutes, seed=seed)), rng, swaps, duplicates, gap_minutes * 240)
    monitor = corvane.Monitor(window_min=window_min, step_sec=step_sec)
    # Cut at random places, inside lines and numbers too; each window with the late-row count before its call.
    cuts = sorted(rng.sample(range(1, len(text)), min(cuts, len(text) - 1)))
    returned = [(w, late) for a, b in zip([0] + cuts, cuts + [len(text)]) for late in [monitor.late_rows] for w in monitor.add_csv(text[a:b])]
    assert swaps or monitor.late_rows == 0
    offline = corvane.analyze_csv(text, window_min=window_min, step_sec=step_sec)
    # Only the windows ending at the latest sample are still open; a window is exact
    # unless a row no later than its end arrived after it.
    assert len(offline.windows) - 2 <= len(returned) <= len(offline.windows) and monitor.input == offline.input
    assert all(window == expected for (window, late), expected in zip(returned, offline.windows) if late == monitor.late_rows)
    assert monitor.current() == corvane.analyze_csv(text, window_min=window_min, step_sec=step_sec, last_only=True).windows[0]
    if window_min == 10 and minutes > 20:  # only about one window of samples is held, whatever the length
        assert monitor.held_samples <= (10 * 60 + max(step_sec, 1)) * 4 + 2 + duplicates


def test_samples_equal_csv():
    text = generate_csv(RecordingShape(minutes=14, seed=3))
    header, *lines = text.splitlines()
    names = [name.lower() for name in header.split(",")]

    def row(line):
        cells = dict(zip(names, line.split(",")))
        value = lambda name: float(cells[name]) if cells.get(name) else None  # noqa: E731
        return (cells["date"], value("hr1"), value("hr2"), None, value("hrm"), value("toco"))

    monitor = corvane.Monitor(window_min=10)
    windows = monitor.add_samples([row(line) for line in lines[:1000]]) + monitor.add_samples(map(row, lines[1000:]))
    offline = corvane.analyze_csv(text, window_min=10)
    assert windows == list(offline.windows[: len(windows)]) and len(windows) == len(offline.windows) - 1
    assert monitor.input == offline.input
    with pytest.raises(ValueError, match=f"^row {len(lines) + 2} has invalid Date: "):
        monitor.add_samples([("tomorrow", 140.0)])


GOOD = "2024-03-01 08:{:02d}:00,140,,,,10\n"


def raised(call):
    with pytest.raises(ValueError) as error:
        call()
    return str(error.value)


# (header, bad line): the bad line comes after 12 good rows.
@pytest.mark.parametrize("header, bad", [
    ("Date,HR1,HR2,HR3,HRM,TOCO", "2024-03-01 08:xx:00,140\n"), ("Date,HR1,HR2,HR3,HRM,TOCO", "2024-13-01 08:00:00,140\n"),
    ("HR1,HR2,HR3,HRM,TOCO,Date", "140,,,,10\n"), ("Date,HR1,HR2,HR3,HRM,TOCO", '"2024-03-01 08:13:00",140\n'),
])
def test_bad_row_raises_offline_message_and_is_skipped(header, bad):
    good = [GOOD.format(m) for m in range(30)]
    if header.endswith("Date"):
        good = [",".join(line.rstrip("\n").split(",")[1:] + [line.split(",")[0]]) + "\n" for line in good]
    before = header + "\n" + "\n" + "".join(good[:12])
    monitor = corvane.Monitor(window_min=10)
    first = monitor.add_csv(before + bad[:3])
    assert raised(lambda: monitor.add_csv(bad[3:] + good[12])) == raised(lambda: corvane.analyze_csv(before + bad, window_min=10))
    # The rows after the bad one and the windows they complete still arrive.
    windows = first + monitor.add_csv("".join(good[13:]))
    assert windows == list(corvane.analyze_csv(before + "".join(good[12:]), window_min=10).windows[:-1])


@pytest.mark.parametrize("options, text, message", [
    ({"window_min": 9}, None, "window_min must be between 10 and 30"), ({"channel": "HR4"}, None, "unsupported fetal channel: HR4"),
    ({}, "Time,HR1\n2024-03-01 08:00:00,140\n", "CSV is missing required Date column"),
])
def test_options_and_header_checked_as_offline(options, text, message):
    with pytest.raises(ValueError, match=f"^{message}$"):
        corvane.Monitor(**options).add_csv(text)


def test_row_far_in_the_future_is_refused_like_offline():
    text = "Date,HR1\n" + GOOD.format(0) + GOOD.format(1).replace("2024", "2999")
    monitor = corvane.Monitor(window_min=10, step_sec=1)
    assert raised(lambda: monitor.add_csv(text)) == raised(lambda: corvane.analyze_csv(text, window_min=10, step_sec=1))
    assert monitor.input.rows == 1 and monitor.add_csv(GOOD.format(2)) == []
