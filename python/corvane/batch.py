"""Batch analysis of many recordings into flat tables.

``run_batch`` analyzes every recording it is given (monitor CSV exports, JSON
analysis requests and WFDB records; folders are searched recursively) and
writes three tables into an output folder:

- ``windows.csv``: one row per analysis window: the file, the window's index
  in its report, its span, category, alert level, baseline and variability
  with their classes, the Category III diagnostics, every feature and
  data-quality figure, and the phrase lists joined with "; ".
- ``events.csv``: one row per acceleration, deceleration and contraction.
- ``recording_events.csv``: one row per event of the recording, each once
  however many overlapping windows reported it (``Report.recording_events``).
- ``errors.csv``: one row per file that could not be analyzed, with the stage
  that failed (read, analyze, worker) and the message.

The columns follow the report's layout (``corvane._schema``): a window row
holds the window's own values, then those of its sections (Category III
diagnostics, features, data quality), then the phrase lists; the values the
features repeat (the contraction count and rate) appear once.

A file that fails never stops the batch. Rows follow the order of the inputs
(within a folder: its own files by name, then each subfolder by name; hidden
files and folders are skipped), then the report's order, whatever
ran the work: the calling process (``jobs=1``), a pool of local processes
(``jobs=N``) or a Dask cluster (``dask="local"`` or a scheduler address).
Workers read the files themselves; only paths travel to them.

With ``parquet=True`` the windows and both event tables are written as Parquet
files (needs pyarrow); the error list stays a CSV file for reading by eye.
"""

from __future__ import annotations

import csv
import logging
import math
import os
import sys
import time
from concurrent.futures import ProcessPoolExecutor, as_completed
from concurrent.futures.process import BrokenProcessPool
from dataclasses import dataclass, field, is_dataclass
from decimal import Decimal
from pathlib import Path
from typing import Any, Callable, Dict, Iterable, Iterator, List, Literal, Optional, Sequence, Tuple, get_args, get_origin

from corvane import _native
from corvane._events import RecordingEvent, recording_event_values
from corvane._schema import EVENT_TYPES, KeyInfo, ReportConfig, Window, keys_of, parse_report
from corvane._text_files import CSV_EXPORT, JSON_REQUEST, read_file
from corvane.report import OPTION_DEFAULTS
from corvane.wfdb_input import read_wfdb

__all__ = [
    "BatchError",
    "BatchResult",
    "EVENT_COLUMNS",
    "ERROR_COLUMNS",
    "FOLDER_EXTENSIONS",
    "RECORDING_EVENT_COLUMNS",
    "WINDOW_COLUMNS",
    "analyze_file",
    "check_options",
    "discover",
    "folder_files",
    "run_batch",
]

KIND_CSV = "csv"
KIND_JSON = "json"
KIND_WFDB = "wfdb"

# Extensions picked up when a folder is searched; a file named explicitly is
# read whatever its extension (JSON by .json, WFDB by .hea, CSV otherwise).
FOLDER_EXTENSIONS = {".csv": KIND_CSV, ".json": KIND_JSON, ".hea": KIND_WFDB}

STAGE_READ = "read"
STAGE_ANALYZE = "analyze"
STAGE_WORKER = "worker"

PHRASE_SEPARATOR = "; "

# Parquet row groups are written every this many rows, so that a large batch
# is never held in memory as one table.
PARQUET_ROWS_PER_GROUP = 50_000


class BatchError(Exception):
    """The batch could not run at all (bad options, missing extra, unreachable cluster)."""


# ---------------------------------------------------------------------------
# Table layout. Each column: (name, type, section of the window object that
# holds it; None = the window itself). Types: str, int, float, bool, and
# phrases (a list of texts, written joined with PHRASE_SEPARATOR).

_FILE = "file"
_INDEX = "index"
_REPORT = "report"
# The report's settings repeated on every window row.
_REPORT_KEYS = ("channel", "analysis_mode")


def _column_type(info: KeyInfo) -> str:
    if get_origin(info.kind) is Literal:
        return "str"
    if get_origin(info.kind) is tuple:
        return "phrases"
    return str(info.kind.__name__)


