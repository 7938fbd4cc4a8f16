"""The interactive review page: one self-contained HTML file per recording.

The page holds, from top to bottom: the input summary and the analysis
options; the trace (fetal heart rate with the 110–160 bpm band, maternal
rate, TOCO) with zoom and pan on the recording's own clock time, the events
shaded by kind, the seconds of suspected maternal capture and without fetal
signal shaded, and each window's baseline; a timeline with one element per
window (``data-window`` = its number, 0 = first), coloured by category and
alert level, which shows that window's findings when clicked (or on opening
``page.html#window=N``); the recording's events as a sortable table; and the
decision-support notice.

The chart is drawn by plotly.js, inlined from the ``plotly`` package
(``pip install corvane[review]``), so the page needs no network. The page's
own script only reads the data embedded in it.
"""

from __future__ import annotations

import html
import json
import math
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence, Tuple, Union

from corvane._layout import (
    ALERT_STYLE,
    BAND_COLOUR,
    BASELINE_COLOUR,
    CAPTURE_COLOUR,
    CAPTURE_LABEL,
    CATEGORY_STYLE,
    CONTRACTION_COLOUR,
    FETAL_COLOUR,
    FHR_NORMAL_BAND,
    MATERNAL_COLOUR,
    NO_SIGNAL_COLOUR,
    NO_SIGNAL_LABEL,
    NO_TOCO_TEXT,
    NORMAL_BAND_LABEL,
    TOCO_COLOUR,
    TOCO_RANGE,
    baseline_segments,
    drawn_events,
    event_colour,
    event_label,
    fhr_range,
    flat_toco_runs,
    quality_runs,
    time_range,
    window_tiles,
)
from corvane._text_files import Source, read_source
from corvane._windows import findings_scope, window_bounds
from corvane.recording import Recording, read_csv_recording, read_request_recording
from corvane.timestamps import epoch_seconds, parse_timestamp

if TYPE_CHECKING:  # pragma: no cover
    from corvane._events import RecordingEvent
    from corvane.report import Report

__all__ = ["DISCLAIMER", "REVIEW_MISSING", "review_page", "recording_of"]

REVIEW_MISSING = "the review page needs plotly: install corvane[review]"
DISCLAIMER = (
    "corvane is decision support for research. It is not a medical device and its categories are not a diagnosis; "
    "a clinician reading the whole trace, with the clinical context, decides."
)

_MS_PER_SECOND = 1000
# Rows further apart than this are not joined by the trace line.
_TRACE_GAP_MS = 3000


def _plotly_js() -> str:
    try:
        from plotly.offline import get_plotlyjs
    except ImportError as error:
        raise ImportError(REVIEW_MISSING) from error
    script: str = get_plotlyjs()
    return script


def recording_of(source: Union[Recording, Source]) -> Recording:
    """A recording given as such, or read from a CSV export or JSON request
    (path, text or file object)."""
    if isinstance(source, Recording):
        return source
    text = read_source(source)
    return read_request_recording(text) if text.lstrip().startswith("{") else read_csv_recording(text)


def _number(value: float) -> Union[int, float, None]:
    """A value for the embedded data: None for NaN, whole numbers without '.0'."""
    if math.isnan(value):
        return None
    return int(value) if value.is_integer() and abs(value) < 1e15 else value


def _samples(recording: Recording, channel: str) -> Dict[str, Any]:
    """The rows as offsets in ms from the first sample and their values, with
    an empty row wherever rows lie more than 3 seconds apart."""
    offsets: List[int] = []
    values: Dict[str, List[Any]] = {"fetal": [], "maternal": [], "toco": []}
    signals = (("fetal", recording.signal(channel)), ("maternal", recording.signal("hrm")), ("toco", recording.signal("toco")))
    previous: Optional[int] = None
    for index, second in enumerate(recording.seconds):
        offset = round(second * _MS_PER_SECOND)
        if previous is not None and offset - previous > _TRACE_GAP_MS:
            offsets.append(previous + 1)
            for name, _ in signals:
                values[name].append(None)
        offsets.append(offset)
        for name, signal in signals:
            values[name].append(_number(signal[index]))
        previous = offset
    if all(value is None for value in values["maternal"]):
        values["maternal"] = []
    return {"t": offsets, **values}


