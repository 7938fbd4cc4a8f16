"""``corvane plot FILE -o PICTURE``: the trace with the report's findings."""

from __future__ import annotations

import argparse
from pathlib import Path

from corvane._cli.analysis import analyze
from corvane._cli.options import CommandError, add_chunk, add_input, add_output
from corvane.plot import SAVE_FORMATS, plot_recording, save_figure

HELP = "draw the trace with the report's findings (PNG, SVG or PDF)"
DESCRIPTION = (
    "Analyze a recording and draw it as a CTG trace: fetal and maternal heart rate, TOCO, "
    "baselines, events and window categories. Needs matplotlib (pip install corvane[plot])."
)

EXAMPLES = """\
examples:
  corvane plot recording.csv -o trace.png
  corvane plot recording.csv -o trace.svg --paper-speed 3 --minutes
  corvane plot recording.csv --window-min 10 --step-sec 60 -o rolling.pdf
  corvane plot recording.csv --window -1 -o last.png
  corvane plot recording.csv --chunk -o last30.png
  corvane plot request.json -o trace.png

Without --window-min, --step-sec or --chunk a CSV export is analyzed in rolling
20-minute windows every 5 minutes, so that the findings cover the whole
recording; the title says which windows they come from. The trace shows the
fetal heart rate on a 50-210 bpm grid (extended below 50 when needed; 110-160
shaded) with the maternal rate, each window's baseline, accelerations and
decelerations shaded by kind, the seconds without fetal signal (grey) and of
suspected maternal capture (blue), TOCO with the contraction peaks, and a strip
of window categories and alert levels. Without --window every event of the
recording is drawn once and whole. The time axis shows the recording's own
clock time (--minutes: minutes from the first sample).
"""


def add_options(parser: argparse.ArgumentParser) -> None:
    add_input(parser)
    add_output(parser, "picture to write: .png, .svg or .pdf", required=True)
    parser.add_argument(
        "--window",
        type=int,
        default=None,
        metavar="N",
        help="draw only window N (0 = first, -1 = last); default: the whole recording",
    )
    parser.add_argument(
        "--paper-speed",
        type=int,
        choices=(1, 3),
        default=1,
        metavar="{1,3}",
        help="paper speed in cm/min, which sets the picture's width (default 1)",
    )
    parser.add_argument("--minutes", action="store_true", help="time axis in minutes from the first sample (default: clock time)")
    add_chunk(parser)


def run(args: argparse.Namespace) -> int:
    if Path(args.output).suffix.lower().lstrip(".") not in SAVE_FORMATS:
        raise CommandError(f"cannot write {args.output}: the plot must be a .png, .svg or .pdf file")
    analysis = analyze(args, whole_recording=True)
    try:
        figure = plot_recording(
            analysis.recording(),
            analysis.report(),
            window=args.window,
            paper_speed=args.paper_speed,
            time_axis="minutes" if args.minutes else "clock",
        )
    except (ImportError, ValueError) as error:  # no matplotlib; a window the report does not have
        raise CommandError(str(error)) from None
    try:
        save_figure(figure, args.output)
    except OSError as error:
        raise CommandError(f"cannot write {args.output}: {error}") from None
    return 0
