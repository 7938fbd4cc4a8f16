"""The Python boundary of corvane._native: call errors, argument conversion and
its order, values reaching the report, exceptions, and the module's lifecycle."""

import ctypes
import importlib
import inspect
import json
import operator
import subprocess
import sys
from decimal import Decimal

import pytest

import corvane
from corvane import _native as native

HEADER = "Date,HR1,TOCO\n"
REQUEST = '{"episode_id": "e1", "sent_at": "s", "samples": [{"t": "2024-03-10T14:05:09Z"}]}'
# Twelve minutes every 15 s: 10-minute windows with a 60 s step end at 10, 11 and 12 minutes.
TWELVE = HEADER + "".join(f"2024-03-10 14:{s // 60:02d}:{s % 60:02d},140,10\n" for s in range(0, 721, 15))
np = pytest.importorskip("numpy")


class Index:  # an integer through __index__ only
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class IndexFails:
    def __index__(self):
        raise ValueError("index refused")


Unrelated, Text, Integer = type("Unrelated", (), {}), type("Text", (str,), {}), type("Integer", (int,), {})


# Python twins: the interpreter's own wording of call errors is the reference.
def analyze_csv_string(csv_text, channel="HR1", ga_weeks=None, window_min=None, step_sec=60, last_only=False):
    pass


def analyze_json_string(request_json):
    pass


def raised(function, *args, keywords=None, **kwargs):
    try:
        function(*args, **(keywords or kwargs))
    except BaseException as error:  # noqa: BLE001 - the exception is the result
        return type(error), str(error)
    return None


H7 = (HEADER,) * 7
CALL_ERRORS = [
    ("analyze_csv_string", (), {}), ("analyze_csv_string", (), {"channel": "HR2"}), ("analyze_csv_string", H7, {}),
    ("analyze_csv_string", H7 + (HEADER,), {}), ("analyze_csv_string", H7, {"x": 1}),
    ("analyze_csv_string", H7, {"channel": "HR1"}), ("analyze_csv_string", (HEADER, "HR1"), {"channel": "HR2", "x": 1}),
    ("analyze_csv_string", (HEADER,), {"x": 1, "channel": "HR2"}), ("analyze_csv_string", (HEADER,), {"csv_text": HEADER}),
    ("analyze_csv_string", (), {"x": 1}), ("analyze_csv_string", (HEADER,), {"Channel": "HR1"}),
    ("analyze_csv_string", (HEADER,), {"step_secs": 60}), ("analyze_csv_string", (HEADER,), {1: 2}),
    ("analyze_csv_string", (HEADER,), {"x": 1, 2: 3}), ("analyze_csv_string", H7, {1: 2}),
    ("analyze_csv_string", (), {1: 2}), ("analyze_csv_string", (1, 2, 3, 4, 5, 6, 7), {}),
    ("analyze_json_string", (), {}), ("analyze_json_string", (REQUEST, REQUEST), {}),
    ("analyze_json_string", (REQUEST,), {"request_json": REQUEST}), ("analyze_json_string", (), {"x": 1}),
    ("analyze_json_string", (), {"request_jsn": REQUEST}), ("analyze_json_string", (REQUEST, REQUEST), {"x": 1}),
]


@pytest.mark.parametrize("name, args, kwargs", CALL_ERRORS)
def test_call_errors_are_worded_as_for_a_python_function(name, args, kwargs):
    expected = raised(globals()[name], *args, keywords=kwargs)
    assert expected[0] is TypeError and raised(getattr(native, name), *args, keywords=kwargs) == expected


def no_str(name, kind):
    return TypeError, f"argument '{name}': '{kind}' object cannot be converted to 'PyString'"


def no_bool(kind):
    return TypeError, f"argument 'last_only': '{kind}' object cannot be converted to 'PyBool'"


def no_int(name, kind):
    return TypeError, f"argument '{name}': '{kind}' object cannot be interpreted as an integer"


