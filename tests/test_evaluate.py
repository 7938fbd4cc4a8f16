"""Evaluation against outcomes: clinical fields, the join, the 2x2 arithmetic, a cohort of known truth."""

import csv
import sys

import pytest

pytest.importorskip("scipy")
pytest.importorskip("sklearn")
pytest.importorskip("matplotlib")

from corvane._clinical import parse_clinical
from corvane._diagnostics import roc_curve, two_by_two, wilson
from corvane._evaluation_report import _percent
from corvane._evaluation import _analysis
from corvane._outcomes import OutcomeError, match_record, read_outcomes
from corvane._cli.main import main
from corvane.synthetic import RecordingShape, generate_csv


@pytest.mark.parametrize("line, expected", [
    ("pH           7", {"pH": 7.0}), ("#BDecf        NaN", {"BDecf": None}), ("Apgar5       8", {"Apgar5": 8}),
    ("Gest. weeks  41", {"Gest. weeks": 41}), ("Apgar1 7.5", {"Apgar1": 7.5}), ("Age unknown", {"Age": None}),
    ("NICU days    0", {}), ("-- Outcome measures", {}),
])
def test_clinical_fields_are_typed(line, expected):
    fields = parse_clinical([line])
    assert fields == expected and [type(v) for v in fields.values()] == [type(v) for v in expected.values()]


@pytest.mark.parametrize("stem, record", [
    ("1002", "1002"), ("ctu_uhb_2046", "2046"), ("ctu_uhb_1002", "uhb_1002"),  # the longest name ending the stem
    ("x1002", None), ("1002_b", None), ("ctu-uhb-2046", None),  # only after an underscore
])
def test_recordings_match_records_by_name(stem, record):
    assert match_record(stem, {"1002": 1, "uhb_1002": 2, "2046": 3}) == record


@pytest.mark.parametrize("files, message", [
    ({"o.csv": "record,pH\n1002,7.1\n1003,7.2\n1002,7.3\n"}, r"record 1002 appears twice .* \(lines 2 and 4\)"),
    ({"o.csv": "name,pH\n1002,7.1\n"}, "no 'record' column"),
    ({"o/a/1002.hea": "#pH 7\n", "o/b/1002.hea": "#pH 7.1\n"}, r"record 1002 has two headers: \S+a/1002\.hea and \S+b/1002\.hea"),
    ({"o/readme.txt": ""}, "holds no WFDB header"),
])
def test_unusable_outcomes_are_refused(tmp_path, files, message):
    for name, text in files.items():
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text(text)
    with pytest.raises(OutcomeError, match=message):
        read_outcomes(tmp_path / sorted(files)[0].split("/")[0])


@pytest.mark.parametrize("count, total, low, high", [
    (0, 10, 0.0, 0.2775), (5, 10, 0.2366, 0.7634), (10, 10, 0.7225, 1.0), (3, 37, 0.0280, 0.2130)])
def test_wilson_intervals_match_hand_computed_values(count, total, low, high):
    p = wilson(count, total)
    assert (p.value, round(p.low, 4), round(p.high, 4)) == (count / total, low, high)
    assert _percent(p) == f"{100 * count / total:.1f} % ({100 * low:.1f}-{100 * high:.1f}), {count}/{total}"


def test_non_finite_outcome_cells_are_missing(tmp_path):
    (tmp_path / "o.csv").write_text("record,pH,BE\n1002,inf,-Infinity\n")
    assert read_outcomes(tmp_path / "o.csv").rows["1002"] == {"pH": None, "BE": None}


def test_two_by_two_arithmetic():
    table = two_by_two([True] * 15 + [False] * 23 + [True] * 11 + [False] * 26, [True] * 38 + [False] * 37)
    assert (table.tp, table.fn, table.fp, table.tn) == (15, 23, 11, 26)
    got = [(p.count, p.total) for p in (table.sensitivity, table.specificity, table.ppv, table.npv)]
    assert got == [(15, 38), (26, 37), (15, 26), (26, 49)]
    assert two_by_two([False, False], [True, False]).ppv.value is None  # no finding: PPV undefined


@pytest.mark.parametrize("scores, labels, higher, auc", [
    # pairs (p, n): 3 beats 1 and 2; 4 beats 1 and 2; 2 beats 1 and ties 2: 5.5 of 9
    ([1, 2, 3, 4, None, 5, 2], [0, 0, 1, 1, 1, 0, 1], True, 5.5 / 9), ([1, 2, 3, 4, None, 5, 2], [0, 0, 1, 1, 1, 0, 1], False, 3.5 / 9),
    ([1, 2, 3, 4], [0, 0, 1, 1], True, 1.0), ([1, 2, 3], [1, 1, 1], True, None),
])
def test_roc_auc_and_bootstrap_interval(scores, labels, higher, auc):
    curve = roc_curve(scores, [bool(x) for x in labels], higher_is_positive=higher, resamples=500)
    assert curve == roc_curve(scores, [bool(x) for x in labels], higher_is_positive=higher, resamples=500)
    if auc is None:
        assert (curve.auc, curve.low, curve.high) == (None, None, None)
    else:
        assert curve.auc == pytest.approx(auc) and 0.0 <= curve.low <= curve.auc <= curve.high <= 1.0


