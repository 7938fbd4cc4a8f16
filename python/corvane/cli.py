"""Command-line interface: ``corvane analyze FILE``."""

from __future__ import annotations

import argparse
import sys
from typing import Optional, Sequence

from corvane import __version__

EXIT_USAGE = 2

_EXAMPLES = """\
examples:
  corvane analyze recording.csv
  corvane analyze recording.csv --window-min 20 --step-sec 300 -o report.json
  corvane analyze recording.csv --channel HR2 --ga-weeks 31 --last-only
  corvane analyze request.json
  corvane analyze record.hea                 (a WFDB record; needs corvane[wfdb])
  corvane analyze - < request.json           (standard input: a JSON request when it starts with {)
  corvane analyze recording.csv --format summary
"""


def _add_analyze(commands) -> None:
    analyze = commands.add_parser(
        "analyze",
        help="analyse a monitor CSV export or a JSON analysis request",
        description="Analyse a monitor CSV export (or a JSON analysis request) and print the JSON report.",
        epilog=_EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    from corvane.report_commands import add_analysis_options

    add_analysis_options(analyze)
    analyze.add_argument("-o", "--output", default=None, metavar="FILE", help="write the report to FILE instead of standard output")
    analyze.add_argument(
        "--format",
        choices=("json", "summary"),
        default="json",
        help="json: the exact report (default); summary: one line per window (see corvane summary --help)",
    )
    analyze.set_defaults(handler=_analyze)


def _add_report_commands(commands) -> None:
    from corvane.report_commands import add_report_commands

    add_report_commands(commands)


def _add_batch(commands) -> None:
    from corvane.batch import add_batch_command

    add_batch_command(commands)


def _add_evaluate(commands) -> None:
    from corvane._evaluate_command import add_evaluate_command

    add_evaluate_command(commands)


def _add_review(commands) -> None:
    from corvane.report_commands import add_review_command

    add_review_command(commands)


def _add_watch(commands) -> None:
    from corvane._watch import add_watch_command

    add_watch_command(commands)


# Each subcommand registers itself here: a function that adds its parser to the
# subparsers object and sets `handler` (called with the parsed arguments,
# returning the exit status).
SUBCOMMANDS = [_add_analyze, _add_batch, _add_report_commands, _add_evaluate, _add_review, _add_watch]


def _build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="corvane",
        description="Intrapartum CTG analysis: baseline, variability, decelerations, "
        "contractions, category and alert level as one JSON report.",
    )
    parser.add_argument("--version", action="version", version=f"corvane {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True
    for add in SUBCOMMANDS:
        add(commands)
    return parser


def fail(message: str, notes: Sequence[str] = ()) -> int:
    """Print one error line (and a hint line for each note) on standard error
    and return the usage exit status."""
    first_line = message.splitlines()[0] if message else "error"
    print(f"corvane: error: {first_line}", file=sys.stderr)
    for note in notes:
        print(f"corvane: hint: {note}", file=sys.stderr)
    return EXIT_USAGE


def _analyze(args: argparse.Namespace) -> int:
    from corvane.report_commands import CommandError, analyse_text

    try:
        _, _, report = analyse_text(args)
    except CommandError as error:
        return fail(str(error), error.notes)
    if args.format == "summary":
        from corvane.report import Report
        from corvane.summary import format_summary

        report = format_summary(Report.from_text(report))
    if args.output is None:
        sys.stdout.write(report)
        sys.stdout.flush()
    else:
        try:
            with open(args.output, "w", encoding="utf-8", newline="") as handle:
                handle.write(report)
        except OSError as error:
            return fail(f"cannot write {args.output}: {error}")
    return 0


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = _build_parser()
    args = parser.parse_args(list(argv) if argv is not None else None)
    return args.handler(args)


if __name__ == "__main__":
    raise SystemExit(main())