RANGE = OverflowError, "out of range integral type conversion attempted"
LONG = OverflowError, "Python int too large to convert to C long"
WINDOW = ValueError, "window_min must be between 10 and 30"
LIMIT = ValueError, "recording spans 1000001 analysis windows; at most 1000000 are supported"
# (arguments of analyze_csv_string, the first failure): conversion in parameter order,
# then the CSV is read, then window_min is checked, then the channel.
ERRORS = [
    ({"csv_text": 1}, no_str("csv_text", "int")), ({"csv_text": b"Date\n"}, no_str("csv_text", "bytes")),
    ({"csv_text": Unrelated()}, no_str("csv_text", "Unrelated")), ({"channel": None}, no_str("channel", "NoneType")),
    ({"channel": 1.5}, no_str("channel", "float")), ({"channel": np.bytes_(b"HR1")}, no_str("channel", "bytes_")),
    ({"channel": np.float64(1)}, no_str("channel", "float64")),
    ({"step_sec": None}, no_int("step_sec", "NoneType")), ({"ga_weeks": 38.0}, no_int("ga_weeks", "float")),
    ({"window_min": "20"}, no_int("window_min", "str")), ({"step_sec": IndexFails()}, (ValueError, "index refused")),
    ({"ga_weeks": 256}, RANGE), ({"ga_weeks": -1}, RANGE), ({"ga_weeks": Index(300)}, RANGE), ({"ga_weeks": 2**63 - 1}, RANGE),
    ({"ga_weeks": -(2**63)}, RANGE), ({"window_min": -1}, RANGE), ({"window_min": 2**32}, RANGE), ({"step_sec": -1}, RANGE),
    ({"step_sec": 2**32}, RANGE), ({"step_sec": Integer(-5)}, RANGE), ({"step_sec": 2**63}, LONG),
    ({"ga_weeks": -(2**63) - 1}, LONG), ({"window_min": 10**30}, LONG),
    ({"last_only": 1}, no_bool("int")), ({"last_only": 0}, no_bool("int")), ({"last_only": None}, no_bool("NoneType")),
    ({"last_only": "True"}, no_bool("str")), ({"last_only": Integer(1)}, no_bool("Integer")), ({"last_only": 1.0}, no_bool("float")),
    ({"last_only": np.int64(1)}, no_bool("int64")), ({"last_only": np.array(True)}, no_bool("ndarray")),
    ({"window_min": 0}, WINDOW), ({"window_min": 9}, WINDOW), ({"window_min": 31}, WINDOW), ({"window_min": True}, WINDOW),
    ({"csv_text": 1, "channel": 2}, no_str("csv_text", "int")), ({"channel": 2, "ga_weeks": 1.5}, no_str("channel", "int")),
    ({"ga_weeks": 256, "window_min": "x"}, RANGE), ({"window_min": 1.5, "step_sec": -1}, no_int("window_min", "float")),
    ({"step_sec": -1, "last_only": 1}, RANGE), ({"csv_text": "no header here", "step_sec": "60"}, no_int("step_sec", "str")),
    ({"csv_text": "", "last_only": 1}, no_bool("int")), ({"csv_text": "", "window_min": -1}, RANGE),
    ({"csv_text": "Time,HR1\n", "window_min": 5, "channel": "HR4"}, (ValueError, "CSV is missing required Date column")),
    ({"csv_text": "", "window_min": 5}, (ValueError, "CSV is empty; expected a header row")),
    ({"window_min": 5, "channel": "HR4"}, WINDOW), ({"channel": " hr4 "}, (ValueError, "unsupported fetal channel: HR4")),
    ({"channel": "HR 1"}, (ValueError, "unsupported fetal channel: HR 1")), ({"channel": "  "}, (ValueError, "unsupported fetal channel: ")),
    ({"channel": "hrm"}, (ValueError, "unsupported fetal channel: HRM")),
    ({"csv_text": "Date,HR1\n2024-01-01 00:00:00,1\n\nnope,2\n"},
     (ValueError, "row 4 has invalid Date: timestamp is missing date/time separator: nope")),
    # 10-minute windows stepping 1 s over 600 + 1,000,000 s: one window past the limit.
    ({"csv_text": "Date\n2024-01-01 00:00:00\n2024-01-12 13:56:40\n", "window_min": 10, "step_sec": 1}, LIMIT),
]


@pytest.mark.parametrize("kwargs, expected", ERRORS)
def test_first_failure_in_parameter_and_pipeline_order(kwargs, expected):
    assert raised(native.analyze_csv_string, **{"csv_text": HEADER, **kwargs}) == expected


@pytest.mark.parametrize("value", [1.5, "10", b"1", Decimal(10), Unrelated(), Index(2.0)])
def test_integer_arguments_carry_the_index_protocol_message(value):
    for name in ("ga_weeks", "window_min", "step_sec"):
        message = f"argument '{name}': " + raised(operator.index, value)[1]
        assert raised(native.analyze_csv_string, HEADER, **{name: value}) == (TypeError, message)


@pytest.mark.parametrize("function, args", [
    (native.analyze_csv_string, ("Date\udc80\n",)), (native.analyze_csv_string, ("\ud800", 1)),
    (native.analyze_csv_string, (HEADER, "HR1\udfff", None, None, -1)), (native.analyze_json_string, ('{"a": "\udbff"}',)),
])
def test_lone_surrogates_raise_the_interpreters_encoding_error(function, args):
    text = next(a for a in args if isinstance(a, str) and any("\ud800" <= c <= "\udfff" for c in a))
    assert raised(function, *args) == raised(text.encode, "utf-8")


@pytest.mark.parametrize("text, message", [
    ("", "invalid analysis request JSON: EOF while parsing a value at line 1 column 0"),
    ([], "argument 'request_json': 'list' object cannot be converted to 'PyString'"),
    (REQUEST.encode(), "argument 'request_json': 'bytes' object cannot be converted to 'PyString'"),
    ('{"episode_id": " ", "sent_at": "x", "samples": [{"t": "2024-03-10 14:05:09"}]}', "analysis request episode_id must not be empty"),
])
def test_request_errors(text, message):
    assert raised(native.analyze_json_string, text)[1] == message


