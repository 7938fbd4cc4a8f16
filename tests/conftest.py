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


def examples(n: int):
    """Hypothesis settings reproducible in CI: derandomized, no example database, no
    deadline, `n` examples (a quarter in the sanitized build)."""
    from hypothesis import HealthCheck, settings

    return settings(derandomize=True, database=None, deadline=None, print_blob=True,
                    max_examples=max(3, n // 4) if os.environ.get("CORVANE_SANITIZED") == "1" else n,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])


def data_rows(name: str) -> list:
    """The rows of a JSON-lines table in tests/data."""
    return [json.loads(line) for line in read_text(TESTS_DIR / "data" / name).splitlines()]


def write_record(folder: pathlib.Path, name: str, signals, digital, fs=4, gains=None, baselines=None, **header) -> pathlib.Path:
    """A format-16 WFDB record of `digital` rows (one column per signal name)."""
    import numpy as np
    import wfdb

    n = len(signals)
    wfdb.wrsamp(name, fs=fs, units=["bpm"] * n, sig_name=list(signals), d_signal=np.array(digital, dtype=np.int32).reshape(-1, n),
                fmt=["16"] * n, adc_gain=list(gains or [100] * n), baseline=list(baselines or [0] * n), write_dir=str(folder), **header)
    return folder / name


def write_wfdb(folder: pathlib.Path, name: str, csv_text: str, comments: tuple = (), columns=(1, 3, 4), signals=("FHR", "MHR", "UC")):
    """A record (4 Hz) of a generated recording's columns (HR1, HRM and TOCO unless
    told); empty cells become WFDB invalid samples."""
    rows = [line.split(",") for line in csv_text.splitlines()[1:]]
    digital = [[-32768 if row[c] == "" else int(round(float(row[c]) * 100)) for c in columns] for row in rows]
    return write_record(folder, name, signals, digital, comments=list(comments))


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
