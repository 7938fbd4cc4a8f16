"""`corvane batch`: many files into windows, events and errors tables."""

import csv
import importlib.util
import json
import math
import multiprocessing
import os
import pathlib
import subprocess
import sys

import pytest

import corvane
import corvane.batch as batch
from conftest import read_text, write_wfdb
from corvane.batch import BatchError, run_batch
from corvane.synthetic import RecordingShape, generate_csv, generate_rows

HAVE_WFDB = importlib.util.find_spec("wfdb") is not None  # else the WFDB parts of the corpus are left out

pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning", "ignore::FutureWarning")

ROLLING = {"window_min": 20, "step_sec": 300}
TABLES = ("windows.csv", "events.csv", "recording_events.csv", "errors.csv")
BAD_DATE_CSV = "Date,HR1\n2024-01-01 00:00:00,140\nnot a date,141\n"


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    """Good, bad and ignored files; `expected` lists the batch's files in order with their fate."""
    root = tmp_path_factory.mktemp("corpus")
    recordings = root / "recordings"
    (recordings / "nested").mkdir(parents=True)
    (recordings / ".hidden").mkdir()
    samples = [{"t": f"2024-05-01T08:{int(t) // 60:02d}:{t % 60:06.3f}Z", "hr1": hr1, "hrm": hrm, "toco": toco}
               for t, hr1, _, hrm, toco in generate_rows(RecordingShape(minutes=12, seed=3))]
    files = {
        root / "single.csv": generate_csv(RecordingShape(minutes=14, seed=5)),
        recordings / "a_reassuring.csv": generate_csv(RecordingShape(minutes=31, seed=1)),
        recordings / "b_long.csv": generate_csv(RecordingShape(minutes=42, seed=2, start="2024-03-01 23:40:00")),
        # A tab after the third fraction digit is not read as time and reaches the report raw.
        recordings / "b_tab_in_time.csv": "Date,HR1\n2024-01-01 00:00:00.123\tx,140\n2024-01-01 00:00:01,141\n",
        recordings / "latin1.csv": b"Date,HR1\n2024-01-01 00:00:00,140\xe9\n", recordings / "notes.txt": "not a recording\n",
        recordings / ".hidden" / "skipped.csv": BAD_DATE_CSV, recordings / "nested" / "c_bad_date.csv": BAD_DATE_CSV,
        recordings / "nested" / "d_request.json": json.dumps({"episode_id": "ep-7", "sent_at": "s", "samples": samples}),
        root / "loose.dat": b"\x00\x01",
    }
    for path, text in files.items():
        path.write_bytes(text if isinstance(text, bytes) else text.encode("utf-8"))
    if HAVE_WFDB:
        write_wfdb(recordings / "nested", "e_record", generate_csv(RecordingShape(minutes=24, seed=4)))
    inputs = [root / "single.csv", recordings, root / "missing.csv", recordings / "a_reassuring.csv", root / "loose.dat"]
    expected = [(root / "single.csv", "csv"), (recordings / "a_reassuring.csv", "csv"), (recordings / "b_long.csv", "csv"),
                (recordings / "b_tab_in_time.csv", "csv"), (recordings / "latin1.csv", "read"),
                (recordings / "nested" / "c_bad_date.csv", "analyze"), (recordings / "nested" / "d_request.json", "json")]
    expected += [(recordings / "nested" / "e_record.hea", "wfdb")] * HAVE_WFDB
    expected += [(root / "missing.csv", "read"), (root / "loose.dat", "read")]
    return inputs, [(str(path), how) for path, how in expected]


def table(path):
    with open(path, encoding="utf-8", newline="") as handle:
        return list(csv.DictReader(handle))


def cell_matches(cell, value):
    """A table cell against the report value it was written from."""
    if value is None or isinstance(value, (bool, list)):
        return cell == {None: "", True: "true", False: "false"}.get(value) if not isinstance(value, list) else cell == "; ".join(value)
    return cell != "" and float(cell) == value if isinstance(value, (int, float)) else cell == value


