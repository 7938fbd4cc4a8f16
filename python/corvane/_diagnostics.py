"""Diagnostic accuracy: 2x2 tables with Wilson intervals, ROC curves with bootstrap intervals.

Needs the ``evaluate`` extra (scipy for the intervals, scikit-learn for the
ROC curves); ``require_evaluate_extra`` checks for it with one message.
"""

from __future__ import annotations

import importlib
import math
from dataclasses import dataclass
from typing import Optional, Sequence, Tuple

__all__ = [
    "CONFIDENCE",
    "Proportion",
    "RocCurve",
    "TwoByTwo",
    "require_evaluate_extra",
    "roc_curve",
    "two_by_two",
    "wilson",
]

CONFIDENCE = 0.95
BOOTSTRAP_RESAMPLES = 2000
BOOTSTRAP_SEED = 20240101

# Module imported -> distribution to name when it is missing.
_EXTRA_MODULES = (("scipy", "scipy"), ("sklearn", "scikit-learn"), ("matplotlib", "matplotlib"), ("numpy", "numpy"))
EXTRA_HINT = "pip install 'corvane[evaluate]'"


def require_evaluate_extra() -> None:
    """Raise ImportError naming the missing packages and the extra when the evaluation cannot run."""
    missing = []
    for module, distribution in _EXTRA_MODULES:
        try:
            importlib.import_module(module)
        except ImportError:
            missing.append(distribution)
    if missing:
        raise ImportError(f"the evaluation needs {', '.join(missing)}: {EXTRA_HINT}")


@dataclass(frozen=True)
class Proportion:
    """count / total with its Wilson score interval; value and bounds are None when total is 0."""

    count: int
    total: int
    value: Optional[float]
    low: Optional[float]
    high: Optional[float]


def wilson(count: int, total: int, confidence: float = CONFIDENCE) -> Proportion:
    """The proportion count/total with its Wilson score interval (no continuity correction)."""
    if total == 0:
        return Proportion(count, total, None, None, None)
    from scipy.stats import binomtest

    interval = binomtest(count, total).proportion_ci(confidence_level=confidence, method="wilson")
    return Proportion(count, total, count / total, float(interval.low), float(interval.high))


@dataclass(frozen=True)
class TwoByTwo:
    """A binary finding against a binary outcome."""

    tp: int
    fn: int
    fp: int
    tn: int

    @property
    def sensitivity(self) -> Proportion:
        return wilson(self.tp, self.tp + self.fn)

    @property
    def specificity(self) -> Proportion:
        return wilson(self.tn, self.tn + self.fp)

    @property
    def ppv(self) -> Proportion:
        return wilson(self.tp, self.tp + self.fp)

    @property
    def npv(self) -> Proportion:
        return wilson(self.tn, self.tn + self.fn)


def two_by_two(finding: Sequence[bool], positive: Sequence[bool]) -> TwoByTwo:
    """Count the four cells: finding present or absent against outcome positive or negative."""
    pairs = list(zip(finding, positive))
    return TwoByTwo(
        tp=sum(1 for f, p in pairs if f and p),
        fn=sum(1 for f, p in pairs if not f and p),
        fp=sum(1 for f, p in pairs if f and not p),
        tn=sum(1 for f, p in pairs if not f and not p),
    )


@dataclass(frozen=True)
class RocCurve:
    """ROC of a continuous figure; auc and its bootstrap interval are None without both groups."""

    positives: int
    negatives: int
    auc: Optional[float]
    low: Optional[float]
    high: Optional[float]
    false_positive_rate: Tuple[float, ...]
    true_positive_rate: Tuple[float, ...]


def roc_curve(
    scores: Sequence[Optional[float]],
    positive: Sequence[bool],
    *,
    higher_is_positive: bool = True,
    resamples: int = BOOTSTRAP_RESAMPLES,
    seed: int = BOOTSTRAP_SEED,
    confidence: float = CONFIDENCE,
) -> RocCurve:
    """ROC curve and AUC of `scores` for the outcome; recordings without a score are left out.

    The interval is the percentile interval of a stratified bootstrap
    (positives and negatives resampled separately, so every resample has
    both), reproducible for a given seed.
    """
    import numpy as np
    from sklearn.metrics import roc_auc_score
    from sklearn.metrics import roc_curve as sk_roc_curve

    kept = [(float(s), bool(p)) for s, p in zip(scores, positive) if s is not None and not math.isnan(s)]
    sign = 1.0 if higher_is_positive else -1.0
    values = np.array([sign * s for s, _ in kept], dtype=float)
    labels = np.array([p for _, p in kept], dtype=bool)
    n_pos, n_neg = int(labels.sum()), int((~labels).sum())
    if n_pos == 0 or n_neg == 0:
        return RocCurve(n_pos, n_neg, None, None, None, (), ())
    fpr, tpr, _ = sk_roc_curve(labels, values)
    auc = float(roc_auc_score(labels, values))

    # AUC = mean over (positive, negative) pairs of [p > n] + [p == n] / 2. A
    # bootstrap resample draws each positive and negative some number of
    # times, so its AUC is the pair matrix weighted by those counts.
    pos, neg = values[labels], values[~labels]
    pairs = (pos[:, None] > neg[None, :]) + 0.5 * (pos[:, None] == neg[None, :])
    rng = np.random.default_rng(seed)
    pos_counts = rng.multinomial(n_pos, np.full(n_pos, 1.0 / n_pos), size=resamples)
    neg_counts = rng.multinomial(n_neg, np.full(n_neg, 1.0 / n_neg), size=resamples)
    boot = np.einsum("bi,ij,bj->b", pos_counts, pairs, neg_counts) / (n_pos * n_neg)
    tail = (1.0 - confidence) / 2.0
    low, high = np.quantile(boot, [tail, 1.0 - tail])
    return RocCurve(n_pos, n_neg, auc, float(low), float(high), tuple(map(float, fpr)), tuple(map(float, tpr)))
