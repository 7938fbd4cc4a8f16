"""JSONTestSuite's parsing cases, each as the value of an unknown key of a valid request.

y_ cases must be analyzed, n_ cases refused by the JSON layer (a syntax error, or for
n_structure_object_followed_by_closing_object the request closed early without
`samples`); of the i_ cases (either is allowed) the reader accepts exactly ACCEPTED_I
and refuses the others likewise.
Files that are not UTF-8 cannot reach the module (it takes str) and are left out. The
suite is found through CORVANE_JSON_TEST_SUITE, relative to the project root.
"""

import os

import pytest

import corvane
from conftest import REPO_DIR

SUITE = REPO_DIR / os.environ.get("CORVANE_JSON_TEST_SUITE", "../shared/data/json-test-suite") / "test_parsing"
PREFIX = "invalid analysis request JSON: "
ACCEPTED_I = {f"i_{name}.json" for name in ("number_double_huge_neg_exp", "number_real_underflow", "number_too_big_neg_int",
                                            "number_too_big_pos_int", "number_very_big_negative_int", "structure_500_nested_arrays")}


def utf8(path):
    try:
        return path.read_bytes().decode("utf-8")
    except UnicodeDecodeError:
        return None


CASES = {p.name: text for p in (sorted(SUITE.glob("*.json")) if SUITE.is_dir() else []) if (text := utf8(p)) is not None}
pytestmark = pytest.mark.skipif(not CASES, reason=f"JSONTestSuite not found at {SUITE} (set CORVANE_JSON_TEST_SUITE)")


@pytest.mark.parametrize("name", sorted(CASES))
def test_case(name):
    assert {kind: sum(n.startswith(kind) for n in CASES) for kind in ("y_", "n_", "i_")} == {"y_": 95, "n_": 176, "i_": 22}
    request = '{"episode_id":"e","sent_at":"s","x":' + CASES[name] + ',"samples":[{"t":"2024-01-01 00:00:00","hr1":140}]}'
    try:
        outcome = corvane.analyze_json_string(request)[:1]
    except ValueError as error:
        outcome = str(error)[: len(PREFIX)]
    assert outcome == ("{" if name.startswith("y_") or name in ACCEPTED_I else PREFIX)
