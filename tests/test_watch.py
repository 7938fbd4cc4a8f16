"""corvane watch: follows a file another program appends to, across truncation
and replacement, printing each window as it completes; Ctrl-C exits 0."""

import json
import os
import queue
import signal
import subprocess
import sys
import threading
import time

import pytest

import corvane
from corvane._cli.main import main
from corvane.summary import summary_lines
from corvane.synthetic import RecordingShape, generate_csv

TIMEOUT = 60.0


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

    def interrupt(self):
        self.process.send_signal(signal.SIGINT)
        assert self.process.wait(timeout=TIMEOUT) == 0
        assert self.lines.empty()


def completed_windows(text):
    """The windows a stream of `text` completes: all but the one at the last sample."""
    return json.loads(corvane.analyze_csv(text, window_min=10).text)["windows"][:-1]


def append_slowly(path, text, pieces=40):
    size = len(text) // pieces + 1
    for start in range(0, len(text), size):
        with open(path, "a", encoding="utf-8", newline="") as handle:
            handle.write(text[start : start + size])  # cut inside lines as often as not
        time.sleep(0.01)


def test_watch_follows_appends_truncation_and_replacement(tmp_path):
    path = tmp_path / "recording.csv"
    texts = [generate_csv(RecordingShape(minutes=minutes, seed=seed)) for minutes, seed in ((13, 1), (12, 2), (11.5, 3))]
    path.write_text(texts[0][:2000], encoding="utf-8")
    watch = Watch(path, "--from-start", "--json")
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


def test_watch_summary_lines_and_start_at_end(tmp_path):
    path = tmp_path / "recording.csv"
    text = generate_csv(RecordingShape(minutes=12, seed=4))
    header, rest = text.split("\n", 1)
    path.write_text(text[: len(header) + 1 + 5000], encoding="utf-8")
    watch = Watch(path)
    time.sleep(0.5)
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
