"""The regression corpus: generated recordings (CSV and JSON, every mode, many bad
inputs) with the exact outcome of each call, report text or error message. It lives
outside the repository; CORVANE_REGRESSION names it (a relative path counts from the
project root)."""

import gzip
import json
import os
import pathlib

import pytest

import corvane._native as native
from conftest import REPO_DIR

CORPUS = pathlib.Path(os.path.normpath(REPO_DIR / os.environ.get("CORVANE_REGRESSION", "../shared/regression/cases.jsonl.gz")))


def outcome(row):
    try:
        return {"report": getattr(native, row["function"])(row["text"], **row["kwargs"])}
    except ValueError as error:
        return {"error": str(error)}


@pytest.mark.skipif(not CORPUS.is_file(), reason=f"regression corpus not found: {CORPUS} (set CORVANE_REGRESSION)")
def test_every_corpus_case_gives_its_recorded_outcome():
    with gzip.open(CORPUS, "rt", encoding="utf-8") as lines:
        rows = [json.loads(line) for line in lines]
    differing = [row["id"] for row in rows if outcome(row) != {key: row[key] for key in ("report", "error") if key in row}]
    assert len(rows) >= 400 and differing == []
