"""A CTG trace drawn the way clinicians read paper, with the report on top.

    from corvane.plot import plot_recording, save_figure
    from corvane.recording import read_csv_recording

    figure = plot_recording(read_csv_recording(text), report, paper_speed=1)
    save_figure(figure, "trace.png")

The figure has three panels sharing one time axis (minutes from the first
sample): a strip with each window's category and alert level, the fetal heart
rate on a 50–210 bpm grid with the 110–160 bpm band shaded, the maternal rate
in a second colour, each window's baseline, and the accelerations and
decelerations shaded by kind; and the TOCO panel (0–100) with the contraction
peaks marked. The paper speed (1 or 3 cm/min) sets the figure's width.

Without a window number the whole recording is drawn. Rolling windows
overlap, so one physical event is usually reported by several windows; the
trace shows each event once, as the newest window that reports it measured it
(see :func:`merged_events`). With a window number, only that window's span and
its own findings are drawn.

matplotlib is an optional dependency (``pip install corvane[plot]``); figures
are drawn with the Agg canvas, without pyplot and its global state.
"""

from __future__ import annotations

import math
import os
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Dict, Iterable, List, Optional, Sequence, Tuple, Union

from corvane.recording import Recording
from corvane.report import AccelerationEvent, ContractionEvent, DecelerationEvent, Report, Window
from corvane.timestamps import epoch_seconds

if TYPE_CHECKING:  # pragma: no cover
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure

__all__ = [
    "PAPER_SPEEDS",
    "PlacedEvent",
    "merged_events",
    "plot_recording",
    "save_figure",
    "select_window",
]

_MATPLOTLIB_MISSING = "matplotlib is needed for plots: install corvane[plot]"

PAPER_SPEEDS = (1, 3)  # cm of paper per minute (Europe 1, North America 3)
SAVE_FORMATS = ("png", "svg", "pdf")
_PNG_DPI = 100

_CM_PER_INCH = 2.54
_SECONDS_PER_MINUTE = 60.0
# The baseline of a window is estimated over its last 10 minutes.
_BASELINE_SPAN_SECONDS = 600.0
# Rows further apart than this are not joined by the trace line.
_TRACE_GAP_SECONDS = 3.0
# Panel ranges and grid steps, as on CTG paper.
_FHR_RANGE = (50.0, 210.0)
_FHR_NORMAL_BAND = (110.0, 160.0)
_FHR_MINOR_STEP, _FHR_MAJOR_STEP = 10.0, 20.0
_TOCO_RANGE = (0.0, 100.0)
_TOCO_MINOR_STEP, _TOCO_MAJOR_STEP = 10.0, 20.0
# Figure layout in inches: margins, panel heights, the legend below.
_LEFT_IN, _RIGHT_IN = 1.1, 0.3
_TOP_IN, _BOTTOM_IN = 0.45, 0.75
_LEGEND_ROW_IN, _LEGEND_ENTRY_IN, _LEGEND_MARGIN_IN = 0.19, 2.3, 0.08
_STRIP_IN, _FHR_IN, _TOCO_IN, _GAP_IN = 0.5, 3.6, 1.7, 0.12
_MIN_PLOT_WIDTH_IN = 6.0
# Agg cannot draw arbitrarily wide pictures: a day-long recording at 3 cm/min
# would be 57 m of paper. Beyond this the paper is squeezed (the grid and time
# labels stay correct, only the cm/min scale is no longer kept).
_MAX_PLOT_WIDTH_IN = 300.0
# Grid and label spacing on the paper, in cm, and the time steps to pick from.
_MINOR_GRID_CM = 0.5
_LABEL_SPACING_CM = 2.5
_TIME_STEPS_MIN = (1 / 6, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 240, 480, 960, 1440)
# matplotlib refuses to place more than 1000 ticks on an axis.
_MAX_GRID_LINES = 900
# A strip label is written inside its span only when it fits.
_STRIP_LABEL_MIN_CM = 1.4
_EMPTY_SPAN_SECONDS = 600.0

