"""The command-line interface, run as a user would run it."""

import json
import subprocess
import sys

import pytest

import corvane


def run(*args, stdin=None):
    return subprocess.run(
        [sys.executable, "-m", "corvane", *args], capture_output=True, text=True, input=stdin, encoding="utf-8"
    )


def test_analyze_prints_the_same_report_as_the_function(sample_csv_path):
    result = run("analyze", str(sample_csv_path))
    assert result.returncode == 0, result.stderr
    with open(sample_csv_path, encoding="utf-8", newline="") as handle:
        assert result.stdout == corvane.analyze_csv_string(handle.read())


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


@pytest.mark.parametrize(
    "args, content, message",
    [
        (["--window-min", "5"], "Date\n", "corvane: error: window_min must be between 10 and 30"),
        ([], "HR1\n", "corvane: error: CSV is missing required Date column"),
        (["--channel", "HR4"], "Date\n", "corvane: error: unsupported fetal channel: HR4"),
        (["--ga-weeks", "300"], "Date\n", "corvane: error: out of range integral type conversion attempted"),
    ],
)
def test_errors_are_one_line_with_exit_status_2(tmp_path, args, content, message):
    path = tmp_path / "bad.csv"
    path.write_text(content, encoding="utf-8")
    result = run("analyze", str(path), *args)
    assert result.returncode == 2
    assert result.stdout == ""
    assert result.stderr == message + "\n"


def test_unreadable_file_and_csv_options_on_a_json_request(tmp_path):
    missing = run("analyze", str(tmp_path / "nope.csv"))
    assert missing.returncode == 2 and missing.stderr.startswith("corvane: error: cannot read ")
    request = tmp_path / "r.json"
    request.write_text("{}", encoding="utf-8")
    mixed = run("analyze", str(request), "--window-min", "20")
    assert mixed.returncode == 2 and "--window-min cannot be used with a JSON request" in mixed.stderr
    bad = run("analyze", str(request))
    assert bad.returncode == 2
    assert bad.stderr == "corvane: error: invalid analysis request JSON: missing field `episode_id` at line 1 column 2\n"


def test_help_shows_examples():
    result = run("analyze", "--help")
    assert result.returncode == 0
    assert "examples:" in result.stdout and "--window-min" in result.stdout
