"""Evaluation against outcomes: what the categories and alerts say about a cohort.

``run_evaluation`` analyzes recordings with the batch machinery (so the
windows, events and errors tables of ``corvane batch`` land in the output
folder too), matches each recording with its outcome, and writes:

- ``recordings.csv``: one row per recording: record, file, the outcome
  fields, the number of windows, the last window's category and alert level,
  the worst category and alert level over the windows ending in the last
  ``last_min`` minutes (default: the last window only), the last window's
  fetal usable ratio, maternal-capture ratio, baseline and deceleration
  burden, the outcome group, a note (no outcome, same record as another
  file, no window) and the analysis error of a file that failed;
- ``summary.csv``: each finding as a 2x2 table against the split, with
  sensitivity, specificity, PPV and NPV and their Wilson 95 % intervals;
- ``roc.csv``: AUC with a bootstrap 95 % interval for a few continuous
  window figures;
- ``evaluation.md`` with the figures ``roc.png`` and ``category_by_group.png``.

Only recordings analyzed without error, with at least one window, whose
record is not already counted, and that fall in one of the two groups enter
the tables; every other recording stays in ``recordings.csv`` with the
reason in ``note`` or ``error``.
"""

from __future__ import annotations

import csv
import math
import os
import time
from dataclasses import dataclass, field, replace
from pathlib import Path
from typing import Any, Callable, Dict, Iterable, List, Mapping, Optional, Sequence, Tuple

from corvane._diagnostics import RocCurve, TwoByTwo, require_evaluate_extra, roc_curve, two_by_two
from corvane._outcomes import NEGATIVE, POSITIVE, OutcomeError, Outcomes, Split, match_record, read_outcomes, recording_stem
from corvane.batch import BatchError, discover, run_batch
from corvane.timestamps import epoch_seconds

__all__ = ["EvaluationError", "EvaluationResult", "RecordingResult", "FINDINGS", "FIGURES", "run_evaluation"]

# Severity order of the report's enumerations; "worst" is the highest rank.
# A window without a category ranks below every category, so a span is
# "unclassified" only when none of its windows has one.
CATEGORY_RANK = {"unclassified": 0, "category_i": 1, "category_ii": 2, "category_iii": 3}
ALERT_RANK = {"none": 0, "data_quality": 1, "warning": 2, "urgent_review": 3, "critical": 4}

NOTE_NO_OUTCOME = "no outcome record matches this file"
NOTE_NO_WINDOW = "the analysis has no window"


def _same_record(file: str) -> str:
    return f"same record as {file}: counted once"


class EvaluationError(Exception):
    """The evaluation could not run (bad outcomes or split, missing extra, batch failure)."""


@dataclass(frozen=True)
class RecordingResult:
    """One recording: its outcome, what the analysis said, and whether it is counted."""

    file: str
    record: Optional[str]
    outcome: Mapping[str, Any]
    windows: int = 0
    classification: Optional[str] = None
    alert_level: Optional[str] = None
    worst_classification: Optional[str] = None
    worst_alert_level: Optional[str] = None
    fetal_usable_ratio: Optional[float] = None
    suspected_maternal_capture_ratio: Optional[float] = None
    baseline_bpm: Optional[float] = None
    total_deceleration_seconds: Optional[float] = None
    group: Optional[str] = None
    note: str = ""
    error: str = ""

    @property
    def counted(self) -> bool:
        """In the 2x2 tables and ROC curves."""
        return self.group is not None and not self.note and not self.error


# Findings: (name, present for a recording).
FINDINGS: Tuple[Tuple[str, Callable[[RecordingResult], bool]], ...] = (
    ("alert warning or higher", lambda r: ALERT_RANK.get(r.worst_alert_level or "", 0) >= ALERT_RANK["warning"]),
    ("alert urgent review or critical", lambda r: ALERT_RANK.get(r.worst_alert_level or "", 0) >= ALERT_RANK["urgent_review"]),
    ("Category III", lambda r: r.worst_classification == "category_iii"),
    ("Category II or III", lambda r: r.worst_classification in ("category_ii", "category_iii")),
    ("unclassified", lambda r: r.worst_classification == "unclassified"),
)