_PAPER = "#fffdf8"
_GRID_MINOR = "#f3c9c3"
_GRID_MAJOR = "#e0968c"
_FETAL_COLOUR = "#1a1a1a"
_MATERNAL_COLOUR = "#1e6fd9"
_TOCO_COLOUR = "#1a1a1a"
_BASELINE_COLOUR = "#1b7f2a"
_BAND_COLOUR = "#d9ecd0"
_EVENT_ALPHA = 0.32
_ACCELERATION_COLOUR = "#00a69c"
_DECELERATION_COLOURS = {
    "variable": "#ff9800",
    "early": "#fdd835",
    "late": "#e53935",
    "prolonged": "#8e24aa",
    "gradual_unclassified": "#8d6e63",
}
_CONTRACTION_COLOUR = "#c2185b"
_DARK_STRIP_COLOURS = ("#e53935", "#c62828")
_CATEGORY_STYLE = {
    "category_i": ("#66bb6a", "cat I", "category I"),
    "category_ii": ("#ffca28", "cat II", "category II"),
    "category_iii": ("#e53935", "cat III", "category III"),
    "unclassified": ("#bdbdbd", "unclassified", "unclassified"),
}
_ALERT_STYLE = {
    "none": ("#eeeeee", "none", "alert: none"),
    "warning": ("#fff176", "warning", "alert: warning"),
    "urgent_review": ("#ffa726", "urgent review", "alert: urgent review"),
    "critical": ("#c62828", "critical", "alert: critical"),
    "data_quality": ("#90a4ae", "data quality", "alert: data quality"),
}

Event = Union[AccelerationEvent, DecelerationEvent, ContractionEvent]


@dataclass(frozen=True)
class PlacedEvent:
    """One event to draw: its family ("acceleration", "deceleration",
    "contraction"), the number of the window it comes from, the event, and its
    start and end in seconds from the first sample."""

    family: str
    window: int
    event: Event
    start: float
    end: float


# ---------------------------------------------------------------------------
# What to draw (no matplotlib needed)


def select_window(report: Report, window: Optional[int]) -> List[Tuple[int, Window]]:
    """The numbered windows to draw: all of them, or the one numbered `window`
    (0 = first, negative numbers count from the end as in Python)."""
    numbered = list(enumerate(report.windows))
    if window is None:
        return numbered
    count = len(numbered)
    if not -count <= window < count:
        plural = "window" if count == 1 else "windows"
        raise ValueError(f"window {window} is out of range: the report has {count} {plural}")
    return [numbered[window]]


def _events_of(window: Window) -> Iterable[Tuple[str, Event]]:
    for acceleration in window.acceleration_events:
        yield "acceleration", acceleration
    for deceleration in window.deceleration_events:
        yield "deceleration", deceleration
    for contraction in window.contraction_events:
        yield "contraction", contraction


def _overlaps(start: float, end: float, taken: Sequence[Tuple[float, float]]) -> bool:
    return any(start <= other_end and other_start <= end for other_start, other_end in taken)


def merged_events(
    windows: Sequence[Tuple[int, Window]], offset_of: Any
) -> List[PlacedEvent]:
    """The events of the given windows, each physical event once.

    Windows are visited from the newest back; an event is kept unless a newer
    window already gave an event of the same family overlapping it in time (a
    deceleration may change kind between windows, e.g. from gradual to late
    once its contraction is seen, so kinds are not compared). `offset_of` maps
    a timestamp text to seconds from the first sample, or None; events whose
    times cannot be read are left out. The result is in time order."""
    taken: Dict[str, List[Tuple[float, float]]] = {"acceleration": [], "deceleration": [], "contraction": []}
    placed: List[PlacedEvent] = []
    for number, window in reversed(list(windows)):
        fresh: List[PlacedEvent] = []
        for family, event in _events_of(window):
            start, end = offset_of(event.start), offset_of(event.end)
            if start is None or end is None or _overlaps(start, end, taken[family]):
                continue
            fresh.append(PlacedEvent(family, number, event, start, end))
        # Events of one window never supersede each other.
        for item in fresh:
            taken[item.family].append((item.start, item.end))
        placed.extend(fresh)
    placed.sort(key=lambda item: (item.start, item.end))
    return placed


