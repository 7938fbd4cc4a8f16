"""Batch analysis of many recordings into flat tables.

``run_batch`` analyses every recording it is given (monitor CSV exports, JSON
analysis requests and WFDB records; folders are searched recursively) and
writes three tables into an output folder:

- ``windows.csv``: one row per analysis window: the file, the window's index
  in its report, its span, category, alert level, baseline and variability
  with their classes, the Category III diagnostics, every feature and
  data-quality figure, and the phrase lists joined with "; ".
- ``events.csv``: one row per acceleration, deceleration and contraction.
- ``recording_events.csv``: one row per event of the recording, each once
  however many overlapping windows reported it (``Report.recording_events``).
- ``errors.csv``: one row per file that could not be analysed, with the stage
  that failed (read, analyse, worker) and the message.

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

import argparse
import csv
import json
import math
import os
import re
import sys
import time
from concurrent.futures import ProcessPoolExecutor, as_completed
from concurrent.futures.process import BrokenProcessPool
from dataclasses import dataclass, field
from decimal import Decimal
from pathlib import Path
from typing import Any, Callable, Dict, Iterable, Iterator, List, Optional, Sequence, Tuple

from corvane._text_files import CSV_EXPORT, JSON_REQUEST, read_file

__all__ = [
    "BatchError",
    "BatchResult",
    "EVENT_COLUMNS",
    "ERROR_COLUMNS",
    "RECORDING_EVENT_COLUMNS",
    "WINDOW_COLUMNS",
    "add_batch_command",
    "analyse_file",
    "discover",
    "run_batch",
]

KIND_CSV = "csv"
KIND_JSON = "json"
KIND_WFDB = "wfdb"

# Extensions picked up when a folder is searched; a file named explicitly is
# read whatever its extension (JSON by .json, WFDB by .hea, CSV otherwise).
FOLDER_EXTENSIONS = {".csv": KIND_CSV, ".json": KIND_JSON, ".hea": KIND_WFDB}

STAGE_READ = "read"
STAGE_ANALYSE = "analyse"
STAGE_WORKER = "worker"

# Analysis options accepted by run_batch, with the defaults of the analysis.
OPTION_DEFAULTS: Dict[str, Any] = {
    "channel": "HR1",
    "ga_weeks": None,
    "window_min": None,
    "step_sec": 60,
    "last_only": False,
}

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

_FEATURES: List[Tuple[str, str]] = [
    ("fetal_hr_min_bpm", "float"),
    ("fetal_hr_p05_bpm", "float"),
    ("fetal_hr_mean_bpm", "float"),
    ("fetal_hr_median_bpm", "float"),
    ("fetal_hr_p95_bpm", "float"),
    ("fetal_hr_max_bpm", "float"),
    ("fetal_hr_std_dev_bpm", "float"),
    ("baseline_delta_mean_bpm", "float"),
    ("fetal_hr_seconds_below_110", "int"),
    ("fetal_hr_seconds_110_to_160", "int"),
    ("fetal_hr_seconds_above_160", "int"),
    ("fetal_hr_percent_below_110", "float"),
    ("fetal_hr_percent_110_to_160", "float"),
    ("fetal_hr_percent_above_160", "float"),
    ("acceleration_count", "int"),
    ("deceleration_count", "int"),
    ("prolonged_deceleration_count", "int"),
    ("total_deceleration_seconds", "float"),
    ("deepest_deceleration_nadir_bpm", "float"),
    ("max_deceleration_depth_bpm", "float"),
    ("contraction_count", "int"),
    ("contractions_per_10_min", "float"),
    ("toco_mean", "float"),
    ("toco_max", "float"),
    ("maternal_hr_mean_bpm", "float"),
    ("fetal_maternal_mean_difference_bpm", "float"),
]

# Sources outside the window object.
_FILE = "file"
_INDEX = "index"
_REPORT = "report"
_DIAGNOSTICS = "category_iii_diagnostics"

_WINDOW_LAYOUT: List[Tuple[str, str, Optional[str]]] = (
    [
        ("file", "str", _FILE),
        ("window_index", "int", _INDEX),
        ("channel", "str", _REPORT),
        ("analysis_mode", "str", _REPORT),
        ("window_start", "str", None),
        ("window_end", "str", None),
        ("duration_seconds", "float", None),
        ("classification", "str", None),
        ("alert_level", "str", None),
        ("baseline_bpm", "int", None),
        ("baseline_class", "str", None),
        ("variability_bpm", "float", None),
        ("variability_class", "str", None),
        ("sinusoidal_pattern", "bool", None),
        ("tachysystole", "bool", None),
        ("cat_iii_candidate", "bool", _DIAGNOSTICS),
        ("variability_near_absent", "bool", _DIAGNOSTICS),
        ("recurrent_late_candidate", "bool", _DIAGNOSTICS),
        ("recurrent_variable_candidate", "bool", _DIAGNOSTICS),
        ("toco_recurrence_confidence", "str", _DIAGNOSTICS),
        ("late_decel_timing_confidence", "str", _DIAGNOSTICS),
    ]
    + [(name, kind, "features") for name, kind in _FEATURES]
    + [
        ("expected_seconds", "int", "data_quality"),
        ("raw_samples", "int", "data_quality"),
        ("fetal_usable_ratio", "float", "data_quality"),
        ("maternal_usable_ratio", "float", "data_quality"),
        ("toco_usable_ratio", "float", "data_quality"),
        ("suspected_maternal_capture_ratio", "float", "data_quality"),
        ("reasons", "phrases", None),
        ("high_risk_features", "phrases", None),
        ("protective_features", "phrases", None),
        ("alert_suppression_reasons", "phrases", None),
        ("limitations", "phrases", None),
        ("cat_iii_blockers", "phrases", _DIAGNOSTICS),
    ]
)

# The event arrays of a window and the event type each row is labelled with.
_EVENT_ARRAYS = (
    ("acceleration", "acceleration_events"),
    ("deceleration", "deceleration_events"),
    ("contraction", "contraction_events"),
)

_EVENT_LAYOUT: List[Tuple[str, str]] = [
    ("file", "str"),
    ("window_index", "int"),
    ("event_type", "str"),
    ("event_index", "int"),
    ("kind", "str"),
    ("start", "str"),
    ("end", "str"),
    ("peak", "str"),
    ("duration_seconds", "float"),
    ("peak_bpm", "float"),
    ("nadir_bpm", "float"),
    ("depth_bpm", "float"),
    ("onset_to_nadir_seconds", "float"),
    ("peak_toco", "float"),
]
_EVENT_FIELDS = [name for name, _ in _EVENT_LAYOUT[4:]]

WINDOW_COLUMNS: List[Tuple[str, str]] = [(name, "str" if kind == "phrases" else kind) for name, kind, _ in _WINDOW_LAYOUT]
EVENT_COLUMNS: List[Tuple[str, str]] = list(_EVENT_LAYOUT)
# The fields of corvane.RecordingEvent in their order (the instants are
# properties: the texts say them).
_RECORDING_EVENT_LAYOUT: List[Tuple[str, str]] = [
    ("kind", "str"),
    ("deceleration_kind", "str"),
    ("start", "str"),
    ("peak", "str"),
    ("end", "str"),
    ("duration_seconds", "float"),
    ("peak_bpm", "float"),
    ("nadir_bpm", "float"),
    ("depth_bpm", "float"),
    ("onset_to_nadir_seconds", "float"),
    ("peak_toco", "float"),
    ("first_window", "int"),
    ("last_window", "int"),
    ("window_count", "int"),
    ("kinds_seen", "str"),
    ("cut_at_window_edge", "bool"),
]
RECORDING_EVENT_COLUMNS: List[Tuple[str, str]] = [("file", "str"), ("event_index", "int")] + _RECORDING_EVENT_LAYOUT
ERROR_COLUMNS: List[Tuple[str, str]] = [("file", "str"), ("stage", "str"), ("message", "str")]


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
        for event_type, key in _EVENT_ARRAYS:
            for event_index, event in enumerate(window[key]):
                yield (file, window_index, event_type, event_index, *[event.get(name) for name in _EVENT_FIELDS])


_KINDS_SEEN = [name for name, _ in _RECORDING_EVENT_LAYOUT].index("kinds_seen")


def _recording_event_rows(file: str, report: Dict[str, Any]) -> Iterator[Tuple[Any, ...]]:
    from corvane._events import recording_event_values

    for index, values in enumerate(recording_event_values(report)):
        yield (file, index, *values[:_KINDS_SEEN], PHRASE_SEPARATOR.join(values[_KINDS_SEEN]), *values[_KINDS_SEEN + 1 :])


# The report writes a non-finite number as NaN, inf or -inf, alone after its
# key. Python's JSON reader knows NaN, Infinity and -Infinity only.
_NON_FINITE = re.compile(r'^(\s*"[^"\\]*": )(-?)inf(,?)$', re.MULTILINE)


def parse_report(text: str) -> Dict[str, Any]:
    """The report text as Python objects (non-finite numbers become float inf/nan)."""
    try:
        return json.loads(text)
    except json.JSONDecodeError:
        return json.loads(_NON_FINITE.sub(r"\1\2Infinity\3", text))


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


def analyse_file(task: FileTask) -> FileOutcome:
    """Read and analyse one file; every failure is caught and returned as the outcome's error."""
    from corvane import _native

    began = time.perf_counter()
    outcome = FileOutcome(task.index, task.file)
    options = dict(task.options)
    try:
        if task.kind == KIND_WFDB:
            from corvane.wfdb_input import read_wfdb

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
    except (ValueError, TypeError, OverflowError) as error:
        outcome.error = (STAGE_ANALYSE, str(error))
    except _native.InternalError as error:
        outcome.error = (STAGE_ANALYSE, f"internal error: {error}")
    outcome.native_seconds = time.perf_counter() - native_began
    if outcome.error is None:
        try:
            report = parse_report(report_text)
            outcome.windows = list(_window_rows(task.file, report))
            outcome.events = list(_event_rows(task.file, report))
            outcome.recording_events = list(_recording_event_rows(task.file, report))
        except Exception as error:  # noqa: BLE001 - a report this table layout does not fit
            outcome.windows, outcome.events, outcome.recording_events = [], [], []
            outcome.error = (STAGE_ANALYSE, f"cannot tabulate the report: {type(error).__name__}: {error}")
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