def _window_layout() -> List[Tuple[str, str, Optional[str]]]:
    own: List[Tuple[str, str, Optional[str]]] = []
    sections: List[Tuple[str, str, Optional[str]]] = []
    own_lists: List[Tuple[str, str, Optional[str]]] = []
    section_lists: List[Tuple[str, str, Optional[str]]] = []
    for info in keys_of(Window):
        if is_dataclass(info.kind):
            for inner in keys_of(info.kind):
                kind = _column_type(inner)
                (section_lists if kind == "phrases" else sections).append((inner.name, kind, info.name))
        elif get_origin(info.kind) is tuple and get_args(info.kind)[0] is not str:
            continue  # the events: a table of their own
        elif info.key is None or info.key.same_as is None:
            kind = _column_type(info)
            (own_lists if kind == "phrases" else own).append((info.name, kind, None))
    report = [(info.name, _column_type(info), _REPORT) for info in keys_of(ReportConfig) if info.name in _REPORT_KEYS]
    return [("file", "str", _FILE), ("window_index", "int", _INDEX)] + report + own + sections + own_lists + section_lists


_WINDOW_LAYOUT = _window_layout()


def _event_columns() -> List[Tuple[str, str]]:
    """Every key of the three event types: the texts first (the deceleration
    kind before the times), then the numbers."""
    infos = {info.name: info for cls in EVENT_TYPES.values() for info in keys_of(cls)}
    order = {"str": 1, "float": 2}
    ranked = sorted(infos.values(), key=lambda info: 0 if get_origin(info.kind) is Literal else order[_column_type(info)])
    return [(info.name, _column_type(info)) for info in ranked]


_EVENT_LAYOUT = _event_columns()
_RECORDING_EVENT_LAYOUT = [(info.name, _column_type(info)) for info in keys_of(RecordingEvent)]

WINDOW_COLUMNS: List[Tuple[str, str]] = [(name, "str" if kind == "phrases" else kind) for name, kind, _ in _WINDOW_LAYOUT]
EVENT_COLUMNS: List[Tuple[str, str]] = [
    ("file", "str"),
    ("window_index", "int"),
    ("event_type", "str"),
    ("event_index", "int"),
] + _EVENT_LAYOUT
RECORDING_EVENT_COLUMNS: List[Tuple[str, str]] = [("file", "str"), ("event_index", "int")] + [
    (name, "str" if kind == "phrases" else kind) for name, kind in _RECORDING_EVENT_LAYOUT
]
ERROR_COLUMNS: List[Tuple[str, str]] = [("file", "str"), ("stage", "str"), ("message", "str")]
_EVENT_FIELDS = [name for name, _ in _EVENT_LAYOUT]
_RECORDING_EVENT_PHRASES = [kind == "phrases" for _, kind in _RECORDING_EVENT_LAYOUT]


def _window_rows(file: str, report: Dict[str, Any]) -> Iterator[Tuple[Any, ...]]:
    # The report's numbers already have their column's type (doubles are
    # always printed with decimals, counts without), so values are taken as
    # parsed; only the phrase lists are joined into one text.
    for index, window in enumerate(report["windows"]):
        row = []
        for name, kind, section in _WINDOW_LAYOUT:
            if section == _FILE:
                value: Any = file
            elif section == _INDEX:
                value = index
            elif section == _REPORT:
                value = report[name]
            elif section is None:
                value = window[name]
            else:
                value = window[section][name]
            if kind == "phrases":
                value = PHRASE_SEPARATOR.join(value)
            row.append(value)
        yield tuple(row)


def _event_rows(file: str, report: Dict[str, Any]) -> Iterator[Tuple[Any, ...]]:
    for window_index, window in enumerate(report["windows"]):
        for event_type in EVENT_TYPES:
            for event_index, event in enumerate(window[f"{event_type}_events"]):
                yield (file, window_index, event_type, event_index, *[event.get(name) for name in _EVENT_FIELDS])


def _recording_event_rows(file: str, report: Dict[str, Any]) -> Iterator[Tuple[Any, ...]]:
    for index, values in enumerate(recording_event_values(report)):
        cells = (PHRASE_SEPARATOR.join(v) if phrases else v for v, phrases in zip(values, _RECORDING_EVENT_PHRASES))
        yield (file, index, *cells)


# ---------------------------------------------------------------------------
# The unit of work, run on whichever process or worker gets it.


@dataclass(frozen=True)
class FileTask:
    """One input file: its position in the batch, its name in the tables, where to read it."""

    index: int
    file: str
    path: str
    kind: str
    options: Tuple[Tuple[str, Any], ...] = ()


