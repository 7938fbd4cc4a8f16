"""Signal quality against experts: FHRMA false-signal annotations and suspected maternal capture.

    python docs/signal_quality.py [--data DIR] [--window-min 10] [--figure capture.png]

For the 8 FHRMA recordings in DIR/fhrma-fs (not part of the repository; DIR
defaults to $CORVANE_REAL_DATA or ../shared/data/ctg-real beside the project),
each recording is analyzed in back-to-back windows of --window-min minutes on
the fetal channel the experts annotated (HR1 for Doppler, HR2 for scalp ECG).
For every window it compares the experts' false-signal share (the part of the
window inside their FS_FHR intervals) with the window's
suspected_maternal_capture_ratio, and prints:

- the Pearson and Spearman correlations over the windows;
- for "more than half of the window is false signal", the 2x2 table of the
  ratio at the threshold the analysis itself uses for "possible maternal
  heart-rate capture" (0.25) and at 0.5, with Wilson 95 % intervals, and the
  AUC of the ratio with a bootstrap 95 % interval.

The FHRMA data are GPL-3 research data used here for measurement only.
"""

from __future__ import annotations

import argparse
import csv
import os
import pathlib
import sys
from dataclasses import dataclass
from typing import Dict, List, Optional, Sequence, Tuple

import corvane
from corvane._diagnostics import RocCurve, TwoByTwo, roc_curve, two_by_two
from corvane.timestamps import epoch_seconds

REPO = pathlib.Path(__file__).resolve().parent.parent
DEFAULT_DATA = pathlib.Path(os.environ.get("CORVANE_REAL_DATA") or REPO.parent / "shared" / "data" / "ctg-real")

FALSE_SIGNAL = "FS_FHR"
TRUE_SIGNAL = "TS_FHR"
MOSTLY_FALSE = 0.5  # "more than half of the window is false signal"
# The analysis reports "possible maternal heart-rate capture" above this ratio.
CAPTURE_THRESHOLD = 0.25
THRESHOLDS = (CAPTURE_THRESHOLD, 0.5)
SAMPLE_SECONDS = 0.25  # an annotated interval runs to the end of its last 4 Hz sample


@dataclass(frozen=True)
class WindowComparison:
    recording: str
    channel: str
    window_end: str
    false_share: float
    true_share: float
    capture_ratio: float
    fetal_usable_ratio: float


@dataclass(frozen=True)
class SignalQuality:
    windows: List[WindowComparison]
    recordings: int
    pearson: float
    spearman: float
    tables: List[Tuple[float, TwoByTwo]]
    curve: RocCurve


def _intervals(annotations: pathlib.Path) -> Tuple[str, Dict[str, List[Tuple[float, float]]]]:
    """The annotated fetal channel and the FS/TS intervals in epoch seconds."""
    intervals: Dict[str, List[Tuple[float, float]]] = {FALSE_SIGNAL: [], TRUE_SIGNAL: []}
    channel = ""
    with open(annotations, newline="", encoding="utf-8") as handle:
        for row in csv.DictReader(handle):
            if row["label"] in intervals:
                channel = row["channel"]
                start, end = epoch_seconds(row["start_time"]), epoch_seconds(row["end_time"])
                intervals[row["label"]].append((start, end + SAMPLE_SECONDS))
    return channel, intervals


def _share(spans: Sequence[Tuple[float, float]], start: float, end: float) -> float:
    covered = sum(max(0.0, min(end, b) - max(start, a)) for a, b in spans)
    return covered / (end - start) if end > start else 0.0


def compare_recording(recording: pathlib.Path, annotations: pathlib.Path, window_min: int) -> List[WindowComparison]:
    """Back-to-back windows of one recording (a last window overlapping the one before is left out)."""
    channel, intervals = _intervals(annotations)
    text = recording.read_text(encoding="utf-8")
    report = corvane.analyze_csv(text, channel=channel, window_min=window_min, step_sec=window_min * 60)
    rows: List[WindowComparison] = []
    previous_end: Optional[float] = None
    for window in report.windows:
        start, end = epoch_seconds(window.window_start), epoch_seconds(window.window_end)
        if previous_end is not None and start < previous_end:
            continue
        previous_end = end
        rows.append(
            WindowComparison(
                recording.stem,
                channel,
                window.window_end,
                _share(intervals[FALSE_SIGNAL], start, end),
                _share(intervals[TRUE_SIGNAL], start, end),
                window.data_quality.suspected_maternal_capture_ratio,
                window.data_quality.fetal_usable_ratio,
            )
        )
    return rows