def check_tables(outdir, expected, options):
    """Every row of the three tables against the reports made one file at a time."""
    windows, events, merged_rows = (table(outdir / f"{name}.csv") for name in ("windows", "events", "recording_events"))
    analyzed = [(f, how) for f, how in expected if how in ("csv", "json", "wfdb")]
    assert list(dict.fromkeys(r["file"] for r in windows)) == [f for f, _ in analyzed]
    for file, how in analyzed:
        text = corvane.read_wfdb(file) if how == "wfdb" else read_text(pathlib.Path(file))
        report_text = corvane.analyze_json_string(text) if how == "json" else corvane.analyze_csv_string(text, **options)
        report = json.loads(report_text, strict=False)
        rows = [r for r in windows if r["file"] == file]
        assert len(rows) == len(report["windows"]) > 0
        expected_events = []
        for index, (row, window) in enumerate(zip(rows, report["windows"])):
            assert row["window_index"] == str(index)
            places = (window, window["features"], window["data_quality"], window["category_iii_diagnostics"], report)
            for name, cell in list(row.items())[2:]:
                assert cell_matches(cell, next(place[name] for place in places if name in place)), (file, index, name, cell)
            expected_events += [(str(index), kind, str(n), event) for kind in ("acceleration", "deceleration", "contraction")
                                for n, event in enumerate(window[f"{kind}_events"])]
        file_events = [r for r in events if r["file"] == file]
        assert [(r["window_index"], r["event_type"], r["event_index"]) for r in file_events] == [e[:3] for e in expected_events]
        for row, (*_, event) in zip(file_events, expected_events):
            assert all(cell_matches(cell, event.get(name)) for name, cell in list(row.items())[4:]), (file, row)
        merged = corvane.Report.from_text(report_text).recording_events()
        file_merged = [r for r in merged_rows if r["file"] == file]
        assert [r["event_index"] for r in file_merged] == [str(i) for i in range(len(merged))]
        for row, event in zip(file_merged, merged):
            values = {name: getattr(event, name) for name in list(row)[2:]}
            assert all(cell_matches(row[n], list(v) if isinstance(v, tuple) else v) for n, v in values.items()), (file, row)
    return windows, events


def test_batch_writes_every_window_and_event_and_lists_failures(corpus, tmp_path):
    inputs, expected = corpus
    result = run_batch(inputs, tmp_path / "out", **ROLLING)
    windows, events = check_tables(tmp_path / "out", expected, ROLLING)
    phrase_lists = ["reasons", "high_risk_features", "protective_features", "alert_suppression_reasons", "limitations", "cat_iii_blockers"]
    assert list(windows[0])[-6:] == phrase_lists  # the phrase lists close the row, the sections' after the window's own
    assert (result.files, result.failed, result.succeeded) == (len(expected), 4, len(expected) - 4)
    assert (result.windows, result.events) == (len(windows), len(events))
    assert result.recording_events == len(table(tmp_path / "out" / "recording_events.csv")) < result.events
    errors = table(tmp_path / "out" / "errors.csv")
    assert [(e["file"], e["stage"]) for e in errors] == [(f, how) for f, how in expected if how in ("read", "analyze")]
    assert [tuple(e.values()) for e in errors] == [tuple(e) for e in result.errors]
    with pytest.raises(ValueError) as native:
        corvane.analyze_csv_string(BAD_DATE_CSV, **ROLLING)
    messages = [e["message"] for e in errors]
    assert "latin1.csv is not UTF-8 text (byte 0xe9 on line 2" in messages[0] and messages[1] == str(native.value)
    assert messages[2] == "no such file or folder" and messages[3].startswith("a WFDB record is read through its .hea header")
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == sorted(TABLES)


@pytest.fixture(scope="module")
def reference(corpus, tmp_path_factory):
    """The tables of an in-process run, the reference every other way of running must equal."""
    out = tmp_path_factory.mktemp("reference")
    run_batch(corpus[0], out, jobs=1, **ROLLING)
    return {name: (out / name).read_bytes() for name in TABLES}


def assert_same_tables(outdir, reference):
    assert {name: (outdir / name).read_bytes() for name in TABLES} == reference


def finishing_backwards(monkeypatch):
    run = batch._run_in_process
    monkeypatch.setattr(batch, "_run_in_process", lambda tasks: reversed(list(run(tasks))))
    return {}


@pytest.mark.parametrize("options", [
    lambda monkeypatch: {"jobs": 2}, finishing_backwards,  # rows follow input order whatever order files finish
    lambda monkeypatch: pytest.importorskip("distributed") and {"jobs": 2, "dask": "local"},
], ids=["process pool", "finishing backwards", "dask local cluster"])
def test_every_way_of_running_gives_the_same_tables(corpus, reference, tmp_path, monkeypatch, options):
    result = run_batch(corpus[0], tmp_path, **options(monkeypatch), **ROLLING)
    assert_same_tables(tmp_path, reference)
    assert result.failed == 4 and result.worker_seconds >= result.native_seconds > 0


def test_command_line_batch(corpus, reference, tmp_path):
    # The command line refuses a missing input, which run_batch lists as failed.
    args = [str(p) for p in corpus[0] if p.exists()] + ["-o", str(tmp_path), "--jobs", "2", "--window-min", "20", "--step-sec", "300"]
    result = subprocess.run([sys.executable, "-m", "corvane", "batch", *args], capture_output=True, text=True, encoding="utf-8")
    assert (result.returncode, result.stdout, len(result.stderr.splitlines())) == (0, "", 1), result.stderr
    assert result.stderr.startswith("corvane batch: ") and str(tmp_path / "errors.csv") in result.stderr
    assert f"{len(corpus[1]) - 1} files, {len(corpus[1]) - 4} analyzed, 3 failed" in result.stderr
    errors = b"".join(line for line in reference["errors.csv"].splitlines(True) if b"missing.csv" not in line)
    assert_same_tables(tmp_path, dict(reference, **{"errors.csv": errors}))


