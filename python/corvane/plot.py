"""A CTG trace drawn the way clinicians read paper, with the report on top.

    from corvane.plot import plot_recording, save_figure
    from corvane.recording import read_csv_recording

    figure = plot_recording(read_csv_recording(text), report, paper_speed=1)
    save_figure(figure, "trace.png")

The figure has three panels sharing one time axis (clock time as the monitor
recorded it, or minutes from the first sample): a strip with each window's
category and alert level; the fetal heart rate on a 50–210 bpm grid (extended
downward when the trace falls below 50) with the 110–160 bpm band shaded,
the maternal rate in a second colour, each window's baseline, the
accelerations and decelerations shaded by kind, and the seconds the analysis
counted as suspected maternal capture or as without fetal signal shaded; and
the TOCO panel (0–100) with the contraction peaks marked, or the words
"no TOCO signal" when TOCO is absent or flat. The paper speed (1 or 3 cm/min)
sets the figure's width; the title says which windows the findings come from.

Without a window number the whole recording is drawn with the recording's
events (:meth:`Report.recording_events`), each once and whole: where windows
report overlapping versions of one event (one cut short by a window's edge,
another whole), the whole, longest one is drawn (see :func:`drawn_events`).
A baseline is drawn over the last 10 minutes of its window, except over the
seconds without fetal signal. With a window number, only that window's span
and its own findings are drawn.

matplotlib is an optional dependency (``pip install corvane[plot]``); figures
are drawn with the Agg canvas, without pyplot and its global state.
"""

from __future__ import annotations

import datetime as _dt
import math
import os
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence, Tuple, Union

from corvane._events import RecordingEvent
from corvane._layout import (
    ALERT_STYLE,
    BAND_COLOUR,
    BASELINE_COLOUR,
    CAPTURE_COLOUR,
    CAPTURE_LABEL,
    CATEGORY_STYLE,
    CONTRACTION_COLOUR,
    FETAL_COLOUR,
    FHR_GRID_STEP,
    FHR_NORMAL_BAND,
    MATERNAL_COLOUR,
    NO_SIGNAL_COLOUR,
    NO_SIGNAL_LABEL,
    NO_TOCO_TEXT,
    NORMAL_BAND_LABEL,
    SECONDS_PER_MINUTE,
    TOCO_COLOUR,
    TOCO_RANGE,
    Quality,
    Tile,
    baseline_segments,
    drawn_events,
    event_colour,
    event_label,
    events_to_draw,
    fhr_range,
    flat_toco_runs,
    quality_runs,
    select_window,
    time_range,
    window_tiles,
)
from corvane._windows import findings_scope, window_bounds
from corvane.recording import Recording
from corvane.report import Report, Window
from corvane.timestamps import epoch_seconds, parse_timestamp

if TYPE_CHECKING:  # pragma: no cover
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure

__all__ = [
    "PAPER_SPEEDS",
    "TIME_AXES",
    "drawn_events",
    "plot_recording",
    "save_figure",
    "select_window",
]

_MATPLOTLIB_MISSING = "matplotlib is needed for plots: install corvane[plot]"

PAPER_SPEEDS = (1, 3)  # cm of paper per minute (Europe 1, North America 3)
TIME_AXES = ("clock", "minutes")
SAVE_FORMATS = ("png", "svg", "pdf")
_PNG_DPI = 100

_CM_PER_INCH = 2.54
_SECONDS_PER_DAY = 86400
# Rows further apart than this are not joined by the trace line.
_TRACE_GAP_SECONDS = 3.0
# Panel ranges and grid steps, as on CTG paper.
_TOCO_MINOR_STEP, _TOCO_MAJOR_STEP = 10.0, 20.0
_FHR_MAJOR_STEP = 20.0
# The words are written on stretches at least this wide, once per this much paper.
_NO_TOCO_MIN_CM, _NO_TOCO_REPEAT_CM = 3.5, 25.0
# Figure layout in inches: margins, panel heights, the legend below.
_LEFT_IN, _RIGHT_IN = 1.1, 0.3
_TOP_IN, _BOTTOM_IN = 0.45, 0.9
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
# A tick this close to the left edge of the paper still counts as on it.
_TICK_TOLERANCE_MIN = 1e-6

_PAPER = "#fffdf8"
_GRID_MINOR = "#f3c9c3"
_GRID_MAJOR = "#e0968c"
_QUALITY_ALPHA = 0.25
_HATCH_ALPHA = 0.8
_EVENT_ALPHA = 0.32
_DARK_STRIP_COLOURS = ("#e53935", "#c62828")


