"""The same call gives the same answer whatever runs around it: other threads
calling at the same time, a process locale with a decimal comma, and the
interpreter's development checks (dev mode, warnings as errors, the debug
memory allocator)."""

import json
import os
import random
import subprocess
import sys
import textwrap
import threading

import pytest

import corvane
from conftest import TESTS_DIR
from corvane.synthetic import RecordingShape, generate_csv

THREADS = 8
CALLS = 200


def request(samples, **extra):
    return json.dumps({"episode_id": "ep", "sent_at": "2024-05-01T10:00:00Z", "samples": samples, **extra})


def csv_to_request(text, **extra):
    """A JSON request with the samples of a CSV text (Date,HR1,HR2,HRM,TOCO)."""
    lines = text.splitlines()
    names = [name.lower() for name in lines[0].split(",")]
    samples = []
    for line in lines[1:]:
        sample = {}
        for name, value in zip(names, line.split(",")):
            if name == "date":
                sample["t"] = value
            elif value:
                sample[name] = float(value)
        samples.append(sample)
    return request(samples, **extra)


def call_table():
    """CALLS calls of both functions, good and bad, as (function name, args, kwargs)."""
    short = generate_csv(RecordingShape(minutes=4, seed=3))
    medium = generate_csv(RecordingShape(minutes=12, seed=11, baseline_bpm=150.0))
    drifting = generate_csv(RecordingShape(minutes=11, seed=5, dropout_share=0.3, start="2024-12-31 23:55:00"))
    kinds = [
        ("analyze_csv_string", (short,), {}),
        ("analyze_csv_string", (medium,), {"window_min": 10, "step_sec": 30}),
        ("analyze_csv_string", (medium,), {"window_min": 10, "step_sec": 0, "last_only": True, "ga_weeks": 30}),
        ("analyze_csv_string", (drifting,), {"channel": " hr1 ", "ga_weeks": 41}),
        ("analyze_csv_string", (drifting,), {"channel": "HR2"}),
        ("analyze_json_string", (csv_to_request(short),), {}),
        ("analyze_json_string", (csv_to_request(medium, metadata={"gestational_age_weeks": 28}),), {}),
        # Failures, each with its own exception and message.
        ("analyze_csv_string", ("",), {}),
        ("analyze_csv_string", ("Date,HR1\n2024-13-01 00:00:00,140\n",), {}),
        ("analyze_csv_string", (short,), {"window_min": 5}),
        ("analyze_csv_string", (short,), {"channel": "HR9"}),
        ("analyze_csv_string", (short,), {"ga_weeks": 256}),
        ("analyze_csv_string", (short,), {"step_sec": -1}),
        ("analyze_csv_string", (short,), {"window_min": "10"}),
        ("analyze_csv_string", ("Date\n2000-01-01 00:00:00\n3000-01-01 00:00:00\n",), {"window_min": 10, "step_sec": 1}),
        ("analyze_json_string", ("{",), {}),
        ("analyze_json_string", (request([{"t": "2024-05-01 09:59"}]),), {}),
        ("analyze_json_string", (request([]),), {}),
        ("analyze_json_string", (b"{}",), {}),
    ]
    rng = random.Random(2024)
    return [rng.choice(kinds) for _ in range(CALLS)]


def outcome(name, args, kwargs):
    """The report text, or the exception's type and message."""
    try:
        return ("report", getattr(corvane, name)(*args, **kwargs))
    except Exception as error:  # noqa: BLE001 - the exception itself is the result
        return (type(error).__name__, str(error))


