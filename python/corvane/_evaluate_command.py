"""Command line: ``corvane evaluate``."""

from __future__ import annotations

import argparse
import sys

from corvane.batch import _positive_int

__all__ = ["add_evaluate_command"]

_EXAMPLES = """\
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


def add_evaluate_command(commands) -> None:
    """Register `corvane evaluate` on the CLI's subcommand parsers."""
    evaluate = commands.add_parser(
        "evaluate",
        help="measure categories and alerts against outcomes (2x2 tables, ROC)",
        description="Analyse recordings, join them with their outcomes (pH, Apgar scores, ...) and measure what "
        "the categories and alerts say about them: 2x2 tables with Wilson intervals, ROC curves with bootstrap "
        "intervals, categories by outcome group.",
        epilog=_EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    evaluate.add_argument("inputs", nargs="+", metavar="RECORDING", help="recordings and folders to analyse")
    evaluate.add_argument("--outcomes", required=True, metavar="TABLE_OR_FOLDER", help="CSV table with a 'record' column, or a folder of WFDB headers")
    evaluate.add_argument("-o", "--outdir", required=True, metavar="OUTDIR", help="folder for the tables, figures and evaluation.md")
    evaluate.add_argument("--positive", default=None, metavar="EXPR", help="positive group (default pH<7.05)")
    evaluate.add_argument(
        "--negative", default=None, metavar="EXPR", help="negative group (default pH>=7.15; with --positive alone: every other recording)"
    )
    evaluate.add_argument(
        "--last-min",
        type=_minutes,
        default=None,
        metavar="N",
        help="judge the worst category and alert over the windows ending in the last N minutes (default: the last window)",
    )
    evaluate.add_argument("--jobs", type=_positive_int, default=None, metavar="N", help="processes to run, as for corvane batch")
    evaluate.add_argument("--dask", default=None, metavar="ADDRESS", help="run on a Dask cluster, as for corvane batch")
    evaluate.add_argument("--no-progress", action="store_true", help="no progress bar, even on a terminal")
    evaluate.add_argument("--channel", default="HR1", help="fetal channel to analyse: HR1, HR2 or HR3 (default HR1)")
    evaluate.add_argument("--ga-weeks", type=int, default=None, metavar="N", help="gestational age in whole weeks")
    evaluate.add_argument(
        "--window-min",
        type=int,
        default=None,
        metavar="N",
        help="rolling windows of N minutes (10 to 30); default: one chunk of the last 30 minutes",
    )
    evaluate.add_argument("--step-sec", type=int, default=60, metavar="N", help="step between rolling windows (default 60)")
    evaluate.set_defaults(handler=_evaluate)


def _evaluate(args: argparse.Namespace) -> int:
    from corvane._evaluation import EvaluationError, run_evaluation
    from corvane.batch import BatchError, jobs_for
    from corvane.cli import fail

    try:
        result = run_evaluation(
            args.inputs,
            args.outcomes,
            args.outdir,
            positive=args.positive,
            negative=args.negative,
            last_min=args.last_min,
            jobs=jobs_for(args.jobs, args.dask),
            dask=args.dask,
            progress=False if args.no_progress else None,
            channel=args.channel,
            ga_weeks=args.ga_weeks,
            window_min=args.window_min,
            step_sec=args.step_sec,
        )
    except (BatchError, EvaluationError) as error:
        return fail(str(error))
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
