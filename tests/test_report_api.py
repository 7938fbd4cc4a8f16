"""The typed Python API: analyze_csv / analyze_json, Report and its frames."""

import ast
import codecs
import dataclasses
import datetime as dt
import graphlib
import inspect
import io
import json
import pathlib
import runpy
import sys

import pytest

import corvane
from corvane import _native
from corvane.report import Report, read_source
from conftest import REPO_DIR, TESTS_DIR, read_text

GOLDEN_DIR = TESTS_DIR / "golden"
CASES = json.loads(read_text(GOLDEN_DIR / "cases.json"))
CASE_IDS = [case["input"] for case in CASES]

HEADER_ONLY = "Date,HR1,TOCO\n"
TWO_ROWS = "Date,HR1,HRM,TOCO\n2024-03-10 14:05:09,140,80,10\n2024-03-10 14:05:10,141,80,11\n"


def typed_call(case, source):
    if case["function"] == "analyze_csv_string":
        return corvane.analyze_csv(source, **case["kwargs"])
    return corvane.analyze_json(source)


def assert_mirrors(value, data, where="report"):
    """Every key of the JSON data is an attribute of the same name holding the
    same value, with the JSON type (arrays as tuples)."""
    if isinstance(data, dict):
        assert dataclasses.is_dataclass(value), where
        names = [field.name for field in dataclasses.fields(value) if field.name != "text"]
        assert names == list(data), where
        for key, item in data.items():
            assert_mirrors(getattr(value, key), item, f"{where}.{key}")
    elif isinstance(data, list):
        assert isinstance(value, tuple) and len(value) == len(data), where
        for index, (got, item) in enumerate(zip(value, data)):
            assert_mirrors(got, item, f"{where}[{index}]")
    else:
        assert type(value) is type(data) and value == data, (where, value, data)


# --- round trip over every golden case ---------------------------------------


@pytest.mark.parametrize("case", CASES, ids=CASE_IDS)
def test_golden_report_round_trip(case):
    path = GOLDEN_DIR / case["input"]
    report = typed_call(case, path)
    expected = read_text(GOLDEN_DIR / case["expected"])
    assert report.text == expected
    assert report.to_dict() == json.loads(expected)
    assert_mirrors(report, json.loads(expected))
    assert report.config == corvane.ReportConfig(*list(json.loads(expected).values())[:4])


def test_to_dict_returns_a_fresh_object_each_time():
    report = corvane.analyze_csv(TWO_ROWS)
    first = report.to_dict()
    first["windows"].clear()
    assert len(report.to_dict()["windows"]) == 1


def test_reports_are_frozen():
    report = corvane.analyze_csv(TWO_ROWS)
    with pytest.raises(dataclasses.FrozenInstanceError):
        report.windows[0].baseline_bpm = 150
    with pytest.raises(dataclasses.FrozenInstanceError):
        report.channel = "HR2"


def test_raw_control_characters_in_timestamps_are_kept():
    # Characters after the third fraction digit are not read as time, so a tab
    # there survives into the report text unescaped.
    text = "Date,HR1\n2024-03-10 14:05:09.123\tx,140\n2024-03-10 14:05:10,140\n"
    report = corvane.analyze_csv(text)
    assert report.input.start_timestamp == "2024-03-10 14:05:09.123\tx"
    assert report.windows[0].window_start == "2024-03-10 14:05:09.123\tx"
    assert report.to_dict()["input"]["start_timestamp"] == "2024-03-10 14:05:09.123\tx"


# --- sources -------------------------------------------------------------------


def golden_csv_sources():
    case = CASES[1]
    path = GOLDEN_DIR / case["input"]
    text = read_text(path)
    return case, path, text


