"""The Python boundary of corvane._native: call errors, argument conversion and
its order, values reaching the report, exceptions, and the module's lifecycle."""

import ctypes
import importlib
import importlib.metadata
import inspect
import json
import subprocess
import sys
from decimal import Decimal

import pytest

import corvane
from conftest import data_rows
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
TWINS = {}
exec("def analyze_csv_string(csv_text, channel='HR1', ga_weeks=None, window_min=None, step_sec=60, last_only=False): pass\n"
     "def analyze_json_string(request_json): pass", TWINS)


def raised(function, *args, **kwargs):
    try:
        function(*args, **kwargs)
    except BaseException as error:  # noqa: BLE001 - the exception is the result
        return type(error).__name__, str(error)
    return None


H7 = (HEADER,) * 7
NAMES = dict(Decimal=Decimal, Index=Index, IndexFails=IndexFails, Unrelated=Unrelated, Text=Text, Integer=Integer, np=np, H7=H7,
             HEADER=HEADER, TWELVE=TWELVE, REQUEST=REQUEST)
# One row a call, as Python source: "twin" (a call error worded as for the Python
# twin), "raises" and "message" (the first failure: conversion in parameter order,
# then the CSV is read, window_min checked, then the channel), or a report "field"
# and its "value" (for "windows", their number).
CALLS = data_rows("native-calls.jsonl")


@pytest.mark.parametrize("case", CALLS, ids=[case["call"][:80] for case in CALLS])
def test_native_calls(case):
    call = lambda functions: eval("lambda: " + case["call"], {**NAMES, **functions})  # noqa: E731
    if case.get("twin"):
        expected = raised(call(TWINS))
        assert expected[0] == "TypeError" and raised(call(vars(native))) == expected
    elif "raises" in case:
        assert raised(call(vars(native))) == (case["raises"], case["message"])
    else:
        text = call(vars(native))()
        value = json.loads(text)[case["field"]]
        assert type(text) is str and (len(value) if case["field"] == "windows" and case["value"] else value) == case["value"]


def test_module_layout_signatures_and_exception():
    assert [name for name in vars(native) if not name.startswith("__")] == [
        "analyze_json_string", "analyze_csv_string", "InternalError", "Monitor"]
    assert (native.__name__, native.__doc__, native.analyze_json_string.__text_signature__) == ("corvane._native", "", "(request_json)")
    assert str(inspect.signature(native.analyze_csv_string)) == (
        "(csv_text, channel='HR1', ga_weeks=None, window_min=None, step_sec=60, last_only=False)")
    error = native.InternalError
    assert error.__bases__ == (BaseException,) and error.__module__ == "corvane._native" and error.__doc__
    for name in ("analyze_csv_string", "analyze_json_string", "InternalError"):
        assert getattr(corvane, name) is getattr(native, name) and name in corvane.__all__
    assert corvane.__version__ == importlib.metadata.version("corvane")


def import_again():
    saved = sys.modules.pop("corvane._native")
    try:
        return importlib.import_module("corvane._native")
    finally:
        sys.modules["corvane._native"] = saved


def run_initialiser_again():
    (library := ctypes.PyDLL(native.__file__)).PyInit__native.restype = ctypes.py_object
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
    assert (done.returncode, done.stdout.strip()) == (
        0, "ImportError: corvane._native can only be imported in the main interpreter, not in a sub-interpreter"), done.stderr