# Continuous figures of the last window: (label, attribute, higher value points to the positive group).
# The direction is fixed in advance: an AUC below 0.5 means the figure runs the other way.
FIGURES: Tuple[Tuple[str, str, bool], ...] = (
    ("baseline (bpm)", "baseline_bpm", True),
    ("deceleration burden (s)", "total_deceleration_seconds", True),
    ("fetal usable ratio", "fetal_usable_ratio", False),
)

# The analysis columns of recordings.csv, after record, file and the outcome fields.
ANALYSIS_COLUMNS = (
    "windows",
    "classification",
    "alert_level",
    "worst_classification",
    "worst_alert_level",
    "fetal_usable_ratio",
    "suspected_maternal_capture_ratio",
    "baseline_bpm",
    "total_deceleration_seconds",
    "group",
    "note",
    "error",
)
SUMMARY_COLUMNS = (
    "finding",
    "positive",
    "negative",
    "tp",
    "fn",
    "fp",
    "tn",
    *(f"{measure}{part}" for measure in ("sensitivity", "specificity", "ppv", "npv") for part in ("", "_low", "_high")),
)
ROC_COLUMNS = ("figure", "higher_is_positive", "positives", "negatives", "auc", "auc_low", "auc_high")


@dataclass
class EvaluationResult:
    """What an evaluation found; the same numbers are in the tables named by `tables`."""

    outdir: Path
    outcomes: Outcomes
    split: Split
    options: Dict[str, Any]
    last_min: Optional[float]
    recordings: List[RecordingResult]
    findings: List[Tuple[str, TwoByTwo]]
    curves: List[Tuple[str, bool, RocCurve]]
    tables: Dict[str, Path] = field(default_factory=dict)
    wall_seconds: float = 0.0

    def _with(self, predicate: Callable[[RecordingResult], bool]) -> List[RecordingResult]:
        return [r for r in self.recordings if predicate(r)]

    @property
    def counted(self) -> List[RecordingResult]:
        return self._with(lambda r: r.counted)

    @property
    def positives(self) -> int:
        return len(self._with(lambda r: r.counted and r.group == POSITIVE))

    @property
    def negatives(self) -> int:
        return len(self._with(lambda r: r.counted and r.group == NEGATIVE))

    @property
    def failed(self) -> List[RecordingResult]:
        return self._with(lambda r: bool(r.error))

    @property
    def unmatched(self) -> List[RecordingResult]:
        return self._with(lambda r: r.note == NOTE_NO_OUTCOME)

    @property
    def duplicates(self) -> List[RecordingResult]:
        return self._with(lambda r: r.note.startswith("same record as "))


# ---------------------------------------------------------------------------
# Reading back the windows table of the batch.

_WINDOW_FIELDS = ("window_end", "classification", "alert_level", "baseline_bpm", "total_deceleration_seconds",
                  "fetal_usable_ratio", "suspected_maternal_capture_ratio")
_NUMBER_FIELDS = {"baseline_bpm", "total_deceleration_seconds", "fetal_usable_ratio", "suspected_maternal_capture_ratio"}


def _number(text: str) -> Optional[float]:
    return float(text) if text not in ("", "nan") else None


def _windows_by_file(table: Path) -> Dict[str, List[Dict[str, Any]]]:
    windows: Dict[str, List[Dict[str, Any]]] = {}
    with open(table, "r", encoding="utf-8", newline="") as handle:
        for row in csv.DictReader(handle):
            windows.setdefault(row["file"], []).append(
                {name: _number(row[name]) if name in _NUMBER_FIELDS else row[name] for name in _WINDOW_FIELDS}
            )
    return windows


def _worst(values: Iterable[str], rank: Mapping[str, int]) -> Optional[str]:
    return max(values, key=lambda value: rank.get(value, -1), default=None)