@dataclass(frozen=True)
class _Span:
    number: int
    window: Window
    start: float
    end: float


def _window_spans(
    windows: Sequence[Tuple[int, Window]], offset_of: Any, since_previous: bool
) -> List[_Span]:
    """Each window's span in seconds; with `since_previous` a window starts
    where the previous one ended, so that overlapping rolling windows tile."""
    spans: List[_Span] = []
    previous_end: Optional[float] = None
    for number, window in windows:
        start, end = offset_of(window.window_start), offset_of(window.window_end)
        if start is None or end is None:
            continue
        if since_previous and previous_end is not None:
            start = max(start, previous_end)
        previous_end = end
        if end > start or (end == start and not spans):
            spans.append(_Span(number, window, start, end))
    return spans


# ---------------------------------------------------------------------------
# Drawing


def _matplotlib() -> Any:
    try:
        import matplotlib
        from matplotlib.backends.backend_agg import FigureCanvasAgg
        from matplotlib.figure import Figure
    except ImportError as error:
        raise ImportError(_MATPLOTLIB_MISSING) from error
    return matplotlib, Figure, FigureCanvasAgg


def _trace(seconds: Sequence[float], values: Sequence[float]) -> Tuple[List[float], List[float]]:
    """Minutes and values with a NaN between rows further apart than the gap
    limit, so that the line breaks where the monitor recorded nothing."""
    xs: List[float] = []
    ys: List[float] = []
    previous: Optional[float] = None
    for second, value in zip(seconds, values):
        if previous is not None and second - previous > _TRACE_GAP_SECONDS:
            xs.append(math.nan)
            ys.append(math.nan)
        xs.append(second / _SECONDS_PER_MINUTE)
        ys.append(value)
        previous = second
    return xs, ys


def _time_step(minutes_per_cm: float, spacing_cm: float, minutes: float) -> float:
    """The finest time step whose lines lie at least `spacing_cm` apart on the
    paper, with at most a few hundred lines over the whole trace."""
    for step in _TIME_STEPS_MIN:
        if step / minutes_per_cm >= spacing_cm and minutes / step <= _MAX_GRID_LINES:
            return step
    return _TIME_STEPS_MIN[-1]


def _paper_grid(axes: "Axes", ticker: Any, minor_minutes: float, major_minutes: float) -> None:
    axes.set_facecolor(_PAPER)
    axes.xaxis.set_major_locator(ticker.MultipleLocator(major_minutes))
    axes.xaxis.set_minor_locator(ticker.MultipleLocator(minor_minutes))
    axes.grid(True, which="minor", color=_GRID_MINOR, linewidth=0.45)
    axes.grid(True, which="major", color=_GRID_MAJOR, linewidth=0.8)
    axes.set_axisbelow(True)
    axes.tick_params(which="both", length=0)
    for spine in axes.spines.values():
        spine.set_color(_GRID_MAJOR)


def _value_grid(axes: "Axes", ticker: Any, limits: Tuple[float, float], minor: float, major: float) -> None:
    axes.set_ylim(*limits)
    axes.yaxis.set_major_locator(ticker.MultipleLocator(major))
    axes.yaxis.set_minor_locator(ticker.MultipleLocator(minor))


def _time_range(recording: Recording, spans: Sequence[_Span], selected: bool) -> Tuple[float, float]:
    ends = [span.end for span in spans]
    starts = [span.start for span in spans]
    if not selected and recording.seconds:
        starts.append(recording.seconds[0])
        ends.append(recording.seconds[-1])
    if not starts:
        return 0.0, _EMPTY_SPAN_SECONDS
    start, end = min(starts), max(ends)
    if end <= start:
        end = start + _SECONDS_PER_MINUTE
    return start, end


