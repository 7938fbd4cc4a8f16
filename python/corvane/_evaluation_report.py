"""The evaluation as a Markdown page with PNG figures.

``save_figures`` draws the ROC curves and the categories by outcome group;
``evaluation_markdown`` writes the page's sections around them (cohort,
findings as 2x2 tables, ROC, categories, recordings left out), so that the
page in an output folder and a page assembled elsewhere share one text.
"""

from __future__ import annotations

from pathlib import Path
from typing import TYPE_CHECKING, Dict, List, Mapping, Sequence

from corvane._diagnostics import BOOTSTRAP_RESAMPLES, CONFIDENCE, Proportion
from corvane._outcomes import NEGATIVE, POSITIVE

if TYPE_CHECKING:  # pragma: no cover
    from corvane._evaluation import EvaluationResult, RecordingResult

__all__ = ["FIGURE_FILES", "evaluation_markdown", "save_figures", "write_report"]

REPORT_FILE = "evaluation.md"
FIGURE_FILES = {"roc": "roc.png", "categories": "category_by_group.png"}
_DPI = 100
# Worst category over the considered windows, in the order the bars stack.
_CATEGORY_LABELS = (
    ("category_i", "Category I", "#4c9a5f"),
    ("category_ii", "Category II", "#e0b83a"),
    ("category_iii", "Category III", "#c8453b"),
    ("unclassified", "unclassified", "#9a9a9a"),
)
_NEITHER = "neither"


def _group_label(result: "EvaluationResult", group: str) -> str:
    if group == POSITIVE:
        return f"positive ({result.split.positive})"
    if group == NEGATIVE:
        return f"negative ({result.split.negative_text})"
    return "in neither group"


def _grouped(result: "EvaluationResult") -> Dict[str, List["RecordingResult"]]:
    """Analyzed recordings with an outcome (each record once) by group, the positive group first."""
    groups: Dict[str, List["RecordingResult"]] = {POSITIVE: [], _NEITHER: [], NEGATIVE: []}
    for r in result.recordings:
        if r.record is not None and not r.note and not r.error:
            groups[r.group or _NEITHER].append(r)
    return groups


def _roc_figure(result: "EvaluationResult"):
    from matplotlib.figure import Figure

    figure = Figure(figsize=(5.6, 5.0), dpi=_DPI)
    axes = figure.subplots()
    axes.plot([0, 1], [0, 1], linestyle="--", color="#999999", linewidth=1)
    for label, higher, curve in result.curves:
        if curve.auc is None:
            continue
        direction = "higher" if higher else "lower"
        axes.plot(
            curve.false_positive_rate,
            curve.true_positive_rate,
            linewidth=1.6,
            label=f"{label}, {direction} = positive\nAUC {curve.auc:.2f} ({curve.low:.2f}-{curve.high:.2f})",
        )
    axes.set_xlim(-0.01, 1.01)
    axes.set_ylim(-0.01, 1.01)
    axes.set_aspect("equal")
    axes.set_xlabel("1 - specificity")
    axes.set_ylabel("sensitivity")
    axes.set_title(f"{result.split.positive} against {result.split.negative_text}", fontsize=10)
    axes.grid(color="#e5e5e5", linewidth=0.6)
    if any(curve.auc is not None for _, _, curve in result.curves):
        axes.legend(loc="lower right", fontsize=7.5, frameon=True)
    else:
        axes.text(0.5, 0.5, "no curve: one of the groups is empty", ha="center", va="center")
    figure.tight_layout()
    return figure


def _category_figure(result: "EvaluationResult"):
    from matplotlib.figure import Figure

    groups = [(name, members) for name, members in _grouped(result).items() if members]
    figure = Figure(figsize=(7.0, 1.2 + 0.55 * max(len(groups), 1)), dpi=_DPI)
    axes = figure.subplots()
    for row, (name, members) in enumerate(reversed(groups)):
        left = 0.0
        for category, label, colour in _CATEGORY_LABELS:
            count = sum(1 for r in members if r.worst_classification == category)
            share = 100.0 * count / len(members)
            axes.barh(row, share, left=left, color=colour, edgecolor="white", label=label if row == 0 else None)
            if count:
                axes.text(left + share / 2, row, str(count), ha="center", va="center", fontsize=8)
            left += share
    axes.set_yticks(range(len(groups)))
    axes.set_yticklabels([f"{_group_label(result, name)}, n={len(members)}" for name, members in reversed(groups)], fontsize=8)
    axes.set_xlim(0, 100)
    axes.set_xlabel("share of recordings (%); counts in the bars")
    axes.set_title("worst category by outcome group", fontsize=10)
    axes.legend(loc="upper center", bbox_to_anchor=(0.5, -0.22), ncol=4, fontsize=8, frameon=False)
    return figure


def save_figures(result: "EvaluationResult", folder: Path) -> Dict[str, Path]:
    """Write the figures as small PNG files into `folder`; returns them by name."""
    import matplotlib

    folder.mkdir(parents=True, exist_ok=True)
    paths = {name: folder / file for name, file in FIGURE_FILES.items()}
    with matplotlib.rc_context({"font.size": 9}):
        for name, draw in (("roc", _roc_figure), ("categories", _category_figure)):
            # No software version in the file, so that a new run changes it only when the picture changes.
            draw(result).savefig(
                paths[name], format="png", dpi=_DPI, facecolor="white", bbox_inches="tight", metadata={"Software": None}
            )
    return paths