def _folder_files(folder: str) -> Iterator[str]:
    """Files with a known extension under `folder`, in sorted path order; hidden entries skipped."""
    for root, dirs, files in os.walk(folder):
        dirs[:] = sorted(d for d in dirs if not d.startswith("."))
        for name in sorted(files):
            if not name.startswith(".") and os.path.splitext(name)[1].lower() in FOLDER_EXTENSIONS:
                yield os.path.join(root, name)


def discover(inputs: Iterable[os.PathLike]) -> List[_Entry]:
    """The batch's files in input order; a file reached twice is analysed once."""
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
            for path in _folder_files(name):
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
    worker_seconds: float  # summed over files: reading, analysing and tabulating
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


def _checked_options(options: Dict[str, Any]) -> Tuple[Tuple[str, Any], ...]:
    unknown = sorted(set(options) - set(OPTION_DEFAULTS))
    if unknown:
        raise TypeError(f"run_batch() got unexpected analysis options: {', '.join(unknown)}")
    merged = dict(OPTION_DEFAULTS)
    merged.update(options)
    from corvane import _native

    # The same checks the analysis makes on every file, made once up front so
    # that a mistyped option is one error rather than one failure per file.
    try:
        _native.analyze_csv_string("Date\n", **merged)
    except (ValueError, TypeError, OverflowError) as error:
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
        yield analyse_file(task)


