"""Reading the timestamp texts of recordings and reports on the Python side.

The analysis engine has its own, exact timestamp parser. This one serves the
presentation layer only (plots, summaries, data frames): it understands the
shapes monitors actually write — ``2024-03-10 14:05:09``, ``2024-03-10T14:05:09.250Z``,
``2024-03-10 14:05:09+02:00`` — and the ``<milliseconds>ms`` text that a report
gives a second in which no row was recorded. Anything else yields ``None``
instead of an error, so that one odd row never breaks a picture.
"""

from __future__ import annotations

import datetime as _dt
import re
from dataclasses import dataclass
from typing import Optional

__all__ = ["MonitorTime", "parse_timestamp", "epoch_seconds", "epoch_millis"]

_EPOCH = _dt.datetime(1970, 1, 1)
_MINUTES_PER_HOUR = 60
# Only the first three fraction digits carry meaning (milliseconds).
_FRACTION_DIGITS = 3

_MONITOR_TEXT = re.compile(
    r"""
    (?P<year>\d{1,4})-(?P<month>\d{1,2})-(?P<day>\d{1,2})
    [ T]
    (?P<hour>\d{1,2}):(?P<minute>\d{1,2}):(?P<second>\d{1,2})
    (?:\.(?P<fraction>\d*))?
    (?:(?P<sign>[+-])(?P<offset_hour>\d{1,2}):(?P<offset_minute>\d{1,2}))?
    Z*
    """,
    re.VERBOSE,
)
_SYNTHESIZED_TEXT = re.compile(r"(?P<millis>-?\d+)ms")


@dataclass(frozen=True)
class MonitorTime:
    """One timestamp: the wall-clock time as written and its offset from UTC."""

    wall_clock: _dt.datetime
    offset_minutes: int = 0

    @property
    def epoch_seconds(self) -> float:
        """Seconds since 1970-01-01 00:00:00 UTC."""
        return (self.wall_clock - _EPOCH).total_seconds() - self.offset_minutes * 60.0

    @property
    def epoch_millis(self) -> int:
        """Whole milliseconds since 1970-01-01 00:00:00 UTC, exactly."""
        wall = (self.wall_clock - _EPOCH) // _dt.timedelta(milliseconds=1)
        return wall - self.offset_minutes * 60_000

    @property
    def utc(self) -> _dt.datetime:
        """The instant as a timezone-aware UTC datetime."""
        return _dt.datetime(1970, 1, 1, tzinfo=_dt.timezone.utc) + _dt.timedelta(seconds=self.epoch_seconds)


def _fraction_microseconds(fraction: Optional[str]) -> int:
    if not fraction:
        return 0
    millis = int(fraction[:_FRACTION_DIGITS].ljust(_FRACTION_DIGITS, "0"))
    return millis * 1000


def parse_timestamp(text: str) -> Optional[MonitorTime]:
    """The time a monitor or report text names, or None when it is not one."""
    stripped = text.strip()
    synthesized = _SYNTHESIZED_TEXT.fullmatch(stripped)
    if synthesized:
        try:
            wall = _EPOCH + _dt.timedelta(milliseconds=int(synthesized.group("millis")))
        except OverflowError:
            return None
        return MonitorTime(wall)
    match = _MONITOR_TEXT.fullmatch(stripped)
    if not match:
        return None
    parts = {name: int(match.group(name)) for name in ("year", "month", "day", "hour", "minute", "second")}
    if not (1 <= parts["month"] <= 12 and 1 <= parts["day"] <= 31):
        return None
    if parts["hour"] > 23 or parts["minute"] > 59 or parts["second"] > 59:
        return None
    offset = 0
    if match.group("sign"):
        offset_hour = int(match.group("offset_hour"))
        offset_minute = int(match.group("offset_minute"))
        if offset_hour > 23 or offset_minute > 59:
            return None
        offset = offset_hour * _MINUTES_PER_HOUR + offset_minute
        if match.group("sign") == "-":
            offset = -offset
    try:
        # Monitors may write a day past the month's end (2024-02-31); like the
        # engine, count on from the first of the month instead of refusing it.
        first_of_month = _dt.datetime(parts["year"], parts["month"], 1)
        wall = first_of_month + _dt.timedelta(
            days=parts["day"] - 1,
            hours=parts["hour"],
            minutes=parts["minute"],
            seconds=parts["second"],
            microseconds=_fraction_microseconds(match.group("fraction")),
        )
    except (ValueError, OverflowError):  # year 0 or a date beyond year 9999
        return None
    return MonitorTime(wall, offset)


def epoch_seconds(text: str) -> Optional[float]:
    """Seconds since 1970-01-01 UTC for a timestamp text, or None."""
    parsed = parse_timestamp(text)
    return None if parsed is None else parsed.epoch_seconds


# The layout nearly every monitor and report text has, read without building
# datetime objects: 2024-03-10 14:05:09 or 2024-03-10 14:05:09.250.
_PLAIN_TEXT = re.compile(r"(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)(?:\.(\d{1,3}))?")
_MS_PER_DAY = 86_400_000


def _days_from_civil(year: int, month: int, day: int) -> int:
    """Days from 1970-01-01 to a date of the proleptic Gregorian calendar
    (a day past the month's end counts on into the next month)."""
    year -= month <= 2
    era = (year if year >= 0 else year - 399) // 400
    year_of_era = year - era * 400
    day_of_year = (153 * (month - 3 if month > 2 else month + 9) + 2) // 5 + day - 1
    day_of_era = year_of_era * 365 + year_of_era // 4 - year_of_era // 100 + day_of_year
    return era * 146097 + day_of_era - 719468


def epoch_millis(text: str) -> Optional[int]:
    """Whole milliseconds since 1970-01-01 UTC for a timestamp text, or None."""
    plain = _PLAIN_TEXT.fullmatch(text)
    if plain is not None:
        year, month, day, hour, minute, second, fraction = plain.groups()
        month, day, hour, minute, second = int(month), int(day), int(hour), int(minute), int(second)
        if 1 <= month <= 12 and 1 <= day <= 31 and hour <= 23 and minute <= 59 and second <= 59 and year != "0000":
            millis = int(fraction.ljust(_FRACTION_DIGITS, "0")) if fraction else 0
            days = _days_from_civil(int(year), month, day)
            return days * _MS_PER_DAY + ((hour * 60 + minute) * 60 + second) * 1000 + millis
    parsed = parse_timestamp(text)
    return None if parsed is None else parsed.epoch_millis