@dataclass
class FileOutcome:
    index: int
    file: str
    windows: List[Tuple[Any, ...]] = field(default_factory=list)
    events: List[Tuple[Any, ...]] = field(default_factory=list)
    recording_events: List[Tuple[Any, ...]] = field(default_factory=list)
    error: Optional[Tuple[str, str]] = None  # (stage, message)
    native_seconds: float = 0.0
    worker_seconds: float = 0.0


def _describe(error: BaseException) -> str:
    text = str(error)
    if isinstance(error, OSError) and error.strerror:
        text = error.strerror if not error.filename else f"{error.strerror}: {error.filename}"
    return text or type(error).__name__


def analyze_file(task: FileTask) -> FileOutcome:
    """Read and analyze one file; every failure of the file is caught and
    returned as the outcome's error."""
    began = time.perf_counter()
    outcome = FileOutcome(task.index, task.file)
    options = dict(task.options)
    try:
        if task.kind == KIND_WFDB:
            text = read_wfdb(task.path)
        else:
            text = read_file(task.path, JSON_REQUEST if task.kind == KIND_JSON else CSV_EXPORT, name=task.file)
    except Exception as error:  # noqa: BLE001 - any read failure is this file's failure
        outcome.error = (STAGE_READ, _describe(error))
        outcome.worker_seconds = time.perf_counter() - began
        return outcome

    native_began = time.perf_counter()
    try:
        if task.kind == KIND_JSON:
            report_text = _native.analyze_json_string(text)
        else:
            report_text = _native.analyze_csv_string(text, **options)
    except ValueError as error:  # the options were checked before the batch began
        outcome.error = (STAGE_ANALYZE, str(error))
    except _native.InternalError as error:
        outcome.error = (STAGE_ANALYZE, f"internal error: {error}")
    outcome.native_seconds = time.perf_counter() - native_began
    if outcome.error is None:
        try:
            report = parse_report(report_text)
            outcome.windows = list(_window_rows(task.file, report))
            outcome.events = list(_event_rows(task.file, report))
            outcome.recording_events = list(_recording_event_rows(task.file, report))
        except Exception as error:  # noqa: BLE001 - a report this table layout does not fit
            outcome.windows, outcome.events, outcome.recording_events = [], [], []
            outcome.error = (STAGE_ANALYZE, f"cannot tabulate the report: {type(error).__name__}: {error}")
    outcome.worker_seconds = time.perf_counter() - began
    return outcome


# ---------------------------------------------------------------------------
# Finding the files.


@dataclass(frozen=True)
class _Entry:
    file: str
    path: str
    kind: str
    error: Optional[str] = None


def _kind_of_named_file(path: str) -> Tuple[str, Optional[str]]:
    suffix = os.path.splitext(path)[1].lower()
    if suffix == ".dat":
        return KIND_WFDB, "a WFDB record is read through its .hea header; name the .hea file instead"
    if suffix in (".json", ".hea"):
        return FOLDER_EXTENSIONS[suffix], None
    return KIND_CSV, None


def folder_files(folder: str) -> Iterator[str]:
    """Files with a known extension under `folder`, in sorted path order; hidden entries skipped."""
    for root, dirs, files in os.walk(folder):
        dirs[:] = sorted(d for d in dirs if not d.startswith("."))
        for name in sorted(files):
            if not name.startswith(".") and os.path.splitext(name)[1].lower() in FOLDER_EXTENSIONS:
                yield os.path.join(root, name)


def discover(inputs: Iterable[os.PathLike]) -> List[_Entry]:
    """The batch's files in input order; a file reached twice is analyzed once."""
    entries: List[_Entry] = []
    seen = set()

    def add(file: str, kind: str, error: Optional[str] = None) -> None:
        key = os.path.realpath(file)
        if error is None and key in seen:
            return
        seen.add(key)
        entries.append(_Entry(file, os.path.abspath(file), kind, error))

    for given in inputs:
        name = os.fspath(given)
        if os.path.isdir(name):
            for path in folder_files(name):
                add(path, FOLDER_EXTENSIONS[os.path.splitext(path)[1].lower()])
        elif os.path.exists(name):
            kind, error = _kind_of_named_file(name)
            add(name, kind, error)
        else:
            add(name, KIND_CSV, "no such file or folder")
    return entries


# ---------------------------------------------------------------------------
# Writing the tables. Rows arrive in input order; each table is written to a
# temporary name and renamed when complete, so an interrupted batch never
# leaves a table that looks finished.