# ---------------------------------------------------------------------------
# What to draw (no matplotlib needed)


# ---------------------------------------------------------------------------
# The time axis


@dataclass(frozen=True)
class _TimeAxis:
    """Maps seconds from the first sample to the x coordinate: minutes, counted
    from the first sample or (clock time) from midnight of its date."""

    clock: bool
    shift_seconds: float
    first_date: Optional[_dt.date]

    def x(self, seconds: float) -> float:
        return (seconds + self.shift_seconds) / SECONDS_PER_MINUTE

    def label(self, x: float, first_label: bool, with_seconds: bool) -> str:
        """The tick text at `x`: minutes, or the time of day with the date
        under the first label and under each midnight."""
        if not self.clock or self.first_date is None:
            return f"{x:g}"
        day, second = divmod(round(x * SECONDS_PER_MINUTE), _SECONDS_PER_DAY)
        text = f"{second // 3600:02d}:{second % 3600 // 60:02d}"
        if with_seconds:
            text += f":{second % 60:02d}"
        if first_label or second == 0:
            text += "\n" + (self.first_date + _dt.timedelta(days=day)).isoformat()
        return text


def _time_axis(report: Report, recording: Recording, time_axis: str) -> _TimeAxis:
    if time_axis not in TIME_AXES:
        raise ValueError(f"time axis must be 'clock' or 'minutes', not {time_axis!r}")
    first = parse_timestamp(report.input.start_timestamp or "")
    if time_axis == "minutes" or recording.origin_epoch_seconds is None:
        return _TimeAxis(False, 0.0, None)
    if first is None:  # fall back to UTC
        wall = _dt.datetime(1970, 1, 1) + _dt.timedelta(seconds=recording.origin_epoch_seconds)
    else:
        # The wall clock as the monitor wrote it; the first sample of the
        # report is the first of the recording.
        wall = first.wall_clock
    midnight = _dt.datetime(wall.year, wall.month, wall.day)
    return _TimeAxis(True, (wall - midnight).total_seconds(), wall.date())


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


def _trace(axis: _TimeAxis, seconds: Sequence[float], values: Sequence[float]) -> Tuple[List[float], List[float]]:
    """x coordinates and values with a NaN between rows further apart than the
    gap limit, so that the line breaks where the monitor recorded nothing."""
    xs: List[float] = []
    ys: List[float] = []
    previous: Optional[float] = None
    for second, value in zip(seconds, values):
        if previous is not None and second - previous > _TRACE_GAP_SECONDS:
            xs.append(math.nan)
            ys.append(math.nan)
        xs.append(axis.x(second))
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


def _draw_events(
    fhr: "Axes", toco: "Axes", events: Sequence[RecordingEvent], offset_of: Any, axis: _TimeAxis, toco_top: float
) -> None:
    """Accelerations and decelerations as shaded spans of the heart-rate panel
    (gid "<kind>-<n>"), contraction peaks as markers on the TOCO panel."""
    counts: Dict[str, int] = {}
    peaks_x: List[float] = []
    peaks_y: List[float] = []
    for event in events:
        start, end = offset_of(event.start), offset_of(event.end)
        if start is None or end is None:
            continue
        if event.kind == "contraction":
            peak = offset_of(event.peak or "")
            if peak is not None and event.peak_toco is not None:
                peaks_x.append(axis.x(peak))
                peaks_y.append(min(event.peak_toco, toco_top))
            continue
        key = "acceleration" if event.kind == "acceleration" else f"deceleration-{event.deceleration_kind}"
        colour, label = event_colour(event), event_label(event)
        number = counts.get(key, 0)
        counts[key] = number + 1
        fhr.axvspan(
            axis.x(start),
            # A zero-length event still gets one second of paper.
            axis.x(max(end, start + 1.0)),
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
            color=CONTRACTION_COLOUR,
            zorder=4,
            label="contraction peak",
            gid="contraction-peaks",
        )


def _with_alpha(colour: str, alpha: float) -> Tuple[float, float, float, float]:
    red, green, blue = (int(colour[index : index + 2], 16) / 255 for index in (1, 3, 5))
    return red, green, blue, alpha