@pytest.mark.parametrize("last_min, worst", [
    (None, ("unclassified", "data_quality")), (10, ("category_ii", "warning")), (30, ("category_iii", "critical"))])
def test_worst_category_and_alert_over_the_last_minutes(last_min, worst):
    windows = [{"window_end": f"2024-01-01 08:{minute}:00", "classification": c, "alert_level": a, "baseline_bpm": None,
                "total_deceleration_seconds": 0.0, "fetal_usable_ratio": 1.0, "suspected_maternal_capture_ratio": 0.0}
               for minute, c, a in (("00", "category_iii", "critical"), ("20", "category_ii", "warning"), ("30", "unclassified", "data_quality"))]
    analysis = _analysis(windows, last_min)
    assert (analysis["classification"], analysis["windows"]) == ("unclassified", 3)
    assert (analysis["worst_classification"], analysis["worst_alert_level"]) == worst


# A cohort whose truth is made: the positive records are tachycardic with
# decelerations, the negative ones normal and without decelerations.
SICK = dict(baseline_bpm=175)
WELL = dict(baseline_bpm=135, early_decel_share=0.0)
COHORT = {  # file -> (shape, record, pH, Apgar5)
    "cohort_p1.csv": (SICK, "p1", 7.00, 5), "cohort_p2.csv": (SICK, "p2", 6.95, 6), "cohort_p3.csv": (SICK, "p3", 7.02, 4),
    "copy_p3.csv": (SICK, "p3", None, None),  # the same record again: counted once
    "cohort_n1.csv": (WELL, "n1", 7.30, 9), "cohort_n2.csv": (WELL, "n2", 7.25, 10), "cohort_n3.csv": (WELL, "n3", 7.35, 9),
    "cohort_m1.csv": (WELL, "m1", 7.10, 8),  # between the pH groups
    "cohort_n9.csv": (None, "n9", 7.28, 9), "stray.csv": (WELL, None, None, None),  # fails to analyze; no outcome
}


@pytest.fixture(scope="module")
def cohort(tmp_path_factory):
    folder = tmp_path_factory.mktemp("cohort")
    rows = ["record,pH,Apgar5"]
    for seed, (file, (shape, record, ph, apgar5)) in enumerate(COHORT.items()):
        text = "Date,HR1\nnot a time,140\n" if shape is None else generate_csv(RecordingShape(minutes=30, seed=seed % 4, **shape))
        (folder / file).write_text(text)
        if ph is not None:
            rows.append(f"{record},{ph},{apgar5}")
    (folder / "outcomes.csv").write_text("\n".join(rows) + "\n")
    return folder


def _table(path):
    with open(path, newline="") as handle:
        return {row.get("file") or row["finding"]: row for row in csv.DictReader(handle)}


@pytest.mark.parametrize("split, counts, category_ii_or_iii", [
    ([], (3, 3), ("3", "0", "0", "3")), (["--positive", "Apgar5<7"], (3, 4), ("3", "0", "0", "4")),  # all others negative
])
def test_cohort_of_known_truth(cohort, tmp_path, capsys, split, counts, category_ii_or_iii):
    files = sorted(str(p) for p in cohort.glob("*.csv") if p.name != "outcomes.csv")
    assert main(["evaluate", *files, "--outcomes", str(cohort / "outcomes.csv"), "-o", str(tmp_path), "--no-progress", *split]) == 0
    assert f"no outcome for {cohort / 'stray.csv'}" in capsys.readouterr().err
    by_name = {file.rsplit("/", 1)[-1]: row for file, row in _table(tmp_path / "recordings.csv").items()}
    assert len(by_name) == len(COHORT)  # nothing dropped
    assert (by_name["stray.csv"]["note"], by_name["cohort_p1.csv"]["pH"], by_name["cohort_p1.csv"]["Apgar5"]) == (
        "no outcome record matches this file", "7", "5")
    assert by_name["copy_p3.csv"]["note"].startswith("same record as ") and by_name["cohort_n9.csv"]["error"].startswith("analyze: ")
    assert [by_name[f]["group"] for f in ("cohort_p1.csv", "cohort_n1.csv")] == ["positive", "negative"]
    summary = _table(tmp_path / "summary.csv")
    row = summary["Category II or III"]
    assert (row["tp"], row["fn"], row["fp"], row["tn"]) == category_ii_or_iii
    assert all((int(r["tp"]) + int(r["fn"]), int(r["fp"]) + int(r["tn"])) == counts for r in summary.values())
    roc = {row["figure"]: row for row in csv.DictReader(open(tmp_path / "roc.csv", newline=""))}
    assert float(roc["baseline (bpm)"]["auc"]) == float(roc["deceleration burden (s)"]["auc"]) == 1.0
    page = (tmp_path / "evaluation.md").read_text()
    assert "![ROC curves](roc.png)" in page and (tmp_path / "category_by_group.png").stat().st_size > 0


def test_missing_extra_is_one_line_naming_it(cohort, tmp_path, monkeypatch, capsys):
    monkeypatch.setitem(sys.modules, "sklearn", None)
    assert main(["evaluate", str(cohort), "--outcomes", str(cohort / "outcomes.csv"), "-o", str(tmp_path)]) == 2
    assert capsys.readouterr().err == "corvane: error: the evaluation needs scikit-learn: pip install 'corvane[evaluate]'\n"
