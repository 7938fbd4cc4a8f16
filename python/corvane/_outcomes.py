"""Outcomes of recordings: the outcome table, matching recordings to it, and outcome splits.

An outcome source is either a CSV table with a ``record`` column (the other
columns are the outcome fields; empty cells, ``NaN`` and ``NA`` are missing,
numbers become numbers) or a folder of WFDB headers, whose clinical fields
are read from each ``.hea`` file named after its record.

A recording matches the record whose name equals its file name without
extension, or ends it after an underscore: ``ctu_uhb_1002.csv`` and
``1002.hea`` both match record ``1002``. When several names end it, the
longest wins (``uhb_1002`` before ``1002``).

A split is two expressions over the outcome fields, such as ``pH<7.05`` for
the positive group and ``pH>=7.15`` for the negative one: one or more
comparisons ``FIELD OP NUMBER`` (OP one of < <= > >= == !=) joined with
``&`` or ``and``. A recording whose fields are missing for an expression
is in neither group; one that satisfies both expressions is an error.
"""

from __future__ import annotations

import csv
import math
import operator
import os
import re
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Callable, Dict, Mapping, Optional, Tuple

from corvane._clinical import CLINICAL_FIELDS, read_clinical

__all__ = [
    "DEFAULT_NEGATIVE",
    "DEFAULT_POSITIVE",
    "NEGATIVE",
    "POSITIVE",
    "OutcomeError",
    "Outcomes",
    "Split",
    "match_record",
    "read_outcomes",
    "recording_stem",
]

RECORD_COLUMN = "record"
DEFAULT_POSITIVE = "pH<7.05"
DEFAULT_NEGATIVE = "pH>=7.15"
POSITIVE = "positive"
NEGATIVE = "negative"

_MISSING_CELLS = {"", "nan", "na", "n/a", "null", "none"}
_INTEGER = re.compile(r"[+-]?\d+")


class OutcomeError(ValueError):
    """The outcomes or the split cannot be used (unreadable table, duplicate records, bad expression)."""


@dataclass(frozen=True)
class Outcomes:
    """Outcome fields by record name; `fields` in the source's column order."""

    source: str
    fields: Tuple[str, ...]
    rows: Mapping[str, Mapping[str, Any]]


def _cell(text: str) -> Any:
    text = text.strip()
    if text.lower() in _MISSING_CELLS:
        return None
    if _INTEGER.fullmatch(text):
        return int(text)
    try:
        number = float(text)
    except ValueError:
        return text
    return number if math.isfinite(number) else None


def _read_table(path: Path) -> Outcomes:
    try:
        with open(path, "r", encoding="utf-8-sig", newline="") as handle:
            table = list(csv.reader(handle))
    except (OSError, UnicodeDecodeError) as error:
        raise OutcomeError(f"cannot read the outcome table {path}: {error}") from None
    if not table:
        raise OutcomeError(f"the outcome table {path} is empty")
    header = [name.strip() for name in table[0]]
    if RECORD_COLUMN not in header:
        raise OutcomeError(f"the outcome table {path} has no '{RECORD_COLUMN}' column")
    key = header.index(RECORD_COLUMN)
    fields = tuple(name for index, name in enumerate(header) if index != key and name)
    rows: Dict[str, Dict[str, Any]] = {}
    first_line: Dict[str, int] = {}
    for line, cells in enumerate(table[1:], start=2):
        if not any(cell.strip() for cell in cells):
            continue
        record = cells[key].strip() if key < len(cells) else ""
        if not record:
            raise OutcomeError(f"line {line} of the outcome table {path} has no record name")
        if record in rows:
            raise OutcomeError(
                f"record {record} appears twice in the outcome table {path} (lines {first_line[record]} and {line})"
            )
        first_line[record] = line
        rows[record] = {
            name: _cell(cells[index]) if index < len(cells) else None
            for index, name in enumerate(header)
            if index != key and name
        }
    return Outcomes(str(path), fields, rows)


def _read_headers(folder: Path) -> Outcomes:
    headers = sorted(
        p for p in folder.rglob("*") if p.suffix.lower() == ".hea" and not any(part.startswith(".") for part in p.relative_to(folder).parts)
    )
    rows: Dict[str, Dict[str, Any]] = {}
    origin: Dict[str, Path] = {}
    for header in headers:
        record = header.stem
        if record in rows:
            raise OutcomeError(f"record {record} has two headers: {origin[record]} and {header}")
        try:
            rows[record] = dict(read_clinical(header))
        except OSError as error:
            raise OutcomeError(f"cannot read the header {header}: {error}") from None
        origin[record] = header
    if not rows:
        raise OutcomeError(f"the outcome folder {folder} holds no WFDB header (.hea)")
    present = {name for fields in rows.values() for name in fields}
    return Outcomes(str(folder), tuple(name for name in CLINICAL_FIELDS if name in present), rows)