def _ms(seconds: float) -> int:
    return round(seconds * _MS_PER_SECOND)


def _runs_ms(found: Sequence[Tuple[float, float]]) -> List[List[int]]:
    return [[_ms(start), _ms(end)] for start, end in found]


def _event_row(number: int, event: "RecordingEvent", offset_of: Any) -> Dict[str, Any]:
    start, end = offset_of(event.start), offset_of(event.end)
    value = event.nadir_bpm if event.kind == "deceleration" else event.peak_bpm
    windows = str(event.first_window) if event.window_count == 1 else f"{event.first_window}–{event.last_window}"
    return {
        "number": number,
        "label": event_label(event),
        "start": event.start,
        "end": event.end,
        "start_ms": None if start is None else _ms(start),
        "end_ms": None if end is None else _ms(end),
        "duration": event.duration_seconds,
        "bpm": value,
        "depth": event.depth_bpm,
        "toco": event.peak_toco,
        "windows": windows,
        "window_count": event.window_count,
        "kinds_seen": ", ".join(kind.replace("_", " ") for kind in event.kinds_seen),
        "cut": event.cut_at_window_edge,
    }


def _page_data(report: "Report", recording: Recording) -> Dict[str, Any]:
    def offset_of(text: str) -> Optional[float]:
        return recording.offset_of(epoch_seconds(text))

    windows = list(enumerate(report.windows))
    tiles = window_tiles(windows, offset_of, since_previous=True)
    start, end = time_range(recording, tiles, selected=False)
    quality = quality_runs(recording, report.channel, None)
    first = parse_timestamp(report.input.start_timestamp or "")
    origin_ms = round((recording.origin_epoch_seconds or 0.0) * _MS_PER_SECOND)
    # The chart shows the wall clock the monitor wrote (its offset from UTC kept).
    clock_origin = origin_ms + (first.offset_minutes * 60_000 if first is not None else 0)

    baselines: List[List[Any]] = []
    for tile in tiles:
        if tile.window.baseline_bpm is not None:
            for left, right in baseline_segments(tile, quality.no_signal):
                baselines.append([_ms(left), _ms(right), tile.window.baseline_bpm, tile.number])

    bounds = window_bounds(report)
    spans: List[Optional[List[int]]] = []
    for number, window in windows:
        if bounds is not None:
            spans.append([bounds[number][0] - origin_ms, bounds[number][1] - origin_ms])
        else:
            begins, ends = offset_of(window.window_start), offset_of(window.window_end)
            spans.append(None if begins is None or ends is None else [_ms(begins), _ms(ends)])

    shown = drawn_events(report.recording_events())
    groups: Dict[str, Dict[str, Any]] = {}
    peaks: List[List[Any]] = []
    for event in shown:
        onset, offset = offset_of(event.start), offset_of(event.end)
        if onset is None or offset is None:
            continue
        label = event_label(event)
        group = groups.setdefault(label, {"name": label, "colour": event_colour(event), "runs": []})
        # A zero-length event still gets one second.
        group["runs"].append([_ms(onset), _ms(max(offset, onset + 1.0))])
        peak = offset_of(event.peak or "")
        if event.kind == "contraction" and peak is not None and event.peak_toco is not None:
            peaks.append([_ms(peak), min(event.peak_toco, TOCO_RANGE[1]), event.peak or ""])

    data = report.to_dict()
    return {
        "clock_origin": clock_origin,
        "range": [_ms(start), _ms(end)],
        "channel": report.channel,
        "samples": _samples(recording, report.channel),
        "fhr_range": list(fhr_range(recording, report.channel, start, end)),
        "band": list(FHR_NORMAL_BAND),
        "toco_range": list(TOCO_RANGE),
        "baselines": baselines,
        "shading": [
            {"name": NO_SIGNAL_LABEL, "colour": NO_SIGNAL_COLOUR, "runs": _runs_ms(quality.no_signal), "hatch": False},
            {"name": CAPTURE_LABEL, "colour": CAPTURE_COLOUR, "runs": _runs_ms(quality.capture), "hatch": True},
        ],
        "events": [dict(group, runs=group["runs"]) for group in groups.values()],
        "peaks": peaks,
        "no_toco": _runs_ms(flat_toco_runs(recording, tiles, start, end)),
        "windows": data["windows"],
        "spans": spans,
        "styles": {
            "category": {key: list(value) for key, value in CATEGORY_STYLE.items()},
            "alert": {key: list(value) for key, value in ALERT_STYLE.items()},
        },
        "colours": {
            "fetal": FETAL_COLOUR,
            "maternal": MATERNAL_COLOUR,
            "toco": TOCO_COLOUR,
            "baseline": BASELINE_COLOUR,
            "band": BAND_COLOUR,
            "contraction": CONTRACTION_COLOUR,
        },
        "labels": {"band": NORMAL_BAND_LABEL, "no_toco": NO_TOCO_TEXT},
        "event_rows": [_event_row(number, event, offset_of) for number, event in enumerate(report.recording_events())],
    }


