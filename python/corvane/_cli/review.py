"""``corvane review FILE -o PAGE``: the interactive review page."""

from __future__ import annotations

import argparse
from pathlib import Path

from corvane._cli.analysis import analyze
from corvane._cli.options import CommandError, add_chunk, add_input, add_output, write_output
from corvane._review import review_page

HELP = "write an interactive review page (one offline HTML file)"
DESCRIPTION = (
    "Analyze a recording (monitor CSV export, JSON request or WFDB .hea record) and write an "
    "interactive HTML page to review it: trace, window timeline with findings, events table."
)

EXAMPLES = """\
examples:
  corvane review recording.csv -o review.html
  corvane review recording.csv --window-min 10 --step-sec 60 -o review.html
  corvane review request.json -o review.html
  corvane review ctu-uhb/1002.hea -o review.html

The page is one HTML file that works offline: the trace with zoom and pan on
the recording's clock time (events, suspected maternal capture and signal loss
shaded), a timeline of the windows coloured by category and alert level (click
one for its findings), and the recording's events as a sortable table. Without
--window-min, --step-sec or --chunk a CSV export or WFDB record is analyzed in
rolling 20-minute windows every 5 minutes. Needs plotly: pip install corvane[review].
"""


def add_options(parser: argparse.ArgumentParser) -> None:
    add_input(parser)
    add_output(parser, "the HTML page to write", required=True)
    add_chunk(parser)


def run(args: argparse.Namespace) -> int:
    analysis = analyze(args, whole_recording=True)
    try:
        page = review_page(analysis.report(), analysis.recording(), title=Path(args.file).name)
    except ImportError as error:  # no plotly
        raise CommandError(str(error)) from None
    write_output(args.output, page)
    return 0