def read_outcomes(source: "os.PathLike[str] | str") -> Outcomes:
    """Outcomes from a CSV table with a ``record`` column, or from a folder of WFDB headers."""
    path = Path(source)
    if path.is_dir():
        return _read_headers(path)
    if not path.exists():
        raise OutcomeError(f"no such outcome table or folder: {path}")
    return _read_table(path)


def recording_stem(file: str) -> str:
    """A recording's file name without folder and extension."""
    return os.path.splitext(os.path.basename(file))[0]


def match_record(stem: str, records: Mapping[str, Any]) -> Optional[str]:
    """The record a recording's stem names: equal to it, or the longest name ending it after an underscore."""
    if stem in records:
        return stem
    for index, char in enumerate(stem):
        if char == "_" and stem[index + 1 :] in records:
            return stem[index + 1 :]
    return None


# ---------------------------------------------------------------------------
# Splits.

_OPERATORS: Dict[str, Callable[[float, float], bool]] = {
    "<=": operator.le,
    ">=": operator.ge,
    "==": operator.eq,
    "!=": operator.ne,
    "<": operator.lt,
    ">": operator.gt,
    "=": operator.eq,
}
_CONDITION = re.compile(r"^\s*(?P<field>.+?)\s*(?P<op><=|>=|==|!=|<|>|=)\s*(?P<value>[+-]?(?:\d+\.?\d*|\.\d+))\s*$")
_AND = re.compile(r"\s*&&?\s*|\s+and\s+", re.IGNORECASE)


@dataclass(frozen=True)
class _Condition:
    field: str
    op: str
    value: float

    def holds(self, row: Mapping[str, Any]) -> Optional[bool]:
        value = row.get(self.field)
        if isinstance(value, bool) or not isinstance(value, (int, float)) or math.isnan(value):
            return None
        return _OPERATORS[self.op](value, self.value)


def _parse(text: str, option: str, fields: Tuple[str, ...]) -> Tuple[_Condition, ...]:
    conditions = []
    for part in _AND.split(text.strip()):
        match = _CONDITION.match(part)
        if match is None:
            raise OutcomeError(f"{option} {text!r}: expected FIELD OP NUMBER, such as pH<7.05 or Apgar5<7")
        field = match["field"]
        if field not in fields:
            known = ", ".join(fields) if fields else "none"
            raise OutcomeError(f"{option} {text!r}: no outcome field {field!r} (fields: {known})")
        conditions.append(_Condition(field, match["op"], float(match["value"])))
    return tuple(conditions)


def _all_hold(conditions: Tuple[_Condition, ...], row: Mapping[str, Any]) -> Optional[bool]:
    results = [condition.holds(row) for condition in conditions]
    if False in results:
        return False
    if None in results:
        return None
    return True


@dataclass(frozen=True)
class Split:
    """Which recordings are positive and which negative. A missing negative expression means "not positive"."""

    positive: str
    negative: Optional[str]
    _positive: Tuple[_Condition, ...]
    _negative: Optional[Tuple[_Condition, ...]]

    @classmethod
    def parse(cls, positive: Optional[str], negative: Optional[str], fields: Tuple[str, ...]) -> "Split":
        if positive is None and negative is None:
            positive, negative = DEFAULT_POSITIVE, DEFAULT_NEGATIVE
        if positive is None:
            raise OutcomeError("--negative needs --positive: the positive group has no default of its own")
        return cls(
            positive,
            negative,
            _parse(positive, "--positive", fields),
            None if negative is None else _parse(negative, "--negative", fields),
        )

    @property
    def negative_text(self) -> str:
        return self.negative if self.negative is not None else f"not ({self.positive})"

    def group(self, record: str, row: Mapping[str, Any]) -> Optional[str]:
        """POSITIVE, NEGATIVE, or None (outcome missing, or in neither group)."""
        positive = _all_hold(self._positive, row)
        if self._negative is None:
            negative = None if positive is None else not positive
        else:
            negative = _all_hold(self._negative, row)
        if positive and negative:
            raise OutcomeError(f"record {record} is in both groups: {self.positive} and {self.negative}")
        if positive:
            return POSITIVE
        if negative:
            return NEGATIVE
        return None