def _placed_events(
    chosen: Sequence[Tuple[int, Window]], offset_of: Any, selected: bool
) -> List[PlacedEvent]:
    """The events to draw: one window's own, or the merged events of all."""
    if not selected:
        return merged_events(chosen, offset_of)
    placed: List[PlacedEvent] = []
    for number, window in chosen:
        for family, event in _events_of(window):
            start, end = offset_of(event.start), offset_of(event.end)
            if start is not None and end is not None:
                placed.append(PlacedEvent(family, number, event, start, end))
    return placed


def _draw_events(fhr: "Axes", toco: "Axes", placed: Sequence[PlacedEvent], offset_of: Any) -> None:
    """Accelerations and decelerations as shaded spans of the heart-rate panel
    (gid "<kind>-<n>"), contraction peaks as markers on the TOCO panel."""
    counts: Dict[str, int] = {}
    peaks_x: List[float] = []
    peaks_y: List[float] = []
    for item in placed:
        event = item.event
        if isinstance(event, ContractionEvent):
            peak = offset_of(event.peak)
            if peak is not None:
                peaks_x.append(peak / _SECONDS_PER_MINUTE)
                peaks_y.append(min(event.peak_toco, _TOCO_RANGE[1]))
            continue
        if isinstance(event, DecelerationEvent):
            key, colour = f"deceleration-{event.kind}", _DECELERATION_COLOURS[event.kind]
            label = f"{event.kind.replace('_', ' ')} deceleration"
        else:
            key, colour, label = "acceleration", _ACCELERATION_COLOUR, "acceleration"
        number = counts.get(key, 0)
        counts[key] = number + 1
        fhr.axvspan(
            item.start / _SECONDS_PER_MINUTE,
            # A zero-length event still gets one second of paper.
            max(item.end, item.start + 1.0) / _SECONDS_PER_MINUTE,
            color=colour,
            alpha=_EVENT_ALPHA,
            linewidth=0,
            zorder=1,
            label=label if number == 0 else "_nolegend_",
            gid=f"{key}-{number}",
        )
    if peaks_x:
        toco.plot(
            peaks_x,
            peaks_y,
            linestyle="none",
            marker="v",
            markersize=7,
            color=_CONTRACTION_COLOUR,
            zorder=4,
            label="contraction peak",
            gid="contraction-peaks",
        )


def _draw_traces(fhr: "Axes", toco: "Axes", recording: Recording, channel: str) -> None:
    if not len(recording):
        return
    maternal = recording.signal("hrm")
    if any(not math.isnan(value) for value in maternal):
        xs, ys = _trace(recording.seconds, maternal)
        fhr.plot(xs, ys, color=_MATERNAL_COLOUR, linewidth=0.5, zorder=2, label="maternal HR", gid="trace-maternal")
    xs, ys = _trace(recording.seconds, recording.signal(channel))
    fhr.plot(xs, ys, color=_FETAL_COLOUR, linewidth=0.75, zorder=3, label=f"fetal HR ({channel})", gid="trace-fetal")
    xs, ys = _trace(recording.seconds, recording.signal("toco"))
    toco.plot(xs, ys, color=_TOCO_COLOUR, linewidth=0.75, zorder=3, label="TOCO", gid="trace-toco")


def _draw_baselines(fhr: "Axes", spans: Sequence[_Span]) -> None:
    """Each window's baseline over the last 10 minutes it was estimated from,
    clipped to the window's span on the strip (so rolling windows tile)."""
    first_drawn = True
    for span in spans:
        baseline = span.window.baseline_bpm
        if baseline is None:
            continue
        first = max(span.start, span.end - _BASELINE_SPAN_SECONDS)
        fhr.plot(
            [first / _SECONDS_PER_MINUTE, span.end / _SECONDS_PER_MINUTE],
            [baseline, baseline],
            color=_BASELINE_COLOUR,
            linewidth=2.4,
            alpha=0.9,
            linestyle=(0, (4, 2)),
            zorder=4,
            label="baseline" if first_drawn else "_nolegend_",
            gid=f"baseline-{span.number}",
        )
        first_drawn = False


