"""One recording analyzed the way every subcommand that takes FILE does: the
options checked, the input read (a file, standard input or a WFDB record), the
analysis run, a hint for a CSV header without a Date column, and warnings
about recordings whose report would otherwise look fine while saying little.

The analysis and its messages stay those of the native functions; everything
here only adds lines on standard error.
"""

from __future__ import annotations

import argparse
import datetime as _dt
import json
import sys
from pathlib import Path
from typing import List, NamedTuple, Optional, Tuple

from corvane import _native
from corvane._cli.options import (
    STDIN,
    CommandError,
    analysis_options,
    check_options,
    csv_options_given,
    warn,
    whole_recording_options,
)
from corvane._text_files import CSV_EXPORT, JSON_REQUEST, decode, read_file
from corvane.recording import Recording, read_csv_recording, read_request_recording
from corvane.report import Report
from corvane.timestamps import epoch_seconds
from corvane.wfdb_input import read_wfdb

__all__ = ["Analysis", "analyze", "header_hint", "read_input", "recording_warnings"]

# Beyond these, a recording's timestamps are more likely mistyped than real.
MAX_SAMPLE_GAP_SECONDS = 3600
MAX_SPAN_SECONDS = 48 * 3600
_SECONDS_PER_HOUR = 3600.0
_UNIX_EPOCH = _dt.datetime(1970, 1, 1)
# The longest header shown in a hint.
_HINT_HEADER_CHARS = 200


class Analysis(NamedTuple):
    """What FILE held and the report of its analysis."""

    text: str
    is_json: bool
    report_text: str

    def report(self) -> Report:
        return Report.from_text(self.report_text)

    def recording(self) -> Recording:
        return read_request_recording(self.text) if self.is_json else read_csv_recording(self.text)


def analyze(args: argparse.Namespace, *, whole_recording: bool = False) -> Analysis:
    """Read FILE and analyze it with the options given; with `whole_recording`,
    in rolling windows over the whole recording unless --chunk or a window
    option says otherwise. Warnings about the recording go to standard error."""
    check_options(args)
    text, is_json = read_input(args)
    given = csv_options_given(args)
    if is_json and given:
        raise CommandError(f"{', '.join(given)} cannot be used with a JSON request (the request carries its own options)")
    if whole_recording:
        whole_recording_options(args, is_json)
    try:
        if is_json:
            report_text = _native.analyze_json_string(text)
        else:
            report_text = _native.analyze_csv_string(text, **analysis_options(args))
    except ValueError as error:
        hint = None if is_json else header_hint(text)
        raise CommandError(str(error), [hint] if hint else []) from None
    for message in recording_warnings(text, is_json, args.channel):
        warn(message)
    return Analysis(text, is_json, report_text)


def _read_stdin(expected: str) -> str:
    stream = getattr(sys.stdin, "buffer", None)
    if stream is None:  # replaced by a text stream
        return sys.stdin.read()
    return decode(stream.read(), "standard input", expected)


def read_input(args: argparse.Namespace) -> Tuple[str, bool]:
    """The text of FILE and whether it is a JSON request: by --json, by the .json
    extension, or on standard input by a first non-blank character "{". A WFDB
    record (.hea) is read as its monitor CSV text."""
    name = args.file
    suffix = Path(name).suffix.lower()
    try:
        if name == STDIN:
            text = _read_stdin(JSON_REQUEST if args.json else CSV_EXPORT)
            return text, bool(args.json) or text.lstrip().startswith("{")
        if suffix == ".hea" and not args.json:
            return read_wfdb(name), False
        is_json = bool(args.json) or suffix == ".json"
        return read_file(name, JSON_REQUEST if is_json else CSV_EXPORT), is_json
    except OSError as error:
        reason = error.strerror or str(error)
        missing = f": {error.filename}" if error.filename and error.filename != name else ""
        raise CommandError(f"cannot read {name}: {reason}{missing}") from None
    except (ValueError, ImportError) as error:
        raise CommandError(str(error)) from None


def _header(text: str) -> str:
    line = text.split("\n", 1)[0]
    return line[:-1] if line.endswith("\r") else line


def _header_cells(text: str) -> List[str]:
    return [cell.strip().upper() for cell in _header(text).split(",")]


def header_hint(text: str) -> Optional[str]:
    """A note for a CSV text whose header has no Date column: the header as read
    and, when it shows one, the likely cause."""
    if not text or "DATE" in _header_cells(text):
        return None
    header = _header(text)
    shown = header if len(header) <= _HINT_HEADER_CHARS else header[:_HINT_HEADER_CHARS] + "..."
    causes = []
    if ";" in header or "\t" in header:
        causes.append("columns must be separated by commas")
    if any(len(cell) > 1 and cell[0] == cell[-1] and cell[0] in "\"'" for cell in _header_cells(text)):
        causes.append("column names must not be quoted")
    return f"the header line reads {shown!r}" + (f": {'; '.join(causes)}" if causes else "")


def _epoch(text: str) -> Optional[float]:
    try:  # fast for the usual shapes; the forgiving parser for the rest
        moment = _dt.datetime.fromisoformat(text)
    except ValueError:
        return epoch_seconds(text)
    if moment.tzinfo is not None:
        return moment.timestamp()
    return (moment - _UNIX_EPOCH).total_seconds()  # no offset: UTC


def _sample_times(text: str, is_json: bool) -> List[str]:
    """The timestamp text of every sample (rows the analysis read)."""
    if is_json:
        samples = json.loads(text).get("samples") or []
        return [sample["t"] for sample in samples]
    cells = _header_cells(text)
    column = cells.index("DATE")
    lines = text.split("\n")[1:]
    return [line.split(",", column + 1)[column].strip() for line in lines if line.strip()]


def recording_warnings(text: str, is_json: bool, channel: str) -> List[str]:
    """Warnings about an input the analysis accepted: a CSV without the chosen
    fetal channel's column, no samples at all, and timestamps that leave more
    than an hour between samples or span more than two days."""
    found: List[str] = []
    if not is_json:
        wanted = channel.strip().upper()
        if wanted not in _header_cells(text):
            found.append(f"the recording has no {wanted} column, so it has no fetal heart rate to analyze")
    try:
        stamps = _sample_times(text, is_json)
    except (ValueError, LookupError, TypeError, AttributeError, RecursionError):
        # An input of a shape this simple reader does not expect (a request
        # whose samples are not objects, say) but the engine accepted: no
        # warnings about its timestamps. Nothing is reported as an error.
        return found
    if not stamps:
        found.append("the recording has no samples, so the report has no window")
        return found
    times = sorted((epoch, stamp) for epoch, stamp in ((_epoch(s), s) for s in stamps) if epoch is not None)
    if len(times) < 2:
        return found
    gap, before, after = max((b[0] - a[0], a[1], b[1]) for a, b in zip(times, times[1:]))
    if gap > MAX_SAMPLE_GAP_SECONDS:
        found.append(
            f"consecutive samples are {gap / _SECONDS_PER_HOUR:.1f} hours apart ({before} and {after}); "
            "check the timestamps"
        )
    span = times[-1][0] - times[0][0]
    if span > MAX_SPAN_SECONDS:
        found.append(
            f"the recording spans {span / _SECONDS_PER_HOUR:.1f} hours ({times[0][1]} to {times[-1][1]}); "
            "check the timestamps for a mistyped date"
        )
    return found
