"""The ``corvane summary`` and ``corvane plot`` subcommands."""

from __future__ import annotations

import argparse
import sys
from pathlib import Path
from typing import Any, Callable, List, Optional, Tuple

from corvane._cli_input import CommandError, check_options, header_hint, read_input, recording_warnings, warn
from corvane.report import Report

_DEFAULT_CHANNEL = "HR1"
_DEFAULT_STEP_SEC = 60

_SUMMARY_EXAMPLES = """\
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

_PLOT_EXAMPLES = """\
examples:
  corvane plot recording.csv -o trace.png
  corvane plot recording.csv -o trace.svg --paper-speed 3 --minutes
  corvane plot recording.csv --window-min 10 --step-sec 60 -o rolling.pdf
  corvane plot recording.csv --window -1 -o last.png
  corvane plot recording.csv --chunk -o last30.png
  corvane plot request.json -o trace.png

Without --window-min, --step-sec or --chunk a CSV export is analysed in rolling
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

# Without a window option, plots and review pages analyse the whole recording
# in rolling windows of this many minutes, this many seconds apart.
_REVIEW_WINDOW_MIN = 20
_REVIEW_STEP_SEC = 300


def add_option_flags(parser: argparse.ArgumentParser) -> None:
    """The analysis options of the CSV analysis. The whole-number options are
    kept as texts here and checked by ``check_options``, so that a bad value
    gets one line naming the option."""
    parser.add_argument("--channel", default=_DEFAULT_CHANNEL, help="fetal channel to analyse: HR1, HR2 or HR3 (default HR1)")
    parser.add_argument("--ga-weeks", default=None, metavar="N", help="gestational age in whole weeks (0 to 255)")
    parser.add_argument(
        "--window-min",
        default=None,
        metavar="N",
        help="rolling windows of N minutes (10 to 30); default: one chunk of the last 30 minutes",
    )
    parser.add_argument("--step-sec", default=_DEFAULT_STEP_SEC, metavar="N", help="step between rolling windows (default 60)")
    parser.add_argument("--last-only", action="store_true", help="keep only the last window of a rolling run")


def add_analysis_options(parser: argparse.ArgumentParser) -> None:
    """The input options every analysing subcommand shares."""
    parser.add_argument(
        "file",
        metavar="FILE",
        help="monitor CSV export, JSON request (.json) or WFDB record (.hea); - reads standard input",
    )
    add_option_flags(parser)
    parser.add_argument("--json", action="store_true", help="read FILE as a JSON analysis request whatever its name")


def _is_json(args: argparse.Namespace) -> bool:
    return bool(args.json) or Path(args.file).suffix.lower() == ".json"


def analyse_text(args: argparse.Namespace) -> Tuple[str, bool, str]:
    """Read FILE and analyse it with the options given: (text, is_json, report text).
    Warnings about the recording go to standard error."""
    from corvane import _native

    check_options(args)
    text, is_json = read_input(args)
    csv_only: List[str] = [
        name
        for name, given in (
            ("--channel", args.channel != _DEFAULT_CHANNEL),
            ("--ga-weeks", args.ga_weeks is not None),
            ("--window-min", args.window_min is not None),
            ("--step-sec", args.step_sec != _DEFAULT_STEP_SEC),
            ("--last-only", args.last_only),
        )
        if given
    ]
    if is_json and csv_only:
        raise CommandError(
            f"{', '.join(csv_only)} cannot be used with a JSON request (the request carries its own options)"
        )
    try:
        if is_json:
            report_text = _native.analyze_json_string(text)
        else:
            report_text = _native.analyze_csv_string(
                text,
                channel=args.channel,
                ga_weeks=args.ga_weeks,
                window_min=args.window_min,
                step_sec=args.step_sec,
                last_only=args.last_only,
            )
    except (ValueError, OverflowError, TypeError) as error:
        hint = None if is_json else header_hint(text)
        raise CommandError(str(error), [hint] if hint else []) from None
    for message in recording_warnings(text, is_json, args.channel):
        warn(message)
    return text, is_json, report_text


def analyse(args: argparse.Namespace) -> Tuple[str, bool, Report]:
    """Read FILE and analyse it with the options given: (text, is_json, report)."""
    text, is_json, report_text = analyse_text(args)
    return text, is_json, Report.from_text(report_text)


def _write(output: Any, text: str) -> None:
    if output is None:
        sys.stdout.write(text)
        sys.stdout.flush()
        return
    try:
        with open(output, "w", encoding="utf-8", newline="") as handle:
            handle.write(text)
    except OSError as error:
        raise CommandError(f"cannot write {output}: {error}") from None


def _summary(args: argparse.Namespace) -> int:
    from corvane.cli import fail
    from corvane.summary import format_summary

    try:
        _, _, report = analyse(args)
        _write(args.output, format_summary(report))
    except CommandError as error:
        return fail(str(error), error.notes)
    return 0