def _analysis(windows: Sequence[Dict[str, Any]], last_min: Optional[float]) -> Dict[str, Any]:
    last = windows[-1]
    span = [last]
    if last_min is not None:
        last_end = epoch_seconds(last["window_end"])
        if last_end is not None:
            span = [w for w in windows if (epoch_seconds(w["window_end"]) or -math.inf) >= last_end - last_min * 60.0]
    return {
        "windows": len(windows),
        "classification": last["classification"],
        "alert_level": last["alert_level"],
        "worst_classification": _worst((w["classification"] for w in span), CATEGORY_RANK),
        "worst_alert_level": _worst((w["alert_level"] for w in span), ALERT_RANK),
        **{name: last[name] for name in _NUMBER_FIELDS},
    }


# ---------------------------------------------------------------------------
# Writing.


def _cell(value: Any) -> str:
    if value is None:
        return ""
    if isinstance(value, float):
        if math.isnan(value):
            return ""
        text = repr(value)
        return text[:-2] if text.endswith(".0") else text
    return str(value)


def _write_csv(path: Path, header: Sequence[str], rows: Iterable[Sequence[Any]]) -> None:
    partial = path.with_name(path.name + ".partial")
    with open(partial, "w", encoding="utf-8", newline="") as handle:
        writer = csv.writer(handle, lineterminator="\n")
        writer.writerow(header)
        writer.writerows([_cell(value) for value in row] for row in rows)
    os.replace(partial, path)


def _recording_rows(result: EvaluationResult) -> Iterable[List[Any]]:
    fields = result.outcomes.fields
    for r in result.recordings:
        yield [r.record, r.file, *(r.outcome.get(name) for name in fields), *(getattr(r, name) for name in ANALYSIS_COLUMNS)]


def _summary_rows(result: EvaluationResult) -> Iterable[List[Any]]:
    for name, table in result.findings:
        cells: List[Any] = [name, result.split.positive, result.split.negative_text, table.tp, table.fn, table.fp, table.tn]
        for proportion in (table.sensitivity, table.specificity, table.ppv, table.npv):
            cells += [proportion.value, proportion.low, proportion.high]
        yield cells


def _roc_rows(result: EvaluationResult) -> Iterable[List[Any]]:
    for label, higher, curve in result.curves:
        yield [label, "true" if higher else "false", curve.positives, curve.negatives, curve.auc, curve.low, curve.high]


# ---------------------------------------------------------------------------


def _match(files: Sequence[str], outcomes: Outcomes, split: Split) -> List[RecordingResult]:
    """One result per file, before analysis: record, outcome and group, or the note that it has none."""
    results = []
    for file in files:
        record = match_record(recording_stem(file), outcomes.rows)
        if record is None:
            results.append(RecordingResult(file, None, {}, note=NOTE_NO_OUTCOME))
        else:
            outcome = outcomes.rows[record]
            results.append(RecordingResult(file, record, outcome, group=split.group(record, outcome)))
    return results


def _with_analysis(
    results: Sequence[RecordingResult], windows: Mapping[str, Sequence[Dict[str, Any]]], errors: Mapping[str, str], last_min: Optional[float]
) -> List[RecordingResult]:
    """The results with what the analysis said; a record analyzed twice counts with its first file."""
    analyzed = []
    counted_file: Dict[str, str] = {}
    for r in results:
        if r.file in errors:
            analyzed.append(replace(r, error=errors[r.file]))
        elif r.file not in windows:
            analyzed.append(replace(r, note=r.note or NOTE_NO_WINDOW))
        elif r.record is not None and r.record in counted_file:
            analyzed.append(replace(r, note=_same_record(counted_file[r.record]), **_analysis(windows[r.file], last_min)))
        else:
            if r.record is not None:
                counted_file[r.record] = r.file
            analyzed.append(replace(r, **_analysis(windows[r.file], last_min)))
    return analyzed


