"""The Python boundary of corvane._native: call errors, argument conversion
and its order, defaults, exceptions, and the module's lifecycle."""

import ctypes
import importlib
import inspect
import json
import operator
import subprocess
import sys
import textwrap
from decimal import Decimal

import pytest

import corvane
from corvane import _native as native

# A header and no rows: every argument reaches the analysis, which yields a
# report with no window.
HEADER_ONLY = "Date,HR1,TOCO\n"
# Twelve minutes sampled every 15 s: with 10-minute windows and a 60 s step
# the windows end at 10, 11 and 12 minutes.
TWELVE_MINUTES = "Date,HR1,TOCO\n" + "".join(
    f"2024-03-10 14:{second // 60:02d}:{second % 60:02d},140,10\n" for second in range(0, 12 * 60 + 1, 15)
)
MINIMAL_REQUEST = json.dumps(
    {"episode_id": "e1", "sent_at": "2024-03-10T14:10:00Z", "samples": [{"t": "2024-03-10T14:05:09Z"}]}
)


# Python functions with the same signatures: the interpreter's own wording
# for call errors is the reference.
def analyze_csv_string(csv_text, channel="HR1", ga_weeks=None, window_min=None, step_sec=60, last_only=False):
    return "twin"


def analyze_json_string(request_json):
    return "twin"


TWINS = {"analyze_csv_string": analyze_csv_string, "analyze_json_string": analyze_json_string}


def report(text=HEADER_ONLY, **kwargs):
    return json.loads(native.analyze_csv_string(text, **kwargs))