def _run_in_processes(tasks: List[FileTask], jobs: int) -> Iterator[FileOutcome]:
    broken: List[FileTask] = []
    with ProcessPoolExecutor(max_workers=jobs) as pool:
        futures = {pool.submit(analyse_file, task): task for task in tasks}
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
                yield alone.submit(analyse_file, task).result()
            except BrokenProcessPool:
                yield FileOutcome(
                    task.index, task.file, error=(STAGE_WORKER, "the worker process died while analysing this file")
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
        import logging

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
    futures = client.map(analyse_file, tasks, pure=False)
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
    """Analyse every file of `inputs` and write the tables into `outdir`.

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
    checked = _checked_options(options)
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


# ---------------------------------------------------------------------------
# Command line: `corvane batch`.

_EXAMPLES = """\
examples:
  corvane batch recordings/ -o results/
  corvane batch recordings/ more.csv request.json record.hea -o results/ --jobs 4
  corvane batch recordings/ -o results/ --window-min 20 --step-sec 300 --parquet
  corvane batch recordings/ -o results/ --dask local --jobs 2
  corvane batch recordings/ -o results/ --dask tcp://scheduler:8786

Folders are searched recursively for .csv, .json and .hea (WFDB) files. The
results are OUTDIR/windows.csv (one row per window), OUTDIR/events.csv (one
row per acceleration, deceleration and contraction of each window),
OUTDIR/recording_events.csv (each event of a recording once, however many
windows saw it) and OUTDIR/errors.csv (one row per file that failed). A failed file does not stop the batch: the
exit status is 0 once the batch has run, and the summary on standard error
says how many files failed. JSON requests carry their own analysis options.
"""


def _positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid whole number: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, not {value}")
    return value


def add_batch_command(commands) -> None:
    """Register `corvane batch` on the CLI's subcommand parsers."""
    batch = commands.add_parser(
        "batch",
        help="analyse many recordings into windows, events and errors tables",
        description="Analyse many recordings (monitor CSV exports, JSON requests, WFDB records) "
        "and write one table of windows, one of events and one of failures.",
        epilog=_EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    batch.add_argument("inputs", nargs="+", metavar="INPUT", help="files and folders to analyse")
    batch.add_argument("-o", "--outdir", required=True, metavar="OUTDIR", help="folder for the result tables")
    batch.add_argument(
        "--jobs",
        type=_positive_int,
        default=None,
        metavar="N",
        help="processes to run (default 1, in this process); with --dask local, "
        "the number of Dask workers (default: one per CPU)",
    )
    batch.add_argument(
        "--dask",
        default=None,
        metavar="ADDRESS",
        help="run on a Dask distributed cluster: a scheduler address, or 'local' for a local cluster",
    )
    batch.add_argument("--parquet", action="store_true", help="write the windows and event tables as Parquet (needs pyarrow)")
    batch.add_argument("--no-progress", action="store_true", help="no progress bar, even on a terminal")
    from corvane.report_commands import add_option_flags

    add_option_flags(batch)
    batch.set_defaults(handler=_batch)


def _input_problem(given: str) -> Optional[str]:
    """Why an input names nothing to analyse, or None."""
    if not os.path.exists(given):
        return f"{given}: no such file or folder"
    if os.path.isdir(given) and next(_folder_files(given), None) is None:
        return f"{given}: the folder holds no recordings ({', '.join(FOLDER_EXTENSIONS)} files)"
    return None


def jobs_for(jobs: Optional[int], dask: Optional[str]) -> int:
    """The --jobs value to run with: by default 1, or one per CPU for a local Dask cluster."""
    if dask is not None and dask != "local" and jobs is not None:
        raise BatchError("--jobs sets the size of a local cluster; a remote Dask cluster has its own workers")
    if jobs is None:
        return (os.cpu_count() or 1) if dask == "local" else 1
    return jobs


def _batch(args: argparse.Namespace) -> int:
    from corvane._cli_input import CommandError, check_options
    from corvane.cli import fail

    try:
        jobs = jobs_for(args.jobs, args.dask)
        check_options(args)
        options = {name: getattr(args, name) for name in OPTION_DEFAULTS}
        _checked_options(options)
    except (CommandError, BatchError) as error:
        return fail(str(error))
    # A mistyped input is a usage error, found before any file runs.
    for given in args.inputs:
        problem = _input_problem(given)
        if problem is not None:
            return fail(problem)
    try:
        result = run_batch(
            args.inputs,
            args.outdir,
            jobs=jobs,
            dask=args.dask,
            parquet=args.parquet,
            progress=False if args.no_progress else None,
            **options,
        )
    except BatchError as error:
        return fail(str(error))
    summary = (
        f"corvane batch: {result.files} files, {result.succeeded} analysed, {result.failed} failed; "
        f"{result.windows} windows and {result.events} events in {result.outdir} ({result.wall_seconds:.1f} s)"
    )
    if result.failed:
        summary += f"; failures are listed in {result.tables['errors']}"
    print(summary, file=sys.stderr)
    return 0