def test_threads_give_the_serial_results():
    calls = call_table()
    serial = [outcome(*call) for call in calls]
    assert {kind for kind, _ in serial} == {"report", "ValueError", "OverflowError", "TypeError"}

    results = [None] * THREADS
    start = threading.Barrier(THREADS)

    def worker(index):
        # Every thread makes all the calls, each in its own order.
        order = list(range(CALLS))
        random.Random(index).shuffle(order)
        got = [None] * CALLS
        start.wait()
        for position in order:
            got[position] = outcome(*calls[position])
        results[index] = got

    threads = [threading.Thread(target=worker, args=(index,)) for index in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for got in results:
        assert got == serial


# A script that prints one digest of the answers to a fixed set of calls, so
# that a child process under other settings can be compared with this one.
DIGEST_SCRIPT = textwrap.dedent(
    """
    import hashlib, json, locale, sys
    import corvane
    from corvane.synthetic import RecordingShape, generate_csv

    if len(sys.argv) > 1:
        locale.setlocale(locale.LC_ALL, sys.argv[1])
    text = generate_csv(RecordingShape(minutes=14, seed=9))
    calls = [
        ("analyze_csv_string", (text,), {}),
        ("analyze_csv_string", (text,), {"window_min": 10, "step_sec": 45, "ga_weeks": 30}),
        ("analyze_csv_string", (text.replace("2024-03-01 08:0", "2024-03-01T08:0"),), {"last_only": True, "window_min": 12}),
        ("analyze_csv_string", ("Date,HR1,TOCO\\n2024-03-01 08:00:00,140.5,1e1\\n2024-03-01 08:00:01,1.4e2,12.25\\n",), {}),
        ("analyze_csv_string", ("Date,HR1\\n2024-03-01 08:00:00,140,5\\n",), {"channel": "hr3"}),
        ("analyze_csv_string", ("Date\\n2024-02-30 08:00:00\\n2024-03-01 08:00:00,5\\n1-1-1 1:1:1\\n",), {}),
        ("analyze_csv_string", ("Date\\n2024-03-01 08:00:00,5\\nx\\n",), {}),
        ("analyze_json_string", (json.dumps({"episode_id": "e", "sent_at": "s", "samples": [
            {"t": "2024-03-01T08:00:00.5Z", "hr1": 141.75, "toco": 1.5e1}, {"t": "2024-03-01 08:00:01+01:00", "hr1": 1e-3}]}),), {}),
        ("analyze_json_string", ('{"episode_id": "e", "sent_at": "s", "samples": [{"t": "x", "hr1": 1.5e400}]}',), {}),
    ]
    digest = hashlib.sha256()
    for name, args, kwargs in calls:
        try:
            answer = "report:" + getattr(corvane, name)(*args, **kwargs)
        except Exception as error:
            answer = type(error).__name__ + ":" + str(error)
        digest.update(answer.encode("utf-8") + b"\\0")
    print(locale.setlocale(locale.LC_NUMERIC), digest.hexdigest())
    """
)

GERMAN = "de_DE.UTF-8"


def run_python(*arguments, env=None, timeout=120):
    return subprocess.run(
        [sys.executable, *arguments],
        cwd=TESTS_DIR,
        env={**os.environ, **(env or {})},
        capture_output=True,
        text=True,
        timeout=timeout,
    )


def german_locale_available():
    probe = run_python("-c", f"import locale; locale.setlocale(locale.LC_ALL, {GERMAN!r})")
    return probe.returncode == 0


def test_a_german_locale_changes_nothing():
    if not german_locale_available():
        pytest.skip(f"locale {GERMAN} is not installed (localedef -i de_DE -f UTF-8 {GERMAN})")
    here = run_python("-c", DIGEST_SCRIPT, env={"LC_ALL": "C"})
    there = run_python("-c", DIGEST_SCRIPT, GERMAN, env={"LC_ALL": GERMAN})
    assert here.returncode == 0 and there.returncode == 0, here.stderr + there.stderr
    here_locale, here_digest = here.stdout.split()
    there_locale, there_digest = there.stdout.split()
    # The child really runs with a decimal comma, and the answers are the same.
    assert there_locale.startswith("de_DE") and here_locale == "C"
    assert there_digest == here_digest


def test_the_digest_script_tells_answers_apart():
    """The locale comparison would see a difference: other calls, other digest."""
    changed = DIGEST_SCRIPT.replace('"step_sec": 45', '"step_sec": 44')
    first = run_python("-c", DIGEST_SCRIPT)
    second = run_python("-c", changed)
    assert first.returncode == 0 and second.returncode == 0, first.stderr + second.stderr
    assert first.stdout.split()[1] != second.stdout.split()[1]


# Calls of every kind, with threads, under the interpreter's strictest checks.
DEV_SCRIPT = textwrap.dedent(
    """
    import gc, json, threading
    import corvane
    from corvane.synthetic import RecordingShape, generate_csv

    text = generate_csv(RecordingShape(minutes=11, seed=2))
    request = json.dumps({"episode_id": "e", "sent_at": "s", "samples": [{"t": "2024-03-01 08:00:00", "hr1": 140}]})

    def calls():
        json.loads(corvane.analyze_csv_string(text, window_min=10, step_sec=20, last_only=True))
        json.loads(corvane.analyze_json_string(request))
        for bad, error in [
            (lambda: corvane.analyze_csv_string("Date\\nx\\n"), ValueError),
            (lambda: corvane.analyze_csv_string(text, ga_weeks=-1), OverflowError),
            (lambda: corvane.analyze_csv_string(text, step_sec=2**64), OverflowError),
            (lambda: corvane.analyze_csv_string(None), TypeError),
            (lambda: corvane.analyze_csv_string("\\ud800"), UnicodeEncodeError),
            (lambda: corvane.analyze_json_string("[1"), ValueError),
            (lambda: corvane.analyze_json_string(), TypeError),
        ]:
            try:
                bad()
            except error:
                pass
            else:
                raise AssertionError("no exception")

    threads = [threading.Thread(target=calls) for _ in range(4)]
    for thread in threads:
        thread.start()
    calls()
    for thread in threads:
        thread.join()
    gc.collect()
    """
)


@pytest.mark.parametrize(
    "options, env",
    [
        (["-X", "dev", "-W", "error"], {}),
        (["-W", "error"], {"PYTHONMALLOC": "debug"}),
        (["-X", "dev", "-W", "error", "-X", "tracemalloc=5"], {"PYTHONMALLOC": "debug", "PYTHONASYNCIODEBUG": "1"}),
    ],
    ids=["dev-mode", "debug-malloc", "dev-mode-debug-malloc-tracemalloc"],
)
def test_strict_interpreter_checks_stay_quiet(options, env):
    result = run_python(*options, "-c", DEV_SCRIPT, env=env)
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""


def test_the_strict_run_would_notice_a_failure():
    """The dev-mode check reads failures: a script that errs is caught."""
    result = run_python("-X", "dev", "-W", "error", "-c", DEV_SCRIPT.replace("ga_weeks=-1", "ga_weeks=1"))
    assert result.returncode != 0 and "no exception" in result.stderr
