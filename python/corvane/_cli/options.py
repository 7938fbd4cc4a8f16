"""The options the subcommands share, declared once, with their checks, and
how a failure reaches the user: one error line on standard error (with hint
lines for its notes) and exit status 2."""

from __future__ import annotations

import argparse
import os
import re
import sys
from typing import Any, Dict, List, Optional, Sequence, Tuple

from corvane.report import OPTION_DEFAULTS

__all__ = [
    "EXIT_USAGE",
    "STDIN",
    "CommandError",
    "add_analysis_options",
    "add_chunk",
    "add_input",
    "add_outdir",
    "add_output",
    "add_workers",
    "analysis_options",
    "batch_options",
    "check_options",
    "csv_options_given",
    "fail",
    "warn",
    "whole_recording_options",
    "write_output",
]

EXIT_USAGE = 2
STDIN = "-"

# Whole-number options: the smallest and largest value the analysis takes.
WHOLE_NUMBER_OPTIONS = {
    "ga_weeks": (0, 255),
    "window_min": (10, 30),
    "step_sec": (0, 4_294_967_295),
}
# Sign, leading zeros, and at most 19 further digits (beyond any option's range
# already, and short of the interpreter's limit on digits to convert).
_WHOLE_NUMBER = re.compile(r"([+-]?)0*([0-9]{1,19})")

# Without a window option, plots and review pages analyze the whole recording
# in rolling windows of this many minutes, this many seconds apart.
WHOLE_RECORDING_WINDOW_MIN = 20
WHOLE_RECORDING_STEP_SEC = 300


class CommandError(Exception):
    """A failure to report on standard error: one error line, then any notes."""

    def __init__(self, message: str, notes: Sequence[str] = ()) -> None:
        super().__init__(message)
        self.notes = tuple(notes)


def fail(message: str, notes: Sequence[str] = ()) -> int:
    """Print one error line (and a hint line for each note) on standard error
    and return the usage exit status."""
    first_line = message.splitlines()[0] if message else "error"
    print(f"corvane: error: {first_line}", file=sys.stderr)
    for note in notes:
        print(f"corvane: hint: {note}", file=sys.stderr)
    return EXIT_USAGE


def warn(message: str) -> None:
    print(f"corvane: warning: {message}", file=sys.stderr)


def _flag(name: str) -> str:
    """The command-line flag of an analysis option."""
    return "--" + name.replace("_", "-")


# ---------------------------------------------------------------------------
# Declarations


def add_input(parser: argparse.ArgumentParser) -> None:
    """FILE, the analysis options and --json: the input of a subcommand that
    analyzes one recording."""
    parser.add_argument(
        "file",
        metavar="FILE",
        help="monitor CSV export, JSON request (.json) or WFDB record (.hea); - reads standard input",
    )
    add_analysis_options(parser)
    parser.add_argument("--json", action="store_true", help="read FILE as a JSON analysis request whatever its name")


def add_analysis_options(parser: argparse.ArgumentParser, *, last_only: bool = True) -> None:
    """The options of the CSV analysis. The whole-number options are kept as
    texts here and checked by :func:`check_options`, so that a bad value gets
    one line naming the option."""
    parser.add_argument(
        _flag("channel"),
        default=OPTION_DEFAULTS["channel"],
        help=f"fetal channel to analyze: HR1, HR2 or HR3 (default {OPTION_DEFAULTS['channel']})",
    )
    parser.add_argument(
        _flag("ga_weeks"), default=None, metavar="N", help="gestational age in whole weeks ({} to {})".format(*WHOLE_NUMBER_OPTIONS["ga_weeks"])
    )
    parser.add_argument(
        _flag("window_min"),
        default=None,
        metavar="N",
        help="rolling windows of N minutes ({} to {}); default: one chunk of the last 30 minutes".format(
            *WHOLE_NUMBER_OPTIONS["window_min"]
        ),
    )
    parser.add_argument(
        _flag("step_sec"),
        default=OPTION_DEFAULTS["step_sec"],
        metavar="N",
        help=f"step between rolling windows (default {OPTION_DEFAULTS['step_sec']})",
    )
    if last_only:
        parser.add_argument(_flag("last_only"), action="store_true", help="keep only the last window of a rolling run")


def add_output(parser: argparse.ArgumentParser, help: str, *, required: bool = False) -> None:
    parser.add_argument("-o", "--output", required=required, default=None, metavar="FILE", help=help)


