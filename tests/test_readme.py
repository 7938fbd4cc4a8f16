"""Every Python example of README.md runs as written.

The blocks of one README section run in order in one namespace, in a folder
holding the files they name, made from the bundled sample recording.
"""

import re
import shutil

import pytest

import corvane
from conftest import REPO_DIR, write_wfdb

README = (REPO_DIR / "README.md").read_text(encoding="utf-8")


def python_blocks():
    """(section, code) of every ```python block, in README order."""
    blocks, section = [], ""
    for heading, code in re.findall(r"^## ([^\n]+)$|^```python\n(.*?)^```$", README, re.M | re.S):
        section = heading or section
        if code:
            blocks.append((section, code))
    return blocks


BLOCKS = python_blocks()
REQUEST_JSON = re.search(r"^```json\n(.*?)^```$", README, re.M | re.S).group(1)

pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning", "ignore::FutureWarning")


@pytest.mark.parametrize("index", range(len(BLOCKS)), ids=[f"{i}-{section}" for i, (section, _) in enumerate(BLOCKS)])
def test_python_block_runs(index, tmp_path, monkeypatch, sample_csv_path):
    text = sample_csv_path.read_text(encoding="utf-8")
    (tmp_path / "recording.csv").write_text(text, encoding="utf-8")
    (tmp_path / "request.json").write_text(REQUEST_JSON, encoding="utf-8")
    (tmp_path / "report.json").write_text(corvane.analyze_csv_string(text), encoding="utf-8")
    (tmp_path / "ctu-uhb").mkdir()
    write_wfdb(tmp_path / "ctu-uhb", "1002", text, comments=("pH           7.14", "Apgar5       9"))
    (tmp_path / "recordings").mkdir()
    shutil.copy(sample_csv_path, tmp_path / "recordings")
    monkeypatch.chdir(tmp_path)

    section = BLOCKS[index][0]
    namespace = {}
    for number, (block_section, code) in enumerate(BLOCKS[: index + 1]):
        if block_section == section:
            exec(compile(code, f"README.md python block {number}", "exec"), namespace)
