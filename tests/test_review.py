"""The interactive review page: its file, and the page in a real browser."""

import json
import os
import shutil
import subprocess
import sys
import urllib.parse

import pytest

import corvane
import test_batch
import test_cli
from conftest import read_text, write_wfdb
from corvane.synthetic import RecordingShape, generate_csv

pytest.importorskip("plotly")

ROLLING = {"window_min": 20, "step_sec": 300}
MAX_PAGE_BYTES = 8 * 1024 * 1024


def test_ninety_minutes_at_4_hz_fit_in_8_mb_and_without_plotly_the_error_names_the_extra(monkeypatch, capsys, sample_csv_path):
    text = generate_csv(RecordingShape(minutes=90, seed=3))
    report = corvane.analyze_csv(text, **ROLLING)
    page = report.to_html(text, title="t.csv")
    assert page.count('data-window="') == 15 and len(page.encode("utf-8")) <= MAX_PAGE_BYTES
    nadir = next(event.nadir_bpm for event in report.recording_events() if event.kind == "deceleration")
    assert all(part in page for part in ("corvane review · t.csv", "duration</dt><dd>90.0 min", f'<td data-sort="{nadir}">'))
    monkeypatch.setitem(sys.modules, "plotly", None)
    monkeypatch.setitem(sys.modules, "plotly.offline", None)
    with pytest.raises(ImportError, match=r"^the review page needs plotly: install corvane\[review\]$"):
        report.to_html(text)
    error = "corvane: error: the review page needs plotly: install corvane[review]\n"
    assert test_cli.run_main(capsys, "review", sample_csv_path, "-o", "-") == (2, "", error)


@pytest.mark.filterwarnings("ignore::DeprecationWarning", "ignore::FutureWarning")
def test_command_line_review_of_each_input_kind(sample_csv_path, tmp_path):
    request = tmp_path / "request.json"
    samples = [{"t": f"2024-05-01T09:{m:02d}:{s:02d}+02:00", "hr1": 140, "toco": 10} for m in range(12) for s in range(60)]
    request.write_text(json.dumps({"episode_id": "e", "sent_at": "s", "samples": samples}), encoding="utf-8")
    sources = [(sample_csv_path, 5), (request, 1)]
    if test_batch.HAVE_WFDB:
        write_wfdb(tmp_path, "record", generate_csv(RecordingShape(minutes=24, seed=4)))
        sources.append((tmp_path / "record.hea", 2))
    for source, windows in sources:
        out = tmp_path / "review.html"
        result = subprocess.run([sys.executable, "-m", "corvane", "review", str(source), "-o", str(out)], capture_output=True, text=True)
        page = out.read_text(encoding="utf-8")
        assert (result.returncode, result.stderr, page.count('data-window="'), source.name in page) == (0, "", windows, True)
        assert source != request or '"clock_origin":1714554000000,' in page  # the chart starts at 09:00 as the monitor wrote


# --- in a real browser ---------------------------------------------------------

CHROMIUM, CHROMEDRIVER = shutil.which("chromium"), shutil.which("chromedriver")


@pytest.fixture(scope="module")
def browser():
    if not (CHROMIUM and CHROMEDRIVER):
        pytest.skip("Chromium and chromedriver are not installed (Debian: apt-get install chromium chromium-driver)")
    webdriver = pytest.importorskip("selenium.webdriver", reason="selenium is not installed (pip install selenium)")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1400,1800"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    # The sanitizer run preloads its runtime into Python; the browser must not inherit it.
    environment = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}
    service = webdriver.ChromeService(executable_path=CHROMEDRIVER, env=environment)
    driver = webdriver.Chrome(options=options, service=service)
    yield driver
    driver.quit()


def test_the_page_works_offline_in_chromium(browser, sample_csv_path, tmp_path):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

    text = read_text(sample_csv_path)
    report = corvane.analyze_csv(text, **ROLLING)
    (tmp_path / "review.html").write_text(report.to_html(text, title="sample_40min.csv"), encoding="utf-8")
    browser.get((tmp_path / "review.html").as_uri())
    WebDriverWait(browser, 30).until(lambda driver: driver.find_elements(By.CSS_SELECTOR, "#chart .main-svg"))

    windows = browser.find_elements(By.CSS_SELECTOR, "[data-window]")
    assert [element.get_attribute("data-window") for element in windows] == [str(n) for n in range(len(report.windows))]
    for number in (len(report.windows) - 1, 0):
        windows[number].click()
        shown = browser.find_element(By.ID, "findings").text
        window = report.windows[number]
        assert f"Window {number}: {window.window_start}" in shown
        for phrase in window.reasons + window.limitations + window.high_risk_features + window.protective_features:
            assert phrase in shown
        assert windows[number].get_attribute("aria-pressed") == "true"

    table = browser.find_element(By.ID, "events-table")
    assert len(table.find_elements(By.CSS_SELECTOR, "tbody tr")) == len(report.recording_events())
    table.find_element(By.CSS_SELECTOR, 'th[data-key="duration"] button').click()
    durations = [float(cell.get_attribute("data-sort")) for cell in table.find_elements(By.CSS_SELECTOR, "tbody td:nth-child(5)")]
    assert durations == sorted(durations)

    assert browser.get_screenshot_as_file(str(tmp_path / "review.png"))
    assert (tmp_path / "review.png").read_bytes().startswith(b"\x89PNG")
    errors = [entry["message"] for entry in browser.get_log("browser") if entry["level"] == "SEVERE"]
    assert errors == []
    requested = {
        urllib.parse.urlparse(message.split('"url":"', 1)[1].split('"', 1)[0]).scheme
        for message in (entry["message"] for entry in browser.get_log("performance"))
        if '"Network.requestWillBeSent"' in message
    }
    assert "file" in requested and requested <= {"file", "data", "blob"}
