"""``corvane analyze FILE``: the JSON report, or the summary table."""

from __future__ import annotations

import argparse

from corvane._cli.analysis import analyze
from corvane._cli.options import add_input, add_output, write_output
from corvane.summary import format_summary

HELP = "analyze a monitor CSV export or a JSON analysis request"
DESCRIPTION = "Analyze a monitor CSV export (or a JSON analysis request) and print the JSON report."

EXAMPLES = """\
examples:
  corvane analyze recording.csv
  corvane analyze recording.csv --window-min 20 --step-sec 300 -o report.json
  corvane analyze recording.csv --channel HR2 --ga-weeks 31 --last-only
  corvane analyze request.json
  corvane analyze record.hea                 (a WFDB record; needs corvane[wfdb])
  corvane analyze - < request.json           (standard input: a JSON request when it starts with {)
  corvane analyze recording.csv --format summary
"""


def add_options(parser: argparse.ArgumentParser) -> None:
    add_input(parser)
    add_output(parser, "write the report to FILE instead of standard output")
    parser.add_argument(
        "--format",
        choices=("json", "summary"),
        default="json",
        help="json: the exact report (default); summary: one line per window (see corvane summary --help)",
    )


def run(args: argparse.Namespace) -> int:
    analysis = analyze(args)
    text = format_summary(analysis.report()) if args.format == "summary" else analysis.report_text
    write_output(args.output, text)
    return 0
