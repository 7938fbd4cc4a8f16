"""WFDB records read as monitor CSV text: columns, timestamps, values, and reports."""

import datetime as dt
import math
import warnings

import pytest

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    wfdb = pytest.importorskip("wfdb")
np = pytest.importorskip("numpy")

import corvane
from conftest import data_rows, write_record, write_wfdb
from corvane.synthetic import RecordingShape, generate_csv
from corvane._cli.main import main
from corvane.wfdb_input import analyze_wfdb, format_value, read_wfdb

# wfdb's own use of pandas warns on every header it writes or reads.
pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning", "ignore::FutureWarning")

@pytest.mark.parametrize("value, text", [
    (150.5, "150.5"), (151.25, "151.25"), (7.0, "7"), (0.0, "0"), (-0.0, "-0"), (-3.75, "-3.75"), (0.1 + 0.2, "0.30000000000000004"),
    (1e-05, "0.00001"), (1.5e16, "15000000000000000"), (146.33, "146.33"), (math.inf, "inf"), (-math.inf, "-inf"), (math.nan, ""),
])
def test_values_are_written_exactly_and_compactly(value, text):
    assert format_value(value) == text and (text in ("", "-0") or float(text) == value)


# A record's signals, digital samples and header fields, with its CSV text or the error it raises.
RECORDS = data_rows("wfdb-records.jsonl")


@pytest.mark.parametrize("case", RECORDS, ids=[",".join(case["signals"]) for case in RECORDS])
def test_record_becomes_monitor_csv(tmp_path, case):
    case = dict(case)
    expected, error = case.pop("csv", None), case.pop("error", None)
    for key, kind in (("base_date", dt.date), ("base_time", dt.time)):
        if key in case:
            case[key] = kind.fromisoformat(case[key])
    record = write_record(tmp_path, "rec", **case)
    if error:
        with pytest.raises(ValueError, match=error):
            read_wfdb(record)
    else:
        assert read_wfdb(record) == read_wfdb(str(record) + ".hea") == expected


@pytest.mark.parametrize("start, first", [
    ("2024-01-01 09:00:00", "2024-01-01 09:00:00.000"), ("2024-02-29 23:59:59.750", "2024-02-29 23:59:59.750"),
    (dt.datetime(2024, 3, 1, 8, 0, 0, 125000), "2024-03-01 08:00:00.125"),
    (dt.datetime(2024, 3, 1, 9, 0, tzinfo=dt.timezone(dt.timedelta(hours=1))), "2024-03-01 08:00:00.000"),
])
def test_start_can_be_chosen(tmp_path, start, first):
    record = write_record(tmp_path, "rec", ["FHR", "UC"], [[14000, 100], [14100, 200]], base_date=dt.date(2011, 1, 1), base_time=dt.time(1, 2, 3))
    later = (dt.datetime.fromisoformat(first) + dt.timedelta(milliseconds=250)).isoformat(sep=" ", timespec="milliseconds")
    assert [line.split(",")[0] for line in read_wfdb(record, start=start).splitlines()[1:]] == [first, later]


def test_command_line_reads_records_and_names_a_missing_sample_file(tmp_path, capsys):
    record = write_record(tmp_path, "rec", ["FHR"], [[14000]])
    with pytest.raises(ValueError, match="invalid start time"):
        read_wfdb(record, start="yesterday")
    assert main(["analyze", f"{record}.hea"]) == 0 and capsys.readouterr().out == analyze_wfdb(record).text
    (tmp_path / "rec.dat").unlink()
    with pytest.raises(OSError):
        read_wfdb(record)
    assert main(["summary", f"{record}.hea"]) == 2
    assert capsys.readouterr().err == f"corvane: error: cannot read {record}.hea: No such file or directory: {record}.dat\n"


@pytest.mark.parametrize("shape", [RecordingShape(minutes=32, seed=5),
                                   RecordingShape(minutes=26, seed=9, start="2024-06-30 23:50:00", dropout_share=0.05)])
def test_record_written_from_a_recording_reads_back_byte_for_byte(tmp_path, shape):
    text = generate_csv(shape)
    header = text.split("\n", 1)[0].split(",")[1:]
    names = {"HR1": "FHR", "HR2": "FHR2", "HRM": "MHR", "TOCO": "UC"}
    record = write_wfdb(tmp_path, "synthetic", text, columns=range(1, len(header) + 1), signals=[names[c] for c in header])
    assert read_wfdb(record, start=shape.start) == text
    for options in ({}, {"window_min": 20, "step_sec": 300}, {"window_min": 10, "last_only": True, "ga_weeks": 31}):
        assert analyze_wfdb(record, start=shape.start, **options).text == corvane.analyze_csv_string(text, **options)


def test_record_carries_its_header_clinical_fields(tmp_path):
    comments = ["-- Outcome measures", "pH           7.14", "BDecf        NaN", "Apgar5       9", "Gest. weeks  40"]
    record = write_record(tmp_path, "1001", ["FHR", "UC"], [[14000, 100]], comments=comments)
    read = read_wfdb(record)
    expected = {"pH": 7.14, "BDecf": None, "Apgar5": 9, "Gest. weeks": 40}
    assert (read.name, read.clinical, corvane.read_clinical(record)) == ("1001", expected, expected)
    assert type(read.text) is str and read.text == read == read.csv_text