def _json_for_script(value: Any) -> str:
    # Inside <script> only "</" can end the element early.
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"), allow_nan=False).replace("</", "<\\/")


def _escape(value: Any) -> str:
    return html.escape("—" if value is None else str(value))


def _summary(report: "Report", title: str) -> str:
    summary = report.input
    minutes = f"{summary.duration_seconds / 60:.1f} min"
    window = "—" if report.requested_window_minutes is None else f"{report.requested_window_minutes} min"
    rows = [
        ("recording", title),
        ("rows", summary.rows),
        ("first sample", summary.start_timestamp),
        ("last sample", summary.end_timestamp),
        ("duration", minutes),
        ("rows out of order", summary.out_of_order_rows),
        ("duplicate timestamps", summary.duplicate_timestamps),
        ("fetal channel", report.channel),
        ("analysis mode", report.analysis_mode),
        ("window length", window),
        ("step", f"{report.step_seconds} s" if report.analysis_mode == "rolling" else "—"),
        ("windows", len(report.windows)),
    ]
    cells = "".join(f"<div><dt>{_escape(name)}</dt><dd>{_escape(value)}</dd></div>" for name, value in rows)
    return f'<dl class="summary" id="summary">{cells}</dl>'


def _timeline(report: "Report") -> str:
    buttons = []
    for number, window in enumerate(report.windows):
        category_colour, category_text, _ = CATEGORY_STYLE[window.classification]
        alert_colour, alert_text, _ = ALERT_STYLE[window.alert_level]
        end_time = parse_timestamp(window.window_end)
        shown_end = end_time.wall_clock.strftime("%H:%M") if end_time is not None else window.window_end
        buttons.append(
            f'<button type="button" class="window" data-window="{number}" aria-pressed="false" '
            f'style="--category:{category_colour};--alert:{alert_colour}" '
            f'title="window {number}: {_escape(window.window_start)} – {_escape(window.window_end)}">'
            f'<span class="category">{_escape(category_text)}</span>'
            f'<span class="alert">{_escape(alert_text)}</span>'
            f'<span class="end">{_escape(shown_end)}</span></button>'
        )
    if not buttons:
        return '<p class="empty">The report has no analysis window.</p>'
    return f'<div class="windows" id="windows">{"".join(buttons)}</div>'


_EVENT_COLUMNS = (
    ("#", "number", "number"),
    ("event", "label", "text"),
    ("start", "start_ms", "number"),
    ("end", "end_ms", "number"),
    ("duration (s)", "duration", "number"),
    ("peak / nadir (bpm)", "bpm", "number"),
    ("depth (bpm)", "depth", "number"),
    ("peak TOCO", "toco", "number"),
    ("windows", "window_count", "number"),
    ("kinds seen", "kinds_seen", "text"),
    ("cut at window edge", "cut", "text"),
)


def _format_cell(key: str, row: Dict[str, Any]) -> str:
    value = row[key]
    if key in ("start_ms", "end_ms"):
        return _escape(row[key.replace("_ms", "")])
    if key == "window_count":
        return _escape(row["windows"])
    if key == "cut":
        return "yes" if value else ""
    if isinstance(value, float):
        return f"{value:.1f}"
    return "" if value is None else _escape(value)