@pytest.mark.parametrize("kwargs, error, message", [
    ({"window_min": 5}, BatchError, "window_min must be between 10 and 30"), ({"channel": "HR4"}, BatchError, "unsupported fetal channel: HR4"),
    ({"ga_weeks": 300}, BatchError, "out of range integral type conversion attempted"),
    ({"jobs": 0}, BatchError, "jobs must be a whole number of at least 1"), ({"window": 20}, TypeError, "unexpected analysis options: window"),
    ({"parquet": True, "pyarrow": None}, BatchError, "--parquet needs pyarrow"),
])
def test_options_are_checked_before_anything_runs(tmp_path, monkeypatch, kwargs, error, message):
    if "pyarrow" in kwargs:
        monkeypatch.setitem(sys.modules, "pyarrow", kwargs.pop("pyarrow"))
    with pytest.raises(error, match=message):
        run_batch([tmp_path], tmp_path / "out", **kwargs)
    assert not (tmp_path / "out").exists()


def test_parquet_tables_hold_the_same_rows(corpus, reference, tmp_path):
    pq = pytest.importorskip("pyarrow.parquet")
    result = run_batch(corpus[0], tmp_path, parquet=True, **ROLLING)
    assert result.tables["windows"].name == "windows.parquet"
    assert (tmp_path / "errors.csv").read_bytes() == reference["errors.csv"]
    for name, columns in (("windows", batch.WINDOW_COLUMNS), ("events", batch.EVENT_COLUMNS),
                          ("recording_events", batch.RECORDING_EVENT_COLUMNS)):
        rows = list(csv.reader(reference[f"{name}.csv"].decode("utf-8").splitlines()))
        stored = pq.read_table(tmp_path / f"{name}.parquet")
        assert stored.column_names == rows[0] == [n for n, _ in columns] and stored.num_rows == len(rows) - 1
        for row, record in zip(rows[1:], stored.to_pylist()):
            for (column, kind), cell in zip(columns, row):
                value = record[column]
                assert cell_matches(cell, value) and (value is None or type(value).__name__ == kind), (name, column, cell)


def _crash_on_some_files(task):
    """Kills its worker process on files named crash*; analyzes the others."""
    if os.path.basename(task.file).startswith("crash"):
        os._exit(3)
    return batch.__dict__["_original_analyze_file"](task)


@pytest.mark.skipif(multiprocessing.get_start_method() != "fork", reason="needs forked worker processes")
def test_a_file_that_kills_its_worker_is_the_only_failure(tmp_path, monkeypatch):
    (folder := tmp_path / "in").mkdir()
    for seed in range(4):
        (folder / f"good_{seed}.csv").write_text(generate_csv(RecordingShape(minutes=11, seed=seed)), encoding="utf-8")
    (folder / "crash.csv").write_text("Date\n", encoding="utf-8")
    run_batch([folder], tmp_path / "alone", jobs=1)
    monkeypatch.setattr(batch, "_original_analyze_file", batch.analyze_file, raising=False)
    monkeypatch.setattr(batch, "analyze_file", _crash_on_some_files)
    result = run_batch([folder], tmp_path / "pool", jobs=2)
    assert result.errors == [(str(folder / "crash.csv"), "worker", "the worker process died while analyzing this file")]
    for name in ("windows.csv", "events.csv"):
        assert (tmp_path / "pool" / name).read_bytes() == (tmp_path / "alone" / name).read_bytes()


@pytest.mark.parametrize("progress, shown", [(True, True), (False, False), (None, False)])
def test_progress_bar_only_when_asked_or_on_a_terminal(tmp_path, capsys, progress, shown):
    pytest.importorskip("tqdm")
    (tmp_path / "in.csv").write_text(generate_csv(RecordingShape(minutes=11, seed=1)), encoding="utf-8")
    run_batch([tmp_path / "in.csv"], tmp_path / "out", progress=progress)
    assert ("corvane batch" in capsys.readouterr().err) == shown  # under pytest stderr is no terminal


@pytest.mark.parametrize("value, cell", [
    (1200.0, "1200"), (5.375, "5.375"), (136.35, "136.35"), (-0.0, "-0"), (0.0, "0"), (-5.29, "-5.29"), (1e-05, "0.00001"),
    (2.5e16, "25000000000000000"), (float("inf"), "inf"), (float("nan"), "nan"), (None, ""), (7, "7"),
])
def test_numbers_are_written_in_their_shortest_exact_form(value, cell):
    assert batch._format_float(value) == cell
    assert cell in ("nan", "-0", "") or float(cell) == value


@pytest.mark.parametrize("line, value", [
    ('"toco_max": inf', float("inf")), ('"toco_max": -inf', float("-inf")), ('"toco_max": 31.000', 31.0), ('"toco_max": "inf"', "inf"),
])
def test_reports_with_non_finite_numbers_are_read(line, value):
    report = batch.parse_report('{\n  "features": {\n    ' + line + ',\n    "toco_mean": NaN\n  }\n}\n')
    assert report["features"]["toco_max"] == value and math.isnan(report["features"]["toco_mean"])
