import os
import pathlib

import pytest

TESTS_DIR = pathlib.Path(__file__).resolve().parent
REPO_DIR = TESTS_DIR.parent
# Real recordings are never part of the repository: CORVANE_REAL_DATA names
# their folder (default: beside the project); tests skip when it is absent.
REAL_DATA_DIR = pathlib.Path(os.environ.get("CORVANE_REAL_DATA") or REPO_DIR.parent / "shared" / "data" / "ctg-real")


def read_text(path: pathlib.Path) -> str:
    """A file's text exactly as stored (no newline translation)."""
    return path.read_bytes().decode("utf-8")


@pytest.fixture(scope="session")
def sample_csv_path() -> pathlib.Path:
    import corvane

    return pathlib.Path(corvane.__file__).resolve().parent / "data" / "sample_40min.csv"
