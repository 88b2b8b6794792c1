"""The suite on the real libpostal: run it with a build against the real
libpostal on PYTHONPATH and LIBPOSTAL_DATA_DIR naming its data, and with
--confcutdir pointing here (the suite above this folder is the test double's)."""
import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

# De-duplication runs on Python 3.10 and newer (Splink): its real-library
# tests are the dedupe session's, not those of an older interpreter's run.
if sys.version_info < (3, 10):
    collect_ignore = ["test_dedupe_real.py"]

import support  # noqa: E402

_problem = []


@pytest.fixture(scope="session", autouse=True)
def real_library():
    """Every test fails, saying what is missing, unless the data directory is
    complete and addrnorm is linked to the real libpostal."""
    if not _problem:
        _problem.append(support.environment_problem())
    if _problem[0]:
        pytest.fail(_problem[0], pytrace=False)


@pytest.fixture
def report(capsys):
    """Prints figures on the terminal even without -s, for quoting."""
    def write(text):
        with capsys.disabled():
            sys.stdout.write("\n" + text.rstrip("\n") + "\n")
    return write
