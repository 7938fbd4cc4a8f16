"""Intrapartum cardiotocography (CTG) analysis.

``analyze_csv`` analyzes a bedside monitor's CSV export and ``analyze_json`` a
JSON analysis request (each given as a path, a text or a file object); both
return a typed :class:`Report`. The native functions ``analyze_csv_string`` and
``analyze_json_string`` take the text and return the report as JSON text.
``InternalError`` signals a defect of the analysis itself, never bad input
(bad input raises ``ValueError`` or ``TypeError``).
"""

from importlib import metadata as _metadata

from corvane._native import InternalError, analyze_csv_string, analyze_json_string
from corvane.batch import BatchResult, run_batch
from corvane.wfdb_input import WfdbRecord, analyze_wfdb, read_wfdb
from corvane._monitor import Monitor
from corvane._clinical import ClinicalFields, read_clinical
from corvane._evaluation import EvaluationError, EvaluationResult, run_evaluation
from corvane.report import (
    AccelerationEvent,
    CategoryIiiDiagnostics,
    ContractionEvent,
    DataQuality,
    DecelerationEvent,
    Features,
    InputSummary,
    RecordingEvent,
    Report,
    ReportConfig,
    Window,
    analyze_csv,
    analyze_json,
)

try:
    __version__ = _metadata.version("corvane")
except _metadata.PackageNotFoundError:  # running from a source tree, not installed
    __version__ = "0+unknown"

__all__ = [
    "InternalError",
    "analyze_csv_string",
    "analyze_json_string",
    "analyze_csv",
    "analyze_json",
    "Monitor",
    "Report",
    "RecordingEvent",
    "ReportConfig",
    "InputSummary",
    "Window",
    "Features",
    "DataQuality",
    "CategoryIiiDiagnostics",
    "AccelerationEvent",
    "DecelerationEvent",
    "ContractionEvent",
    "read_wfdb",
    "analyze_wfdb",
    "WfdbRecord",
    "ClinicalFields",
    "read_clinical",
    "run_evaluation",
    "EvaluationResult",
    "EvaluationError",
    "run_batch",
    "BatchResult",
]
