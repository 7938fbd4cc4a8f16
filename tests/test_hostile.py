"""Hostile inputs: each call gives a report or the documented exception within
seconds, without crashing, and without memory beyond a small multiple of its
input.

Every case runs in its own interpreter under an address-space limit. The
child builds the input itself, resets its peak resident size (VmHWM), makes
the call, and reports the outcome, the call's wall time and the peak resident
growth during the call, which the table's limits then bound.
"""

import json
import os
import resource
import subprocess
import sys
import textwrap

import pytest

from conftest import TESTS_DIR, data_rows

SANITIZED = os.environ.get("CORVANE_SANITIZED") == "1"

MB = 1 << 20
ADDRESS_SPACE_LIMIT = 4096 * MB
# Memory a call may take beyond a multiple of its input: the report text,
# the analysis of a window, the interpreter's own bookkeeping.
FIXED_ALLOWANCE = 64 * MB
INPUT_MULTIPLE = 5
DEFAULT_SECONDS = 10.0

CHILD = textwrap.dedent(
    """
    import json, sys, time

    def status(key):
        lines = [line for line in open("/proc/self/status") if line.startswith(key + ":")]
        return int(lines[0].split()[1]) * 1024 if lines else 0

    def reset_peak():
        try:
            open("/proc/self/clear_refs", "w").write("5")
            return True
        except OSError:
            return False

    # Milliseconds since 1970 as a monitor timestamp text, for any year.
    def stamp(ms):
        days, rest = divmod(ms, 86_400_000)
        z = days + 719_468
        era, doe = divmod(z, 146_097)
        yoe = (doe - doe // 1460 + doe // 36_524 - doe // 146_096) // 365
        doy = doe - (365 * yoe + yoe // 4 - yoe // 100)
        mp = (5 * doy + 2) // 153
        month = mp + 3 if mp < 10 else mp - 9
        year = yoe + era * 400 + (month <= 2)
        s, millis = divmod(rest, 1000)
        return f"{year:04d}-{month:02d}-{doy - (153 * mp + 2) // 5 + 1:02d} {s // 3600:02d}:{s // 60 % 60:02d}:{s % 60:02d}.{millis:03d}"

    # Rows once a second: a contraction and a fetal dip every minute.
    def contractions_with_dips(first_ms, seconds):
        return "Date,HR1,HRM,TOCO\\n" + "".join(f"{stamp(first_ms + i * 1000)},{105 if 20 <= i % 60 < 45 else 140},82,"
                                                f"{60 if 10 <= i % 60 < 40 else 10}\\n" for i in range(seconds))

    import corvane
    function, args, kwargs = eval(sys.argv[1].replace("<1x10000>", "1" * 10_000).replace("<0x9999>", "0" * 9_999))
    size = sum(len(a.encode("utf-8", "surrogatepass")) for a in list(args) + list(kwargs.values()) if isinstance(a, str))
    exact_peak = reset_peak()
    before = status("VmRSS")
    start = time.perf_counter()
    try:
        text = getattr(corvane, function)(*args, **kwargs)
        outcome = {"kind": "report", "report": json.loads(text) if len(text) < 1 << 20 else None}
    except Exception as error:
        outcome = {"kind": type(error).__name__, "message": str(error)[:300]}
    outcome.update(seconds=time.perf_counter() - start, input_bytes=size, growth=status("VmHWM") - before, exact_peak=exact_peak)
    print(json.dumps(outcome))
    """
)


def limit_address_space():
    resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_SPACE_LIMIT, ADDRESS_SPACE_LIMIT))


def run_case(call, seconds):
    """Runs `call` (Python source of (function name, args, kwargs)) in a child."""
    result = subprocess.run([sys.executable, "-c", CHILD, call], cwd=TESTS_DIR, capture_output=True, text=True,
                            timeout=seconds + 120,  # the child also builds the input
                            preexec_fn=None if SANITIZED else limit_address_space)
    assert result.returncode == 0, f"child failed ({result.returncode}): {result.stderr[-2000:]}"
    outcome = json.loads(result.stdout)
    assert outcome["seconds"] <= seconds, f"took {outcome['seconds']:.1f} s"
    if not SANITIZED and outcome["exact_peak"]:
        allowed = INPUT_MULTIPLE * outcome["input_bytes"] + FIXED_ALLOWANCE
        assert outcome["growth"] <= allowed, f"grew {outcome['growth'] / MB:.0f} MB for {outcome['input_bytes'] / MB:.1f} MB of input"
    return outcome


# (id, the call as Python source of (function name, args, kwargs), then either the
# exception and its message or prefix, or report values by path ("#" a length,
# a trailing ">" a lower bound); "heavy" cases take hundreds of megabytes and are
# left out of the sanitized run). Long runs of digits are written <1x10000>, <0x9999>.
CASES = data_rows("hostile-cases.jsonl")


def report_value(report, path):
    for part in path.rstrip(">").split("."):
        report = len(report) if part == "#" else report[int(part)] if isinstance(report, list) else report[part]
    return report


@pytest.mark.parametrize("case", CASES, ids=[case["id"] for case in CASES])
def test_hostile_input_is_answered_within_limits(case):
    if case.get("heavy") and SANITIZED:
        pytest.skip("hundreds of megabytes under the sanitizers")
    outcome = run_case(case["call"], case.get("seconds", DEFAULT_SECONDS))
    shown = {k: v for k, v in outcome.items() if k != "report"}
    if "report" in case:
        assert outcome["kind"] == "report", shown
        for path, value in case["report"].items():
            got = report_value(outcome["report"], path)
            assert got > value if path.endswith(">") else got == value, (path, got)
    else:
        assert outcome["kind"] == case["error"], shown
        assert outcome["message"] == case["message"] if "message" in case else outcome["message"].startswith(case["prefix"]), shown


def test_the_memory_bound_would_catch_growth():
    """A call that takes memory well beyond its input breaks the bound: here
    the step's __index__ keeps 300 MB alive while the call runs."""
    if SANITIZED:
        pytest.skip("no memory limits under the sanitizers")
    hog = "type('Hog', (), {'__index__': lambda self: (globals().__setitem__('hog', b'x' * (300 << 20)), 60)[1]})()"
    with pytest.raises(AssertionError, match="grew"):
        run_case(f"('analyze_csv_string', ('Date\\n',), {{'step_sec': {hog}}})", 60.0)


def test_the_time_bound_would_catch_a_slow_call():
    with pytest.raises(AssertionError, match="took"):
        run_case("('analyze_csv_string', ('Date\\n',), {'step_sec': type('Slow', (), {'__index__': lambda self: (__import__('time').sleep(0.5), 60)[1]})()})", 0.2)