def _whole_recording_windows(args: argparse.Namespace) -> None:
    """Rolling windows over the whole recording unless a window option says
    otherwise (a JSON request carries its own options)."""
    window_given = args.window_min is not None or args.step_sec != _DEFAULT_STEP_SEC
    if args.chunk and window_given:
        raise CommandError("--chunk cannot be used with --window-min or --step-sec")
    if args.chunk and _is_json(args):
        raise CommandError("--chunk cannot be used with a JSON request (the request carries its own options)")
    if not args.chunk and not window_given and not _is_json(args):
        args.window_min, args.step_sec = _REVIEW_WINDOW_MIN, _REVIEW_STEP_SEC


def _add_whole_recording_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--chunk",
        action="store_true",
        help=f"analyse one chunk of the last 30 minutes, as corvane analyze does by default "
        f"(default here: {_REVIEW_WINDOW_MIN}-minute windows every {_REVIEW_STEP_SEC // 60} minutes)",
    )


def _plot(args: argparse.Namespace) -> int:
    from corvane.cli import fail

    try:
        from corvane.plot import SAVE_FORMATS, plot_recording, save_figure
        from corvane.recording import read_csv_recording, read_request_recording

        if Path(args.output).suffix.lower().lstrip(".") not in SAVE_FORMATS:
            raise CommandError(f"cannot write {args.output}: the plot must be a .png, .svg or .pdf file")
        _whole_recording_windows(args)
        text, is_json, report = analyse(args)
        recording = read_request_recording(text) if is_json else read_csv_recording(text)
        figure = plot_recording(
            recording,
            report,
            window=args.window,
            paper_speed=args.paper_speed,
            time_axis="minutes" if args.minutes else "clock",
        )
        try:
            save_figure(figure, args.output)
        except OSError as error:
            raise CommandError(f"cannot write {args.output}: {error}") from None
    except CommandError as error:
        return fail(str(error), error.notes)
    except (ImportError, ValueError) as error:
        return fail(str(error))
    return 0


def add_report_commands(commands: Any) -> None:
    """Register ``summary`` and ``plot`` on the subcommand parser."""
    summary = commands.add_parser(
        "summary",
        help="print one line per analysis window",
        description="Analyse a recording and print one line per window: end, category, alert level, baseline, "
        "variability, accelerations, decelerations by kind, contractions and fetal signal.",
        epilog=_SUMMARY_EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    add_analysis_options(summary)
    summary.add_argument("-o", "--output", default=None, metavar="FILE", help="write the table to FILE instead of standard output")
    summary.set_defaults(handler=_summary)

    plot = commands.add_parser(
        "plot",
        help="draw the trace with the report's findings (PNG, SVG or PDF)",
        description="Analyse a recording and draw it as a CTG trace: fetal and maternal heart rate, TOCO, "
        "baselines, events and window categories. Needs matplotlib (pip install corvane[plot]).",
        epilog=_PLOT_EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    add_analysis_options(plot)
    plot.add_argument("-o", "--output", required=True, metavar="FILE", help="picture to write: .png, .svg or .pdf")
    plot.add_argument(
        "--window",
        type=int,
        default=None,
        metavar="N",
        help="draw only window N (0 = first, -1 = last); default: the whole recording",
    )
    plot.add_argument(
        "--paper-speed",
        type=int,
        choices=(1, 3),
        default=1,
        metavar="{1,3}",
        help="paper speed in cm/min, which sets the picture's width (default 1)",
    )
    plot.add_argument("--minutes", action="store_true", help="time axis in minutes from the first sample (default: clock time)")
    _add_whole_recording_options(plot)
    plot.set_defaults(handler=_plot)


# ---------------------------------------------------------------------------
# corvane review

_REVIEW_EXAMPLES = """\
examples:
  corvane review recording.csv -o review.html
  corvane review recording.csv --window-min 10 --step-sec 60 -o review.html
  corvane review request.json -o review.html
  corvane review ctu-uhb/1002.hea -o review.html

The page is one HTML file that works offline: the trace with zoom and pan on
the recording's clock time (events, suspected maternal capture and signal loss
shaded), a timeline of the windows coloured by category and alert level (click
one for its findings), and the recording's events as a sortable table. Without
--window-min, --step-sec or --chunk a CSV export or WFDB record is analysed in
rolling 20-minute windows every 5 minutes. Needs plotly: pip install corvane[review].
"""


def _review(args: argparse.Namespace) -> int:
    from corvane.cli import fail

    try:
        from corvane._review import review_page
        from corvane.recording import read_csv_recording, read_request_recording

        _whole_recording_windows(args)
        text, is_json, report = analyse(args)
        recording = read_request_recording(text) if is_json else read_csv_recording(text)
        _write(args.output, review_page(report, recording, title=Path(args.file).name))
    except (CommandError, ImportError, ValueError) as error:
        return fail(str(error))
    return 0


def add_review_command(commands: Any) -> None:
    """Register ``review`` on the subcommand parser."""
    review = commands.add_parser(
        "review",
        help="write an interactive review page (one offline HTML file)",
        description="Analyse a recording (monitor CSV export, JSON request or WFDB .hea record) and write an "
        "interactive HTML page to review it: trace, window timeline with findings, events table.",
        epilog=_REVIEW_EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    add_analysis_options(review)
    review.add_argument("-o", "--output", required=True, metavar="FILE", help="the HTML page to write")
    _add_whole_recording_options(review)
    review.set_defaults(handler=_review)
