"""The command-line interface, run as a user would run it."""

import json
import subprocess
import sys

import pytest

import corvane
from conftest import TESTS_DIR, read_text
from corvane._cli.main import main


def run(*args, stdin=None):
    return subprocess.run(
        [sys.executable, "-m", "corvane", *args], capture_output=True, text=True, input=stdin, encoding="utf-8"
    )


def test_options_are_passed_through_and_output_goes_to_a_file(sample_csv_path, tmp_path):
    out = tmp_path / "report.json"
    result = run(
        "analyze", str(sample_csv_path), "--window-min", "20", "--step-sec", "300", "--ga-weeks", "31",
        "--channel", "hr1", "--last-only", "-o", str(out),
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout == ""
    with open(sample_csv_path, encoding="utf-8", newline="") as handle:
        expected = corvane.analyze_csv_string(
            handle.read(), channel="hr1", ga_weeks=31, window_min=20, step_sec=300, last_only=True
        )
    assert out.read_text(encoding="utf-8") == expected
    report = json.loads(expected)
    assert (report["analysis_mode"], report["requested_window_minutes"], len(report["windows"])) == ("rolling", 20, 1)


def test_json_requests_by_extension_or_flag(tmp_path):
    request = json.dumps(
        {"episode_id": "e", "sent_at": "s", "samples": [{"t": "2024-05-01T09:59:00Z", "hr1": 140}]}
    )
    expected = corvane.analyze_json_string(request)
    as_json = tmp_path / "request.json"
    as_json.write_text(request, encoding="utf-8")
    as_txt = tmp_path / "request.txt"
    as_txt.write_text(request, encoding="utf-8")
    assert run("analyze", str(as_json)).stdout == expected
    assert run("analyze", "--json", str(as_txt)).stdout == expected
    assert run("analyze", "--json", "-", stdin=request).stdout == expected
    assert run("analyze", "-", stdin="\n " + request).stdout == expected  # "{" first: a request


def test_version_is_the_distribution_version_and_the_console_script_is_main():
    from importlib import metadata

    result = run("--version")
    assert (result.returncode, result.stdout) == (0, f"corvane {metadata.version('corvane')}\n")
    assert metadata.entry_points(group="console_scripts")["corvane"].load() is main


MISSING_DATE = "corvane: error: CSV is missing required Date column\ncorvane: hint: the header line reads "
NOT_TEXT = "corvane: error: {path} is not a text CSV export (looks like "


@pytest.mark.parametrize(
    "args, content, message",
    [
        (["--window-min", "5"], "Date\n", "corvane: error: --window-min must be a whole number from 10 to 30"),
        (["--step-sec", "-5"], "Date\n", "corvane: error: --step-sec must be a whole number from 0 to 4294967295"),
        (["--step-sec", "1e20"], "Date\n", "corvane: error: --step-sec must be a whole number from 0 to 4294967295"),
        (["--ga-weeks", "300"], "Date\n", "corvane: error: --ga-weeks must be a whole number from 0 to 255"),
        (["--ga-weeks", "9" * 5000], "Date\n", "corvane: error: --ga-weeks must be a whole number from 0 to 255"),
        (["--channel", "HR4"], "Date\n", "corvane: error: unsupported fetal channel: HR4"),
        ([], "HR1\n", MISSING_DATE + "'HR1'"),
        ([], "Date;HR1\r\n", MISSING_DATE + "'Date;HR1': columns must be separated by commas"),
        ([], "Date\tHR1\n", MISSING_DATE + "'Date\\tHR1': columns must be separated by commas"),
        ([], '"Date","HR1"\n', MISSING_DATE + "'\"Date\",\"HR1\"': column names must not be quoted"),
        ([], b"PK\x03\x04\x14\x00", NOT_TEXT + "a zip archive, such as an .xlsx workbook)"),
        ([], b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1\x00", NOT_TEXT + "an Office compound file, such as an .xls workbook)"),
        ([], b"\x7fELF\x02\x01\x01\x00\x00", NOT_TEXT + "binary data)"),
        ([], "Date,HR1\n".encode("utf-16-le"), NOT_TEXT + "UTF-16 text without a byte-order mark)"),
        ([], b"Date,HR1\n\xe9\n", "corvane: error: {path} is not UTF-8 text (byte 0xe9 on line 2 cannot be read); save it as UTF-8"),
    ],
)
def test_errors_are_one_line_with_exit_status_2(tmp_path, args, content, message):
    path = tmp_path / "bad.csv"
    path.write_bytes(content if isinstance(content, bytes) else content.encode("utf-8"))
    message = message.replace("{path}", str(path))
    result = run("analyze", str(path), *args)
    assert result.returncode == 2
    assert result.stdout == ""
    assert result.stderr == message + "\n"


# --- summary, analyze --format, plot --------------------------------------------


GOLDEN_DIR = TESTS_DIR / "golden"
GOLDEN_CASES = json.loads(read_text(GOLDEN_DIR / "cases.json"))
KIND_LETTERS = ["variable", "early", "late", "prolonged", "gradual_unclassified"]
CATEGORY_LABELS = {"category_i": "I", "category_ii": "II", "category_iii": "III", "unclassified": "-"}


def golden_args(case):
    args = [str(GOLDEN_DIR / case["input"])]
    flags = {"channel": "--channel", "ga_weeks": "--ga-weeks", "window_min": "--window-min", "step_sec": "--step-sec"}
    for key, value in case["kwargs"].items():
        if key == "last_only":
            args += ["--last-only"] if value else []
        else:
            args += [flags[key], str(value)]
    return args


def run_main(capsys, *args):
    status = main(list(args))
    captured = capsys.readouterr()
    return status, captured.out, captured.err


@pytest.mark.parametrize("case", GOLDEN_CASES, ids=[case["input"] for case in GOLDEN_CASES])
def test_summary_has_a_header_and_one_line_per_window_with_the_report_values(capsys, case):
    status, out, err = run_main(capsys, "summary", *golden_args(case))
    assert (status, err) == (0, "")
    report = json.loads(read_text(GOLDEN_DIR / case["expected"]))
    lines = out.splitlines()
    assert out.endswith("\n")
    assert len(lines) == len(report["windows"]) + 1
    assert all(len(line) <= 80 for line in lines)
    assert lines[0].split() == [
        "window", "end", "cat", "alert", "base", "variab.", "acc", "V", "E", "L", "P", "G", "ctx/10", "fetal%",
    ]
    for line, window in zip(lines[1:], report["windows"]):
        fields = line.split()
        assert fields[0] + " " + fields[1] == window["window_end"][5:19]
        assert fields[2] == CATEGORY_LABELS[window["classification"]]
        assert fields[3] == window["alert_level"]
        assert fields[4] == ("-" if window["baseline_bpm"] is None else str(window["baseline_bpm"]))
        assert fields[5] == (window["variability_class"] or "-")
        assert int(fields[6]) == len(window["acceleration_events"])
        kinds = [event["kind"] for event in window["deceleration_events"]]
        assert [int(value) for value in fields[7:12]] == [kinds.count(kind) for kind in KIND_LETTERS]
        assert float(fields[12]) == pytest.approx(window["contractions_per_10_min"], abs=0.05)
        assert float(fields[13]) == pytest.approx(100 * window["data_quality"]["fetal_usable_ratio"], abs=0.05)


HOURLY_FOR_50_HOURS = "".join(f"2024-01-{1 + h // 24:02d} {h % 24:02d}:00:00,140\n" for h in range(50))


@pytest.mark.parametrize(
    "args, rows, warnings",
    [
        (["--channel", " hr2"], "2024-01-01 00:00:00,140\n", ["the recording has no HR2 column, so it has no fetal heart rate to analyze"]),
        ([], "", ["the recording has no samples, so the report has no window"]),
        ([], "2024-01-01 00:00:00,140\n\n2024-01-01 01:30:00,140\n", [
            "consecutive samples are 1.5 hours apart (2024-01-01 00:00:00 and 2024-01-01 01:30:00); check the timestamps",
        ]),
        ([], "2024-03-01 08:00:00,140\n2023-03-01 08:00:00,140\n", [
            "consecutive samples are 8784.0 hours apart (2023-03-01 08:00:00 and 2024-03-01 08:00:00); check the timestamps",
            "the recording spans 8784.0 hours (2023-03-01 08:00:00 to 2024-03-01 08:00:00); "
            "check the timestamps for a mistyped date",
        ]),
        ([], HOURLY_FOR_50_HOURS, [
            "the recording spans 49.0 hours (2024-01-01 00:00:00 to 2024-01-03 01:00:00); "
            "check the timestamps for a mistyped date",
        ]),
    ],
)
def test_suspicious_recordings_give_warnings_and_the_unchanged_report(capsys, tmp_path, args, rows, warnings):
    path = tmp_path / "odd.csv"
    path.write_text("Date,HR1\n" + rows, encoding="utf-8")
    status, out, err = run_main(capsys, "analyze", str(path), *args)
    assert status == 0
    assert out == corvane.analyze_csv_string("Date,HR1\n" + rows, channel=" hr2" if args else "HR1")
    assert err.splitlines() == ["corvane: warning: " + warning for warning in warnings]


def test_summary_marks_missing_values_and_unclassified_windows(capsys, tmp_path):
    # Two minutes of rows without any fetal value: no baseline, no variability.
    path = tmp_path / "empty.csv"
    path.write_text("Date,HR1,TOCO\n" + "".join(f"2024-03-10 10:{s // 60:02d}:{s % 60:02d},,10\n" for s in range(120)))
    report = corvane.analyze_csv(path)
    status, out, _ = run_main(capsys, "summary", str(path))
    fields = out.splitlines()[1].split()
    assert status == 0
    assert fields[2] == CATEGORY_LABELS[report.windows[0].classification]
    assert (fields[4], fields[5], fields[13]) == ("-", "-", "0.0")


def test_summary_of_a_report_without_windows_is_the_header(capsys, tmp_path):
    path = tmp_path / "header.csv"
    path.write_text("Date,HR1\n")
    status, out, _ = run_main(capsys, "summary", str(path))
    assert status == 0 and len(out.splitlines()) == 1


def test_analyze_format_summary_is_the_summary(capsys, sample_csv_path, tmp_path):
    options = ["--window-min", "20", "--step-sec", "300"]
    _, summary, _ = run_main(capsys, "summary", str(sample_csv_path), *options)
    _, formatted, _ = run_main(capsys, "analyze", str(sample_csv_path), *options, "--format", "summary")
    _, as_json, _ = run_main(capsys, "analyze", str(sample_csv_path), *options, "--format", "json")
    _, default, _ = run_main(capsys, "analyze", str(sample_csv_path), *options)
    assert formatted == summary and len(summary.splitlines()) == 6
    assert as_json == default == corvane.analyze_csv_string(read_text(sample_csv_path), window_min=20, step_sec=300)
    out = tmp_path / "summary.txt"
    assert run_main(capsys, "summary", str(sample_csv_path), *options, "-o", str(out))[:2] == (0, "")
    assert out.read_text(encoding="utf-8") == summary


@pytest.mark.parametrize("extension, magic", [("png", b"\x89PNG"), ("svg", b"<?xml"), ("pdf", b"%PDF")])
def test_plot_writes_the_picture(tmp_path, sample_csv_path, extension, magic):
    pytest.importorskip("matplotlib")
    out = tmp_path / f"trace.{extension}"
    result = run("plot", str(sample_csv_path), "-o", str(out), "--window-min", "20", "--step-sec", "300", "--paper-speed", "3")
    assert result.returncode == 0, result.stderr
    assert (result.stdout, result.stderr) == ("", "")
    assert out.read_bytes().startswith(magic)


def test_plot_of_one_window_and_of_a_json_request(capsys, tmp_path):
    pytest.importorskip("matplotlib")
    case = next(case for case in GOLDEN_CASES if case["function"] == "analyze_json_string")
    out = tmp_path / "request.svg"
    assert run_main(capsys, "plot", str(GOLDEN_DIR / case["input"]), "-o", str(out), "--window", "0")[0] == 0
    assert "window 0 only:" in out.read_text(encoding="utf-8")


# --- usage errors and help of every subcommand ------------------------------------

JSON_ONLY = "cannot be used with a JSON request (the request carries its own options)"


@pytest.mark.parametrize(
    "args, message",
    [
        (["analyze", "{tmp}/nope.csv"], "cannot read {tmp}/nope.csv: No such file or directory"),
        (["analyze", "{tmp}/r.json"], "invalid analysis request JSON: missing field `episode_id` at line 1 column 2"),
        (["analyze", "{tmp}/r.json", "--window-min", "20"], "--window-min " + JSON_ONLY),
        (["summary", "{tmp}/r.json", "--ga-weeks", "30"], "--ga-weeks " + JSON_ONLY),
        (["review", "{tmp}/r.json", "-o", "{tmp}/p.html", "--chunk"], "--chunk " + JSON_ONLY),
        (["plot", "{csv}", "-o", "{tmp}/trace.gif"], "cannot write {tmp}/trace.gif: the plot must be a .png, .svg or .pdf file"),
        (["plot", "{csv}", "-o", "{tmp}/t.png", "--window", "5"], "window 5 is out of range: the report has 5 windows"),
        (["plot", "{csv}", "-o", "{tmp}/t.png", "--chunk", "--window", "1"], "window 1 is out of range: the report has 1 window"),
        (["plot", "{csv}", "-o", "{tmp}/t.png", "--chunk", "--step-sec", "30"], "--chunk cannot be used with --window-min or --step-sec"),
        (["plot", "{csv}", "-o", "{tmp}/t.png", "--window-min", "5"], "--window-min must be a whole number from 10 to 30"),
        (["plot", "{csv}", "-o", "{tmp}/missing/t.png"], "cannot write {tmp}/missing/t.png: "),
        (["batch", "{tmp}", "-o", "{tmp}/out", "--window-min", "5"], "--window-min must be a whole number from 10 to 30"),
        (["batch", "{tmp}", "-o", "{tmp}/out", "--step-sec", "1e20"], "--step-sec must be a whole number from 0 to 4294967295"),
        (["batch", "{tmp}", "-o", "{tmp}/out", "--channel", "HR4"], "unsupported fetal channel: HR4"),
        (["batch", "{tmp}", "-o", "{tmp}/out", "--dask", "tcp://127.0.0.1:1", "--jobs", "2"], "--jobs sets the size of a local cluster"),
        (["batch", "{csv}", "{tmp}/nope", "-o", "{tmp}/out"], "{tmp}/nope: no such file or folder"),
        (["batch", "{tmp}/empty", "-o", "{tmp}/out"], "{tmp}/empty: the folder holds no recordings (.csv, .json, .hea files)"),
        (["evaluate", "{csv}", "--outcomes", "{tmp}/o.csv", "-o", "{tmp}/out", "--ga-weeks", "x"], "--ga-weeks must be a whole number from 0 to 255"),
    ],
)
def test_usage_errors_are_one_line_with_exit_status_2(capsys, tmp_path, sample_csv_path, args, message):
    if args[0] == "plot":
        pytest.importorskip("matplotlib")
    (tmp_path / "r.json").write_text("{}", encoding="utf-8")
    (tmp_path / "empty").mkdir()
    (tmp_path / "empty" / "notes.txt").write_text("not a recording\n", encoding="utf-8")
    fill = lambda text: text.replace("{tmp}", str(tmp_path)).replace("{csv}", str(sample_csv_path))  # noqa: E731
    status, out, err = run_main(capsys, *map(fill, args))
    assert (status, out) == (2, "")
    assert err.startswith("corvane: error: " + fill(message)) and err.count("\n") == 1, err
    assert not (tmp_path / "out").exists()


@pytest.mark.parametrize(
    "command, words",
    [
        ("analyze", ["--window-min", "--last-only", "--format"]),
        ("summary", ["V E L P G"]),
        ("plot", ["--paper-speed", "--minutes", "--chunk"]),
        ("review", ["corvane[review]", "--chunk"]),
        ("batch", ["--dask local", "--parquet"]),
        ("evaluate", ["--outcomes", "--last-min", "--jobs"]),
    ],
)
def test_every_subcommand_has_help_with_examples(capsys, command, words):
    with pytest.raises(SystemExit) as exited:
        main([command, "--help"])
    out = capsys.readouterr().out
    assert exited.value.code == 0
    for word in ["examples:", *words]:
        assert word in out
