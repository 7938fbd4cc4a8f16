"""``corvane summary FILE``: one line per analysis window."""

from __future__ import annotations

import argparse

from corvane._cli.analysis import analyze
from corvane._cli.options import add_input, add_output, write_output
from corvane.summary import format_summary

HELP = "print one line per analysis window"
DESCRIPTION = (
    "Analyze a recording and print one line per window: end, category, alert level, baseline, "
    "variability, accelerations, decelerations by kind, contractions and fetal signal."
)

EXAMPLES = """\
columns:
  window end  month-day and time of day of the window's last sample, as recorded
  cat         category I, II or III; - when unclassified
  alert       alert level: none, warning, urgent_review, critical, data_quality
  base        baseline fetal heart rate (bpm); - when it cannot be determined
  variab.     variability class: absent, minimal, moderate, marked, or -
  acc         accelerations
  V E L P G   decelerations: variable, early, late, prolonged, gradual (unclassified)
  ctx/10      contractions per 10 minutes
  fetal%      share of the window's seconds with a usable fetal heart rate

examples:
  corvane summary recording.csv
  corvane summary recording.csv --window-min 20 --step-sec 300
  corvane summary request.json
  corvane analyze recording.csv --format summary      (the same table)
"""


def add_options(parser: argparse.ArgumentParser) -> None:
    add_input(parser)
    add_output(parser, "write the table to FILE instead of standard output")


def run(args: argparse.Namespace) -> int:
    write_output(args.output, format_summary(analyze(args).report()))
    return 0
