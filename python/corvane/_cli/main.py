"""The command line's entry point (the ``corvane`` console script and
``python -m corvane``)."""

from __future__ import annotations

import argparse
from typing import Optional, Sequence

from corvane import __version__
from corvane._cli import analyze, batch, evaluate, plot, review, summary
from corvane._cli.options import CommandError, fail

# Each subcommand's module has `register(commands)`, which adds its parser and
# sets `handler`: called with the parsed arguments, it returns the exit status
# or raises CommandError for a mistake of the user's.
SUBCOMMANDS = (analyze, batch, summary, plot, evaluate, review)


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
        subcommand.register(commands)
    return parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = build_parser().parse_args(list(argv) if argv is not None else None)
    try:
        return int(args.handler(args))
    except CommandError as error:
        return fail(str(error), error.notes)
