"""The command line's entry point (the ``corvane`` console script and
``python -m corvane``)."""

from __future__ import annotations

import argparse
from typing import Optional, Sequence

from corvane import __version__
from corvane._cli import analyze, batch, evaluate, plot, review, summary, watch
from corvane._cli.options import CommandError, fail

# A subcommand is a module named as the subcommand, with HELP (one line for
# `corvane --help`), DESCRIPTION and EXAMPLES (for its own --help),
# add_options(parser), and run(args), which returns the exit status or raises
# CommandError for a mistake of the user's.
SUBCOMMANDS = (analyze, batch, summary, plot, evaluate, review, watch)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="corvane",
        description="Intrapartum CTG analysis: baseline, variability, decelerations, "
        "contractions, category and alert level as one JSON report.",
    )
    parser.add_argument("--version", action="version", version=f"corvane {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True
    for subcommand in SUBCOMMANDS:
        sub = commands.add_parser(
            subcommand.__name__.rpartition(".")[2],
            help=subcommand.HELP,
            description=subcommand.DESCRIPTION,
            epilog=subcommand.EXAMPLES,
            formatter_class=argparse.RawDescriptionHelpFormatter,
        )
        subcommand.add_options(sub)
        sub.set_defaults(run=subcommand.run)
    return parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = build_parser().parse_args(list(argv) if argv is not None else None)
    try:
        return int(args.run(args))
    except CommandError as error:
        return fail(str(error), error.notes)
