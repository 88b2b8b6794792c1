"""The judge of memcheck reports: what fails a run and what does not."""
import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "memcheck"))
from memcheck import findings  # noqa: E402

OURS = "/b/addrnorm/_expand.cpython-38-x86_64-linux-gnu.so"
PYTHON = "/usr/lib/libpython3.8.so.1.0"


def report(*errors, closed=True):
    body = "".join(
        "<error><kind>%s</kind><what>w</what><stack>%s</stack></error>" % (
            kind, "".join("<frame><fn>f</fn><obj>%s</obj></frame>" % obj for obj in objects))
        for kind, objects in errors)
    text = "<valgrindoutput><preamble/><status><state>RUNNING</state></status>" + body
    return text + ("<status><state>FINISHED</state></status></valgrindoutput>" if closed else "")


@pytest.mark.parametrize("errors, closed, failing", [
    ([("InvalidRead", [PYTHON])], True, 1),
    ([("InvalidWrite", [OURS])], True, 1),
    ([("UninitCondition", [PYTHON, OURS])], True, 1),
    ([("MismatchedFree", [OURS])], True, 1),
    ([("Leak_DefinitelyLost", [PYTHON, OURS])], True, 1),
    ([("Leak_IndirectlyLost", ["/b/double/libpostal.so.1"])], True, 1),
    # Every extension module of the package is ours, the newer ones too.
    ([("Leak_DefinitelyLost", [PYTHON, "/b/addrnorm/_text.cpython-39-x86_64-linux-gnu.so"])], True, 1),
    ([("Leak_DefinitelyLost", [PYTHON])], True, 0),
    ([("Leak_PossiblyLost", [OURS])], True, 0),
    ([], True, 0),
    ([("InvalidRead", [PYTHON])], False, 2),
])
def test_what_fails_a_run(tmp_path, errors, closed, failing):
    path = tmp_path / "memcheck.1.xml"
    path.write_text(report(*errors, closed=closed))
    assert len(findings(str(path))) == failing


def test_a_fork_that_only_wrote_its_preamble_is_not_a_finding(tmp_path):
    path = tmp_path / "memcheck.2.xml"
    path.write_text("<valgrindoutput><preamble><line>x</line></preamble>")
    assert findings(str(path)) == []