def _format_float(value: Optional[float]) -> str:
    """Shortest text that reads back to the same double; never an exponent."""
    if value is None:
        return ""
    if isinstance(value, int):
        return str(value)
    if value.is_integer():
        if value == 0.0 and math.copysign(1.0, value) < 0:
            return "-0"
        if abs(value) < 1e16:
            return str(int(value))
    elif math.isnan(value):
        return "nan"
    elif math.isinf(value):
        return "inf" if value > 0 else "-inf"
    text = repr(value)
    if "e" in text:
        text = format(Decimal(text), "f")
    return text[:-2] if text.endswith(".0") else text


def _format_text(value: Optional[Any]) -> str:
    return "" if value is None else str(value)


def _format_bool(value: Optional[bool]) -> str:
    if value is None:
        return ""
    return "true" if value else "false"


_CELL_FORMATS: Dict[str, Callable[[Any], str]] = {
    "str": _format_text,
    "int": _format_text,
    "float": _format_float,
    "bool": _format_bool,
}


class _CsvTable:
    def __init__(self, path: Path, columns: Sequence[Tuple[str, str]]):
        self.path = path
        self._partial = path.with_name(path.name + ".partial")
        self._handle = open(self._partial, "w", encoding="utf-8", newline="")
        self._writer = csv.writer(self._handle, lineterminator="\n")
        self._writer.writerow([name for name, _ in columns])
        self._formats = [_CELL_FORMATS[kind] for _, kind in columns]

    def write(self, rows: Iterable[Tuple[Any, ...]]) -> None:
        formats = self._formats
        self._writer.writerows([f(v) for f, v in zip(formats, row)] for row in rows)

    def close(self) -> None:
        self._handle.close()
        os.replace(self._partial, self.path)

    def abandon(self) -> None:
        self._handle.close()
        self._partial.unlink(missing_ok=True)


def _arrow_type(pa, kind: str):
    return {"str": pa.string(), "int": pa.int64(), "float": pa.float64(), "bool": pa.bool_()}[kind]


class _ParquetTable:
    def __init__(self, path: Path, columns: Sequence[Tuple[str, str]]):
        import pyarrow as pa
        import pyarrow.parquet as pq

        self._pa = pa
        self.path = path
        self._partial = path.with_name(path.name + ".partial")
        self._schema = pa.schema([(name, _arrow_type(pa, kind)) for name, kind in columns])
        self._writer = pq.ParquetWriter(str(self._partial), self._schema)
        self._rows: List[Tuple[Any, ...]] = []

    def write(self, rows: Iterable[Tuple[Any, ...]]) -> None:
        self._rows.extend(rows)
        if len(self._rows) >= PARQUET_ROWS_PER_GROUP:
            self._flush()

    def _flush(self) -> None:
        columns = list(zip(*self._rows))
        arrays = [self._pa.array(list(values), type=f.type) for values, f in zip(columns, self._schema)]
        self._writer.write_table(self._pa.Table.from_arrays(arrays, schema=self._schema))
        self._rows = []

    def close(self) -> None:
        if self._rows:
            self._flush()
        self._writer.close()
        os.replace(self._partial, self.path)

    def abandon(self) -> None:
        self._writer.close()
        self._partial.unlink(missing_ok=True)


# ---------------------------------------------------------------------------
# Running the work.


@dataclass
class BatchResult:
    """What a batch did. The rows themselves are in the tables named by `tables`."""

    outdir: Path
    files: int
    failed: int
    windows: int
    events: int
    errors: List[Tuple[str, str, str]]  # (file, stage, message), in input order
    tables: Dict[str, Path]
    wall_seconds: float
    native_seconds: float  # summed over files: time inside the analysis calls
    worker_seconds: float  # summed over files: reading, analyzing and tabulating
    recording_events: int = 0

    @property
    def succeeded(self) -> int:
        return self.files - self.failed

    @property
    def outside_native_share(self) -> float:
        """Share of the workers' time spent outside the analysis calls (0 when nothing ran)."""
        if self.worker_seconds <= 0.0:
            return 0.0
        return max(0.0, 1.0 - self.native_seconds / self.worker_seconds)


