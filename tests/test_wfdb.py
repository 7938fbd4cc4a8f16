"""WFDB records read as monitor CSV text: columns, timestamps, values, and reports."""

import datetime as dt
import math
import shutil
import warnings

import pytest

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    wfdb = pytest.importorskip("wfdb")
np = pytest.importorskip("numpy")

import corvane
from conftest import REAL_DATA_DIR, read_text
from corvane.synthetic import RecordingShape, generate_csv
from corvane._cli.main import main
from corvane.wfdb_input import analyze_wfdb, format_value, read_wfdb

# wfdb's own use of pandas warns on every header it writes or reads.
pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning", "ignore::FutureWarning")

# The format-16 digital value WFDB reserves for an invalid sample.
INVALID = -32768


def write_record(folder, name, signals, digital, fs=4, gains=None, baselines=None, **header):
    """A format-16 record of `digital` rows (one column per signal name)."""
    count = len(signals)
    wfdb.wrsamp(
        name,
        fs=fs,
        units=["bpm"] * count,
        sig_name=list(signals),
        d_signal=np.array(digital, dtype=np.int32).reshape(-1, count),
        fmt=["16"] * count,
        adc_gain=list(gains or [100] * count),
        baseline=list(baselines or [0] * count),
        write_dir=str(folder),
        **header,
    )
    return folder / name


@pytest.mark.parametrize(
    "value, text",
    [
        (150.5, "150.5"),
        (151.25, "151.25"),
        (7.0, "7"),
        (0.0, "0"),
        (-0.0, "-0"),
        (-3.75, "-3.75"),
        (0.1 + 0.2, "0.30000000000000004"),
        (1e-05, "0.00001"),
        (1.5e16, "15000000000000000"),
        (146.33, "146.33"),
        (math.inf, "inf"),
        (-math.inf, "-inf"),
        (math.nan, ""),
    ],
)
def test_values_are_written_exactly_and_compactly(value, text):
    assert format_value(value) == text
    if text not in ("", "-0") and math.isfinite(value):
        assert float(text) == value


RECORD_CASES = [
    pytest.param(
        dict(signals=["FHR", "UC"], digital=[[15050, 850], [0, 0], [15125, 700]]),
        "Date,HR1,TOCO\n"
        "2000-01-01 00:00:00.000,150.5,8.5\n"
        "2000-01-01 00:00:00.250,0,0\n"
        "2000-01-01 00:00:00.500,151.25,7\n",
        id="ctu-uhb-layout-default-start",
    ),
    pytest.param(
        dict(
            signals=["UC", "FHR"],
            digital=[[850, 15050], [900, 14000], [950, INVALID]],
            base_date=dt.date(2012, 5, 6),
            base_time=dt.time(23, 59, 59, 500000),
        ),
        "Date,HR1,TOCO\n"
        "2012-05-06 23:59:59.500,150.5,8.5\n"
        "2012-05-06 23:59:59.750,140,9\n"
        "2012-05-07 00:00:00.000,,9.5\n",
        id="signal-order-header-start-midnight-invalid-sample",
    ),
    pytest.param(
        dict(signals=["ECG", "Maternal HR", "UA"], digital=[[1, 8000, 10], [2, 8150, 20]], fs=2),
        "Date,HRM,TOCO\n2000-01-01 00:00:00.000,80,0.1\n2000-01-01 00:00:00.500,81.5,0.2\n",
        id="maternal-and-unknown-names-2hz",
    ),
    pytest.param(
        dict(signals=["FHR", "fhr1", "FHR-2", "MHR", "TOCO"], digital=[[14000, 13000, 12000, 9000, 500]]),
        "Date,HR1,HR2,HRM,TOCO\n2000-01-01 00:00:00.000,140,120,90,5\n",
        id="first-signal-wins-and-all-columns",
    ),
    pytest.param(
        dict(signals=["FHR", "UC"], digital=[[561, 130], [562, 10]], gains=[4, 10], baselines=[0, 50]),
        "Date,HR1,TOCO\n2000-01-01 00:00:00.000,140.25,8\n2000-01-01 00:00:00.250,140.5,-4\n",
        id="gain-and-baseline",
    ),
    pytest.param(
        dict(signals=["FHR"], digital=[[14000], [14000], [14000], [14000]], fs=3, base_time=dt.time(10, 20, 30)),
        "Date,HR1\n"
        "2000-01-01 10:20:30.000,140\n"
        "2000-01-01 10:20:30.333,140\n"
        "2000-01-01 10:20:30.667,140\n"
        "2000-01-01 10:20:31.000,140\n",
        id="time-without-date-and-3hz-rounding",
    ),
]


@pytest.mark.parametrize("case, expected", RECORD_CASES)
def test_record_becomes_monitor_csv(tmp_path, case, expected):
    record = write_record(tmp_path, "rec", **case)
    assert read_wfdb(record) == expected
    # The header file names the same record.
    assert read_wfdb(str(record) + ".hea") == expected


@pytest.mark.parametrize(
    "start, first",
    [
        ("2024-01-01 09:00:00", "2024-01-01 09:00:00.000"),
        ("2024-02-29 23:59:59.750", "2024-02-29 23:59:59.750"),
        (dt.datetime(2024, 3, 1, 8, 0, 0, 125000), "2024-03-01 08:00:00.125"),
        (dt.datetime(2024, 3, 1, 9, 0, tzinfo=dt.timezone(dt.timedelta(hours=1))), "2024-03-01 08:00:00.000"),
    ],
)
def test_start_can_be_chosen(tmp_path, start, first):
    record = write_record(tmp_path, "rec", ["FHR", "UC"], [[14000, 100], [14100, 200]], base_date=dt.date(2011, 1, 1), base_time=dt.time(1, 2, 3))
    lines = read_wfdb(record, start=start).splitlines()
    assert lines[1].split(",")[0] == first
    later = dt.datetime.fromisoformat(first) + dt.timedelta(milliseconds=250)
    assert lines[2].split(",")[0] == later.isoformat(sep=" ", timespec="milliseconds")