def _events_table(rows: Sequence[Dict[str, Any]]) -> str:
    head = "".join(
        f'<th scope="col" data-key="{key}" data-type="{kind}" aria-sort="none"><button type="button">{_escape(name)}</button></th>'
        for name, key, kind in _EVENT_COLUMNS
    )
    body = []
    for row in rows:
        cells = []
        for _, key, kind in _EVENT_COLUMNS:
            sort = row[key]
            sort_text = "" if sort is None else str(sort if kind == "number" or isinstance(sort, str) else int(sort))
            cells.append(f'<td data-sort="{_escape(sort_text)}">{_format_cell(key, row)}</td>')
        start, end = row["start_ms"], row["end_ms"]
        span = "" if start is None or end is None else f' data-start="{start}" data-end="{end}"'
        body.append(f"<tr{span}>{''.join(cells)}</tr>")
    return (
        f'<table id="events-table" class="sortable"><thead><tr>{head}</tr></thead>'
        f'<tbody>{"".join(body)}</tbody></table>'
    )


def review_page(report: "Report", recording: Union[Recording, Source], *, title: Optional[str] = None) -> str:
    """The review page of `report` over `recording` as one HTML text."""
    plotly_js = _plotly_js()
    recording = recording_of(recording)
    name = title or report.input.start_timestamp or "recording"
    data = _page_data(report, recording)
    return _PAGE.format(
        title=_escape(f"corvane review · {name}"),
        heading=_escape(name),
        scope=_escape(findings_scope(report)),
        summary=_summary(report, name),
        timeline=_timeline(report),
        events=_events_table(data.pop("event_rows")),
        event_count=len(report.recording_events()),
        disclaimer=_escape(DISCLAIMER),
        style=_STYLE,
        plotly=plotly_js.replace("</script", "<\\/script"),
        data=_json_for_script(data),
        script=_SCRIPT,
    )


_STYLE = """
body { font: 14px/1.4 system-ui, sans-serif; margin: 0; color: #1a1a1a; background: #fafafa; }
header, main, footer { max-width: 1400px; margin: 0 auto; padding: 0 16px; }
h1 { font-size: 20px; margin: 16px 0 4px; } h2 { font-size: 16px; margin: 20px 0 8px; }
.scope { margin: 0 0 8px; color: #444; }
.summary { display: flex; flex-wrap: wrap; gap: 4px 20px; margin: 0; padding: 8px 12px; background: #fff; border: 1px solid #ddd; }
.summary div { display: flex; gap: 6px; } .summary dt { color: #666; } .summary dd { margin: 0; font-weight: 600; }
#chart { background: #fff; border: 1px solid #ddd; height: 600px; }
.windows { display: flex; flex-wrap: wrap; gap: 4px; }
.window { display: flex; flex-direction: column; min-width: 64px; padding: 0; border: 1px solid #999; background: #fff;
  cursor: pointer; font: inherit; font-size: 12px; }
.window span { padding: 1px 6px; } .window .category { background: var(--category); }
.window .alert { background: var(--alert); } .window .end { color: #333; }
.window[aria-pressed="true"] { outline: 3px solid #1e6fd9; }
#findings { margin-top: 10px; padding: 10px 14px; background: #fff; border: 1px solid #ddd; min-height: 40px; }
#findings h3 { margin: 0 0 6px; font-size: 15px; }
#findings .facts { display: grid; grid-template-columns: max-content 1fr; gap: 2px 14px; margin: 0 0 8px; }
#findings .facts dt { color: #666; } #findings .facts dd { margin: 0; }
#findings ul { margin: 2px 0 8px; padding-left: 20px; } #findings h4 { margin: 8px 0 2px; font-size: 13px; }
table.sortable { border-collapse: collapse; background: #fff; width: 100%; font-size: 13px; }
table.sortable th, table.sortable td { border: 1px solid #ddd; padding: 3px 6px; text-align: left; }
table.sortable th button { font: inherit; font-weight: 600; background: none; border: 0; cursor: pointer; padding: 0; }
table.sortable th[aria-sort="ascending"] button::after { content: " ▲"; }
table.sortable th[aria-sort="descending"] button::after { content: " ▼"; }
table.sortable tbody tr { cursor: pointer; } table.sortable tbody tr:hover { background: #eef5ff; }
.table-wrap { max-height: 480px; overflow: auto; border: 1px solid #ddd; }
footer { margin: 24px auto 32px; color: #444; font-size: 13px; border-top: 1px solid #ddd; padding-top: 10px; }
"""