# ---------------------------------------------------------------------------
# Text.


def _percent(p: Proportion) -> str:
    if p.value is None or p.low is None or p.high is None:
        return "-"
    return f"{100 * p.value:.1f} % ({100 * p.low:.1f}-{100 * p.high:.1f}), {p.count}/{p.total}"


def _span(result: "EvaluationResult") -> str:
    if result.last_min is None:
        return "the last window of each analysis"
    return f"the worst category and alert level over the windows ending in the last {result.last_min:g} minutes"


def _options(result: "EvaluationResult") -> str:
    given = {k: v for k, v in result.options.items() if v is not None and not (k == "last_only" and not v)}
    if not given.get("window_min"):
        mode = "one chunk of the last 30 minutes of each recording"
    else:
        mode = f"rolling windows of {given['window_min']} minutes every {given.get('step_sec', 60)} s"
    extra = ", ".join(f"{k}={v}" for k, v in sorted(given.items()) if k not in ("window_min", "step_sec"))
    return mode + (f" ({extra})" if extra else "")


def _table(header: Sequence[str], rows: Sequence[Sequence[str]]) -> List[str]:
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    return lines


def _left_out(result: "EvaluationResult") -> List[str]:
    lines: List[str] = []
    for r in result.recordings:
        if r.error:
            lines.append(f"- `{r.file}`: analysis failed: {r.error}")
        elif r.note:
            lines.append(f"- `{r.file}`: {r.note}")
    return lines


def evaluation_markdown(result: "EvaluationResult", figures: Mapping[str, str], heading: str = "##") -> str:
    """The evaluation's sections; `figures` maps figure names to the links to use in the page."""
    groups = _grouped(result)
    level = heading
    lines: List[str] = []
    confidence = f"{100 * CONFIDENCE:g} %"

    lines += [f"{level} Cohort", ""]
    lines.append(
        f"{len(result.recordings)} recordings, {sum(1 for r in result.recordings if r.record is not None)} matched to an outcome "
        f"record in `{Path(result.outcomes.source).name}`; {len(result.failed)} failed to analyze, "
        f"{len(result.unmatched)} without outcome, {len(result.duplicates)} repeating a record already counted."
    )
    lines.append("")
    lines.append(f"- Analysis: {_options(result)}; findings are read from {_span(result)}.")
    lines.append(f"- Positive group: `{result.split.positive}`, {result.positives} recordings.")
    lines.append(f"- Negative group: `{result.split.negative_text}`, {result.negatives} recordings.")
    lines.append(f"- In neither group (outcome between the two, or missing): {len(groups[_NEITHER])} recordings, not counted below.")
    lines.append("")

    lines += [f"{level} Findings as 2×2 tables", ""]
    lines.append(
        f"Each finding is present or absent per recording. Proportions with Wilson {confidence} intervals and the counts "
        "they come from. PPV and NPV depend on the share of positives in the cohort and carry over only to a population "
        "with the same share."
    )
    lines.append("")
    rows = []
    for name, t in result.findings:
        rows.append([name, str(t.tp), str(t.fn), str(t.fp), str(t.tn),
                     _percent(t.sensitivity), _percent(t.specificity), _percent(t.ppv), _percent(t.npv)])
    lines += _table(["finding", "TP", "FN", "FP", "TN", "sensitivity", "specificity", "PPV", "NPV"], rows)
    lines.append("")

    lines += [f"{level} Continuous figures of the last window (ROC)", ""]
    lines.append(
        f"AUC with a {confidence} interval from {BOOTSTRAP_RESAMPLES} stratified bootstrap resamples. Which end of each "
        "figure points to the positive group is fixed in advance; an AUC below 0.5 means the figure runs the other way. "
        "Recordings without the figure (e.g. no baseline) are left out of its curve."
    )
    lines.append("")
    rows = []
    for label, higher, curve in result.curves:
        auc = "-" if curve.auc is None else f"{curve.auc:.3f} ({curve.low:.3f}-{curve.high:.3f})"
        rows.append([label, "higher" if higher else "lower", str(curve.positives), str(curve.negatives), auc])
    lines += _table(["figure", "points to positive", "positives", "negatives", f"AUC ({confidence} CI)"], rows)
    lines += ["", f"![ROC curves]({figures['roc']})", ""]

    lines += [f"{level} Worst category by outcome group", ""]
    rows = []
    for name, members in groups.items():
        counts = [str(sum(1 for r in members if r.worst_classification == c)) for c, _, _ in _CATEGORY_LABELS]
        rows.append([_group_label(result, name), str(len(members)), *counts])
    lines += _table(["group", "n", *(label for _, label, _ in _CATEGORY_LABELS)], rows)
    lines += ["", f"![Worst category by outcome group]({figures['categories']})", ""]

    left_out = _left_out(result)
    if left_out:
        lines += [f"{level} Recordings left out", "", *left_out, ""]
    return "\n".join(lines)


def write_report(result: "EvaluationResult", outdir: Path) -> Path:
    """Write evaluation.md and its figures into `outdir`."""
    paths = save_figures(result, outdir)
    page = outdir / REPORT_FILE
    text = "# Evaluation against outcomes\n\n" + evaluation_markdown(result, {k: p.name for k, p in paths.items()})
    page.write_text(text, encoding="utf-8")
    return page
