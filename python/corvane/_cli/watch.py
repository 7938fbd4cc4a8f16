"""``corvane watch FILE``: follow a CSV export that another program keeps
appending to, printing each rolling window as soon as it is complete.

Like ``tail -F``: waits for new lines, and when the file is truncated or
replaced starts a new stream from its beginning. Ctrl-C stops it (status 0).
"""

from __future__ import annotations

import argparse
import codecs
import os
import sys
import time
from typing import Any, BinaryIO, Dict, Optional, Tuple

from corvane._cli.options import CommandError, add_analysis_options, analysis_options, check_options, fail
from corvane._monitor import Monitor
from corvane.report import Report
from corvane.summary import summary_header, window_line

_DEFAULT_POLL_SEC = 0.5
_READ_SIZE = 1 << 16
_MISSING_DATE = "CSV is missing required Date column"

HELP = "follow a growing CSV export and print each window as it completes"
DESCRIPTION = (
    "Follow a monitor CSV export while another program appends to it, and print each rolling window "
    "as soon as a later sample has arrived (one summary line, or with --json one JSON object per line). "
    "Windows equal those of corvane analyze on the rows received. Stop with Ctrl-C."
)
EXAMPLES = """\
examples:
  corvane watch recording.csv                       (30-minute windows every 60 s)
  corvane watch recording.csv --window-min 20 --step-sec 300 --from-start
  corvane watch recording.csv --json | my-dashboard (one JSON window per line)
"""


def add_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("file", metavar="FILE", help="monitor CSV export being written")
    add_analysis_options(parser, last_only=False)
    parser.add_argument("--json", action="store_true", help="print each window as one JSON object per line")
    parser.add_argument("--from-start", action="store_true", help="analyze what FILE already holds first")
    parser.add_argument(
        "--poll-sec", type=float, default=_DEFAULT_POLL_SEC, metavar="S", help="how often to look for new lines (default 0.5)"
    )


def run(args: argparse.Namespace) -> int:
    check_options(args)
    if args.poll_sec <= 0:
        raise CommandError("--poll-sec must be above 0")
    options = analysis_options(args)
    if options.get("window_min") is None:
        options.pop("window_min", None)
    try:
        Monitor(**options)
    except ValueError as error:
        raise CommandError(str(error)) from None
    return follow_file(args, options)


class _Follower:
    """The bytes appended to a file, across truncation and replacement."""

    def __init__(self, path: str, from_start: bool) -> None:
        self.path = path
        self.from_start = from_start
        self.handle: Optional[BinaryIO] = None
        self.identity: Optional[Tuple[int, int]] = None
        self.skip_line = False  # the rest of a line whose start was not read

    def _open(self) -> bool:
        try:
            handle = open(self.path, "rb")
        except OSError:
            return False
        status = os.fstat(handle.fileno())
        self.handle, self.identity = handle, (status.st_dev, status.st_ino)
        return True

    def first_text(self) -> Optional[bytes]:
        """Opens the file: all of it with --from-start, else its header line and
        the lines written from now on. None while the file does not exist."""
        if not self._open():
            return None
        assert self.handle is not None
        if self.from_start:
            return b""
        header = self.handle.readline()
        if not header.endswith(b"\n"):
            self.handle.seek(0)  # no whole header yet: read everything as it comes
            return b""
        self.handle.seek(0, os.SEEK_END)
        end = self.handle.tell()
        # A partly written line is skipped: its start is not ours to see.
        self.handle.seek(max(end - 1, 0))
        self.skip_line = self.handle.read(1) != b"\n"
        return header

    def restarted(self) -> bool:
        """Whether the file was replaced or truncated since it was opened."""
        assert self.handle is not None
        try:
            status = os.stat(self.path)
        except OSError:
            return False  # being replaced: keep reading the old one for now
        if (status.st_dev, status.st_ino) != self.identity or status.st_size < self.handle.tell():
            self.handle.close()
            self.handle = None
            self.from_start = True  # a new file is read from its start
            return True
        return False

    def read(self) -> bytes:
        assert self.handle is not None
        data = self.handle.read(_READ_SIZE)
        if self.skip_line and data:
            line_end = data.find(b"\n")
            self.skip_line = line_end < 0
            return b"" if line_end < 0 else data[line_end + 1 :]
        return data

    def close(self) -> None:
        if self.handle is not None:
            self.handle.close()


def _window_texts(report: Report) -> list:
    """Each window of a report as its JSON object on one line: the report's own
    text with the layout's line breaks and indentation removed (no line of the
    layout starts or ends inside a string)."""
    lines = report.text.splitlines()
    start = next(i for i, line in enumerate(lines) if line.strip() == '"windows": [') + 1
    indent = len(lines[start]) - len(lines[start].lstrip())
    texts, current = [], []
    for line in lines[start:]:
        stripped = line.strip()
        current.append(stripped)
        if len(line) - len(line.lstrip()) == indent and stripped in ("}", "},"):
            texts.append("".join(current).rstrip(","))
            current = []
        elif len(line) - len(line.lstrip()) < indent:
            break
    return texts


def _print_windows(report: Report, as_json: bool) -> None:
    lines = _window_texts(report) if as_json else [window_line(window) for window in report.windows]
    for line in lines:
        sys.stdout.write(line + "\n")
    sys.stdout.flush()


def follow_file(args: argparse.Namespace, options: Dict[str, Any]) -> int:
    """Follow FILE with monitors of these options until Ctrl-C; returns the exit status."""
    follower = _Follower(args.file, args.from_start)
    if not args.json:
        sys.stdout.write(summary_header() + "\n")
        sys.stdout.flush()
    try:
        while True:
            first = follower.first_text()
            if first is None:
                time.sleep(args.poll_sec)
                continue
            status = _follow(follower, Monitor(**options), first, args)
            if status is not None:
                return status
            print(f"corvane: note: {args.file} was truncated or replaced; starting a new stream", file=sys.stderr)
    except KeyboardInterrupt:
        return 0
    except BrokenPipeError:
        # The reader went away (`corvane watch FILE | head`): nothing more to say.
        sys.stdout = open(os.devnull, "w")
        return 0
    finally:
        follower.close()


def _follow(follower: _Follower, monitor: Monitor, first: bytes, args: argparse.Namespace) -> Optional[int]:
    """Feeds one stream until the file is restarted (None) or the header fails (status)."""
    decoder = codecs.getincrementaldecoder("utf-8")(errors="replace")
    data = first
    while True:
        if not data:
            if follower.restarted():
                return None
            time.sleep(args.poll_sec)
        text = decoder.decode(data)
        while True:
            try:
                report = monitor._add_csv_report(text)
            except ValueError as error:
                if str(error) == _MISSING_DATE:
                    return fail(f"{args.file}: {error}")
                print(f"corvane: warning: {args.file}: {error} (row skipped)", file=sys.stderr)
                text = ""  # the text after the bad row is read by the next call
                continue
            _print_windows(report, args.json)
            break
        data = follower.read()
