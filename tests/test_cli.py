"""The command-line interface, run as a user would run it; `corvane watch`
follows a file another program appends to, across truncation and replacement,
printing each window as it completes; Ctrl-C exits 0."""

import json
import os
import pathlib
import queue
import signal
import subprocess
import sys
import threading
import time

import pytest

import corvane
from conftest import GOLDEN_CASES, GOLDEN_DIR, data_rows, read_text
from corvane._cli.main import main
from corvane.summary import summary_lines
from corvane.synthetic import RecordingShape, generate_csv

ROLLING = ["--window-min", "20", "--step-sec", "300"]


def run(*args, stdin=None):
    return subprocess.run([sys.executable, "-m", "corvane", *args], capture_output=True, text=True, input=stdin, encoding="utf-8")


def run_main(capsys, *args):
    status = main([str(a) for a in args])
    captured = capsys.readouterr()
    return status, captured.out, captured.err


def test_options_reach_the_analysis_in_each_format_and_output_goes_to_a_file(capsys, sample_csv_path, tmp_path):
    out = tmp_path / "report.json"
    result = run("analyze", str(sample_csv_path), *ROLLING, "--ga-weeks", "31", "--channel", "hr1", "--last-only", "-o", str(out))
    assert (result.returncode, result.stdout, result.stderr) == (0, "", "")
    text = read_text(sample_csv_path)
    expected = corvane.analyze_csv_string(text, channel="hr1", ga_weeks=31, window_min=20, step_sec=300, last_only=True)
    assert out.read_text(encoding="utf-8") == expected and len(json.loads(expected)["windows"]) == 1
    _, summary, _ = run_main(capsys, "summary", sample_csv_path, *ROLLING)
    assert run_main(capsys, "analyze", sample_csv_path, *ROLLING, "--format", "summary")[1] == summary
    assert run_main(capsys, "analyze", sample_csv_path, *ROLLING, "--format", "json")[1] == corvane.analyze_csv_string(
        text, window_min=20, step_sec=300)
    assert run_main(capsys, "summary", sample_csv_path, *ROLLING, "-o", tmp_path / "s.txt")[:2] == (0, "")
    assert (tmp_path / "s.txt").read_text(encoding="utf-8") == summary and len(summary.splitlines()) == 6


def test_json_requests_by_extension_flag_or_first_character(tmp_path):
    request = '{"episode_id": "e", "sent_at": "s", "samples": [{"t": "2024-05-01T09:59:00Z", "hr1": 140}]}'
    expected = corvane.analyze_json_string(request)
    (tmp_path / "request.json").write_text(request, encoding="utf-8")
    (tmp_path / "request.txt").write_text(request, encoding="utf-8")
    assert run("analyze", str(tmp_path / "request.json")).stdout == expected
    assert run("analyze", "--json", str(tmp_path / "request.txt")).stdout == expected
    assert run("analyze", "--json", "-", stdin=request).stdout == expected
    assert run("analyze", "-", stdin="\n " + request).stdout == expected


def test_version_is_the_distribution_version_and_the_console_script_is_main():
    from importlib import metadata

    assert (run("--version").returncode, run("--version").stdout) == (0, f"corvane {metadata.version('corvane')}\n")
    assert metadata.entry_points(group="console_scripts")["corvane"].load() is main


# One row a case: the arguments ({tmp} a fresh folder, {bad} the file {tmp}/bad.csv
# holding "file" as Latin-1 bytes, {csv} the bundled sample) and either the message
# after "corvane: error: " (ending in "*": the start of a one-line message), or the
# warnings given with the unchanged report.
ERRORS = data_rows("cli-errors.jsonl")


@pytest.mark.parametrize("case", ERRORS, ids=[" ".join(case["args"])[:60] for case in ERRORS])
def test_errors_are_one_line_with_exit_status_2_and_warnings_keep_the_report(capsys, tmp_path, sample_csv_path, case):
    args, message = case["args"], case.get("error", "")
    if args[0] == "plot":
        pytest.importorskip("matplotlib")
    (tmp_path / "bad.csv").write_bytes(case["file"].encode("latin-1"))
    (tmp_path / "r.json").write_text("{}", encoding="utf-8")
    (tmp_path / "empty").mkdir()
    (tmp_path / "empty" / "notes.txt").write_text("not a recording\n", encoding="utf-8")
    fill = lambda text: text.replace("{bad}", "{tmp}/bad.csv").replace("{tmp}", str(tmp_path)).replace("{csv}", str(sample_csv_path))  # noqa: E731
    status, out, err = run_main(capsys, *map(fill, args))
    if "warnings" in case:
        assert status == 0 and out == corvane.analyze_csv_string(case["file"], channel=args[-1] if len(args) > 2 else "HR1")
        assert err.splitlines() == ["corvane: warning: " + warning for warning in case["warnings"]]
        return
    assert (status, out) == (2, "") and not (tmp_path / "out").exists()
    expected = "corvane: error: " + fill(message)
    assert err.startswith(expected.rstrip("*")) and err.count("\n") == 1 if message.endswith("*") else err == expected + "\n"


