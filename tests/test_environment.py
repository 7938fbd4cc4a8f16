"""The same call gives the same answer whatever runs around it: other threads
calling at the same time, a process locale with a decimal comma, and the
interpreter's development checks (dev mode, warnings as errors, the debug
memory allocator)."""

import os
import subprocess
import sys
import textwrap

import pytest

from conftest import TESTS_DIR

# A child that makes a fixed set of calls, good and bad, once alone and then from
# THREADS threads at once, each thread ROUNDS times in its own order; it prints its
# locale, the number of distinct answers, whether every thread got the lone answers,
# and one digest of them, so that children under other settings can be compared.
SCRIPT = textwrap.dedent(
    """
    import gc, hashlib, json, locale, os, random, sys, threading
    import corvane
    from corvane.synthetic import RecordingShape, generate_csv

    if len(sys.argv) > 1:
        locale.setlocale(locale.LC_ALL, sys.argv[1])
    text = generate_csv(RecordingShape(minutes=14, seed=9))
    drifting = generate_csv(RecordingShape(minutes=11, seed=5, dropout_share=0.3, start="2024-12-31 23:55:00"))
    header, *lines = text.splitlines()
    names = [name.lower() for name in header.split(",")]
    samples = [{("t" if n == "date" else n): (v if n == "date" else float(v)) for n, v in zip(names, line.split(",")) if v} for line in lines]
    request = lambda samples, **extra: json.dumps({"episode_id": "e", "sent_at": "s", "samples": samples, **extra})
    csv, req = corvane.analyze_csv_string, corvane.analyze_json_string
    calls = [
        (csv, (text,), {}), (csv, (text,), {"window_min": 10, "step_sec": 45, "ga_weeks": 30}),
        (csv, (text,), {"window_min": 10, "step_sec": 0, "last_only": True, "ga_weeks": 30}),
        (csv, (text.replace("2024-03-01 08:0", "2024-03-01T08:0"),), {"last_only": True, "window_min": 12}),
        (csv, (drifting,), {"channel": " hr1 ", "ga_weeks": 41}), (csv, (drifting,), {"channel": "HR2"}),
        (csv, ("Date,HR1,TOCO\\n2024-03-01 08:00:00,140.5,1e1\\n2024-03-01 08:00:01,1.4e2,12.25\\n",), {}),
        (csv, ("Date,HR1\\n2024-03-01 08:00:00,140,5\\n",), {"channel": "hr3"}),
        (csv, ("Date\\n2024-02-30 08:00:00\\n2024-03-01 08:00:00,5\\n1-1-1 1:1:1\\n",), {}),
        (csv, ("Date\\n2000-01-01 00:00:00\\n3000-01-01 00:00:00\\n",), {"window_min": 10, "step_sec": 1}),
        (csv, ("",), {}), (csv, (text,), {"window_min": 5}), (csv, (text,), {"channel": "HR9"}), (csv, (text,), {"ga_weeks": -1}),
        (csv, (text,), {"step_sec": 2**64}), (csv, (text,), {"window_min": "10"}), (csv, (None,), {}), (csv, ("\\ud800",), {}),
        (req, (request(samples, metadata={"gestational_age_weeks": 28}),), {}),
        (req, (request([{"t": "2024-03-01T08:00:00.5Z", "hr1": 141.75, "toco": 1.5e1}, {"t": "2024-03-01 08:00:01+01:00", "hr1": 1e-3}]),), {}),
        (req, ('{"episode_id": "e", "sent_at": "s", "samples": [{"t": "x", "hr1": 1.5e400}]}',), {}), (req, (request([]),), {}),
        (req, ("[1",), {}), (req, (b"{}",), {}), (req, (), {}),
    ]

    def answer(function, args, kwargs):
        try:
            return "report:" + function(*args, **kwargs)
        except Exception as error:
            return type(error).__name__ + ":" + str(error)

    alone = [answer(*call) for call in calls]
    threads, rounds = int(os.environ.get("THREADS", "4")), int(os.environ.get("ROUNDS", "1"))
    start, agree = threading.Barrier(threads), []

    def worker(index):
        order = [i for _ in range(rounds) for i in range(len(calls))]
        random.Random(index).shuffle(order)
        start.wait()
        agree.append(all(answer(*calls[i]) == alone[i] for i in order))

    workers = [threading.Thread(target=worker, args=(index,)) for index in range(threads)]
    for thread in workers:
        thread.start()
    for thread in workers:
        thread.join()
    gc.collect()
    digest = hashlib.sha256("\\0".join(alone).encode("utf-8", "surrogatepass")).hexdigest()
    print(locale.setlocale(locale.LC_NUMERIC), len(set(alone)), len(agree) == threads and all(agree), digest)
    """
)
GERMAN = "de_DE.UTF-8"


def run(*options, argv=(), env=()):
    """The child's (locale, distinct answers, threads agree, digest), after checking it ran quietly."""
    result = subprocess.run([sys.executable, *options, "-c", SCRIPT, *argv], cwd=TESTS_DIR, env={**os.environ, "LC_ALL": "C", **dict(env)},
                            capture_output=True, text=True, timeout=300)
    assert (result.returncode, result.stderr) == (0, ""), result.stderr
    return result.stdout.split()


@pytest.fixture(scope="module")
def plain():
    locale, distinct, agree, digest = run(env={"THREADS": "8", "ROUNDS": "4"})
    assert (locale, distinct, agree) == ("C", "25", "True")  # every call its own answer, the same in every thread
    return digest


def test_a_german_locale_changes_nothing(plain):
    if subprocess.run([sys.executable, "-c", f"import locale; locale.setlocale(locale.LC_ALL, {GERMAN!r})"]).returncode:
        pytest.skip(f"locale {GERMAN} is not installed (localedef -i de_DE -f UTF-8 {GERMAN})")
    locale, _, agree, digest = run(argv=[GERMAN], env={"LC_ALL": GERMAN})
    assert locale.startswith("de_DE") and (agree, digest) == ("True", plain)  # a decimal comma, and the same answers


@pytest.mark.parametrize("options, env", [
    (["-X", "dev", "-W", "error"], {}), (["-W", "error"], {"PYTHONMALLOC": "debug"}),
    (["-X", "dev", "-W", "error", "-X", "tracemalloc=5"], {"PYTHONMALLOC": "debug", "PYTHONASYNCIODEBUG": "1"}),
], ids=["dev-mode", "debug-malloc", "dev-mode-debug-malloc-tracemalloc"])
def test_strict_interpreter_checks_stay_quiet_and_change_nothing(plain, options, env):
    assert run(*options, env=env)[2:] == ["True", plain]