def run_evaluation(
    recordings: Iterable["os.PathLike[str] | str"],
    outcomes: "os.PathLike[str] | str",
    outdir: "os.PathLike[str] | str",
    *,
    positive: Optional[str] = None,
    negative: Optional[str] = None,
    last_min: Optional[float] = None,
    jobs: int = 1,
    dask: Any = None,
    progress: Optional[bool] = None,
    report: bool = True,
    **options: Any,
) -> EvaluationResult:
    """Analyze `recordings`, match them with `outcomes` and write the evaluation into `outdir`.

    `recordings` are files and folders as for ``run_batch`` (CSV exports,
    JSON requests, WFDB records). `outcomes` is a CSV table with a
    ``record`` column or a folder of WFDB headers. `positive` and
    `negative` define the split (default ``pH<7.05`` against ``pH>=7.15``;
    a positive expression alone makes every other recording with the field
    negative). `last_min` widens the worst category and alert to the
    windows ending in the last N minutes. `jobs`, `dask`, `progress` and
    the analysis `options` are those of ``run_batch``. With ``report=False``
    only the tables are written (no figures, no evaluation.md).

    Raises EvaluationError when the evaluation cannot run; a recording that
    fails to analyze stays in recordings.csv with its error.
    """
    began = time.perf_counter()
    try:
        require_evaluate_extra()
    except ImportError as error:
        raise EvaluationError(str(error)) from None
    if last_min is not None and (isinstance(last_min, bool) or not isinstance(last_min, (int, float)) or not last_min > 0):
        raise EvaluationError(f"last_min must be a positive number of minutes, not {last_min!r}")
    try:
        table = read_outcomes(outcomes)
        clash = sorted(set(table.fields) & {"record", "file", *ANALYSIS_COLUMNS})
        if clash:
            raise OutcomeError(f"outcome columns {', '.join(clash)} clash with the evaluation's own columns; rename them")
        split = Split.parse(positive, negative, table.fields)
        files = [entry.file for entry in discover(recordings)]
        results = _match(files, table, split)
    except OutcomeError as error:
        raise EvaluationError(str(error)) from None

    out = Path(outdir)
    # Without a span only the last window counts: the analysis skips the others.
    batch_options = dict(options)
    if last_min is None:
        batch_options.setdefault("last_only", True)
    try:
        batch = run_batch(files, out, jobs=jobs, dask=dask, progress=progress, **batch_options)
    except BatchError as error:
        raise EvaluationError(str(error)) from None
    windows = _windows_by_file(batch.tables["windows"])
    errors = {file: f"{stage}: {message}" for file, stage, message in batch.errors}

    analyzed = _with_analysis(results, windows, errors, last_min)

    counted = [r for r in analyzed if r.counted]
    is_positive = [r.group == POSITIVE for r in counted]
    findings = [(name, two_by_two([present(r) for r in counted], is_positive)) for name, present in FINDINGS]
    curves = [
        (label, higher, roc_curve([getattr(r, attribute) for r in counted], is_positive, higher_is_positive=higher))
        for label, attribute, higher in FIGURES
    ]
    result = EvaluationResult(out, table, split, dict(options), last_min, analyzed, findings, curves)
    result.tables = {name: path for name, path in batch.tables.items()}
    result.tables["recordings"] = out / "recordings.csv"
    result.tables["summary"] = out / "summary.csv"
    result.tables["roc"] = out / "roc.csv"
    try:
        _write_csv(result.tables["recordings"], ("record", "file", *table.fields, *ANALYSIS_COLUMNS), _recording_rows(result))
        _write_csv(result.tables["summary"], SUMMARY_COLUMNS, _summary_rows(result))
        _write_csv(result.tables["roc"], ROC_COLUMNS, _roc_rows(result))
        if report:
            from corvane._evaluation_report import write_report

            result.tables["report"] = write_report(result, out)
    except OSError as error:
        raise EvaluationError(f"cannot write into {out}: {error}") from None
    result.wall_seconds = time.perf_counter() - began
    return result
