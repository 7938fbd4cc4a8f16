"""Type stub of the compiled analysis module."""

from typing import Optional, SupportsIndex

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
