"""WFDB records (``.hea`` header + ``.dat`` samples) as monitor CSV text.

Research CTG databases such as CTU-UHB are published as WFDB records: a fetal
heart rate signal and a uterine contraction signal at 4 Hz, stored as integers
with a gain and baseline in the header. ``read_wfdb`` turns such a record into
the monitor CSV export text the analysis reads, so that a record and its CSV
conversion give the same samples and therefore the same report:

- the header is ``Date`` followed by the monitor columns the record has, in the
  order HR1, HR2, HR3, HRM, TOCO. Signals are matched by name (see
  ``SIGNAL_COLUMNS``): FHR becomes HR1, UC becomes TOCO, a maternal heart rate
  (MHR) becomes HRM. Signals with other names are left out; when two signals
  match one column, the first one is used.
- sample *n* is stamped ``start + n / fs`` as ``YYYY-MM-DD HH:MM:SS.mmm``
  (250 ms steps at 4 Hz). The start is the header's base date and time; a
  header without a date (CTU-UHB headers have none) starts on
  ``DEFAULT_START`` (2000-01-01 00:00:00), keeping the header's time of day
  if it has one. Pass ``start=`` to choose the start yourself.
- values are physical units, ``(digital - baseline) / gain`` as the wfdb
  package computes them, written in the shortest decimal text that reads back
  to the same double (``150.5``, ``151.25``, ``7``; never an exponent). A
  fetal heart rate of 0, the databases' "no signal" value, stays 0: the
  analysis treats it as unusable. A WFDB invalid sample (the format's reserved
  digital value) becomes an empty cell, that is an absent value.

``read_wfdb`` returns a ``WfdbRecord``: the CSV text itself (a ``str``, so it
goes wherever the text went before) carrying the record's name and the
header's clinical and outcome fields (``record.clinical``, see
``corvane._clinical``).

Needs the optional ``wfdb`` package (``pip install corvane[wfdb]``).
"""

from __future__ import annotations

import datetime as _dt
import math
import os
import re
import warnings
from decimal import Decimal
from fractions import Fraction
from typing import Dict, List, Optional, Sequence, Union

from corvane._clinical import ClinicalFields, parse_clinical
from corvane.report import Report, analyze_csv

__all__ = ["DEFAULT_START", "SIGNAL_COLUMNS", "WfdbRecord", "read_wfdb", "analyze_wfdb", "format_value"]

# Start of a record whose header gives no base date: a fixed, recognisable day.
DEFAULT_START = _dt.datetime(2000, 1, 1, 0, 0, 0)

# Monitor columns in the order they are written after Date.
COLUMN_ORDER = ("HR1", "HR2", "HR3", "HRM", "TOCO")

# WFDB signal names (upper case, letters and digits only) and the monitor
# column each fills. CTU-UHB names its signals FHR and UC.
SIGNAL_COLUMNS: Dict[str, str] = {
    "FHR": "HR1",
    "FHR1": "HR1",
    "HR1": "HR1",
    "FHR2": "HR2",
    "HR2": "HR2",
    "FHR3": "HR3",
    "HR3": "HR3",
    "MHR": "HRM",
    "HRM": "HRM",
    "MATERNALHR": "HRM",
    "UC": "TOCO",
    "TOCO": "TOCO",
    "UA": "TOCO",
}

# Timestamps carry milliseconds: a faster sampling would stamp two samples
# with the same time.
MAX_SAMPLING_HZ = 1000
_MS_PER_SECOND = 1000
_MS_PER_DAY = 86_400_000
_UNIX_EPOCH = _dt.datetime(1970, 1, 1)

PathLike = Union[str, "os.PathLike[str]"]


class WfdbRecord(str):
    """A WFDB record read as monitor CSV export text, with its header's clinical fields.

    The object is the CSV text (a ``str`` subclass): it can be analyzed,
    written or compared like the text. ``text`` (or ``csv_text``) gives it as
    a plain ``str``; ``name`` is the record name without folder; ``clinical``
    maps the header's field names (``pH``, ``BDecf``, ``Apgar5``,
    ``Gest. weeks``, ...) to numbers, ``None`` where the header says NaN.
    """

    name: str
    clinical: ClinicalFields

    def __new__(cls, text: str, name: str = "", clinical: Optional[ClinicalFields] = None) -> "WfdbRecord":
        record = super().__new__(cls, text)
        record.name = name
        record.clinical = dict(clinical or {})  # type: ignore[assignment]
        return record

    @property
    def text(self) -> str:
        """The monitor CSV text as a plain ``str``."""
        return str.__str__(self)

    @property
    def csv_text(self) -> str:
        """The monitor CSV text as a plain ``str`` (same as ``text``)."""
        return str.__str__(self)


