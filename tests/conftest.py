import json
import os
import subprocess
import sys
import textwrap

import pytest

sys.path.insert(0, os.path.dirname(__file__))

from libpostal_double import Double  # noqa: E402

TESTS_DIR = os.path.dirname(os.path.abspath(__file__))


@pytest.fixture(scope="session")
def double():
    return Double()


@pytest.fixture(autouse=True)
def fresh_double(double):
    """Each test starts from the real library's defaults and echo results."""
    double.reset()
    yield double
    double.reset()


def run_python(code, preload=None, expect_ok=True):
    """Runs code in a fresh interpreter; returns what it printed as JSON on its last line.

    The code sees the double as `double` (not yet set up: nothing imported).
    """
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([TESTS_DIR, env.get("PYTHONPATH", "")])
    if preload:
        env["LD_PRELOAD"] = " ".join(filter(None, [env.get("LD_PRELOAD"), preload]))
    prelude = "import json, sys, gc\nfrom libpostal_double import Double\ndouble = Double()\n"
    process = subprocess.run(
        [sys.executable, "-c", prelude + textwrap.dedent(code)],
        env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True, timeout=120)
    if expect_ok:
        assert process.returncode == 0, process.stderr
        lines = process.stdout.strip().splitlines()
        return json.loads(lines[-1]) if lines else None
    return process


@pytest.fixture
def python():
    return run_python