def _draw_no_toco(toco: "Axes", found: Sequence[Tuple[float, float]], axis: _TimeAxis, cm_per_minute: float) -> None:
    """ "no TOCO signal" written over each absent or flat stretch, repeated
    along long stretches so that it is in sight wherever the paper is read."""
    for start, end in found:
        width_cm = (end - start) / SECONDS_PER_MINUTE * cm_per_minute
        if width_cm < _NO_TOCO_MIN_CM:
            continue
        count = max(1, int(width_cm // _NO_TOCO_REPEAT_CM))
        for index in range(count):
            middle = start + (end - start) * (index + 0.5) / count
            toco.text(
                axis.x(middle),
                (TOCO_RANGE[0] + TOCO_RANGE[1]) / 2,
                NO_TOCO_TEXT,
                ha="center",
                va="center",
                fontsize=11,
                color="#555555",
                gid="no-toco-signal",
            )


def _drawquality_runs(fhr: "Axes", quality: Quality, axis: _TimeAxis) -> None:
    """The seconds without fetal signal and those of suspected maternal
    capture, shaded over the whole height of the heart-rate panel."""
    low, high = fhr.get_ylim()
    for runs_found, colour, hatch, label, gid in (
        (quality.no_signal, NO_SIGNAL_COLOUR, None, NO_SIGNAL_LABEL, "shade-no-signal"),
        # Hatched, so that events shaded over it keep their colour.
        (quality.capture, CAPTURE_COLOUR, "////", CAPTURE_LABEL, "shade-capture"),
    ):
        if not runs_found:
            continue
        fhr.broken_barh(
            [(axis.x(start), axis.x(end) - axis.x(start)) for start, end in runs_found],
            (low, high - low),
            facecolors=_with_alpha(colour, _QUALITY_ALPHA),
            edgecolors=_with_alpha(colour, _HATCH_ALPHA),
            hatch=hatch,
            linewidth=0,
            zorder=0.6,
            label=label,
            gid=gid,
        )


def _draw_traces(fhr: "Axes", toco: "Axes", recording: Recording, channel: str, axis: _TimeAxis) -> None:
    if not len(recording):
        return
    maternal = recording.signal("hrm")
    if any(not math.isnan(value) for value in maternal):
        xs, ys = _trace(axis, recording.seconds, maternal)
        fhr.plot(xs, ys, color=MATERNAL_COLOUR, linewidth=0.5, zorder=2, label="maternal HR", gid="trace-maternal")
    xs, ys = _trace(axis, recording.seconds, recording.signal(channel))
    fhr.plot(xs, ys, color=FETAL_COLOUR, linewidth=0.75, zorder=3, label=f"fetal HR ({channel})", gid="trace-fetal")
    xs, ys = _trace(axis, recording.seconds, recording.signal("toco"))
    toco.plot(xs, ys, color=TOCO_COLOUR, linewidth=0.75, zorder=3, label="TOCO", gid="trace-toco")


def _draw_baselines(fhr: "Axes", spans: Sequence[Tile], no_signal: Sequence[Tuple[float, float]], axis: _TimeAxis) -> None:
    """Each window's baseline over the last 10 minutes it was estimated from,
    clipped to the window's span on the strip (so rolling windows tile), and
    broken where there is no fetal signal."""
    first_drawn = True
    for span in spans:
        baseline = span.window.baseline_bpm
        if baseline is None:
            continue
        xs: List[float] = []
        ys: List[float] = []
        for start, end in baseline_segments(span, no_signal):
            xs += [axis.x(start), axis.x(end), math.nan]
            ys += [baseline, baseline, math.nan]
        if not xs:
            continue
        fhr.plot(
            xs[:-1],
            ys[:-1],
            color=BASELINE_COLOUR,
            linewidth=2.4,
            alpha=0.9,
            linestyle=(0, (4, 2)),
            zorder=4,
            label="baseline" if first_drawn else "_nolegend_",
            gid=f"baseline-{span.number}",
        )
        first_drawn = False


def _draw_strip(strip: "Axes", spans: Sequence[Tile], cm_per_minute: float, axis: _TimeAxis) -> Dict[str, Any]:
    """Category (upper row) and alert level (lower row) of each window; returns
    the legend patches of the colours used."""
    from matplotlib.patches import Patch

    handles: Dict[str, Any] = {}
    strip.set_ylim(0, 2)
    strip.set_yticks([0.5, 1.5])
    strip.set_yticklabels(["alert", "category"])
    strip.grid(False, axis="y")
    for span in spans:
        left, right = axis.x(span.start), axis.x(span.end)
        rows = (
            ("category", 1, CATEGORY_STYLE[span.window.classification]),
            ("alert", 0, ALERT_STYLE[span.window.alert_level]),
        )
        for name, row, (colour, text, legend) in rows:
            strip.axvspan(
                left,
                max(right, left + 1 / SECONDS_PER_MINUTE),
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
    if selected and chosen:
        number, shown = chosen[0]
        scope = f"findings from window {number} only: {shown.window_start} – {shown.window_end}"
    else:
        scope = findings_scope(report)
    return f"{report.channel} · {scope} · paper {paper_speed:g} cm/min"


def _time_label(report: Report, axis: _TimeAxis) -> str:
    if axis.clock:
        return "clock time as recorded (date under the first tick and at midnight)"
    return f"minutes from {report.input.start_timestamp or 'the first sample'} (first sample)"


def plot_recording(
    recording: Recording,
    report: Report,
    *,
    window: Optional[int] = None,
    paper_speed: float = 1,
    time_axis: str = "clock",
) -> "Figure":
    """Draw the recording and its report; returns a matplotlib Figure (Agg).

    `window` selects one window (0 = first, -1 = last) instead of the whole
    recording; `paper_speed` is the paper speed in cm/min (1 or 3);
    `time_axis` labels the time axis with the clock time the monitor recorded
    ("clock") or minutes from the first sample ("minutes")."""
    if paper_speed not in PAPER_SPEEDS:
        raise ValueError(f"paper speed must be 1 or 3 cm/min, not {paper_speed}")
    axis = _time_axis(report, recording, time_axis)
    _, figure_class, canvas_class = _matplotlib()
    from matplotlib import ticker

    chosen = select_window(report, window)
    selected = window is not None
    bounds = window_bounds(report)

    def offset_of(text: str) -> Optional[float]:
        return recording.offset_of(epoch_seconds(text))

    spans = window_tiles(chosen, offset_of, since_previous=not selected)
    start_s, end_s = time_range(recording, spans, selected)
    minutes = (end_s - start_s) / SECONDS_PER_MINUTE
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
    major_minutes = _time_step(minutes_per_cm, _LABEL_SPACING_CM, minutes)
    for axes, gid in ((strip, "panel-strip"), (fhr, "panel-fhr"), (toco, "panel-toco")):
        axes.set_gid(gid)
        _paper_grid(axes, ticker, _time_step(minutes_per_cm, _MINOR_GRID_CM, minutes), major_minutes)
    _value_grid(fhr, ticker, fhr_range(recording, report.channel, start_s, end_s), FHR_GRID_STEP, _FHR_MAJOR_STEP)
    _value_grid(toco, ticker, TOCO_RANGE, _TOCO_MINOR_STEP, _TOCO_MAJOR_STEP)
    strip.set_xlim(axis.x(start_s), axis.x(end_s))
    view_start = axis.x(start_s) - _TICK_TOLERANCE_MIN
    toco.xaxis.set_major_formatter(
        ticker.FuncFormatter(
            lambda x, _position: axis.label(
                x, first_label=view_start <= x < view_start + major_minutes, with_seconds=major_minutes < 1
            )
        )
    )
    for axes in (strip, fhr):
        axes.tick_params(axis="x", labelbottom=False)
    fhr.axhspan(*FHR_NORMAL_BAND, color=BAND_COLOUR, alpha=0.55, zorder=0.5, label=NORMAL_BAND_LABEL, gid="fhr-band")
    fhr.set_ylabel(f"FHR ({report.channel}), bpm")
    toco.set_ylabel("TOCO")
    toco.set_xlabel(_time_label(report, axis))
    strip.set_title(_title(report, chosen, selected, paper_speed), loc="left", fontsize=9)

    selected_bounds = bounds[chosen[0][0]] if selected and chosen and bounds is not None else None
    quality = quality_runs(recording, report.channel, selected_bounds)
    _drawquality_runs(fhr, quality, axis)
    _draw_events(fhr, toco, events_to_draw(report, chosen, bounds, selected), offset_of, axis, TOCO_RANGE[1])
    _draw_traces(fhr, toco, recording, report.channel, axis)
    _draw_baselines(fhr, spans, quality.no_signal, axis)
    _draw_no_toco(toco, flat_toco_runs(recording, spans, start_s, end_s), axis, 1.0 / minutes_per_cm)
    strip_handles = _draw_strip(strip, spans, 1.0 / minutes_per_cm, axis)

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