def _draw_strip(strip: "Axes", spans: Sequence[_Span], cm_per_minute: float) -> Dict[str, Any]:
    """Category (upper row) and alert level (lower row) of each window; returns
    the legend patches of the colours used."""
    from matplotlib.patches import Patch

    handles: Dict[str, Any] = {}
    strip.set_ylim(0, 2)
    strip.set_yticks([0.5, 1.5])
    strip.set_yticklabels(["alert", "category"])
    strip.grid(False, axis="y")
    for span in spans:
        left, right = span.start / _SECONDS_PER_MINUTE, span.end / _SECONDS_PER_MINUTE
        rows = (
            ("category", 1, _CATEGORY_STYLE[span.window.classification]),
            ("alert", 0, _ALERT_STYLE[span.window.alert_level]),
        )
        for name, row, (colour, text, legend) in rows:
            strip.axvspan(
                left,
                max(right, left + 1 / _SECONDS_PER_MINUTE),
                ymin=row / 2 + 0.04,
                ymax=(row + 1) / 2 - 0.04,
                color=colour,
                linewidth=0,
                gid=f"strip-{name}-{span.number}",
            )
            handles.setdefault(legend, Patch(color=colour, label=legend))
            if (right - left) * cm_per_minute >= _STRIP_LABEL_MIN_CM:
                strip.text(
                    (left + right) / 2,
                    row + 0.5,
                    text,
                    ha="center",
                    va="center",
                    fontsize=7,
                    clip_on=True,
                    color="white" if colour in _DARK_STRIP_COLOURS else "#222222",
                )
    return handles


def _title(report: Report, chosen: Sequence[Tuple[int, Window]], selected: bool, paper_speed: float) -> str:
    title = f"{report.channel} · {report.analysis_mode}"
    if report.requested_window_minutes is not None:
        title += f" {report.requested_window_minutes}-min windows every {report.step_seconds} s"
    if selected and chosen:
        number, shown = chosen[0]
        title += f" · window {number}: {shown.window_start} – {shown.window_end}"
    elif not report.windows:
        title += " · no analysis window"
    return title + f" · paper {paper_speed:g} cm/min"


