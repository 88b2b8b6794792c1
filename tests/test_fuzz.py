"""The argument fuzzer, at the budget CI gives it (ADDRNORM_FUZZ_CASES)."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "fuzz"))
import fuzz  # noqa: E402
from heap import UNDER_VALGRIND  # noqa: E402


def test_the_fuzzer_finds_nothing(capsys):
    cases = 200 if UNDER_VALGRIND else int(os.environ.get("ADDRNORM_FUZZ_CASES", "1000"))
    # A seed of each interpreter's own, so that one run of every session
    # tries as many different cases as the sessions together make.
    seed = sys.version_info[1]
    status = fuzz.main(["--cases", str(cases), "--seed", str(seed), "--batch", "100" if UNDER_VALGRIND else "1000"])
    report = capsys.readouterr().out
    assert status == 0, report
    assert "fuzz: %d cases" % cases in report, report