def add_outdir(parser: argparse.ArgumentParser, help: str) -> None:
    parser.add_argument("-o", "--outdir", required=True, metavar="OUTDIR", help=help)


def _positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid whole number: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, not {value}")
    return value


def add_workers(parser: argparse.ArgumentParser) -> None:
    """--jobs, --dask and --no-progress: how a batch of files is run."""
    parser.add_argument(
        "--jobs",
        type=_positive_int,
        default=None,
        metavar="N",
        help="processes to run (default 1, in this process); with --dask local, "
        "the number of Dask workers (default: one per CPU)",
    )
    parser.add_argument(
        "--dask",
        default=None,
        metavar="ADDRESS",
        help="run on a Dask distributed cluster: a scheduler address, or 'local' for a local cluster",
    )
    parser.add_argument("--no-progress", action="store_true", help="no progress bar, even on a terminal")


def add_chunk(parser: argparse.ArgumentParser) -> None:
    """--chunk: for the subcommands that analyze the whole recording in rolling
    windows unless told otherwise."""
    parser.add_argument(
        "--chunk",
        action="store_true",
        help=f"analyze one chunk of the last 30 minutes, as corvane analyze does by default "
        f"(default here: {WHOLE_RECORDING_WINDOW_MIN}-minute windows every {WHOLE_RECORDING_STEP_SEC // 60} minutes)",
    )


# ---------------------------------------------------------------------------
# Checks


def check_options(args: argparse.Namespace) -> None:
    """Turn the whole-number options' texts into integers, or raise CommandError
    naming the option whose value the analysis cannot take."""
    for attribute, (low, high) in WHOLE_NUMBER_OPTIONS.items():
        value = getattr(args, attribute)
        if isinstance(value, str):
            match = _WHOLE_NUMBER.fullmatch(value.strip())
            value = int(match.group(1) + match.group(2)) if match else None
            if value is None or not low <= value <= high:
                raise CommandError(f"{_flag(attribute)} must be a whole number from {low} to {high}")
            setattr(args, attribute, value)
    if getattr(args, "chunk", False) and _window_given(args):
        raise CommandError("--chunk cannot be used with --window-min or --step-sec")


def analysis_options(args: argparse.Namespace) -> Dict[str, Any]:
    """The analysis options the subcommand has, as the analysis takes them."""
    return {name: getattr(args, name) for name in OPTION_DEFAULTS if hasattr(args, name)}


def csv_options_given(args: argparse.Namespace) -> List[str]:
    """The flags of the analysis options set to other than their defaults."""
    return [_flag(name) for name, value in analysis_options(args).items() if value != OPTION_DEFAULTS[name]]


def _window_given(args: argparse.Namespace) -> bool:
    return args.window_min is not None or args.step_sec != OPTION_DEFAULTS["step_sec"]


def whole_recording_options(args: argparse.Namespace, is_json: bool) -> None:
    """Rolling windows over the whole recording unless --chunk or a window
    option says otherwise (a JSON request carries its own options)."""
    if args.chunk and is_json:
        raise CommandError("--chunk cannot be used with a JSON request (the request carries its own options)")
    if not args.chunk and not is_json and not _window_given(args):
        args.window_min, args.step_sec = WHOLE_RECORDING_WINDOW_MIN, WHOLE_RECORDING_STEP_SEC


def batch_options(args: argparse.Namespace) -> Tuple[int, Dict[str, Any]]:
    """For the subcommands that analyze many files: the number of processes
    (--jobs; by default 1, or one per CPU for a local Dask cluster) and the
    checked analysis options."""
    if args.dask is not None and args.dask != "local" and args.jobs is not None:
        raise CommandError("--jobs sets the size of a local cluster; a remote Dask cluster has its own workers")
    check_options(args)
    if args.jobs is None:
        jobs = (os.cpu_count() or 1) if args.dask == "local" else 1
    else:
        jobs = int(args.jobs)
    return jobs, analysis_options(args)


# ---------------------------------------------------------------------------
# Output


def write_output(output: Optional[str], text: str) -> None:
    """Write `text` to the file named by -o, or to standard output."""
    if output is None:
        sys.stdout.write(text)
        sys.stdout.flush()
        return
    try:
        with open(output, "w", encoding="utf-8", newline="") as handle:
            handle.write(text)
    except OSError as error:
        raise CommandError(f"cannot write {output}: {error}") from None
