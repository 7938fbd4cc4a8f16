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


def as_request(text, **extra):
    """A JSON request with the samples of a generated CSV text."""
    header, *lines = text.splitlines()
    names = [name.lower() for name in header.split(",")]
    return request([{("t" if n == "date" else n): (v if n == "date" else float(v)) for n, v in zip(names, line.split(",")) if v}
                    for line in lines], **extra)


def call_table():
    """CALLS calls of both functions, good and bad, as (function name, args, kwargs)."""
    short = generate_csv(RecordingShape(minutes=4, seed=3))
    medium = generate_csv(RecordingShape(minutes=12, seed=11, baseline_bpm=150.0))
    drifting = generate_csv(RecordingShape(minutes=11, seed=5, dropout_share=0.3, start="2024-12-31 23:55:00"))
    csv, req = "analyze_csv_string", "analyze_json_string"
    kinds = [
        (csv, (short,), {}), (csv, (medium,), {"window_min": 10, "step_sec": 30}),
        (csv, (medium,), {"window_min": 10, "step_sec": 0, "last_only": True, "ga_weeks": 30}),
        (csv, (drifting,), {"channel": " hr1 ", "ga_weeks": 41}), (csv, (drifting,), {"channel": "HR2"}),
        (req, (as_request(short),), {}), (req, (as_request(medium, metadata={"gestational_age_weeks": 28}),), {}),
        # Failures, each with its own exception and message.
        (csv, ("",), {}), (csv, ("Date,HR1\n2024-13-01 00:00:00,140\n",), {}), (csv, (short,), {"window_min": 5}),
        (csv, (short,), {"channel": "HR9"}), (csv, (short,), {"ga_weeks": 256}), (csv, (short,), {"step_sec": -1}),
        (csv, (short,), {"window_min": "10"}),
        (csv, ("Date\n2000-01-01 00:00:00\n3000-01-01 00:00:00\n",), {"window_min": 10, "step_sec": 1}),
        (req, ("{",), {}), (req, (request([{"t": "2024-05-01 09:59"}]),), {}), (req, (request([]),), {}), (req, (b"{}",), {}),
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


# A child that prints its locale and one digest of the answers to a fixed set of
# calls (made while four other threads make them too), so that children under
# other settings can be compared with a plain one.
DIGEST_SCRIPT = textwrap.dedent(
    """
    import gc, hashlib, json, locale, sys, threading
    import corvane
    from corvane.synthetic import RecordingShape, generate_csv

    if len(sys.argv) > 1:
        locale.setlocale(locale.LC_ALL, sys.argv[1])
    text = generate_csv(RecordingShape(minutes=14, seed=9))
    csv, req = corvane.analyze_csv_string, corvane.analyze_json_string
    calls = [
        (csv, (text,), {}), (csv, (text,), {"window_min": 10, "step_sec": 45, "ga_weeks": 30}),
        (csv, (text.replace("2024-03-01 08:0", "2024-03-01T08:0"),), {"last_only": True, "window_min": 12}),
        (csv, ("Date,HR1,TOCO\\n2024-03-01 08:00:00,140.5,1e1\\n2024-03-01 08:00:01,1.4e2,12.25\\n",), {}),
        (csv, ("Date,HR1\\n2024-03-01 08:00:00,140,5\\n",), {"channel": "hr3"}),
        (csv, ("Date\\n2024-02-30 08:00:00\\n2024-03-01 08:00:00,5\\n1-1-1 1:1:1\\n",), {}),
        (csv, (text,), {"ga_weeks": -1}), (csv, (text,), {"step_sec": 2**64}), (csv, (None,), {}), (csv, ("\\ud800",), {}),
        (req, (json.dumps({"episode_id": "e", "sent_at": "s", "samples": [
            {"t": "2024-03-01T08:00:00.5Z", "hr1": 141.75, "toco": 1.5e1}, {"t": "2024-03-01 08:00:01+01:00", "hr1": 1e-3}]}),), {}),
        (req, ('{"episode_id": "e", "sent_at": "s", "samples": [{"t": "x", "hr1": 1.5e400}]}',), {}), (req, ("[1",), {}), (req, (), {}),
    ]

    def answers():
        found = []
        for function, args, kwargs in calls:
            try:
                found.append("report:" + function(*args, **kwargs))
            except Exception as error:
                found.append(type(error).__name__ + ":" + str(error))
        return found

    threads = [threading.Thread(target=answers) for _ in range(4)]
    for thread in threads:
        thread.start()
    found = answers()
    for thread in threads:
        thread.join()
    gc.collect()
    print(locale.setlocale(locale.LC_NUMERIC), len(set(found)), hashlib.sha256("\\0".join(found).encode("utf-8", "surrogatepass")).hexdigest())
    """
)
GERMAN = "de_DE.UTF-8"


def run_digest(*options, argv=(), env=None):
    """The child's (locale, distinct answers, digest), after checking it ran quietly."""
    result = subprocess.run([sys.executable, *options, "-c", DIGEST_SCRIPT, *argv], cwd=TESTS_DIR, env={**os.environ, **env},
                            capture_output=True, text=True, timeout=120)
    assert (result.returncode, result.stderr) == (0, ""), result.stderr
    return result.stdout.split()


@pytest.fixture(scope="module")
def plain():
    locale, distinct, digest = run_digest(env={"LC_ALL": "C"})
    assert (locale, int(distinct)) == ("C", 14)  # every call gives its own answer
    return digest


def test_a_german_locale_changes_nothing(plain):
    probe = subprocess.run([sys.executable, "-c", f"import locale; locale.setlocale(locale.LC_ALL, {GERMAN!r})"])
    if probe.returncode:
        pytest.skip(f"locale {GERMAN} is not installed (localedef -i de_DE -f UTF-8 {GERMAN})")
    locale, _, digest = run_digest(argv=[GERMAN], env={"LC_ALL": GERMAN})
    assert locale.startswith("de_DE") and digest == plain  # a decimal comma, and the same answers


@pytest.mark.parametrize("options, env", [
    (["-X", "dev", "-W", "error"], {}), (["-W", "error"], {"PYTHONMALLOC": "debug"}),
    (["-X", "dev", "-W", "error", "-X", "tracemalloc=5"], {"PYTHONMALLOC": "debug", "PYTHONASYNCIODEBUG": "1"}),
], ids=["dev-mode", "debug-malloc", "dev-mode-debug-malloc-tracemalloc"])
def test_strict_interpreter_checks_stay_quiet_and_change_nothing(plain, options, env):
    assert run_digest(*options, env={"LC_ALL": "C", **env})[2] == plain