def _import_wfdb():
    try:
        with warnings.catch_warnings():
            # Importing wfdb raises pandas deprecation warnings about wfdb's own code.
            warnings.simplefilter("ignore", DeprecationWarning)
            import wfdb  # noqa: PLC0415 - optional dependency, loaded on first use
    except ImportError as error:  # pragma: no cover - depends on the environment
        raise ImportError(
            "reading WFDB records needs the wfdb package: pip install 'corvane[wfdb]'"
        ) from error
    return wfdb


def record_name(record: PathLike) -> str:
    """The WFDB record name (path without extension) for a record or its ``.hea`` file."""
    name = os.fspath(record)
    if name.lower().endswith(".hea"):
        name = name[: -len(".hea")]
    return name


def _normalised_signal_name(name: str) -> str:
    return re.sub(r"[^0-9A-Z]", "", str(name).upper())


def format_value(value: float) -> str:
    """A physical value as the shortest exact decimal text; NaN (invalid sample) is empty.

    ``repr`` gives the shortest digits that read back to the same double; an
    exponent form (1e-05, 1.5e+16) is spelled out positionally, because the
    monitor CSV export never uses exponents.
    """
    if math.isnan(value):
        return ""
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    if value == 0.0:
        return "-0" if math.copysign(1.0, value) < 0 else "0"
    text = repr(value)
    if "e" in text or "E" in text:
        text = format(Decimal(text), "f")
    if text.endswith(".0"):
        text = text[:-2]
    return text


def _format_column(values) -> List[str]:
    """Texts of one signal column, each distinct double formatted once.

    Distinct values are found on the doubles' bit patterns so that -0.0 and
    0.0 keep their own texts.
    """
    import numpy as np

    column = np.ascontiguousarray(values, dtype=np.float64)
    bits = column.view(np.int64)
    distinct, inverse = np.unique(bits, return_inverse=True)
    texts = np.array([format_value(float(v)) for v in distinct.view(np.float64)], dtype=object)
    return texts[inverse.reshape(-1)].tolist()


def _start_of(record, start) -> _dt.datetime:
    if start is not None:
        if isinstance(start, str):
            try:
                start = _dt.datetime.fromisoformat(start.strip())
            except ValueError as error:
                raise ValueError(f"invalid start time {start!r}: expected YYYY-MM-DD HH:MM:SS[.mmm]") from error
        elif isinstance(start, _dt.date) and not isinstance(start, _dt.datetime):
            start = _dt.datetime.combine(start, _dt.time())
        if not isinstance(start, _dt.datetime):
            raise TypeError(f"start must be a datetime or a text, not {type(start).__name__}")
        if start.tzinfo is not None:
            # The CSV timestamps are written without offset, which reads as UTC.
            start = start.astimezone(_dt.timezone.utc).replace(tzinfo=None)
        return start
    base_date = getattr(record, "base_date", None)
    base_time = getattr(record, "base_time", None)
    day = base_date if base_date is not None else DEFAULT_START.date()
    time_of_day = base_time if base_time is not None else DEFAULT_START.time()
    return _dt.datetime.combine(day, time_of_day)


