"""The command-line interface, run as a user would run it."""

import json
import subprocess
import sys

import pytest

import corvane
from conftest import GOLDEN_CASES, GOLDEN_DIR, data_rows, read_text
from corvane._cli.main import main

ROLLING = ["--window-min", "20", "--step-sec", "300"]


def run(*args, stdin=None):
    return subprocess.run([sys.executable, "-m", "corvane", *args], capture_output=True, text=True, input=stdin, encoding="utf-8")


def run_main(capsys, *args):
    status = main([str(a) for a in args])
    captured = capsys.readouterr()
    return status, captured.out, captured.err


def test_options_reach_the_analysis_and_output_goes_to_a_file(sample_csv_path, tmp_path):
    out = tmp_path / "report.json"
    result = run("analyze", str(sample_csv_path), *ROLLING, "--ga-weeks", "31", "--channel", "hr1", "--last-only", "-o", str(out))
    assert (result.returncode, result.stdout, result.stderr) == (0, "", "")
    expected = corvane.analyze_csv_string(read_text(sample_csv_path), channel="hr1", ga_weeks=31, window_min=20,
                                          step_sec=300, last_only=True)
    assert out.read_text(encoding="utf-8") == expected and len(json.loads(expected)["windows"]) == 1


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
# holding "file" as Latin-1 bytes, {csv} the bundled sample) and the message after
# "corvane: error: "; a message ending in "*" is the start of a one-line message.
ERRORS = data_rows("cli-errors.jsonl")


@pytest.mark.parametrize("case", ERRORS, ids=[" ".join(case["args"])[:60] for case in ERRORS])
def test_errors_are_one_line_with_exit_status_2(capsys, tmp_path, sample_csv_path, case):
    args, message = case["args"], case["error"]
    if args[0] == "plot":
        pytest.importorskip("matplotlib")
    (tmp_path / "bad.csv").write_bytes(case["file"].encode("latin-1"))
    (tmp_path / "r.json").write_text("{}", encoding="utf-8")
    (tmp_path / "empty").mkdir()
    (tmp_path / "empty" / "notes.txt").write_text("not a recording\n", encoding="utf-8")
    fill = lambda text: text.replace("{bad}", "{tmp}/bad.csv").replace("{tmp}", str(tmp_path)).replace("{csv}", str(sample_csv_path))  # noqa: E731
    status, out, err = run_main(capsys, *map(fill, args))
    assert (status, out) == (2, "") and not (tmp_path / "out").exists()
    expected = "corvane: error: " + fill(message)
    assert err.startswith(expected.rstrip("*")) and err.count("\n") == 1 if message.endswith("*") else err == expected + "\n"


HOURLY = "".join(f"2024-01-{1 + h // 24:02d} {h % 24:02d}:00:00,140\n" for h in range(50))
SPANS = "the recording spans {} hours ({} to {}); check the timestamps for a mistyped date"
GAP = "consecutive samples are {} hours apart ({} and {}); check the timestamps"


@pytest.mark.parametrize("args, rows, warnings", [
    (["--channel", " hr2"], "2024-01-01 00:00:00,140\n", ["the recording has no HR2 column, so it has no fetal heart rate to analyze"]),
    ([], "", ["the recording has no samples, so the report has no window"]),
    ([], "2024-01-01 00:00:00,140\n\n2024-01-01 01:30:00,140\n", [GAP.format(1.5, "2024-01-01 00:00:00", "2024-01-01 01:30:00")]),
    ([], "2024-03-01 08:00:00,140\n2023-03-01 08:00:00,140\n", [GAP.format(8784.0, "2023-03-01 08:00:00", "2024-03-01 08:00:00"),
                                                               SPANS.format(8784.0, "2023-03-01 08:00:00", "2024-03-01 08:00:00")]),
    ([], HOURLY, [SPANS.format(49.0, "2024-01-01 00:00:00", "2024-01-03 01:00:00")]),
])
def test_suspicious_recordings_give_warnings_and_the_unchanged_report(capsys, tmp_path, args, rows, warnings):
    (tmp_path / "odd.csv").write_text("Date,HR1\n" + rows, encoding="utf-8")
    status, out, err = run_main(capsys, "analyze", tmp_path / "odd.csv", *args)
    assert status == 0 and out == corvane.analyze_csv_string("Date,HR1\n" + rows, channel=" hr2" if args else "HR1")
    assert err.splitlines() == ["corvane: warning: " + warning for warning in warnings]


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


def test_analyze_format_and_summary_to_a_file(capsys, sample_csv_path, tmp_path):
    _, summary, _ = run_main(capsys, "summary", sample_csv_path, *ROLLING)
    assert run_main(capsys, "analyze", sample_csv_path, *ROLLING, "--format", "summary")[1] == summary
    expected = corvane.analyze_csv_string(read_text(sample_csv_path), window_min=20, step_sec=300)
    assert run_main(capsys, "analyze", sample_csv_path, *ROLLING, "--format", "json")[1] == expected
    assert run_main(capsys, "summary", sample_csv_path, *ROLLING, "-o", tmp_path / "s.txt")[:2] == (0, "")
    assert (tmp_path / "s.txt").read_text(encoding="utf-8") == summary and len(summary.splitlines()) == 6


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