def check_options(options: Dict[str, Any]) -> Tuple[Tuple[str, Any], ...]:
    """The analysis options merged with their defaults, checked as the analysis
    checks them (BatchError); an unknown option is a TypeError."""
    unknown = sorted(set(options) - set(OPTION_DEFAULTS))
    if unknown:
        raise TypeError(f"run_batch() got unexpected analysis options: {', '.join(unknown)}")
    merged = dict(OPTION_DEFAULTS)
    merged.update(options)
    # The same checks the analysis makes on every file, made once up front so
    # that a mistyped option is one error rather than one failure per file.
    try:
        _native.analyze_csv_string("Date\n", **merged)
    except (ValueError, OverflowError) as error:
        raise BatchError(str(error)) from error
    return tuple(merged.items())


def _progress_bar(total: int, show: Optional[bool]):
    if show is None:
        show = sys.stderr.isatty()
    if not show:
        return None
    try:
        from tqdm import tqdm
    except ImportError:
        return None
    return tqdm(total=total, unit="file", file=sys.stderr, desc="corvane batch")


def _run_in_process(tasks: List[FileTask]) -> Iterator[FileOutcome]:
    for task in tasks:
        yield analyze_file(task)


def _run_in_processes(tasks: List[FileTask], jobs: int) -> Iterator[FileOutcome]:
    broken: List[FileTask] = []
    with ProcessPoolExecutor(max_workers=jobs) as pool:
        futures = {pool.submit(analyze_file, task): task for task in tasks}
        for future in as_completed(futures):
            task = futures[future]
            try:
                yield future.result()
            except BrokenProcessPool:
                broken.append(task)
            except Exception as error:  # noqa: BLE001 - e.g. a result that cannot be sent back
                yield FileOutcome(task.index, task.file, error=(STAGE_WORKER, _describe(error)))
    # A worker process died (a crash takes every unfinished file of the pool
    # with it). Run those files again, each in a process of its own, so that
    # only the file that really kills its process is reported.
    for task in sorted(broken, key=lambda t: t.index):
        with ProcessPoolExecutor(max_workers=1) as alone:
            try:
                yield alone.submit(analyze_file, task).result()
            except BrokenProcessPool:
                yield FileOutcome(
                    task.index, task.file, error=(STAGE_WORKER, "the worker process died while analyzing this file")
                )


def _dask_client(dask: Any, jobs: int):
    try:
        from distributed import Client, LocalCluster
    except ImportError as error:
        raise BatchError("--dask needs Dask distributed: pip install 'corvane[dask]'") from error
    if isinstance(dask, Client):
        return dask, None, False  # made by the caller, left open for them
    if not isinstance(dask, str):
        raise BatchError(f"dask must be a scheduler address, 'local' or a distributed.Client, not {dask!r}")
    if dask == "local":
        cluster = LocalCluster(
            n_workers=jobs, threads_per_worker=1, processes=True, dashboard_address=None, silence_logs=logging.ERROR
        )
        return Client(cluster), cluster, True
    try:
        return Client(dask), None, True
    except Exception as error:  # noqa: BLE001 - connection failures come in many types
        raise BatchError(f"cannot connect to the Dask scheduler at {dask}: {_describe(error)}") from error


def _run_on_dask(tasks: List[FileTask], client) -> Iterator[FileOutcome]:
    from distributed import as_completed as dask_completed

    if not tasks:
        return
    futures = client.map(analyze_file, tasks, pure=False)
    owner = {future.key: task for future, task in zip(futures, tasks)}
    for future in dask_completed(futures):
        task = owner[future.key]
        try:
            yield future.result()
        except Exception as error:  # noqa: BLE001 - a worker lost or killed
            yield FileOutcome(task.index, task.file, error=(STAGE_WORKER, f"{type(error).__name__}: {_describe(error)}"))
        finally:
            future.release()


