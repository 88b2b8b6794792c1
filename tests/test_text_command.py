"""addrnorm language and addrnorm tokens, on the test double (which splits a
text at spaces into WORD and NUMERIC tokens, and guesses en 1/2, fr 1/3)."""
import json

import pytest

from addrnorm import cli

pytestmark = pytest.mark.pure_python


def run(tmp_path, *argv, stdin=None):
    out = tmp_path / "out"
    status = cli.main(list(argv) + ["-o", str(out), "--quiet"])
    return status, out.read_text(encoding="utf-8") if out.exists() else ""


@pytest.mark.parametrize("argv, expected", [
    (["tokens", "Straße 5 Köln", "", "a"], "Straße\tWORD\n5\tNUMERIC\nKöln\tWORD\n\n\na\tWORD\n\n"),
    (["tokens", "--format", "jsonl", "Köln 5"],
     '{"line": 1, "input": "Köln 5", "tokens": [["Köln", "WORD", 0, 4], ["5", "NUMERIC", 5, 6]]}\n'),
    (["tokens", "--whitespace", "a  b"], "a\tWORD\n  \tWHITESPACE\nb\tWORD\n\n"),
    (["tokens", "--normalize", "--languages", "de", "--format", "csv", "a b"],
     'line,input,tokens\n1,a b,"[[""a"", ""WORD""], [""b"", ""WORD""]]"\n'),
    (["language", "x", "  ", "y"], "en 0.5000, fr 0.3333\n\nen 0.5000, fr 0.3333\n"),
    (["language", "--top", "1", "--format", "jsonl", "x"], '{"line": 1, "input": "x", "languages": [["en", 0.5]]}\n'),
])
def test_output_joins_back_to_the_input_by_line(tmp_path, argv, expected):
    assert run(tmp_path, *argv) == (0, expected)


def test_addresses_from_a_file_in_any_encoding(tmp_path):
    path = tmp_path / "in.txt"
    path.write_bytes("Köln 5\n\nx\n".encode("latin-1"))
    status, output = run(tmp_path, "tokens", "--format", "jsonl", "-i", str(path), "--encoding", "latin-1")
    assert status == 0
    assert [json.loads(line)["tokens"] for line in output.splitlines()] == [
        [["Köln", "WORD", 0, 4], ["5", "NUMERIC", 5, 6]], [], [["x", "WORD", 0, 1]]]


@pytest.mark.parametrize("argv, message", [
    (["tokens", "--languages", "en", "x"], "--languages goes with --normalize"),
    (["tokens", "--normalize", "--languages", "EN", "x"], "is not a language code"),
    (["language", "--top", "0", "x"], "--top takes a whole number of at least 1"),
    (["language", "--languages", "en", "x"], "do not go with language"),
    (["tokens", "-i", "f", "x"], "addresses and -i FILE"),
])
def test_usage_errors(tmp_path, capsys, argv, message):
    assert run(tmp_path, *argv)[0] == 2
    assert message in capsys.readouterr().err