def _offsets_ms(count: int, fs: float) -> List[int]:
    """Millisecond offset of each sample: n * 1000 / fs, rounded half up, exactly."""
    if fs is None or not math.isfinite(fs) or fs <= 0:
        raise ValueError(f"record has an invalid sampling frequency: {fs}")
    if fs > MAX_SAMPLING_HZ:
        raise ValueError(
            f"sampling frequency {fs:g} Hz is above {MAX_SAMPLING_HZ} Hz: "
            "samples would share a millisecond timestamp"
        )
    step = Fraction(_MS_PER_SECOND) / Fraction(fs)
    if step.denominator == 1:
        whole = step.numerator
        return [n * whole for n in range(count)]
    num, den = step.numerator, step.denominator
    return [(2 * n * num + den) // (2 * den) for n in range(count)]


def _timestamps(start: _dt.datetime, offsets: Sequence[int]) -> List[str]:
    start_ms = (start - _UNIX_EPOCH) // _dt.timedelta(milliseconds=1)
    texts: List[str] = []
    day_text = ""
    current_day = None
    for offset in offsets:
        ms = start_ms + offset
        day, ms_of_day = divmod(ms, _MS_PER_DAY)
        if day != current_day:
            try:
                date = _UNIX_EPOCH + _dt.timedelta(days=day)
            except OverflowError as error:
                raise ValueError("the recording's timestamps fall outside the years 1 to 9999") from error
            day_text = f"{date.year:04d}-{date.month:02d}-{date.day:02d} "
            current_day = day
        seconds, millis = divmod(ms_of_day, _MS_PER_SECOND)
        minutes, second = divmod(seconds, 60)
        hour, minute = divmod(minutes, 60)
        texts.append(f"{day_text}{hour:02d}:{minute:02d}:{second:02d}.{millis:03d}")
    return texts


def read_wfdb(record: PathLike, *, start: Optional[Union[_dt.datetime, str]] = None) -> WfdbRecord:
    """Read a WFDB record and return it as monitor CSV export text (a ``WfdbRecord``).

    ``record`` is the record's path without extension, or its ``.hea`` file;
    the ``.dat`` file is found through the header, as WFDB does. ``start``
    overrides the time of the first sample (a ``datetime`` or a text such as
    ``"2024-01-01 09:00:00"``). Raises ``ValueError`` for a record that cannot
    be expressed as monitor samples, and the wfdb package's own errors (for
    example ``FileNotFoundError``) when the files cannot be read. The
    header's clinical fields are in the result's ``clinical`` mapping.
    """
    wfdb = _import_wfdb()
    name = record_name(record)
    with warnings.catch_warnings():
        # The wfdb package's own use of pandas raises deprecation warnings on
        # every read; they say nothing about the record.
        warnings.simplefilter("ignore", DeprecationWarning)
        warnings.simplefilter("ignore", FutureWarning)
        rec = wfdb.rdrecord(name, physical=True, return_res=64)
    signal_names = list(rec.sig_name or [])
    frames = rec.samps_per_frame or []
    for signal, per_frame in zip(signal_names, frames):
        if per_frame != 1:
            raise ValueError(
                f"signal {signal} stores {per_frame} samples per frame; only one sample per frame is supported"
            )

    chosen: Dict[str, int] = {}
    for index, signal in enumerate(signal_names):
        column = SIGNAL_COLUMNS.get(_normalised_signal_name(signal))
        if column is not None and column not in chosen:
            chosen[column] = index
    if not chosen:
        listed = ", ".join(signal_names) if signal_names else "none"
        raise ValueError(
            f"record {os.path.basename(name)} has no heart rate or uterine activity signal "
            f"(signals: {listed}; expected names such as FHR, MHR, UC)"
        )
    columns = [column for column in COLUMN_ORDER if column in chosen]

    count = int(rec.sig_len or 0)
    stamps = _timestamps(_start_of(rec, start), _offsets_ms(count, float(rec.fs)))
    cells = [_format_column(rec.p_signal[:, chosen[column]]) for column in columns] if count else []

    lines = ["Date," + ",".join(columns)]
    lines.extend(",".join(row) for row in zip(stamps, *cells))
    return WfdbRecord("\n".join(lines) + "\n", os.path.basename(name), parse_clinical(rec.comments or []))


def analyze_wfdb(
    record: PathLike,
    *,
    start: Optional[Union[_dt.datetime, str]] = None,
    channel: str = "HR1",
    ga_weeks: Optional[int] = None,
    window_min: Optional[int] = None,
    step_sec: int = 60,
    last_only: bool = False,
) -> Report:
    """Analyze a WFDB record; returns the :class:`Report` of its CSV text (the
    same report, byte for byte, as for the record's CSV conversion)."""
    return analyze_csv(
        read_wfdb(record, start=start),
        channel=channel,
        ga_weeks=ga_weeks,
        window_min=window_min,
        step_sec=step_sec,
        last_only=last_only,
    )