CATEGORY = {"category_i": "I", "category_ii": "II", "category_iii": "III", "unclassified": "-"}
KINDS = ["variable", "early", "late", "prolonged", "gradual_unclassified"]
HEADER = "window end cat alert base variab. acc V E L P G ctx/10 fetal%".split()
EMPTY_MINUTES = "Date,HR1,TOCO\n" + "".join(f"2024-03-10 10:{s // 60:02d}:{s % 60:02d},,10\n" for s in range(120))


@pytest.mark.parametrize("case", GOLDEN_CASES + [{"text": EMPTY_MINUTES}, {"text": "Date,HR1\n"}],
                         ids=[c["input"] for c in GOLDEN_CASES] + ["no fetal values", "no rows"])
def test_summary_has_a_header_and_one_line_per_window_with_the_report_values(capsys, tmp_path, case):
    if "text" in case:
        (tmp_path / "in.csv").write_text(case["text"])
        args, report = [tmp_path / "in.csv"], json.loads(corvane.analyze_csv_string(case["text"]))
    else:
        flags = [[f"--{key.replace('_', '-')}"] + ([] if value is True else [value]) for key, value in case["kwargs"].items() if value is not False]
        args = [GOLDEN_DIR / case["input"]] + [part for flag in flags for part in flag]
        report = json.loads(read_text(GOLDEN_DIR / case["expected"]))
    status, out, err = run_main(capsys, "summary", *args)
    lines = out.splitlines()
    assert status == 0 and "error" not in err and out.endswith("\n") and lines[0].split() == HEADER
    assert len(lines) == len(report["windows"]) + 1 and all(len(line) <= 80 for line in lines)
    for line, window in zip(lines[1:], report["windows"]):
        fields = line.split()
        kinds = [event["kind"] for event in window["deceleration_events"]]
        assert fields[:6] == [window["window_end"][5:10], window["window_end"][11:19], CATEGORY[window["classification"]],
                              window["alert_level"], str(window["baseline_bpm"] or "-"), window["variability_class"] or "-"]
        assert [int(value) for value in fields[6:12]] == [len(window["acceleration_events"])] + [kinds.count(k) for k in KINDS]
        assert float(fields[12]) == pytest.approx(window["contractions_per_10_min"], abs=0.05)
        assert float(fields[13]) == pytest.approx(100 * window["data_quality"]["fetal_usable_ratio"], abs=0.05)


def test_plot_writes_the_picture_of_a_recording_or_of_one_window_of_a_request(capsys, tmp_path, sample_csv_path):
    pytest.importorskip("matplotlib")
    result = run("plot", str(sample_csv_path), "-o", str(tmp_path / "t.png"), *ROLLING, "--paper-speed", "3")
    assert (result.returncode, result.stdout, result.stderr) == (0, "", "")
    assert (tmp_path / "t.png").read_bytes().startswith(b"\x89PNG")
    case = next(case for case in GOLDEN_CASES if case["function"] == "analyze_json_string")
    assert run_main(capsys, "plot", GOLDEN_DIR / case["input"], "-o", tmp_path / "r.svg", "--window", "0")[0] == 0
    assert "window 0 only:" in (tmp_path / "r.svg").read_text(encoding="utf-8")


@pytest.mark.parametrize("command, words", [
    ("analyze", ["--window-min", "--last-only", "--format"]), ("summary", ["V E L P G"]),
    ("plot", ["--paper-speed", "--minutes", "--chunk"]), ("review", ["corvane[review]", "--chunk"]),
    ("batch", ["--dask local", "--parquet"]), ("evaluate", ["--outcomes", "--last-min", "--jobs"]),
    ("watch", ["--from-start", "--json"]),
])
def test_every_subcommand_has_help_with_examples(capsys, command, words):
    with pytest.raises(SystemExit) as exited:
        main([command, "--help"])
    out = capsys.readouterr().out
    assert exited.value.code == 0 and all(word in out for word in ["examples:", *words])


