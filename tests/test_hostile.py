"""Hostile inputs: each call gives a report or the documented exception within
seconds, without crashing, and without memory beyond a small multiple of its
input.

Every case runs in its own interpreter under an address-space limit. The
child builds the input itself, resets its peak resident size (VmHWM), makes
the call, and reports the outcome, the call's wall time and the peak resident
growth during the call, which the table's limits then bound.
"""

import datetime as dt
import json
import os
import resource
import subprocess
import sys
import textwrap

import pytest

from conftest import TESTS_DIR

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
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1]) * 1024
        return 0

    def reset_peak():
        try:
            with open("/proc/self/clear_refs", "w") as f:
                f.write("5")
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
        rows = []
        for i in range(seconds):
            dip = 35 if 20 <= i % 60 < 45 else 0
            rows.append(f"{stamp(first_ms + i * 1000)},{140 - dip},82,{10 + (50 if 10 <= i % 60 < 40 else 0)}\\n")
        return "Date,HR1,HRM,TOCO\\n" + "".join(rows)

    import corvane
    function, args, kwargs = eval(sys.argv[1])
    size = sum(len(a.encode("utf-8", "surrogatepass")) for a in list(args) + list(kwargs.values()) if isinstance(a, str))
    exact_peak = reset_peak()
    before = status("VmRSS")
    start = time.perf_counter()
    try:
        text = getattr(corvane, function)(*args, **kwargs)
        outcome = {"kind": "report", "report": json.loads(text) if len(text) < 1 << 20 else None, "length": len(text)}
    except Exception as error:
        outcome = {"kind": type(error).__name__, "message": str(error)[:300], "length": len(str(error))}
    seconds = time.perf_counter() - start
    outcome.update(seconds=seconds, input_bytes=size, growth=status("VmHWM") - before, exact_peak=exact_peak)
    print(json.dumps(outcome))
    """
)


def limit_address_space():
    resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_SPACE_LIMIT, ADDRESS_SPACE_LIMIT))


def run_case(call, seconds):
    """Runs `call` (Python source of (function name, args, kwargs)) in a child."""
    result = subprocess.run(
        [sys.executable, "-c", CHILD, call],
        cwd=TESTS_DIR,
        capture_output=True,
        text=True,
        timeout=seconds + 120,  # the child also builds the input
        preexec_fn=None if SANITIZED else limit_address_space,
    )
    assert result.returncode == 0, f"child failed ({result.returncode}): {result.stderr[-2000:]}"
    outcome = json.loads(result.stdout)
    assert outcome["seconds"] <= seconds, f"took {outcome['seconds']:.1f} s"
    if not SANITIZED and outcome["exact_peak"]:
        allowed = INPUT_MULTIPLE * outcome["input_bytes"] + FIXED_ALLOWANCE
        assert outcome["growth"] <= allowed, f"grew {outcome['growth'] / MB:.0f} MB for {outcome['input_bytes'] / MB:.1f} MB of input"
    return outcome


def report_rows(rows):
    return lambda outcome: outcome["kind"] == "report" and outcome["report"]["input"]["rows"] == rows


def fails(kind, message):
    return lambda outcome: outcome["kind"] == kind and outcome["message"] == message


def fails_starting(kind, prefix):
    return lambda outcome: outcome["kind"] == kind and outcome["message"].startswith(prefix)


def windows_message(first, last, window_min, step_sec):
    """The rolling-limit message for a recording from `first` to `last` ms."""
    width, step = window_min * 60_000, max(step_sec, 1) * 1000
    beyond = last - first - width
    count = beyond // step + 1 + (1 if beyond % step else 0)
    return f"recording spans {count} analysis windows; at most 1000000 are supported"


EPOCH = dt.datetime(1970, 1, 1)
MS_2024 = (dt.datetime(2024, 3, 10, 10) - EPOCH) // dt.timedelta(milliseconds=1)
MS_2204 = (dt.datetime(2204, 3, 10, 10) - EPOCH) // dt.timedelta(milliseconds=1)
MS_FIRST = -62_167_219_200_000  # 0000-01-01 00:00:00, the earliest instant a text can name
MS_LAST = 9_223_372_036_854_775_807  # 292278994-08-17 07:12:55.807
REQUEST_HEAD = '{"episode_id":"e","sent_at":"s","samples":[{"t":"2024-01-01 00:00:00","hr1":140}]'
ROW = "2024-01-01 00:00:00"
TEN_K_DIGITS = "1" * 10_000
# Columns of JSON errors found after a long token or at the end of the text.
UNCLOSED_END = len(REQUEST_HEAD) + len(',"x":') + 500_000 * len('[{"a":')
INTEGER_END = len('{"episode_id":"e","sent_at":"s","samples":[{"t":"x","hr1":') + 10_000
GA_END = len(REQUEST_HEAD) + len(',"metadata":{"gestational_age_weeks":') + 10_000

# (id, call source, expectation, seconds, heavy). Heavy cases take hundreds of
# megabytes and are left out of the sanitized run.
CASES = [
    # Shapes of CSV text.
    ("csv-1m-columns-date-first", f"('analyze_csv_string', ('Date' + ',c' * 999_999 + '\\n{ROW},1\\n',), {{}})",
     report_rows(1), DEFAULT_SECONDS, False),
    ("csv-1m-columns-date-last", f"('analyze_csv_string', (',' * 999_999 + 'Date,HR1\\n' + (',' * 999_999 + '{ROW},140\\n') * 3,), {{}})",
     report_rows(3), DEFAULT_SECONDS, False),
    ("csv-100mb-value-cell", f"('analyze_csv_string', ('Date,HR1\\n{ROW},' + '7' * 100_000_000 + '\\n',), {{}})",
     report_rows(1), 30.0, True),
    ("csv-100mb-date-cell", "('analyze_csv_string', ('Date\\n' + '2' * 100_000_000 + '\\n',), {})",
     fails_starting("ValueError", "row 2 has invalid Date: timestamp is missing date/time separator: 2222"), 30.0, True),
    ("csv-100mb-header", "('analyze_csv_string', ('x' * 100_000_000,), {})",
     fails("ValueError", "CSV is missing required Date column"), 30.0, True),
    ("csv-10m-blank-lines", f"('analyze_csv_string', ('Date,HR1\\n' + '\\n' * 10_000_000 + '{ROW},140\\n',), {{}})",
     report_rows(1), 30.0, True),
    ("csv-10m-blank-crlf-lines", "('analyze_csv_string', ('Date\\r\\n' + ' \\r\\n' * 5_000_000,), {})",
     report_rows(0), 30.0, True),
    ("csv-10m-blank-line-error", "('analyze_csv_string', ('Date\\n' + '\\n' * 10_000_000 + 'x\\n',), {})",
     fails("ValueError", "row 10000002 has invalid Date: timestamp is missing date/time separator: x"), 30.0, True),
    ("csv-nul-bytes", "('analyze_csv_string', ('\\0' * 10_000_000,), {})",
     fails("ValueError", "CSV is missing required Date column"), DEFAULT_SECONDS, False),
    ("csv-nul-in-rows", f"('analyze_csv_string', ('Date,HR1\\n' + '{ROW},\\0\\n' * 10_000 + '\\0' * 1000,), {{}})",
     fails_starting("ValueError", "row 10002 has invalid Date: "), DEFAULT_SECONDS, False),
    ("csv-10k-digit-values", f"('analyze_csv_string', ('Date,HR1,HR2,TOCO\\n' + '{ROW},{TEN_K_DIGITS},0.{'0' * 9_999}1,-{TEN_K_DIGITS}e-9999\\n' * 1_000,), {{}})",
     report_rows(1000), DEFAULT_SECONDS, False),
    ("csv-one-second-1m-rows", f"('analyze_csv_string', ('Date,HR1,TOCO\\n' + '{ROW}.5,140,20\\n' * 1_000_000,), {{'window_min': 10}})",
     report_rows(1_000_000), 30.0, True),
    ("csv-1m-rows-newest-first", "('analyze_csv_string', ('Date,HR1\\n' + ''.join(f'2024-01-{1 + i // 86400:02d} {i // 3600 % 24:02d}:{i // 60 % 60:02d}:{i % 60:02d},140\\n' for i in range(999_999, -1, -1)),), {})",
     lambda o: o["kind"] == "report" and o["report"]["input"]["out_of_order_rows"] == 999_999, 30.0, True),
    # JSON structure.
    ("json-nul-bytes", "('analyze_json_string', ('\\0' * 10_000_000,), {})",
     fails("ValueError", "invalid analysis request JSON: expected value at line 1 column 1"), DEFAULT_SECONDS, False),
    ("json-1m-deep-arrays", f"('analyze_json_string', ({REQUEST_HEAD!r} + ',\"x\":' + '[' * 1_000_000 + ']' * 1_000_000 + '}}',), {{}})",
     report_rows(1), DEFAULT_SECONDS, False),
    ("json-1m-deep-objects", f"('analyze_json_string', ({REQUEST_HEAD!r} + ',\"x\":' + '{{\"a\":' * 1_000_000 + 'null' + '}}' * 1_000_000 + '}}',), {{}})",
     report_rows(1), DEFAULT_SECONDS, False),
    ("json-1m-deep-unclosed", f"('analyze_json_string', ({REQUEST_HEAD!r} + ',\"x\":' + '[{{\"a\":' * 500_000,), {{}})",
     fails("ValueError", f"invalid analysis request JSON: EOF while parsing a value at line 1 column {UNCLOSED_END}"), DEFAULT_SECONDS, False),
    ("json-1m-duplicate-unknown-keys", f"('analyze_json_string', ('{{' + '\"x\":1,' * 1_000_000 + {REQUEST_HEAD[1:]!r} + '}}',), {{}})",
     report_rows(1), DEFAULT_SECONDS, False),
    ("json-10k-digit-values", f"('analyze_json_string', ('{{\"episode_id\":\"e\",\"sent_at\":\"s\",\"samples\":[' + ','.join(['{{\"t\":\"{ROW}\",\"hr1\":0.{'0' * 9_999}1,\"toco\":{TEN_K_DIGITS}e-9999,\"x\":-{TEN_K_DIGITS}e-10000}}'] * 1_000) + ']}}',), {{}})",
     report_rows(1000), DEFAULT_SECONDS, False),
    ("json-1m-samples-newest-first", "('analyze_json_string', ('{\"episode_id\":\"e\",\"sent_at\":\"s\",\"samples\":[' + ','.join(f'{{\"t\":\"2024-01-{1 + i // 86400:02d}T{i // 3600 % 24:02d}:{i // 60 % 60:02d}:{i % 60:02d}Z\",\"hr1\":140}}' for i in range(999_999, -1, -1)) + ']}',), {})",
     lambda o: o["kind"] == "report" and o["report"]["input"]["out_of_order_rows"] == 999_999, 30.0, True),
    ("json-10k-digit-integer", f"('analyze_json_string', ('{{\"episode_id\":\"e\",\"sent_at\":\"s\",\"samples\":[{{\"t\":\"x\",\"hr1\":{TEN_K_DIGITS}}}]}}',), {{}})",
     fails("ValueError", f"invalid analysis request JSON: number out of range at line 1 column {INTEGER_END}"), DEFAULT_SECONDS, False),
    ("json-10k-digit-ga", f"('analyze_json_string', ({REQUEST_HEAD!r} + ',\"metadata\":{{\"gestational_age_weeks\":{TEN_K_DIGITS}}}}}',), {{}})",
     fails("ValueError", f"invalid analysis request JSON: number out of range at line 1 column {GA_END}"), DEFAULT_SECONDS, False),
    # Years at and beyond the 32-bit range, and the last instant of 64 bits. A
    # year cannot be negative: the date splits at its first "-".
    ("csv-year-2147483648", "('analyze_csv_string', ('Date\\n2147483648-01-01 00:00:00\\n',), {})",
     fails("ValueError", "row 2 has invalid Date: invalid year in timestamp: 2147483648-01-01 00:00:00"), DEFAULT_SECONDS, False),
    ("csv-year-minus-2147483648", "('analyze_csv_string', ('Date\\n-2147483648-01-01 00:00:00\\n',), {})",
     fails("ValueError", "row 2 has invalid Date: invalid year in timestamp: -2147483648-01-01 00:00:00"), DEFAULT_SECONDS, False),
    ("csv-year-minus-2147483649", "('analyze_csv_string', ('Date\\n-2147483649-01-01 00:00:00\\n',), {})",
     fails("ValueError", "row 2 has invalid Date: invalid year in timestamp: -2147483649-01-01 00:00:00"), DEFAULT_SECONDS, False),
    ("csv-year-2147483647", "('analyze_csv_string', ('Date\\n2147483647-12-31 23:59:59\\n',), {})",
     fails("ValueError", "row 2 has invalid Date: timestamp component out of range: 2147483647-12-31 23:59:59"), DEFAULT_SECONDS, False),
    ("json-year-minus-2147483647", "('analyze_json_string', ('{\"episode_id\":\"e\",\"sent_at\":\"s\",\"samples\":[{\"t\":\"-2147483647-01-01T00:00:00Z\"}]}',), {})",
     fails("ValueError", "sample 1 has invalid t: invalid year in timestamp: -2147483647-01-01T00:00:00Z"), DEFAULT_SECONDS, False),
    ("json-year-2147483647", "('analyze_json_string', ('{\"episode_id\":\"e\",\"sent_at\":\"s\",\"samples\":[{\"t\":\"2147483647-01-01T00:00:00Z\"}]}',), {})",
     fails("ValueError", "sample 1 has invalid t: timestamp component out of range: 2147483647-01-01T00:00:00Z"), DEFAULT_SECONDS, False),
    ("csv-one-ms-past-int64", "('analyze_csv_string', ('Date\\n292278994-08-17 07:12:55.808\\n',), {})",
     fails("ValueError", "row 2 has invalid Date: timestamp component out of range: 292278994-08-17 07:12:55.808"), DEFAULT_SECONDS, False),
    ("csv-offset-past-int64", "('analyze_csv_string', ('Date\\n292278994-08-17 07:12:55.807-00:01\\n',), {})",
     fails("ValueError", "row 2 has invalid Date: timestamp component out of range: 292278994-08-17 07:12:55.807-00:01"), DEFAULT_SECONDS, False),
    ("csv-int64-ends-chunk", "('analyze_csv_string', ('Date,HR1\\n292278994-08-17 07:12:55.807,140\\n0000-01-01 00:00:00,140\\n',), {})",
     report_rows(2), DEFAULT_SECONDS, False),
    ("csv-int64-ends-rolling", "('analyze_csv_string', ('Date,HR1\\n292278994-08-17 07:12:55.807,140\\n0000-01-01 00:00:00,140\\n',), {'window_min': 10, 'step_sec': 0})",
     fails("ValueError", windows_message(MS_FIRST, MS_LAST, 10, 0)), DEFAULT_SECONDS, False),
    ("csv-int64-ends-rolling-huge-step", "('analyze_csv_string', ('Date,HR1\\n292278994-08-17 07:12:55.807,140\\n0000-01-01 00:00:00,140\\n',), {'window_min': 30, 'step_sec': 4294967295})",
     fails("ValueError", windows_message(MS_FIRST, MS_LAST, 30, 4294967295)), DEFAULT_SECONDS, False),
    ("csv-events-at-int64-end", "('analyze_csv_string', (contractions_with_dips(9223372036854775807 - 1259 * 1000, 1260),), {'window_min': 20, 'step_sec': 1})",
     lambda o: o["kind"] == "report" and len(o["report"]["windows"]) == 60
     and o["report"]["windows"][-1]["window_end"] == "292278994-08-17 07:12:55.807"
     and o["report"]["windows"][-1]["features"]["deceleration_count"] > 0, DEFAULT_SECONDS, False),
    ("csv-events-in-year-zero", "('analyze_csv_string', (contractions_with_dips(-62167219200000, 1260),), {'window_min': 20, 'step_sec': 1, 'last_only': True})",
     lambda o: o["kind"] == "report" and len(o["report"]["windows"]) == 1
     and o["report"]["windows"][0]["window_start"] == "0000-01-01 00:00:59.000"
     and o["report"]["windows"][0]["features"]["contraction_count"] > 0, DEFAULT_SECONDS, False),
    ("json-int64-ends", "('analyze_json_string', ('{\"episode_id\":\"e\",\"sent_at\":\"s\",\"samples\":[{\"t\":\"292278994-08-17T07:12:55.807Z\"},{\"t\":\"0000-01-01 00:00:00\"}]}',), {})",
     report_rows(2), DEFAULT_SECONDS, False),
    # A mistyped year in a rolling run.
    ("csv-mistyped-year-rolling", "('analyze_csv_string', ('Date,HR1\\n2024-03-10 10:00:00,140\\n2204-03-10 10:00:00,140\\n2024-03-10 10:00:01,140\\n',), {'window_min': 10})",
     fails("ValueError", windows_message(MS_2024, MS_2204, 10, 60)), DEFAULT_SECONDS, False),
    ("csv-mistyped-year-last-only", "('analyze_csv_string', ('Date,HR1\\n2024-03-10 10:00:00,140\\n2204-03-10 10:00:00,140\\n',), {'window_min': 30, 'step_sec': 0, 'last_only': True})",
     fails("ValueError", windows_message(MS_2024, MS_2204, 30, 0)), DEFAULT_SECONDS, False),
    ("csv-mistyped-year-chunk", "('analyze_csv_string', ('Date,HR1\\n2024-03-10 10:00:00,140\\n2204-03-10 10:00:00,140\\n',), {})",
     report_rows(2), DEFAULT_SECONDS, False),
    # Every argument at its type and range limits.
    ("step-0", f"('analyze_csv_string', ('Date\\n{ROW}\\n',), {{'window_min': 10, 'step_sec': 0}})",
     lambda o: o["kind"] == "report" and o["report"]["step_seconds"] == 1, DEFAULT_SECONDS, False),
    ("step-max", f"('analyze_csv_string', ('Date\\n{ROW}\\n2024-01-02 00:00:00\\n',), {{'window_min': 30, 'step_sec': 4294967295}})",
     lambda o: o["kind"] == "report" and o["report"]["step_seconds"] == 4294967295 and len(o["report"]["windows"]) == 2,
     DEFAULT_SECONDS, False),
    ("step-2**32", f"('analyze_csv_string', ('Date\\n{ROW}\\n',), {{'step_sec': 2**32}})",
     fails_starting("OverflowError", ""), DEFAULT_SECONDS, False),
    ("step-negative", f"('analyze_csv_string', ('Date\\n{ROW}\\n',), {{'step_sec': -1}})",
     fails_starting("OverflowError", ""), DEFAULT_SECONDS, False),
    ("window-10", f"('analyze_csv_string', ('Date\\n{ROW}\\n',), {{'window_min': 10}})",
     lambda o: o["kind"] == "report" and o["report"]["requested_window_minutes"] == 10, DEFAULT_SECONDS, False),
    ("window-30", f"('analyze_csv_string', ('Date\\n{ROW}\\n',), {{'window_min': 30}})",
     lambda o: o["kind"] == "report" and o["report"]["requested_window_minutes"] == 30, DEFAULT_SECONDS, False),
    ("window-u32-max", f"('analyze_csv_string', ('Date\\n{ROW}\\n',), {{'window_min': 4294967295}})",
     fails("ValueError", "window_min must be between 10 and 30"), DEFAULT_SECONDS, False),
    ("window-2**32", f"('analyze_csv_string', ('Date\\n{ROW}\\n',), {{'window_min': 2**32}})",
     fails_starting("OverflowError", ""), DEFAULT_SECONDS, False),
    ("ga-0", f"('analyze_csv_string', ('Date\\n{ROW}\\n',), {{'ga_weeks': 0}})", report_rows(1), DEFAULT_SECONDS, False),
    ("ga-255", f"('analyze_csv_string', ('Date\\n{ROW}\\n',), {{'ga_weeks': 255}})", report_rows(1), DEFAULT_SECONDS, False),
    ("ga-256", f"('analyze_csv_string', ('Date\\n{ROW}\\n',), {{'ga_weeks': 256}})",
     fails_starting("OverflowError", ""), DEFAULT_SECONDS, False),
    ("ga-10**100", f"('analyze_csv_string', ('Date\\n{ROW}\\n',), {{'ga_weeks': 10**100}})",
     fails_starting("OverflowError", ""), DEFAULT_SECONDS, False),
    ("ga-minus-2**64", f"('analyze_csv_string', ('Date\\n{ROW}\\n',), {{'ga_weeks': -2**64}})",
     fails_starting("OverflowError", ""), DEFAULT_SECONDS, False),
    ("channel-1mb", f"('analyze_csv_string', ('Date\\n{ROW}\\n',), {{'channel': ' ' * 1_000_000 + 'hr2' + '\\u3000' * 1_000_000}})",
     lambda o: o["kind"] == "report" and o["report"]["channel"] == "HR2", DEFAULT_SECONDS, False),
    ("channel-nul", f"('analyze_csv_string', ('Date\\n{ROW}\\n',), {{'channel': 'HR1\\0'}})",
     fails("ValueError", "unsupported fetal channel: HR1\0"), DEFAULT_SECONDS, False),
]


@pytest.mark.parametrize("call, expectation, seconds, heavy", [case[1:] for case in CASES], ids=[case[0] for case in CASES])
def test_hostile_input_is_answered_within_limits(call, expectation, seconds, heavy):
    if heavy and SANITIZED:
        pytest.skip("hundreds of megabytes under the sanitizers")
    outcome = run_case(call, seconds)
    assert expectation(outcome), {k: v for k, v in outcome.items() if k != "report"}


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
