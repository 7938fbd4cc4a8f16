"""Intrapartum cardiotocography (CTG) analysis.

``analyze_csv_string`` analyses a bedside monitor's CSV export and
``analyze_json_string`` a JSON analysis request; both return the report as
JSON text. ``InternalError`` signals a defect of the analysis itself, never
bad input (bad input raises ``ValueError`` or ``TypeError``).
"""

from importlib import metadata as _metadata

from corvane._native import InternalError, analyze_csv_string, analyze_json_string

try:
    __version__ = _metadata.version("corvane")
except _metadata.PackageNotFoundError:  # running from a source tree, not installed
    __version__ = "0+unknown"

__all__ = ["InternalError", "analyze_csv_string", "analyze_json_string"]