@pytest.mark.parametrize(
    "case, error, message",
    [
        (dict(signals=["ECG", "RESP"], digital=[[1, 2]]), ValueError, "no heart rate or uterine activity signal"),
        (dict(signals=["FHR"], digital=[[14000]], fs=2000), ValueError, "above 1000 Hz"),
    ],
)
def test_records_that_cannot_be_monitor_samples(tmp_path, case, error, message):
    record = write_record(tmp_path, "rec", **case)
    with pytest.raises(error, match=message):
        read_wfdb(record)


def test_command_line_reads_records_and_names_a_missing_sample_file(tmp_path, capsys):
    record = write_record(tmp_path, "rec", ["FHR"], [[14000]])
    with pytest.raises(ValueError, match="invalid start time"):
        read_wfdb(record, start="yesterday")
    assert main(["analyze", f"{record}.hea"]) == 0
    assert capsys.readouterr().out == analyze_wfdb(record).text
    (tmp_path / "rec.dat").unlink()
    with pytest.raises(OSError):
        read_wfdb(record)
    assert main(["summary", f"{record}.hea"]) == 2
    assert capsys.readouterr().err == f"corvane: error: cannot read {record}.hea: No such file or directory: {record}.dat\n"


def _csv_rows(text):
    lines = text.splitlines()
    return lines[0].split(","), [line.split(",") for line in lines[1:]]


def _digital(cell, gain):
    return INVALID if cell == "" else int(round(float(cell) * gain))


SYNTHETIC = [
    RecordingShape(minutes=32, seed=5),
    RecordingShape(minutes=26, seed=9, start="2024-06-30 23:50:00", dropout_share=0.05),
]


@pytest.mark.parametrize("shape", SYNTHETIC, ids=["32min", "26min-across-midnight-dropouts"])
def test_record_written_from_a_recording_reads_back_byte_for_byte(tmp_path, shape):
    text = generate_csv(shape)
    header, rows = _csv_rows(text)
    assert header == ["Date", "HR1", "HR2", "HRM", "TOCO"]
    names = {"HR1": "FHR", "HR2": "FHR2", "HRM": "MHR", "TOCO": "UC"}
    digital = [[_digital(cell, 100) for cell in row[1:]] for row in rows]
    record = write_record(tmp_path, "synthetic", [names[c] for c in header[1:]], digital)

    assert read_wfdb(record, start=shape.start) == text
    for options in ({}, {"window_min": 20, "step_sec": 300}, {"window_min": 10, "last_only": True, "ga_weeks": 31}):
        expected = corvane.analyze_csv_string(text, **options)
        assert analyze_wfdb(record, start=shape.start, **options).text == expected


REAL_RECORDS = ["1002", "2046"]


@pytest.mark.skipif(not (REAL_DATA_DIR / "ctu-uhb-hea").is_dir(), reason="real CTG recordings not available")
@pytest.mark.parametrize("name", REAL_RECORDS)
def test_real_ctu_uhb_header_with_its_samples_gives_the_converted_csv(tmp_path, name):
    text = read_text(REAL_DATA_DIR / f"ctu_uhb_{name}.csv")
    header, rows = _csv_rows(text)
    assert header == ["Date", "HR1", "TOCO"]
    # The original header describes format 16 with gain 100 and baseline 0
    # for both signals: the samples are the CSV values times 100.
    samples = np.array([[_digital(cell, 100) for cell in row[1:]] for row in rows], dtype="<i2")
    shutil.copy(REAL_DATA_DIR / "ctu-uhb-hea" / f"{name}.hea", tmp_path / f"{name}.hea")
    (tmp_path / f"{name}.dat").write_bytes(samples.tobytes())
    record = tmp_path / name

    digital = wfdb.rdrecord(str(record), physical=False)
    assert digital.sig_name == ["FHR", "UC"]
    assert [(c - h) % 65536 for c, h in zip(digital.calc_checksum(), digital.checksum)] == [0, 0]

    start = rows[0][0][: len("YYYY-MM-DD HH:MM:SS.mmm")]
    assert read_wfdb(record).startswith("Date,HR1,TOCO\n2000-01-01 00:00:00.000,")
    assert read_wfdb(record, start=start) == text
    expected = corvane.analyze_csv_string(text, window_min=20, step_sec=300)
    assert analyze_wfdb(record, start=start, window_min=20, step_sec=300).text == expected


def test_record_carries_its_header_clinical_fields(tmp_path):
    comments = ["-- Outcome measures", "pH           7.14", "BDecf        NaN", "Apgar5       9", "Gest. weeks  40"]
    record = write_record(tmp_path, "1001", ["FHR", "UC"], [[14000, 100]], comments=comments)
    read = read_wfdb(record)
    expected = {"pH": 7.14, "BDecf": None, "Apgar5": 9, "Gest. weeks": 40}
    assert (read.name, read.clinical, corvane.read_clinical(record)) == ("1001", expected, expected)
    assert type(read.text) is str and read.text == read == read.csv_text