def run_batch(
    inputs: Iterable[os.PathLike],
    outdir: os.PathLike,
    *,
    jobs: int = 1,
    dask: Any = None,
    parquet: bool = False,
    progress: Optional[bool] = None,
    **options: Any,
) -> BatchResult:
    """Analyze every file of `inputs` and write the tables into `outdir`.

    `inputs` are files and folders (searched recursively for .csv, .json and
    .hea files). `jobs` is the number of processes: 1 runs everything in the
    calling process; with ``dask="local"`` it is the number of worker
    processes of the local Dask cluster. `dask` is a scheduler address,
    ``"local"``, or a ``distributed.Client`` to use (left open). `options`
    are the analysis options of ``analyze_csv_string`` (channel, ga_weeks,
    window_min, step_sec, last_only); JSON requests carry their own.
    `progress` shows a tqdm progress bar (default: when standard error is a
    terminal and tqdm is installed).

    Raises BatchError when the batch cannot run at all; a file that fails is
    listed in the errors table and counted in `BatchResult.failed`.
    """
    if isinstance(jobs, bool) or not isinstance(jobs, int) or jobs < 1:
        raise BatchError(f"jobs must be a whole number of at least 1, not {jobs!r}")
    if parquet:
        try:
            import pyarrow  # noqa: F401
            import pyarrow.parquet  # noqa: F401
        except ImportError as error:
            raise BatchError("--parquet needs pyarrow: pip install 'corvane[parquet]'") from error
    checked = check_options(options)
    began = time.perf_counter()

    entries = discover(inputs)
    out = Path(outdir)
    try:
        out.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        raise BatchError(f"cannot create the output folder {out}: {_describe(error)}") from error

    tasks: List[FileTask] = []
    ready: Dict[int, FileOutcome] = {}
    for index, entry in enumerate(entries):
        if entry.error is not None:
            ready[index] = FileOutcome(index, entry.file, error=(STAGE_READ, entry.error))
        else:
            tasks.append(FileTask(index, entry.file, entry.path, entry.kind, checked))

    table_kind = _ParquetTable if parquet else _CsvTable
    extension = ".parquet" if parquet else ".csv"
    client = cluster = None
    close_client = False
    opened: List[Any] = []
    bar = None
    try:
        if dask is not None:
            client, cluster, close_client = _dask_client(dask, jobs)
            outcomes: Iterator[FileOutcome] = _run_on_dask(tasks, client)
        elif jobs > 1 and len(tasks) > 1:
            outcomes = _run_in_processes(tasks, min(jobs, len(tasks)))
        else:
            outcomes = _run_in_process(tasks)

        try:
            windows_table = table_kind(out / f"windows{extension}", WINDOW_COLUMNS)
            opened.append(windows_table)
            events_table = table_kind(out / f"events{extension}", EVENT_COLUMNS)
            opened.append(events_table)
            recording_events_table = table_kind(out / f"recording_events{extension}", RECORDING_EVENT_COLUMNS)
            opened.append(recording_events_table)
            errors_table = _CsvTable(out / "errors.csv", ERROR_COLUMNS)
            opened.append(errors_table)
        except OSError as error:
            raise BatchError(f"cannot write into {out}: {_describe(error)}") from error

        counts = {"windows": 0, "events": 0, "recording_events": 0}
        errors: List[Tuple[str, str, str]] = []
        native = worker = 0.0
        next_index = 0
        bar = _progress_bar(len(entries), progress)

        def flush() -> None:
            nonlocal next_index
            while next_index in ready:
                outcome = ready.pop(next_index)
                if outcome.error is not None:
                    row = (outcome.file, *outcome.error)
                    errors.append(row)
                    errors_table.write([row])
                else:
                    windows_table.write(outcome.windows)
                    events_table.write(outcome.events)
                    recording_events_table.write(outcome.recording_events)
                    counts["windows"] += len(outcome.windows)
                    counts["events"] += len(outcome.events)
                    counts["recording_events"] += len(outcome.recording_events)
                next_index += 1

        if bar is not None:
            bar.update(len(ready))
        flush()
        for outcome in outcomes:
            ready[outcome.index] = outcome
            native += outcome.native_seconds
            worker += outcome.worker_seconds
            if bar is not None:
                bar.update(1)
            flush()
        if ready or next_index != len(entries):  # pragma: no cover - a lost outcome is a defect here
            raise RuntimeError("batch finished with files unaccounted for")
        for table in opened:
            table.close()
        opened.clear()
    finally:
        if bar is not None:
            bar.close()
        for table in opened:
            table.abandon()
        if close_client and client is not None:
            client.close()
            if cluster is not None:
                cluster.close()

    return BatchResult(
        outdir=out,
        files=len(entries),
        failed=len(errors),
        windows=counts["windows"],
        events=counts["events"],
        errors=errors,
        tables={
            "windows": out / f"windows{extension}",
            "events": out / f"events{extension}",
            "recording_events": out / f"recording_events{extension}",
            "errors": out / "errors.csv",
        },
        recording_events=counts["recording_events"],
        wall_seconds=time.perf_counter() - began,
        native_seconds=native,
        worker_seconds=worker,
    )
