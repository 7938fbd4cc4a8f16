"""Type stub of the compiled analysis module."""

from typing import Optional, Sequence, SupportsIndex, Tuple

class InternalError(BaseException):
    """A defect of the analysis itself (never bad input)."""

def analyze_json_string(request_json: str) -> str: ...
def analyze_csv_string(
    csv_text: str,
    channel: str = "HR1",
    ga_weeks: Optional[SupportsIndex] = None,
    window_min: Optional[SupportsIndex] = None,
    step_sec: SupportsIndex = 60,
    last_only: bool = False,
) -> str: ...

class Monitor:
    def __init__(
        self,
        channel: str = "HR1",
        ga_weeks: Optional[SupportsIndex] = None,
        window_min: SupportsIndex = 30,
        step_sec: SupportsIndex = 60,
    ) -> None: ...
    def add_csv(self, text: str) -> str: ...
    def add_samples(self, rows: Sequence[Tuple[object, ...]]) -> str: ...
    def current(self) -> str: ...
    def input(self) -> str: ...
    def late_rows(self) -> int: ...
    def held_samples(self) -> int: ...