TIMEOUT = 60.0


def open_files(fds):
    """The files a process holds open; descriptors closed while they are listed are skipped."""
    names = set()
    for fd in fds.iterdir():
        try:
            names.add(os.readlink(fd))
        except OSError:
            pass
    return names


class Watch:
    def __init__(self, path, *options):
        self.lines = queue.Queue()
        command = [sys.executable, "-m", "corvane", "watch", str(path), "--window-min", "10", "--poll-sec", "0.05", *options]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))

    def take(self, count):
        deadline = time.monotonic() + TIMEOUT
        return [self.lines.get(timeout=max(0.0, deadline - time.monotonic())) for _ in range(count)]

    def wait_until_open(self, path):
        """Waits until the watcher holds `path` open (it has read its header and found its end)."""
        fds = pathlib.Path(f"/proc/{self.process.pid}/fd")
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline and os.path.realpath(path) not in open_files(fds):
            time.sleep(0.02)
        time.sleep(0.2)

    def interrupt(self):
        self.process.send_signal(signal.SIGINT)
        assert self.process.wait(timeout=TIMEOUT) == 0
        assert self.lines.empty()


@pytest.fixture
def start_watch():
    """Starts watchers; any still running when the test ends (a failed test) is killed."""
    started = []
    yield lambda path, *options: started.append(Watch(path, *options)) or started[-1]
    for watch in started:
        if watch.process.poll() is None:
            watch.process.kill()
            watch.process.wait()


def completed_windows(text):
    """The windows a stream of `text` completes: all but the one at the last sample."""
    return json.loads(corvane.analyze_csv(text, window_min=10).text)["windows"][:-1]


def append_slowly(path, text, pieces=40):
    size = len(text) // pieces + 1
    for start in range(0, len(text), size):
        with open(path, "a", encoding="utf-8", newline="") as handle:
            handle.write(text[start : start + size])  # cut inside lines as often as not
        time.sleep(0.01)


def test_watch_follows_appends_truncation_and_replacement(tmp_path, start_watch):
    path = tmp_path / "recording.csv"
    texts = [generate_csv(RecordingShape(minutes=minutes, seed=seed)) for minutes, seed in ((13, 1), (12, 2), (11.5, 3))]
    path.write_text(texts[0][:2000], encoding="utf-8")
    watch = start_watch(path, "--from-start", "--json")
    append_slowly(path, texts[0][2000:])
    assert [json.loads(line) for line in watch.take(len(completed_windows(texts[0])))] == completed_windows(texts[0])
    # Replaced by another file, then truncated and rewritten: a new stream each time.
    (tmp_path / "new.csv").write_text(texts[1], encoding="utf-8")
    os.replace(tmp_path / "new.csv", path)
    assert [json.loads(line) for line in watch.take(len(completed_windows(texts[1])))] == completed_windows(texts[1])
    time.sleep(0.3)
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(texts[2][:100])
    time.sleep(0.3)
    append_slowly(path, texts[2][100:])
    assert [json.loads(line) for line in watch.take(len(completed_windows(texts[2])))] == completed_windows(texts[2])
    watch.interrupt()


def test_watch_summary_lines_and_start_at_end(tmp_path, start_watch):
    path = tmp_path / "recording.csv"
    text = generate_csv(RecordingShape(minutes=12, seed=4))
    header, rest = text.split("\n", 1)
    path.write_text(text[: len(header) + 1 + 5000], encoding="utf-8")
    watch = start_watch(path)
    watch.wait_until_open(path)
    # Without --from-start the stream begins at the first whole line written after the start.
    seen = text[len(header) + 1 + 5000 :]
    seen = header + "\n" + seen[seen.index("\n") + 1 :]
    append_slowly(path, text[len(header) + 1 + 5000 :])
    expected = summary_lines(corvane.analyze_csv(seen, window_min=10))[:-1]
    assert watch.take(len(expected)) == expected
    watch.interrupt()


def test_watch_has_no_last_only(tmp_path, capsys):
    with pytest.raises(SystemExit) as exited:
        main(["watch", str(tmp_path / "x.csv"), "--last-only"])
    assert exited.value.code == 2 and "unrecognized arguments: --last-only" in capsys.readouterr().err