@pytest.mark.parametrize(
    "make_source",
    [
        pytest.param(lambda path, text: path, id="pathlib.Path"),
        pytest.param(lambda path, text: str(path), id="str naming a file"),
        pytest.param(lambda path, text: text, id="text"),
        pytest.param(lambda path, text: io.StringIO(text), id="text file object"),
        pytest.param(lambda path, text: io.BytesIO(text.encode("utf-8")), id="binary file object"),
    ],
)
def test_sources_give_the_native_report(make_source):
    case, path, text = golden_csv_sources()
    report = corvane.analyze_csv(make_source(path, text), **case["kwargs"])
    assert report.text == _native.analyze_csv_string(text, **case["kwargs"])


def test_open_file_objects_are_read(tmp_path):
    path = tmp_path / "r.csv"
    path.write_bytes(b"Date,HR1\r\n2024-03-10 14:05:09,140\r\n")
    with open(path, encoding="utf-8", newline="") as handle:
        assert corvane.analyze_csv(handle).input.rows == 1


@pytest.mark.parametrize(
    "source, expected",
    [
        ("Date,HR1", "Date,HR1"),  # one line that names no file: text
        ("", ""),
        ("Date,HR1\n", "Date,HR1\n"),
    ],
)
def test_strings_that_name_no_file_are_text(source, expected):
    assert read_source(source) == expected


def test_one_line_naming_a_file_is_that_file_but_text_with_a_line_break_is_text(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "Date,HR1").write_text("not this", encoding="utf-8")
    assert read_source("Date,HR1") == "not this"
    assert read_source("Date,HR1\n") == "Date,HR1\n"


CRLF_ROWS = TWO_ROWS.replace("\n", "\r\n")


@pytest.mark.parametrize(
    "data",
    [
        CRLF_ROWS.encode(),
        codecs.BOM_UTF8 + CRLF_ROWS.encode(),  # a spreadsheet's "CSV UTF-8"
        codecs.BOM_UTF16_LE + CRLF_ROWS.encode("utf-16-le"),
        codecs.BOM_UTF16_BE + CRLF_ROWS.encode("utf-16-be"),
    ],
)
def test_files_are_read_without_byte_order_mark_and_with_their_line_endings(tmp_path, data):
    path = tmp_path / "export.csv"
    path.write_bytes(data)
    for source in (path, str(path), io.BytesIO(data), io.StringIO("\ufeff" + CRLF_ROWS)):
        assert read_source(source) == CRLF_ROWS


@pytest.mark.parametrize(
    "source, error",
    [
        (b"Date,HR1\n", TypeError),
        (42, TypeError),
        (None, TypeError),
        (pathlib.Path("/nonexistent/recording.csv"), FileNotFoundError),
        ("recordng.csv", FileNotFoundError),  # a name, not CSV text
        ("data/recording", FileNotFoundError),
        (io.BytesIO(b"PK\x03\x04"), ValueError),
    ],
)
def test_unusable_sources(source, error):
    with pytest.raises(error):
        corvane.analyze_csv(source)


def test_json_sources(tmp_path):
    case = next(case for case in CASES if case["function"] == "analyze_json_string")
    path = GOLDEN_DIR / case["input"]
    text = read_text(path)
    expected = read_text(GOLDEN_DIR / case["expected"])
    for source in (path, str(path), text, io.StringIO(text)):
        assert corvane.analyze_json(source).text == expected


@pytest.mark.parametrize(
    "kwargs",
    [
        {},
        {"channel": " hr2 "},
        {"ga_weeks": 31},
        {"window_min": 10},
        {"window_min": 10, "step_sec": 120},
        {"window_min": 10, "step_sec": 0, "last_only": True},
    ],
)
def test_options_reach_the_analysis(kwargs):
    text = read_text(GOLDEN_DIR / "offsets_out_of_order.csv")
    assert corvane.analyze_csv(text, **kwargs).text == _native.analyze_csv_string(text, **kwargs)


def test_options_are_keyword_only():
    with pytest.raises(TypeError):
        corvane.analyze_csv(TWO_ROWS, "HR1")


