"""``corvane evaluate RECORDING... --outcomes TABLE -o OUTDIR``: categories
and alerts measured against outcomes."""

from __future__ import annotations

import argparse
import sys

from corvane._cli.options import CommandError, add_analysis_options, add_outdir, add_workers, batch_options
from corvane._evaluation import EvaluationError, run_evaluation
from corvane.batch import BatchError

HELP = "measure categories and alerts against outcomes (2x2 tables, ROC)"
DESCRIPTION = (
    "Analyze recordings, join them with their outcomes (pH, Apgar scores, ...) and measure what "
    "the categories and alerts say about them: 2x2 tables with Wilson intervals, ROC curves with bootstrap "
    "intervals, categories by outcome group."
)

EXAMPLES = """\
examples:
  corvane evaluate recordings/ --outcomes outcomes.csv -o evaluation/
  corvane evaluate ctu-uhb/*.csv --outcomes ctu-uhb-headers/ -o evaluation/
  corvane evaluate recordings/ --outcomes outcomes.csv -o evaluation/ --positive "Apgar5<7"
  corvane evaluate recordings/ --outcomes outcomes.csv -o evaluation/ \\
      --positive "pH<7.05 & BDecf>=12" --negative "pH>=7.15"
  corvane evaluate recordings/ --outcomes outcomes.csv -o evaluation/ \\
      --window-min 20 --step-sec 300 --last-min 60 --jobs 2

OUTCOMES is a CSV table with a 'record' column, or a folder of WFDB headers
(.hea) whose clinical fields (pH, BDecf, Apgar5, ...) are the outcomes. A
recording matches the record equal to its file name without extension, or
ending it after an underscore (ctu_uhb_1002.csv matches 1002). Recordings
without an outcome are listed, never dropped.

OUTDIR receives recordings.csv (one row per recording: outcome fields and what
the analysis said), summary.csv (each finding as a 2x2 table with sensitivity,
specificity, PPV, NPV and Wilson 95 % intervals), roc.csv, evaluation.md with
roc.png and category_by_group.png, and the windows, events and errors tables
of `corvane batch`. Needs scipy, scikit-learn and matplotlib:
pip install 'corvane[evaluate]'.
"""


def _minutes(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid number of minutes: {text!r}") from None
    if not value > 0 or value == float("inf"):
        raise argparse.ArgumentTypeError(f"must be a positive number of minutes, not {text}")
    return value


def add_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("inputs", nargs="+", metavar="RECORDING", help="recordings and folders to analyze")
    parser.add_argument(
        "--outcomes", required=True, metavar="TABLE_OR_FOLDER", help="CSV table with a 'record' column, or a folder of WFDB headers"
    )
    add_outdir(parser, "folder for the tables, figures and evaluation.md")
    parser.add_argument("--positive", default=None, metavar="EXPR", help="positive group (default pH<7.05)")
    parser.add_argument(
        "--negative", default=None, metavar="EXPR", help="negative group (default pH>=7.15; with --positive alone: every other recording)"
    )
    parser.add_argument(
        "--last-min",
        type=_minutes,
        default=None,
        metavar="N",
        help="judge the worst category and alert over the windows ending in the last N minutes (default: the last window)",
    )
    add_workers(parser)
    # Without --last-min only the last window counts: the evaluation asks for it alone.
    add_analysis_options(parser, last_only=False)


def run(args: argparse.Namespace) -> int:
    jobs, options = batch_options(args)
    try:
        result = run_evaluation(
            args.inputs,
            args.outcomes,
            args.outdir,
            positive=args.positive,
            negative=args.negative,
            last_min=args.last_min,
            jobs=jobs,
            dask=args.dask,
            progress=False if args.no_progress else None,
            **options,
        )
    except (BatchError, EvaluationError) as error:
        raise CommandError(str(error)) from None
    for r in result.unmatched:
        print(f"corvane evaluate: no outcome for {r.file}", file=sys.stderr)
    print(
        f"corvane evaluate: {len(result.recordings)} recordings, {len(result.counted)} counted "
        f"({result.positives} positive: {result.split.positive}; {result.negatives} negative: {result.split.negative_text}); "
        f"{len(result.unmatched)} without outcome, {len(result.failed)} failed; "
        f"{result.tables.get('report', result.tables['summary'])} ({result.wall_seconds:.1f} s)",
        file=sys.stderr,
    )
    return 0
