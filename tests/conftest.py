import json
import os
import subprocess
import sys
import textwrap

import pytest

sys.path.insert(0, os.path.dirname(__file__))

from libpostal_double import Double  # noqa: E402

TESTS_DIR = os.path.dirname(os.path.abspath(__file__))

from shared import DEDUPE_RUNS  # noqa: E402

if not DEDUPE_RUNS:
    collect_ignore = ["test_dedupe.py", "test_dedupe_bench.py", "test_dedupe_values.py"]


@pytest.fixture(scope="session")
def double():
    return Double()


@pytest.fixture(autouse=True)
def fresh_double(double):
    """Each test starts from the real library's defaults and echo results."""
    double.reset()
    yield double
    double.reset()


PROGRAMS_DIR = os.path.join(TESTS_DIR, "programs")
PRELUDE = "import json, sys, gc\nfrom libpostal_double import Double\ndouble = Double()\n"


def run_python(code=None, preload=None, expect_ok=True, program=None, args=()):
    """Runs code, or the file `program` under tests/programs with the
    command-line arguments args, in a fresh interpreter; returns what it
    printed as JSON on its last line.

    Code sees the double as `double` (not yet set up: nothing imported); a
    program makes its own.
    """
    assert (code is None) != (program is None), "code or a program, not both"
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([TESTS_DIR, env.get("PYTHONPATH", "")])
    if preload:
        env["LD_PRELOAD"] = " ".join(filter(None, [env.get("LD_PRELOAD"), preload]))
    if program is None:
        command = ["-c", PRELUDE + textwrap.dedent(code)]
    else:
        command = [os.path.join(PROGRAMS_DIR, program)] + [str(arg) for arg in args]
    process = subprocess.run(
        [sys.executable] + command,
        env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True, timeout=120)
    if expect_ok:
        assert process.returncode == 0, process.stderr
        lines = process.stdout.strip().splitlines()
        return json.loads(lines[-1]) if lines else None
    return process


@pytest.fixture
def python():
    return run_python