class Index:
    """An integer-like object through __index__ only."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class IndexFails:
    def __index__(self):
        raise ValueError("index refused")


class Unrelated:
    pass


class Text(str):
    pass


class Integer(int):
    pass


def call_error(function, args, kwargs):
    with pytest.raises(TypeError) as raised:
        function(*args, **kwargs)
    return str(raised.value)


@pytest.mark.parametrize(
    "name, args, kwargs",
    [
        ("analyze_csv_string", (), {}),
        ("analyze_csv_string", (), {"channel": "HR2"}),
        ("analyze_csv_string", (HEADER_ONLY,) * 7, {}),
        ("analyze_csv_string", (HEADER_ONLY,) * 8, {}),
        ("analyze_csv_string", (HEADER_ONLY,) * 7, {"x": 1}),
        ("analyze_csv_string", (HEADER_ONLY,) * 7, {"channel": "HR1"}),
        ("analyze_csv_string", (HEADER_ONLY, "HR1"), {"channel": "HR2", "x": 1}),
        ("analyze_csv_string", (HEADER_ONLY,), {"x": 1, "channel": "HR2"}),
        ("analyze_csv_string", (HEADER_ONLY,), {"csv_text": HEADER_ONLY}),
        ("analyze_csv_string", (), {"x": 1}),
        ("analyze_csv_string", (HEADER_ONLY,), {"Channel": "HR1"}),
        ("analyze_csv_string", (HEADER_ONLY,), {"chanel": "HR1"}),
        ("analyze_csv_string", (HEADER_ONLY,), {"step_secs": 60}),
        ("analyze_csv_string", (HEADER_ONLY,), {"lastonly": True}),
        ("analyze_csv_string", (HEADER_ONLY,), {"window": 10}),
        ("analyze_csv_string", (HEADER_ONLY,), {1: 2}),
        ("analyze_csv_string", (HEADER_ONLY,), {"x": 1, 2: 3}),
        ("analyze_csv_string", (HEADER_ONLY,) * 7, {1: 2}),
        ("analyze_csv_string", (), {1: 2}),
        ("analyze_json_string", (), {}),
        ("analyze_json_string", (MINIMAL_REQUEST, MINIMAL_REQUEST), {}),
        ("analyze_json_string", (MINIMAL_REQUEST,), {"request_json": MINIMAL_REQUEST}),
        ("analyze_json_string", (), {"x": 1}),
        ("analyze_json_string", (), {"request_jsn": MINIMAL_REQUEST}),
        ("analyze_json_string", (MINIMAL_REQUEST, MINIMAL_REQUEST), {"x": 1}),
    ],
)
def test_call_errors_are_worded_as_for_a_python_function(name, args, kwargs):
    expected = call_error(TWINS[name], args, kwargs)
    assert call_error(getattr(native, name), args, kwargs) == expected


@pytest.mark.parametrize(
    "name, args, message",
    [
        ("analyze_csv_string", (), "analyze_csv_string() missing 1 required positional argument: 'csv_text'"),
        (
            "analyze_csv_string",
            (HEADER_ONLY,) * 7,
            "analyze_csv_string() takes from 1 to 6 positional arguments but 7 were given",
        ),
        ("analyze_json_string", (), "analyze_json_string() missing 1 required positional argument: 'request_json'"),
        ("analyze_json_string", ("a", "b"), "analyze_json_string() takes 1 positional argument but 2 were given"),
    ],
)
def test_call_error_texts(name, args, message):
    assert call_error(getattr(native, name), args, {}) == message


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"x": 1}, "analyze_csv_string() got an unexpected keyword argument 'x'"),
        ({"channel": "HR1"}, "analyze_csv_string() got multiple values for argument 'channel'"),
    ],
)
def test_keyword_error_texts(kwargs, message):
    assert call_error(native.analyze_csv_string, (HEADER_ONLY, "HR1"), kwargs) == message


@pytest.mark.parametrize(
    "function, signature, text_signature",
    [
        (
            native.analyze_csv_string,
            "(csv_text, channel='HR1', ga_weeks=None, window_min=None, step_sec=60, last_only=False)",
            '(csv_text, channel="HR1", ga_weeks=None, window_min=None, step_sec=60, last_only=False)',
        ),
        (native.analyze_json_string, "(request_json)", "(request_json)"),
    ],
)
def test_signature_is_the_whole_documentation(function, signature, text_signature):
    assert str(inspect.signature(function)) == signature
    assert function.__text_signature__ == text_signature
    assert function.__doc__ is None
    assert function.__module__ == "corvane._native"


def test_module_holds_the_two_functions_in_order_its_exception_and_the_monitor_type():
    public = [name for name in vars(native) if not name.startswith("__")]
    assert public == ["analyze_json_string", "analyze_csv_string", "InternalError", "Monitor"]
    assert native.__name__ == "corvane._native"
    assert native.__doc__ == ""


def test_internal_error_derives_directly_from_base_exception():
    error = native.InternalError
    assert error.__bases__ == (BaseException,)
    assert not issubclass(error, Exception)
    assert (error.__module__, error.__name__) == ("corvane._native", "InternalError")
    assert error.__doc__


@pytest.mark.parametrize("name", ["analyze_csv_string", "analyze_json_string", "InternalError"])
def test_package_reexports_the_module_objects(name):
    assert getattr(corvane, name) is getattr(native, name)
    assert name in corvane.__all__


def test_package_version_is_the_installed_distribution_version():
    from importlib import metadata

    assert corvane.__version__ == metadata.version("corvane")


@pytest.mark.parametrize(
    "function, kwargs, message",
    [
        (native.analyze_csv_string, {"csv_text": 1}, "argument 'csv_text': 'int' object cannot be converted to 'PyString'"),
        (
            native.analyze_csv_string,
            {"csv_text": HEADER_ONLY.encode()},
            "argument 'csv_text': 'bytes' object cannot be converted to 'PyString'",
        ),
        (
            native.analyze_csv_string,
            {"csv_text": HEADER_ONLY, "channel": None},
            "argument 'channel': 'NoneType' object cannot be converted to 'PyString'",
        ),
        (
            native.analyze_csv_string,
            {"csv_text": HEADER_ONLY, "channel": 1.5},
            "argument 'channel': 'float' object cannot be converted to 'PyString'",
        ),
        (
            native.analyze_csv_string,
            {"csv_text": Unrelated()},
            "argument 'csv_text': 'Unrelated' object cannot be converted to 'PyString'",
        ),
        (
            native.analyze_json_string,
            {"request_json": []},
            "argument 'request_json': 'list' object cannot be converted to 'PyString'",
        ),
        (
            native.analyze_json_string,
            {"request_json": MINIMAL_REQUEST.encode()},
            "argument 'request_json': 'bytes' object cannot be converted to 'PyString'",
        ),
    ],
)
def test_text_arguments_must_be_str(function, kwargs, message):
    with pytest.raises(TypeError) as raised:
        function(**kwargs)
    assert str(raised.value) == message


def index_message(value):
    with pytest.raises(TypeError) as raised:
        operator.index(value)
    return str(raised.value)


@pytest.mark.parametrize("name", ["ga_weeks", "window_min", "step_sec"])
@pytest.mark.parametrize("value", [1.5, "10", b"1", Decimal(10), Unrelated(), Index(2.0)])
def test_integer_arguments_carry_the_index_protocol_message(name, value):
    with pytest.raises(TypeError) as raised:
        native.analyze_csv_string(HEADER_ONLY, **{name: value})
    assert str(raised.value) == f"argument '{name}': " + index_message(value)


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"step_sec": None}, "argument 'step_sec': 'NoneType' object cannot be interpreted as an integer"),
        ({"ga_weeks": 38.0}, "argument 'ga_weeks': 'float' object cannot be interpreted as an integer"),
        ({"window_min": "20"}, "argument 'window_min': 'str' object cannot be interpreted as an integer"),
    ],
)
def test_integer_type_error_texts(kwargs, message):
    with pytest.raises(TypeError) as raised:
        native.analyze_csv_string(HEADER_ONLY, **kwargs)
    assert str(raised.value) == message


def test_errors_other_than_type_errors_from_index_pass_unchanged():
    with pytest.raises(ValueError) as raised:
        native.analyze_csv_string(HEADER_ONLY, step_sec=IndexFails())
    assert str(raised.value) == "index refused"


OUT_OF_RANGE = "out of range integral type conversion attempted"
TOO_LARGE = "Python int too large to convert to C long"


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"ga_weeks": 256}, OUT_OF_RANGE),
        ({"ga_weeks": -1}, OUT_OF_RANGE),
        ({"ga_weeks": Index(300)}, OUT_OF_RANGE),
        ({"ga_weeks": 2**63 - 1}, OUT_OF_RANGE),
        ({"ga_weeks": -(2**63)}, OUT_OF_RANGE),
        ({"window_min": -1}, OUT_OF_RANGE),
        ({"window_min": 2**32}, OUT_OF_RANGE),
        ({"step_sec": -1}, OUT_OF_RANGE),
        ({"step_sec": 2**32}, OUT_OF_RANGE),
        ({"step_sec": Integer(-5)}, OUT_OF_RANGE),
        ({"step_sec": 2**63}, TOO_LARGE),
        ({"ga_weeks": -(2**63) - 1}, TOO_LARGE),
        ({"window_min": 10**30}, TOO_LARGE),
    ],
)
def test_integer_arguments_out_of_range(kwargs, message):
    with pytest.raises(OverflowError) as raised:
        native.analyze_csv_string(HEADER_ONLY, **kwargs)
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "kwargs, field, expected",
    [
        ({}, "step_seconds", 60),
        ({"step_sec": 0}, "step_seconds", 1),
        ({"step_sec": 1}, "step_seconds", 1),
        ({"step_sec": True}, "step_seconds", 1),
        ({"step_sec": Integer(90)}, "step_seconds", 90),
        ({"step_sec": Index(45)}, "step_seconds", 45),
        ({"step_sec": 2**32 - 1}, "step_seconds", 4294967295),
        ({}, "requested_window_minutes", None),
        ({"window_min": None}, "requested_window_minutes", None),
        ({"window_min": 10}, "requested_window_minutes", 10),
        ({"window_min": Index(30)}, "requested_window_minutes", 30),
        ({}, "analysis_mode", "chunk"),
        ({"window_min": 20}, "analysis_mode", "rolling"),
        ({}, "channel", "HR1"),
        ({"channel": "HR3"}, "channel", "HR3"),
        ({"channel": " hr2\t"}, "channel", "HR2"),
        ({"channel": Text("hr3")}, "channel", "HR3"),
    ],
)
def test_accepted_values_reach_the_report(kwargs, field, expected):
    assert report(**kwargs)[field] == expected


@pytest.mark.parametrize("ga_weeks", [None, 0, 40, 255, True, Integer(37), Index(41)])
def test_gestational_age_range_is_accepted(ga_weeks):
    assert report(ga_weeks=ga_weeks)["windows"] == []


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((HEADER_ONLY, "HR2", 38, 20, 30, False), {}),
        ((HEADER_ONLY,), {"last_only": False, "step_sec": 30, "window_min": 20, "ga_weeks": 38, "channel": "HR2"}),
        ((HEADER_ONLY, "HR2"), {"window_min": 20, "step_sec": 30}),
    ],
)
def test_every_parameter_may_be_passed_by_position_or_keyword(args, kwargs):
    assert json.loads(native.analyze_csv_string(*args, **kwargs)) == report(channel="HR2", window_min=20, step_sec=30)


@pytest.mark.parametrize("window_min", [0, 9, 31, 1000, True])
def test_window_min_outside_10_to_30_is_a_value_error(window_min):
    with pytest.raises(ValueError) as raised:
        native.analyze_csv_string(HEADER_ONLY, window_min=window_min)
    assert str(raised.value) == "window_min must be between 10 and 30"


@pytest.mark.parametrize(
    "value, message",
    [
        (1, "argument 'last_only': 'int' object cannot be converted to 'PyBool'"),
        (0, "argument 'last_only': 'int' object cannot be converted to 'PyBool'"),
        (None, "argument 'last_only': 'NoneType' object cannot be converted to 'PyBool'"),
        ("True", "argument 'last_only': 'str' object cannot be converted to 'PyBool'"),
        (Integer(1), "argument 'last_only': 'Integer' object cannot be converted to 'PyBool'"),
        (1.0, "argument 'last_only': 'float' object cannot be converted to 'PyBool'"),
    ],
)
def test_last_only_must_be_a_boolean(value, message):
    with pytest.raises(TypeError) as raised:
        native.analyze_csv_string(HEADER_ONLY, last_only=value)
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "make, windows",
    [
        (lambda np: np.True_, 1),
        (lambda np: np.False_, 3),
        (lambda np: np.array([True, False])[0], 1),
        (lambda np: np.bool_(0), 3),
    ],
)
def test_numpy_boolean_scalars_are_accepted(make, windows):
    np = pytest.importorskip("numpy")
    assert len(report(TWELVE_MINUTES, window_min=10, last_only=make(np))["windows"]) == windows


@pytest.mark.parametrize(
    "name, make, message",
    [
        ("last_only", lambda np: np.int64(1), "argument 'last_only': 'int64' object cannot be converted to 'PyBool'"),
        ("last_only", lambda np: np.array(True), "argument 'last_only': 'ndarray' object cannot be converted to 'PyBool'"),
        ("channel", lambda np: np.bytes_(b"HR1"), "argument 'channel': 'bytes_' object cannot be converted to 'PyString'"),
        ("channel", lambda np: np.float64(1.0), "argument 'channel': 'float64' object cannot be converted to 'PyString'"),
    ],
)
def test_other_numpy_values_are_refused(name, make, message):
    np = pytest.importorskip("numpy")
    with pytest.raises(TypeError) as raised:
        native.analyze_csv_string(HEADER_ONLY, **{name: make(np)})
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "name, make, field, expected",
    [
        ("step_sec", lambda np: np.int64(30), "step_seconds", 30),
        ("step_sec", lambda np: np.uint32(45), "step_seconds", 45),
        ("window_min", lambda np: np.int8(12), "requested_window_minutes", 12),
        ("channel", lambda np: np.str_(" hr2 "), "channel", "HR2"),
    ],
)
def test_numpy_integers_and_strings_are_accepted(name, make, field, expected):
    np = pytest.importorskip("numpy")
    assert report(**{name: make(np)})[field] == expected


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"csv_text": 1, "channel": 2}, TypeError, "argument 'csv_text': 'int' object cannot be converted to 'PyString'"),
        ({"csv_text": HEADER_ONLY, "channel": 2, "ga_weeks": 1.5}, TypeError,
         "argument 'channel': 'int' object cannot be converted to 'PyString'"),
        ({"csv_text": HEADER_ONLY, "ga_weeks": 256, "window_min": "x"}, OverflowError, OUT_OF_RANGE),
        ({"csv_text": HEADER_ONLY, "window_min": 1.5, "step_sec": -1}, TypeError,
         "argument 'window_min': 'float' object cannot be interpreted as an integer"),
        ({"csv_text": HEADER_ONLY, "step_sec": -1, "last_only": 1}, OverflowError, OUT_OF_RANGE),
        ({"csv_text": HEADER_ONLY, "window_min": -1, "last_only": 1}, OverflowError, OUT_OF_RANGE),
        # Conversion comes before reading the CSV.
        ({"csv_text": "no header here", "step_sec": "60"}, TypeError,
         "argument 'step_sec': 'str' object cannot be interpreted as an integer"),
        ({"csv_text": "", "last_only": 1}, TypeError,
         "argument 'last_only': 'int' object cannot be converted to 'PyBool'"),
        ({"csv_text": "", "window_min": -1}, OverflowError, OUT_OF_RANGE),
        # The CSV is read before window_min is checked, which comes before the channel.
        ({"csv_text": "Time,HR1\n", "window_min": 5, "channel": "HR4"}, ValueError,
         "CSV is missing required Date column"),
        ({"csv_text": "", "window_min": 5}, ValueError, "CSV is empty; expected a header row"),
        ({"csv_text": HEADER_ONLY, "window_min": 5, "channel": "HR4"}, ValueError,
         "window_min must be between 10 and 30"),
        ({"csv_text": HEADER_ONLY, "channel": " hr4 "}, ValueError, "unsupported fetal channel: HR4"),
        ({"csv_text": HEADER_ONLY, "channel": ""}, ValueError, "unsupported fetal channel: "),
    ],
)
def test_first_failure_in_parameter_and_pipeline_order_raises(kwargs, error, message):
    with pytest.raises(error) as raised:
        native.analyze_csv_string(**kwargs)
    assert type(raised.value) is error
    assert str(raised.value) == message


def test_call_errors_come_before_any_conversion():
    with pytest.raises(TypeError) as raised:
        native.analyze_csv_string(1, 2, 3, 4, 5, 6, 7)
    assert str(raised.value) == "analyze_csv_string() takes from 1 to 6 positional arguments but 7 were given"


def encode_error(text):
    with pytest.raises(UnicodeEncodeError) as raised:
        text.encode("utf-8")
    return str(raised.value)


@pytest.mark.parametrize(
    "function, kwargs, text",
    [
        (native.analyze_csv_string, {"csv_text": "Date\udc80\n"}, "Date\udc80\n"),
        (native.analyze_csv_string, {"csv_text": "\ud800", "channel": 1}, "\ud800"),
        (native.analyze_csv_string, {"csv_text": HEADER_ONLY, "channel": "HR1\udfff", "step_sec": -1}, "HR1\udfff"),
        (native.analyze_json_string, {"request_json": '{"a": "\udbff"}'}, '{"a": "\udbff"}'),
    ],
)
def test_lone_surrogates_raise_the_interpreters_encoding_error(function, kwargs, text):
    with pytest.raises(UnicodeEncodeError) as raised:
        function(**kwargs)
    assert type(raised.value) is UnicodeEncodeError
    assert str(raised.value) == encode_error(text)


@pytest.mark.parametrize(
    "text, message",
    [
        ("", "CSV is empty; expected a header row"),
        ("HR1,TOCO\n", "CSV is missing required Date column"),
        ("Date\n2024-03-10 14:05:09\n\nno-date\n", "row 4 has invalid Date: "),
    ],
)
def test_csv_reader_messages_become_value_errors(text, message):
    with pytest.raises(ValueError) as raised:
        native.analyze_csv_string(text)
    assert type(raised.value) is ValueError
    assert str(raised.value).startswith(message)


@pytest.mark.parametrize(
    "text, message",
    [
        ("", "invalid analysis request JSON: "),
        ("[1, 2", "invalid analysis request JSON: "),
        ('{"episode_id": " ", "sent_at": "x", "samples": [{"t": "2024-03-10 14:05:09"}]}',
         "analysis request episode_id must not be empty"),
    ],
)
def test_request_reader_messages_become_value_errors(text, message):
    with pytest.raises(ValueError) as raised:
        native.analyze_json_string(text)
    assert type(raised.value) is ValueError
    assert str(raised.value).startswith(message)


@pytest.mark.parametrize(
    "call, rows, windows",
    [
        (lambda: native.analyze_csv_string(HEADER_ONLY), 0, 0),
        (lambda: native.analyze_csv_string(Text(TWELVE_MINUTES)), 49, 1),
        (lambda: native.analyze_csv_string(TWELVE_MINUTES, window_min=10), 49, 3),
        (lambda: native.analyze_csv_string(TWELVE_MINUTES, window_min=10, step_sec=0), 49, 121),
        (lambda: native.analyze_json_string(MINIMAL_REQUEST), 1, 1),
        (lambda: native.analyze_json_string(Text(MINIMAL_REQUEST)), 1, 1),
    ],
)
def test_reports_come_back_as_str(call, rows, windows):
    text = call()
    assert type(text) is str
    parsed = json.loads(text)
    assert (parsed["input"]["rows"], len(parsed["windows"])) == (rows, windows)


def test_json_requests_run_in_chunk_mode():
    parsed = json.loads(native.analyze_json_string(MINIMAL_REQUEST))
    assert (parsed["analysis_mode"], parsed["requested_window_minutes"], parsed["step_seconds"]) == ("chunk", None, 60)


@pytest.mark.parametrize(
    "kwargs",
    [
        {"window_min": 10},
        {"window_min": 10, "step_sec": 90},
        {"window_min": 11, "step_sec": 20},
    ],
)
def test_last_only_keeps_a_copy_of_the_last_window(kwargs):
    full = json.loads(native.analyze_csv_string(TWELVE_MINUTES, **kwargs))
    last = json.loads(native.analyze_csv_string(TWELVE_MINUTES, last_only=True, **kwargs))
    assert len(full["windows"]) >= 2
    assert last["windows"] == full["windows"][-1:]
    assert {key: value for key, value in last.items() if key != "windows"} == {
        key: value for key, value in full.items() if key != "windows"
    }


@pytest.mark.parametrize("text, kwargs", [(TWELVE_MINUTES, {}), (TWELVE_MINUTES, {"window_min": 30}), (HEADER_ONLY, {})])
def test_last_only_leaves_a_single_window_report_unchanged(text, kwargs):
    assert native.analyze_csv_string(text, last_only=True, **kwargs) == native.analyze_csv_string(text, **kwargs)


def reload_module():
    return importlib.reload(native)


def import_again():
    saved = sys.modules.pop("corvane._native")
    try:
        return importlib.import_module("corvane._native")
    finally:
        sys.modules["corvane._native"] = saved


def run_initialiser_again():
    library = ctypes.PyDLL(native.__file__)
    library.PyInit__native.restype = ctypes.py_object
    return library.PyInit__native()


@pytest.mark.parametrize("initialise", [reload_module, import_again, run_initialiser_again])
def test_repeated_initialisation_returns_the_first_module(initialise):
    functions = (native.analyze_csv_string, native.analyze_json_string, native.InternalError)
    module = initialise()
    assert module is native
    assert (module.analyze_csv_string, module.analyze_json_string, module.InternalError) == functions
    assert type(module.analyze_csv_string(HEADER_ONLY)) is str


SUBINTERPRETER_SCRIPT = """
import sys
sys.path[:] = {path!r}
import _testcapi
if {import_first}:
    import corvane._native
code = '''
try:
    import corvane._native
    outcome = "imported"
except BaseException as error:
    outcome = type(error).__name__ + ": " + str(error)
with open({result!r}, "w") as stream:
    stream.write(outcome)
'''
_testcapi.run_in_subinterp(code)
if {import_first}:
    corvane._native.analyze_csv_string("Date\\n")
print(open({result!r}).read())
"""


@pytest.mark.parametrize("import_first", [True, False])
def test_import_in_a_sub_interpreter_raises_import_error(import_first, tmp_path):
    pytest.importorskip("_testcapi")
    import _testcapi

    if not hasattr(_testcapi, "run_in_subinterp"):
        pytest.skip("this interpreter cannot run code in a sub-interpreter")
    script = SUBINTERPRETER_SCRIPT.format(path=sys.path, import_first=import_first, result=str(tmp_path / "outcome"))
    completed = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], capture_output=True, text=True)
    assert completed.returncode == 0, completed.stderr
    assert completed.stdout.strip() == (
        "ImportError: corvane._native can only be imported in the main interpreter, not in a sub-interpreter"
    )
