"""``corvane batch INPUT... -o OUTDIR``: many recordings into tables."""

from __future__ import annotations

import argparse
import os
import sys
from typing import Optional

from corvane._cli.options import (
    CommandError,
    add_analysis_options,
    add_outdir,
    add_workers,
    batch_options,
)
from corvane.batch import FOLDER_EXTENSIONS, BatchError, folder_files, run_batch
from corvane.batch import check_options as check_batch_options

HELP = "analyze many recordings into windows, events and errors tables"
DESCRIPTION = (
    "Analyze many recordings (monitor CSV exports, JSON requests, WFDB records) "
    "and write one table of windows, one of events and one of failures."
)

EXAMPLES = """\
examples:
  corvane batch recordings/ -o results/
  corvane batch recordings/ more.csv request.json record.hea -o results/ --jobs 4
  corvane batch recordings/ -o results/ --window-min 20 --step-sec 300 --parquet
  corvane batch recordings/ -o results/ --dask local --jobs 2
  corvane batch recordings/ -o results/ --dask tcp://scheduler:8786

Folders are searched recursively for .csv, .json and .hea (WFDB) files. The
results are OUTDIR/windows.csv (one row per window), OUTDIR/events.csv (one
row per acceleration, deceleration and contraction of each window),
OUTDIR/recording_events.csv (each event of a recording once, however many
windows saw it) and OUTDIR/errors.csv (one row per file that failed). A failed file does not stop the batch: the
exit status is 0 once the batch has run, and the summary on standard error
says how many files failed. JSON requests carry their own analysis options.
"""


def add_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("inputs", nargs="+", metavar="INPUT", help="files and folders to analyze")
    add_outdir(parser, "folder for the result tables")
    add_workers(parser)
    parser.add_argument("--parquet", action="store_true", help="write the windows and event tables as Parquet (needs pyarrow)")
    add_analysis_options(parser)


def _input_problem(given: str) -> Optional[str]:
    """Why an input names nothing to analyze, or None."""
    if not os.path.exists(given):
        return f"{given}: no such file or folder"
    if os.path.isdir(given) and next(folder_files(given), None) is None:
        return f"{given}: the folder holds no recordings ({', '.join(FOLDER_EXTENSIONS)} files)"
    return None


def run(args: argparse.Namespace) -> int:
    jobs, options = batch_options(args)
    try:
        check_batch_options(options)
    except BatchError as error:
        raise CommandError(str(error)) from None
    # A mistyped input is a usage error, found before any file runs.
    for given in args.inputs:
        problem = _input_problem(given)
        if problem is not None:
            raise CommandError(problem)
    try:
        result = run_batch(
            args.inputs,
            args.outdir,
            jobs=jobs,
            dask=args.dask,
            parquet=args.parquet,
            progress=False if args.no_progress else None,
            **options,
        )
    except BatchError as error:
        raise CommandError(str(error)) from None
    summary = (
        f"corvane batch: {result.files} files, {result.succeeded} analyzed, {result.failed} failed; "
        f"{result.windows} windows and {result.events} events in {result.outdir} ({result.wall_seconds:.1f} s)"
    )
    if result.failed:
        summary += f"; failures are listed in {result.tables['errors']}"
    print(summary, file=sys.stderr)
    return 0