@pytest.mark.parametrize(
    "function, source, kwargs, error, message",
    [
        ("csv", "HR1\n", {}, ValueError, "CSV is missing required Date column"),
        ("csv", "", {}, ValueError, "CSV is empty; expected a header row"),
        ("csv", HEADER_ONLY, {"window_min": 5}, ValueError, "window_min must be between 10 and 30"),
        ("csv", HEADER_ONLY, {"channel": "hr4"}, ValueError, "unsupported fetal channel: HR4"),
        ("csv", "Date\n2024-03-10\n", {}, ValueError, "row 2 has invalid Date: timestamp is missing date/time separator: 2024-03-10"),
        ("csv", HEADER_ONLY, {"ga_weeks": 300}, OverflowError, "out of range integral type conversion attempted"),
        ("json", "{}", {}, ValueError, "invalid analysis request JSON: missing field `episode_id` at line 1 column 2"),
        ("json", '{"episode_id": " ", "sent_at": "s", "samples": []}', {}, ValueError, "analysis request episode_id must not be empty"),
    ],
)
def test_errors_are_the_native_ones(function, source, kwargs, error, message):
    call = corvane.analyze_csv if function == "csv" else corvane.analyze_json
    with pytest.raises(error) as raised:
        call(source, **kwargs)
    assert str(raised.value) == message


# --- Report.from_text on texts that are not reports -----------------------------


def mutated(change):
    data = json.loads(read_text(GOLDEN_DIR / "recurrent_late_30min.report.json"))
    change(data)
    return json.dumps(data)


@pytest.mark.parametrize(
    "text, message",
    [
        ("[]", "not a report: the text is not a JSON object"),
        ("{", "not a report: Expecting property name"),
        (mutated(lambda d: d.pop("step_seconds")), "report has no key 'step_seconds'"),
        (mutated(lambda d: d.update(extra=1)), "report has an unknown key 'extra'"),
        (mutated(lambda d: d["windows"][0].update(alert_level="panic")), "report.windows[0].alert_level is 'panic'"),
        (mutated(lambda d: d["windows"][0].update(baseline_bpm="135")), "report.windows[0].baseline_bpm is str, expected an integer"),
        (mutated(lambda d: d["windows"][0].update(sinusoidal_pattern=0)), "report.windows[0].sinusoidal_pattern is int, expected true or false"),
        (mutated(lambda d: d["windows"][0]["features"].update(toco_mean="x")), "report.windows[0].features.toco_mean is str, expected a number"),
        (mutated(lambda d: d["input"].update(rows=True)), "report.input.rows is bool, expected an integer"),
        (mutated(lambda d: d["windows"][0].update(reasons="r")), "report.windows[0].reasons is str, expected an array"),
        (mutated(lambda d: d["windows"][0].update(data_quality=None)), "report.windows[0].data_quality is null, expected an object"),
        (
            mutated(lambda d: d["windows"][0]["deceleration_events"][1].update(kind="sudden")),
            "report.windows[0].deceleration_events[1].kind is 'sudden'",
        ),
        (mutated(lambda d: d["windows"][0]["category_iii_diagnostics"].pop("cat_iii_blockers")), "category_iii_diagnostics has no key 'cat_iii_blockers'"),
    ],
)
def test_texts_that_are_not_reports_are_refused(text, message):
    with pytest.raises(ValueError) as raised:
        Report.from_text(text)
    assert message in str(raised.value)


@pytest.mark.parametrize(
    "change, attribute, expected",
    [
        (lambda d: d["windows"][0].update(baseline_bpm=None, baseline_class=None), "baseline_bpm", None),
        (lambda d: d["windows"][0].update(tachysystole=True), "tachysystole", True),
        (lambda d: d["windows"][0].update(variability_bpm=7), "variability_bpm", 7.0),
    ],
)
def test_optional_and_integral_values(change, attribute, expected):
    window = Report.from_text(mutated(change)).windows[0]
    value = getattr(window, attribute)
    assert value == expected and type(value) is type(expected)