# (arguments, report field, value): every accepted kind of value reaches the report.
ACCEPTED = [
    ({}, "step_seconds", 60), ({"step_sec": 0}, "step_seconds", 1), ({"step_sec": True}, "step_seconds", 1),
    ({"step_sec": Integer(90)}, "step_seconds", 90), ({"step_sec": Index(45)}, "step_seconds", 45),
    ({"step_sec": 2**32 - 1}, "step_seconds", 4294967295), ({"step_sec": np.int64(30)}, "step_seconds", 30),
    ({"step_sec": np.uint32(45)}, "step_seconds", 45), ({}, "requested_window_minutes", None),
    ({"window_min": 10}, "requested_window_minutes", 10), ({"window_min": Index(30)}, "requested_window_minutes", 30),
    ({"window_min": np.int8(12)}, "requested_window_minutes", 12), ({}, "analysis_mode", "chunk"),
    ({"window_min": 20}, "analysis_mode", "rolling"), ({}, "channel", "HR1"), ({"channel": " hr2\t"}, "channel", "HR2"),
    ({"channel": Text("hr3")}, "channel", "HR3"), ({"channel": np.str_(" hr2 ")}, "channel", "HR2"),
    *[({"ga_weeks": ga}, "windows", []) for ga in (None, 0, 40, 255, True, Integer(37), Index(41))],
    ({"csv_text": TWELVE, "window_min": 10}, "windows", 3), ({"csv_text": Text(TWELVE)}, "windows", 1),
    ({"csv_text": TWELVE, "window_min": 10, "step_sec": 0}, "windows", 121),
    *[({"csv_text": TWELVE, "window_min": 10, "last_only": flag}, "windows", n)
      for flag, n in ((np.True_, 1), (np.False_, 3), (np.array([True, False])[0], 1), (np.bool_(0), 3))],
]


@pytest.mark.parametrize("kwargs, field, expected", ACCEPTED)
def test_accepted_values_reach_the_report(kwargs, field, expected):
    text = native.analyze_csv_string(**{"csv_text": HEADER, **kwargs})
    value = json.loads(text)[field]
    assert type(text) is str and (len(value) if field == "windows" and expected else value) == expected


def test_parameters_by_position_or_keyword_and_the_request_type():
    expected = native.analyze_csv_string(HEADER, channel="HR2", window_min=20, step_sec=30)
    assert native.analyze_csv_string(HEADER, "HR2", 38, 20, 30, False) == expected
    assert native.analyze_csv_string(HEADER, last_only=False, step_sec=30, window_min=20, ga_weeks=38, channel="HR2") == expected
    assert native.analyze_json_string(Text(REQUEST)) == native.analyze_json_string(REQUEST)


def test_module_layout_signatures_and_exception():
    assert [name for name in vars(native) if not name.startswith("__")] == [
        "analyze_json_string", "analyze_csv_string", "InternalError", "Monitor"]
    assert (native.__name__, native.__doc__) == ("corvane._native", "")
    assert str(inspect.signature(native.analyze_csv_string)) == (
        "(csv_text, channel='HR1', ga_weeks=None, window_min=None, step_sec=60, last_only=False)")
    assert native.analyze_json_string.__text_signature__ == "(request_json)"
    assert native.analyze_csv_string.__doc__ is None and native.analyze_csv_string.__module__ == "corvane._native"
    error = native.InternalError
    assert error.__bases__ == (BaseException,) and error.__module__ == "corvane._native" and error.__doc__
    for name in ("analyze_csv_string", "analyze_json_string", "InternalError"):
        assert getattr(corvane, name) is getattr(native, name) and name in corvane.__all__
    from importlib import metadata

    assert corvane.__version__ == metadata.version("corvane")


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


@pytest.mark.parametrize("initialise", [lambda: importlib.reload(native), import_again, run_initialiser_again])
def test_repeated_initialisation_returns_the_first_module(initialise):
    functions = (native.analyze_csv_string, native.analyze_json_string, native.InternalError)
    module = initialise()
    assert module is native and (module.analyze_csv_string, module.analyze_json_string, module.InternalError) == functions
    assert type(module.analyze_csv_string(HEADER)) is str


SUBINTERPRETER = """
import sys
sys.path[:] = {path!r}
import _testcapi
if {first}:
    import corvane._native
_testcapi.run_in_subinterp('''
try:
    import corvane._native
    outcome = "imported"
except BaseException as error:
    outcome = type(error).__name__ + ": " + str(error)
open({result!r}, "w").write(outcome)
''')
if {first}:
    corvane._native.analyze_csv_string("Date\\n")
print(open({result!r}).read())
"""


@pytest.mark.parametrize("first", [True, False])
def test_import_in_a_sub_interpreter_raises_import_error(first, tmp_path):
    if not hasattr(pytest.importorskip("_testcapi"), "run_in_subinterp"):
        pytest.skip("this interpreter cannot run code in a sub-interpreter")
    script = SUBINTERPRETER.format(path=sys.path, first=first, result=str(tmp_path / "outcome"))
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == (
        "ImportError: corvane._native can only be imported in the main interpreter, not in a sub-interpreter")
