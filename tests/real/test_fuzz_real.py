"""The fuzzer against the real libpostal, at the budget CI gives it
(ADDRNORM_REAL_FUZZ_CASES, 20000 by default); its summary is printed."""
import os

import fuzz_real


def test_the_fuzzer_finds_nothing_on_the_real_library(capsys, report):
    cases = int(os.environ.get("ADDRNORM_REAL_FUZZ_CASES", "20000"))
    status = fuzz_real.main(["--cases", str(cases), "--seed", "1"])
    summary = capsys.readouterr().out
    report(summary)
    assert status == 0, summary
    assert "fuzz (real libpostal): %d cases" % cases in summary, summary


def test_the_fuzzer_finds_nothing_in_the_parser(capsys, report):
    # One child, one set-up of the model (seconds), then the calls.
    cases = int(os.environ.get("ADDRNORM_REAL_PARSER_FUZZ_CASES", "3000"))
    status = fuzz_real.main(["--parser", "--cases", str(cases), "--seed", "1"])
    summary = capsys.readouterr().out
    report(summary)
    assert status == 0, summary
    assert "fuzz (real libpostal, parse_address): %d cases in 1 batches" % cases in summary, summary