def test_repr_is_short():
    report = corvane.analyze_csv(read_text(GOLDEN_DIR / "offsets_out_of_order.csv"), window_min=10, step_sec=120)
    assert repr(report) == (
        "Report(channel='HR1', analysis_mode='rolling', requested_window_minutes=10, step_seconds=120, "
        "rows=3601, windows=4)"
    )


# --- data frames -----------------------------------------------------------------


@pytest.fixture
def pandas():
    return pytest.importorskip("pandas")


FRAME_CASES = [case for case in CASES if case["input"] in {
    "accelerations_ga31_rolling.csv", "recurrent_late_30min.csv", "variable_severe_json.json",
    "tachysystole_35min.csv", "absent_variability_bradycardia.csv",
}]


def golden_report(case):
    return typed_call(case, GOLDEN_DIR / case["input"])


@pytest.mark.parametrize("case", FRAME_CASES, ids=[case["input"] for case in FRAME_CASES])
def test_windows_frame_has_one_row_per_window_with_the_report_values(pandas, case):
    report = golden_report(case)
    data = report.to_dict()
    frame = report.windows_frame()
    assert len(frame) == len(data["windows"])
    assert frame.index.name == "window" and list(frame.index) == list(range(len(data["windows"])))
    assert list(frame.columns).count("contractions_per_10_min") == 1
    for number, window in enumerate(data["windows"]):
        row = frame.loc[number]
        flat = dict(window)
        for group in ("features", "data_quality", "category_iii_diagnostics"):
            flat.update(flat.pop(group))
        for key in ("acceleration_events", "deceleration_events", "contraction_events"):
            flat.pop(key)
        for key, expected in flat.items():
            got = row[key]
            if isinstance(expected, list):
                assert got == tuple(expected), key
            elif expected is None:
                assert got is None or pandas.isna(got), key
            else:
                assert got == expected, key
        end = dt.datetime.strptime(window["window_end"][:19], "%Y-%m-%d %H:%M:%S").replace(tzinfo=dt.timezone.utc)
        assert row["window_end_time"] == pandas.Timestamp(end)


@pytest.mark.parametrize("case", FRAME_CASES, ids=[case["input"] for case in FRAME_CASES])
def test_events_frame_has_one_row_per_event(pandas, case):
    report = golden_report(case)
    data = report.to_dict()
    frame = report.events_frame()
    expected_rows = []
    for number, window in enumerate(data["windows"]):
        for family in ("acceleration", "deceleration", "contraction"):
            for event in window[f"{family}_events"]:
                expected_rows.append((number, window["window_end"], family, event))
    assert len(frame) == len(expected_rows)
    for (_, row), (number, window_end, family, event) in zip(frame.iterrows(), expected_rows):
        assert (row["window"], row["window_end"], row["kind"]) == (number, window_end, family)
        assert (row["start"], row["end"], row["duration_seconds"]) == (event["start"], event["end"], event["duration_seconds"])
        if family == "deceleration":
            assert row["deceleration_kind"] == event["kind"]
            assert (row["nadir_bpm"], row["depth_bpm"]) == (event["nadir_bpm"], event["depth_bpm"])
            assert pandas.isna(row["peak_toco"])
        else:
            assert pandas.isna(row["deceleration_kind"])
        if family == "contraction":
            assert (row["peak"], row["peak_toco"]) == (event["peak"], event["peak_toco"])
        if family == "acceleration":
            assert row["peak_bpm"] == event["peak_bpm"]
        start = dt.datetime.strptime(event["start"][:19], "%Y-%m-%d %H:%M:%S").replace(tzinfo=dt.timezone.utc)
        assert row["start_time"] == pandas.Timestamp(start)


@pytest.mark.parametrize(
    "text, start_time",
    [
        ("Date,HR1\n2024-03-10T14:05:09+02:00,140\n", "2024-03-10 12:05:09"),
        ("Date,HR1\n2024-03-10 14:05:09.250Z,140\n", "2024-03-10 14:05:09.250"),
        ("Date,HR1\n2024-03-10 14:05:09-05:30,140\n", "2024-03-10 19:35:09"),
    ],
)
def test_frame_times_are_utc(pandas, text, start_time):
    frame = corvane.analyze_csv(text).windows_frame()
    assert frame.loc[0, "window_start_time"] == pandas.Timestamp(start_time, tz="UTC")