def plot_recording(
    recording: Recording,
    report: Report,
    *,
    window: Optional[int] = None,
    paper_speed: float = 1,
) -> "Figure":
    """Draw the recording and its report; returns a matplotlib Figure (Agg).

    `window` selects one window (0 = first, -1 = last) instead of the whole
    recording; `paper_speed` is the paper speed in cm/min (1 or 3)."""
    if paper_speed not in PAPER_SPEEDS:
        raise ValueError(f"paper speed must be 1 or 3 cm/min, not {paper_speed}")
    _, figure_class, canvas_class = _matplotlib()
    from matplotlib import ticker

    chosen = select_window(report, window)
    selected = window is not None

    def offset_of(text: str) -> Optional[float]:
        return recording.offset_of(epoch_seconds(text))

    spans = _window_spans(chosen, offset_of, since_previous=not selected)
    start_s, end_s = _time_range(recording, spans, selected)
    minutes = (end_s - start_s) / _SECONDS_PER_MINUTE
    plot_width = min(max(minutes * paper_speed / _CM_PER_INCH, _MIN_PLOT_WIDTH_IN), _MAX_PLOT_WIDTH_IN)
    minutes_per_cm = minutes / (plot_width * _CM_PER_INCH)
    width = _LEFT_IN + plot_width + _RIGHT_IN
    panels = _STRIP_IN + _FHR_IN + _TOCO_IN

    figure: "Figure" = figure_class(figsize=(width, _TOP_IN + panels + 2 * _GAP_IN + _BOTTOM_IN), dpi=_PNG_DPI)
    canvas_class(figure)
    grid = figure.add_gridspec(
        3,
        1,
        height_ratios=[_STRIP_IN, _FHR_IN, _TOCO_IN],
        hspace=_GAP_IN / (panels / 3),
        left=_LEFT_IN / width,
        right=1 - _RIGHT_IN / width,
    )
    strip = figure.add_subplot(grid[0])
    fhr = figure.add_subplot(grid[1], sharex=strip)
    toco = figure.add_subplot(grid[2], sharex=strip)
    for axes, gid in ((strip, "panel-strip"), (fhr, "panel-fhr"), (toco, "panel-toco")):
        axes.set_gid(gid)
        _paper_grid(
            axes,
            ticker,
            _time_step(minutes_per_cm, _MINOR_GRID_CM, minutes),
            _time_step(minutes_per_cm, _LABEL_SPACING_CM, minutes),
        )
    _value_grid(fhr, ticker, _FHR_RANGE, _FHR_MINOR_STEP, _FHR_MAJOR_STEP)
    _value_grid(toco, ticker, _TOCO_RANGE, _TOCO_MINOR_STEP, _TOCO_MAJOR_STEP)
    strip.set_xlim(start_s / _SECONDS_PER_MINUTE, end_s / _SECONDS_PER_MINUTE)
    for axes in (strip, fhr):
        axes.tick_params(axis="x", labelbottom=False)
    fhr.axhspan(*_FHR_NORMAL_BAND, color=_BAND_COLOUR, alpha=0.55, zorder=0.5, label="normal band 110–160 bpm", gid="fhr-band")
    fhr.set_ylabel(f"FHR ({report.channel}), bpm")
    toco.set_ylabel("TOCO")
    toco.set_xlabel(f"minutes from {report.input.start_timestamp or 'the first sample'} (first sample)")
    strip.set_title(_title(report, chosen, selected, paper_speed), loc="left", fontsize=9)

    _draw_events(fhr, toco, _placed_events(chosen, offset_of, selected), offset_of)
    _draw_traces(fhr, toco, recording, report.channel)
    _draw_baselines(fhr, spans)
    strip_handles = _draw_strip(strip, spans, 1.0 / minutes_per_cm)

    handles: List[Any] = []
    labels: List[str] = []
    for axes in (fhr, toco):
        found_handles, found_labels = axes.get_legend_handles_labels()
        handles += found_handles
        labels += found_labels
    handles += list(strip_handles.values())
    labels += list(strip_handles)
    columns = min(len(handles), max(2, int(plot_width // _LEGEND_ENTRY_IN)))
    rows = -(-len(handles) // columns)
    # The legend sits below the time axis; the figure grows to hold its rows.
    bottom = _BOTTOM_IN + rows * _LEGEND_ROW_IN
    height = _TOP_IN + panels + 2 * _GAP_IN + bottom
    figure.set_size_inches(width, height)
    grid.update(top=1 - _TOP_IN / height, bottom=bottom / height)
    for axes, spec in ((strip, grid[0]), (fhr, grid[1]), (toco, grid[2])):
        axes.set_position(spec.get_position(figure))
    figure.legend(
        handles,
        labels,
        loc="lower left",
        bbox_to_anchor=(_LEFT_IN / width, _LEGEND_MARGIN_IN / height),
        ncol=columns,
        fontsize=7.5,
        frameon=False,
    )
    return figure


def save_figure(figure: "Figure", path: Union[str, "os.PathLike[str]"]) -> None:
    """Write the figure as PNG, SVG or PDF, chosen by the file's extension.
    SVG keeps its texts as text, so the labels stay searchable."""
    matplotlib, _, _ = _matplotlib()
    extension = os.path.splitext(os.fspath(path))[1].lower().lstrip(".")
    if extension not in SAVE_FORMATS:
        raise ValueError(f"cannot write {os.fspath(path)}: the plot must be a .png, .svg or .pdf file")
    with matplotlib.rc_context({"svg.fonttype": "none", "svg.hashsalt": "corvane"}):
        figure.savefig(path, format=extension, dpi=_PNG_DPI, facecolor="white")