_SCRIPT = r"""
(function () {
  "use strict";
  var data = JSON.parse(document.getElementById("review-data").textContent);
  var origin = data.clock_origin;
  var chart = document.getElementById("chart");
  var t = data.samples.t.map(function (offset) { return origin + offset; });

  function polygons(runs, low, high) {
    var xs = [], ys = [];
    runs.forEach(function (run) {
      var a = origin + run[0], b = origin + run[1];
      xs.push(a, a, b, b, a, null);
      ys.push(low, high, high, low, low, null);
    });
    return { x: xs, y: ys };
  }

  var fhrLow = data.fhr_range[0], fhrHigh = data.fhr_range[1];
  var traces = [];
  data.shading.forEach(function (shade) {
    if (!shade.runs.length) { return; }
    var shape = polygons(shade.runs, fhrLow, fhrHigh);
    traces.push({ type: "scatter", mode: "lines", x: shape.x, y: shape.y, fill: "toself", name: shade.name,
      fillcolor: shade.colour, opacity: shade.hatch ? 0.45 : 0.3, line: { width: 0 }, hoveron: "fills",
      fillpattern: shade.hatch ? { shape: "/", fgcolor: shade.colour, bgcolor: "rgba(255,255,255,0)" } : undefined,
      xaxis: "x", yaxis: "y" });
  });
  data.events.forEach(function (group) {
    var onToco = group.name === "contraction";
    var shape = onToco ? polygons(group.runs, data.toco_range[0], data.toco_range[1]) : polygons(group.runs, fhrLow, fhrHigh);
    traces.push({ type: "scatter", mode: "lines", x: shape.x, y: shape.y, fill: "toself", name: group.name,
      fillcolor: group.colour, opacity: onToco ? 0.2 : 0.35, line: { width: 0 }, hoveron: "fills",
      xaxis: "x", yaxis: onToco ? "y2" : "y" });
  });
  if (data.samples.maternal.length) {
    traces.push({ type: "scatter", mode: "lines", x: t, y: data.samples.maternal, name: "maternal HR",
      line: { color: data.colours.maternal, width: 1 }, connectgaps: false, xaxis: "x", yaxis: "y" });
  }
  traces.push({ type: "scatter", mode: "lines", x: t, y: data.samples.fetal, name: "fetal HR (" + data.channel + ")",
    line: { color: data.colours.fetal, width: 1.2 }, connectgaps: false, xaxis: "x", yaxis: "y" });
  var bx = [], by = [];
  data.baselines.forEach(function (b) { bx.push(origin + b[0], origin + b[1], null); by.push(b[2], b[2], null); });
  if (bx.length) {
    traces.push({ type: "scatter", mode: "lines", x: bx, y: by, name: "baseline",
      line: { color: data.colours.baseline, width: 3, dash: "dash" }, xaxis: "x", yaxis: "y" });
  }
  traces.push({ type: "scatter", mode: "lines", x: t, y: data.samples.toco, name: "TOCO",
    line: { color: data.colours.toco, width: 1.2 }, connectgaps: false, xaxis: "x", yaxis: "y2" });
  if (data.peaks.length) {
    traces.push({ type: "scatter", mode: "markers", name: "contraction peak", xaxis: "x", yaxis: "y2",
      x: data.peaks.map(function (p) { return origin + p[0]; }), y: data.peaks.map(function (p) { return p[1]; }),
      text: data.peaks.map(function (p) { return p[2]; }),
      marker: { symbol: "triangle-down", size: 10, color: data.colours.contraction } });
  }
  var annotations = data.no_toco.map(function (run) {
    return { x: origin + (run[0] + run[1]) / 2, y: (data.toco_range[0] + data.toco_range[1]) / 2, xref: "x", yref: "y2",
      text: data.labels.no_toco, showarrow: false, font: { size: 15, color: "#555" } };
  });
  var band = { type: "rect", xref: "paper", x0: 0, x1: 1, yref: "y", y0: data.band[0], y1: data.band[1],
    fillcolor: data.colours.band, opacity: 0.55, line: { width: 0 }, layer: "below" };
  var layout = {
    margin: { l: 64, r: 16, t: 10, b: 10 }, dragmode: "zoom", hovermode: "closest", showlegend: true,
    legend: { orientation: "h", x: 0, y: -0.16, yanchor: "top" }, plot_bgcolor: "#fffdf8",
    xaxis: { type: "date", anchor: "y2", range: [origin + data.range[0], origin + data.range[1]],
      showgrid: true, gridcolor: "#f3c9c3", title: { text: "clock time as recorded" } },
    yaxis: { domain: [0.34, 1], range: data.fhr_range, fixedrange: true, dtick: 20, gridcolor: "#f3c9c3",
      title: { text: "FHR (" + data.channel + "), bpm" } },
    yaxis2: { domain: [0, 0.26], range: data.toco_range, fixedrange: true, dtick: 20, gridcolor: "#f3c9c3",
      title: { text: "TOCO" } },
    shapes: [band], annotations: annotations
  };
  Plotly.newPlot(chart, traces, layout, { responsive: true, displaylogo: false, scrollZoom: true });

  function el(tag, text, className) {
    var node = document.createElement(tag);
    if (text !== undefined && text !== null) { node.textContent = String(text); }
    if (className) { node.className = className; }
    return node;
  }
  function words(text) { return text === null || text === undefined ? "—" : String(text).replace(/_/g, " "); }
  function num(value, digits) { return value === null || value === undefined ? "—" : Number(value).toFixed(digits); }
  function list(parent, heading, items) {
    parent.appendChild(el("h4", heading));
    if (!items.length) { parent.appendChild(el("p", "none")); return; }
    var ul = el("ul");
    items.forEach(function (item) { ul.appendChild(el("li", item)); });
    parent.appendChild(ul);
  }
  function facts(parent, rows) {
    var dl = el("dl", null, "facts");
    rows.forEach(function (row) { dl.appendChild(el("dt", row[0])); dl.appendChild(el("dd", row[1])); });
    parent.appendChild(dl);
  }

  var findings = document.getElementById("findings");
  function show(number) {
    var w = data.windows[number];
    var kinds = {};
    w.deceleration_events.forEach(function (d) { kinds[d.kind] = (kinds[d.kind] || 0) + 1; });
    var decels = Object.keys(kinds).map(function (k) { return kinds[k] + " " + words(k); }).join(", ");
    var dq = w.data_quality, f = w.features, c3 = w.category_iii_diagnostics;
    findings.textContent = "";
    findings.appendChild(el("h3", "Window " + number + ": " + w.window_start + " – " + w.window_end));
    facts(findings, [
      ["category", data.styles.category[w.classification][2]],
      ["alert level", words(w.alert_level)],
      ["alert suppression", w.alert_suppression_reasons.length ? w.alert_suppression_reasons.join("; ") : "none"],
      ["baseline", w.baseline_bpm === null ? "indeterminate" : w.baseline_bpm + " bpm (" + words(w.baseline_class) + ")"],
      ["variability", w.variability_bpm === null ? "not determinable" : num(w.variability_bpm, 1) + " bpm (" + words(w.variability_class) + ")"],
      ["sinusoidal pattern", w.sinusoidal_pattern ? "yes" : "no"],
      ["accelerations", f.acceleration_count],
      ["decelerations", f.deceleration_count + (decels ? " (" + decels + ")" : "")],
      ["contractions", w.contractions + " (" + num(w.contractions_per_10_min, 1) + " per 10 min)"],
      ["tachysystole", w.tachysystole === null ? "not assessed" : (w.tachysystole ? "yes" : "no")],
      ["fetal signal", num(dq.fetal_usable_ratio * 100, 1) + " % of seconds"],
      ["suspected maternal capture", num(dq.suspected_maternal_capture_ratio * 100, 1) + " % of paired seconds"]
    ]);
    list(findings, "Reasons", w.reasons);
    list(findings, "High-risk findings", w.high_risk_features);
    list(findings, "Protective findings", w.protective_features);
    list(findings, "Limitations", w.limitations);
    findings.appendChild(el("h4", "Category III diagnostics"));
    facts(findings, [
      ["candidate", c3.cat_iii_candidate ? "yes" : "no"],
      ["variability near absent", c3.variability_near_absent ? "yes" : "no"],
      ["recurrent late candidate", c3.recurrent_late_candidate ? "yes" : "no"],
      ["recurrent variable candidate", c3.recurrent_variable_candidate ? "yes" : "no"],
      ["TOCO recurrence confidence", words(c3.toco_recurrence_confidence)],
      ["late deceleration timing", words(c3.late_decel_timing_confidence)]
    ]);
    list(findings, "Blockers", c3.cat_iii_blockers);
    document.querySelectorAll("[data-window]").forEach(function (node) {
      node.setAttribute("aria-pressed", node.getAttribute("data-window") === String(number) ? "true" : "false");
    });
    var span = data.spans[number];
    var shapes = [band];
    if (span) {
      shapes.push({ type: "rect", xref: "x", yref: "paper", x0: origin + span[0], x1: origin + span[1], y0: 0, y1: 1,
        fillcolor: "#1e6fd9", opacity: 0.08, line: { color: "#1e6fd9", width: 1 } });
    }
    Plotly.relayout(chart, { shapes: shapes });
  }
  document.querySelectorAll("[data-window]").forEach(function (node) {
    node.addEventListener("click", function () { show(Number(node.getAttribute("data-window"))); });
  });
  // review.html#window=N opens with window N's findings shown.
  var asked = /^#window=(\d+)$/.exec(window.location.hash);
  if (asked && Number(asked[1]) < data.windows.length) { show(Number(asked[1])); }

  var table = document.getElementById("events-table");
  if (table) {
    table.querySelectorAll("th").forEach(function (th, column) {
      th.querySelector("button").addEventListener("click", function () {
        var ascending = th.getAttribute("aria-sort") !== "ascending";
        table.querySelectorAll("th").forEach(function (other) { other.setAttribute("aria-sort", "none"); });
        th.setAttribute("aria-sort", ascending ? "ascending" : "descending");
        var numeric = th.getAttribute("data-type") === "number";
        var body = table.tBodies[0];
        var rows = Array.prototype.slice.call(body.rows);
        rows.sort(function (a, b) {
          var x = a.cells[column].getAttribute("data-sort"), y = b.cells[column].getAttribute("data-sort");
          var order;
          if (numeric) {
            var nx = x === "" ? Infinity : Number(x), ny = y === "" ? Infinity : Number(y);
            order = nx === ny ? 0 : (nx < ny ? -1 : 1);
          } else {
            order = x.localeCompare(y);
          }
          return ascending ? order : -order;
        });
        rows.forEach(function (row) { body.appendChild(row); });
      });
    });
    table.tBodies[0].addEventListener("click", function (event) {
      var row = event.target.closest("tr");
      if (!row || !row.hasAttribute("data-start")) { return; }
      var a = Number(row.getAttribute("data-start")), b = Number(row.getAttribute("data-end"));
      var margin = Math.max(120000, (b - a) * 2);
      Plotly.relayout(chart, { "xaxis.range": [origin + a - margin, origin + b + margin] });
      chart.scrollIntoView({ behavior: "smooth", block: "center" });
    });
  }
})();
"""

_PAGE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{title}</title>
<style>{style}</style>
<script>{plotly}</script>
</head>
<body>
<header>
<h1>{heading}</h1>
<p class="scope">{scope}</p>
{summary}
</header>
<main>
<section aria-label="trace"><h2>Trace</h2><div id="chart"></div></section>
<section aria-label="windows"><h2>Windows</h2>
<p>Each block is one analysis window (top: category, middle: alert level, bottom: the window's end). Click a window to see its findings and its span on the trace.</p>
{timeline}
<div id="findings" aria-live="polite">Click a window above to see its findings.</div>
</section>
<section aria-label="events"><h2>Events of the recording ({event_count})</h2>
<p>Each acceleration, deceleration and contraction once, however many overlapping windows reported it. Click a column to sort, a row to show the event on the trace.</p>
<div class="table-wrap">{events}</div>
</section>
</main>
<footer>{disclaimer}</footer>
<script type="application/json" id="review-data">{data}</script>
<script>{script}</script>
</body>
</html>
"""