def test_frames_of_a_report_without_windows(pandas):
    report = corvane.analyze_csv(HEADER_ONLY)
    assert report.windows == ()
    windows = report.windows_frame()
    events = report.events_frame()
    assert len(windows) == 0 and "fetal_hr_mean_bpm" in windows.columns
    assert len(events) == 0 and "deceleration_kind" in events.columns


@pytest.mark.parametrize("method", ["windows_frame", "events_frame"])
def test_frames_without_pandas_say_what_to_install(monkeypatch, method):
    report = corvane.analyze_csv(TWO_ROWS)
    monkeypatch.setitem(sys.modules, "pandas", None)
    with pytest.raises(ImportError) as raised:
        getattr(report, method)()
    assert "install corvane[pandas]" in str(raised.value)


# --- the package -----------------------------------------------------------------


def test_package_ships_type_information():
    package = pathlib.Path(corvane.__file__).resolve().parent
    assert (package / "py.typed").is_file()
    stub = ast.parse((package / "_native.pyi").read_text(encoding="utf-8"))
    functions = {node.name: node for node in stub.body if isinstance(node, ast.FunctionDef)}
    assert set(functions) == {"analyze_csv_string", "analyze_json_string"}
    for name, node in functions.items():
        native_parameters = inspect.signature(getattr(_native, name)).parameters
        assert [argument.arg for argument in node.args.args] == list(native_parameters)
        defaults = [ast.literal_eval(value) for value in node.args.defaults]
        native_defaults = [p.default for p in native_parameters.values() if p.default is not inspect.Parameter.empty]
        assert defaults == native_defaults
    assert any(isinstance(node, ast.ClassDef) and node.name == "InternalError" for node in stub.body)


def test_api_signatures_match_the_native_options():
    native = inspect.signature(_native.analyze_csv_string).parameters
    typed = inspect.signature(corvane.analyze_csv).parameters
    assert list(typed) == ["source"] + list(native)[1:]
    for name in list(native)[1:]:
        assert typed[name].default == native[name].default
        assert typed[name].kind is inspect.Parameter.KEYWORD_ONLY


def test_report_reference_is_generated_from_the_schema():
    render = runpy.run_path(str(REPO_DIR / "docs" / "make_report_reference.py"))["render"]
    page = (REPO_DIR / "docs" / "report-reference.md").read_text(encoding="utf-8")
    assert page == render(), "run python docs/make_report_reference.py"


def _imports(path, modules):
    """The package's modules that a module imports, function-local imports
    included; imports made only for type checkers are left out."""
    tree = ast.parse(path.read_text(encoding="utf-8"))
    for node in [node for node in ast.walk(tree) if isinstance(node, ast.If) and ast.unparse(node.test) == "TYPE_CHECKING"]:
        node.body = []
    found = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            found.update(alias.name for alias in node.names)
        elif isinstance(node, ast.ImportFrom):
            assert node.level == 0, f"relative import in {path}"
            found.update(f"{node.module}.{a.name}" if f"{node.module}.{a.name}" in modules else node.module for a in node.names)
    return found & modules.keys()


def test_the_package_has_no_import_circle():
    package = pathlib.Path(corvane.__file__).resolve().parent
    modules = {  # the compiled module is known by its stub
        ".".join(["corvane", *path.relative_to(package).with_suffix("").parts]).removesuffix(".__init__"): path
        for path in [*package.rglob("*.py"), *package.rglob("*.pyi")]
    }
    graph = {name: _imports(path, modules) for name, path in modules.items()}
    assert "corvane.report" in graph["corvane._cli.analysis"]
    graphlib.TopologicalSorter(graph).prepare()  # raises CycleError naming the circle
