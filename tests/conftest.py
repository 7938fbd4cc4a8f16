import json
import os
import pathlib

import pytest

TESTS_DIR = pathlib.Path(__file__).resolve().parent
REPO_DIR = TESTS_DIR.parent
# Real recordings (never part of the repository): the folder named by
# CORVANE_REAL_DATA, a relative path counting from the project root.
REAL_DATA_ENV = "CORVANE_REAL_DATA"
REAL_DATA_DIR = pathlib.Path(os.path.normpath(REPO_DIR / os.environ.get(REAL_DATA_ENV, "../shared/data/ctg-real")))
REAL_FILES = sorted(REAL_DATA_DIR.glob("*.csv")) + sorted((REAL_DATA_DIR / "fhrma-fs").glob("*.csv"))


def read_text(path: pathlib.Path) -> str:
    """A file's text exactly as stored (no newline translation)."""
    return path.read_bytes().decode("utf-8")


GOLDEN_DIR = TESTS_DIR / "golden"
GOLDEN_CASES = json.loads(read_text(GOLDEN_DIR / "cases.json"))


def data_rows(name: str) -> list:
    """The rows of a JSON-lines table in tests/data."""
    return [json.loads(line) for line in read_text(TESTS_DIR / "data" / name).splitlines()]


def write_wfdb(folder: pathlib.Path, name: str, csv_text: str, comments: tuple = ()) -> pathlib.Path:
    """A format-16 WFDB record (FHR, MHR, UC at 4 Hz) of a generated recording's
    HR1, HRM and TOCO columns; empty cells become WFDB invalid samples."""
    import numpy as np
    import wfdb

    rows = [line.split(",") for line in csv_text.splitlines()[1:]]
    digital = [[-32768 if c == "" else int(round(float(c) * 100)) for c in (r[1], r[3], r[4])] for r in rows]
    wfdb.wrsamp(
        name, fs=4, units=["bpm", "bpm", "nd"], sig_name=["FHR", "MHR", "UC"],
        d_signal=np.array(digital, dtype=np.int32), fmt=["16"] * 3, adc_gain=[100] * 3, baseline=[0] * 3,
        write_dir=str(folder), comments=list(comments),
    )
    return folder / name


def pytest_terminal_summary(terminalreporter):
    where = f"{REAL_DATA_ENV}={REAL_DATA_DIR}"
    if REAL_FILES:
        line = f"real recordings: {len(REAL_FILES)} files used ({where})"
    else:
        line = f"real recordings: skipped ({where} {'holds no .csv files' if REAL_DATA_DIR.is_dir() else 'not found'})"
    terminalreporter.write_line(line)


@pytest.fixture(scope="session")
def sample_csv_path() -> pathlib.Path:
    import corvane

    return pathlib.Path(corvane.__file__).resolve().parent / "data" / "sample_40min.csv"