def measure(data: pathlib.Path, window_min: int = 10) -> SignalQuality:
    """Compare every annotated FHRMA recording under `data`/fhrma-fs."""
    from scipy.stats import pearsonr, spearmanr

    folder = data / "fhrma-fs"
    recordings = sorted(folder.glob("fhrma_fs_*.csv"))
    if not recordings:
        raise FileNotFoundError(f"no FHRMA recordings (fhrma_fs_*.csv) in {folder}")
    windows: List[WindowComparison] = []
    for recording in recordings:
        windows += compare_recording(recording, folder / "annotations" / f"{recording.stem}_annotations.csv", window_min)
    false_share = [w.false_share for w in windows]
    ratio = [w.capture_ratio for w in windows]
    mostly_false = [share > MOSTLY_FALSE for share in false_share]
    return SignalQuality(
        windows,
        len(recordings),
        float(pearsonr(false_share, ratio)[0]),
        float(spearmanr(false_share, ratio)[0]),
        [(threshold, two_by_two([r > threshold for r in ratio], mostly_false)) for threshold in THRESHOLDS],
        roc_curve(ratio, mostly_false),
    )


def save_figure(result: SignalQuality, path: pathlib.Path) -> None:
    """Scatter of the experts' false-signal share against the capture ratio, one colour per kind of sensor."""
    from matplotlib.figure import Figure

    figure = Figure(figsize=(5.6, 4.4), dpi=100)
    axes = figure.subplots()
    for kind, marker, colour in (("Dop", "o", "#3a6fb0"), ("Scalp", "s", "#c8453b")):
        points = [w for w in result.windows if kind in w.recording]
        label = "Doppler (HR1)" if kind == "Dop" else "scalp ECG (HR2)"
        axes.scatter([w.false_share for w in points], [w.capture_ratio for w in points], marker=marker, s=22,
                     color=colour, alpha=0.8, label=f"{label}, {len(points)} windows")
    axes.axvline(MOSTLY_FALSE, color="#999999", linestyle="--", linewidth=1)
    axes.axhline(CAPTURE_THRESHOLD, color="#999999", linestyle=":", linewidth=1)
    axes.set_xlim(-0.02, 1.02)
    axes.set_ylim(-0.02, 1.02)
    axes.set_xlabel("experts' false-signal share of the window (FS_FHR)")
    axes.set_ylabel("suspected_maternal_capture_ratio")
    axes.set_title(f"{len(result.windows)} windows of {result.recordings} FHRMA recordings", fontsize=10)
    axes.grid(color="#e5e5e5", linewidth=0.6)
    axes.legend(loc="upper left", fontsize=8)
    figure.tight_layout()
    figure.savefig(path, format="png", dpi=100, facecolor="white", metadata={"Software": None})


def _percent(p) -> str:
    if p.value is None:
        return "-"
    return f"{100 * p.value:.1f} % ({100 * p.low:.1f}-{100 * p.high:.1f}), {p.count}/{p.total}"


def summary_lines(result: SignalQuality) -> List[str]:
    """The findings as Markdown lines (a list and a table)."""
    positives = sum(1 for w in result.windows if w.false_share > MOSTLY_FALSE)
    curve = result.curve
    auc = "-" if curve.auc is None else f"{curve.auc:.3f} ({curve.low:.3f}-{curve.high:.3f})"
    lines = [
        f"- {len(result.windows)} windows from {result.recordings} recordings; in {positives} of them more than half "
        "of the window lies in the experts' false-signal intervals.",
        f"- Correlation of the false-signal share with `suspected_maternal_capture_ratio`: Pearson r = {result.pearson:.2f}, "
        f"Spearman rho = {result.spearman:.2f}.",
        f"- AUC of the ratio for \"more than half false signal\": {auc}.",
        "",
        "| ratio above | TP | FN | FP | TN | sensitivity | specificity |",
        "|---|---|---|---|---|---|---|",
    ]
    for threshold, t in result.tables:
        lines.append(f"| {threshold:g} | {t.tp} | {t.fn} | {t.fp} | {t.tn} | {_percent(t.sensitivity)} | {_percent(t.specificity)} |")
    return lines


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", type=pathlib.Path, default=DEFAULT_DATA, help="folder holding fhrma-fs/")
    parser.add_argument("--window-min", type=int, default=10, help="window length in minutes, 10 to 30 (default 10)")
    parser.add_argument("--figure", type=pathlib.Path, default=None, help="also draw the scatter plot into this PNG file")
    parser.add_argument("--csv", type=pathlib.Path, default=None, help="also write the per-window comparison as CSV")
    args = parser.parse_args(argv)
    try:
        result = measure(args.data, args.window_min)
    except FileNotFoundError as error:
        print(error, file=sys.stderr)
        return 1
    print("\n".join(summary_lines(result)))
    if args.figure is not None:
        save_figure(result, args.figure)
    if args.csv is not None:
        with open(args.csv, "w", newline="", encoding="utf-8") as handle:
            writer = csv.writer(handle, lineterminator="\n")
            writer.writerow(WindowComparison.__dataclass_fields__)
            writer.writerows([getattr(w, name) for name in WindowComparison.__dataclass_fields__] for w in result.windows)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
