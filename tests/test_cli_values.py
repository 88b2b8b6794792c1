"""The addrnorm command's day-two conventions, on the test double (whose keys
are "label|value" per field and whose expansion of an address is itself):
the value policy on JSON records, one input convention, the output format
-o names, and what the command says."""
import json

import pytest

from addrnorm import cli

pytestmark = pytest.mark.pure_python


def write(tmp_path, name, text):
    path = tmp_path / name
    path.write_text(text, encoding="utf-8")
    return str(path)


@pytest.fixture
def run(tmp_path, capsys):
    """main() in this process, its output to a file: (status, output, standard error)."""
    def run(*argv):
        out = tmp_path / "run.out"
        if out.exists():
            out.unlink()
        try:
            status = cli.main(list(argv) + ["-o", str(out)])
        except SystemExit as leaving:  # argparse's usage errors
            status = leaving.code
        return status, out.read_text(encoding="utf-8") if out.exists() else "", capsys.readouterr().err
    return run


PLACES = "\n".join(json.dumps(record) for record in [
    {"house": "Whole Foods", "postcode": 11216.0, "id": 1},
    {"house": "Whole Foods", "postcode": 11216, "id": 2, "note": {"seen": [1, True]}},
    {"house": "Joe's", "postcode": None, "city": "Springfield"},
    {"house": "Joe's", "postcode": True},
    {"house": "X", "road": {"a": 1}},
    {"house": "Y", "road": ["Main St"]},
]) + "\n"


def test_hash_takes_json_numbers_as_text_and_refuses_lists_dicts_and_booleans(tmp_path, run):
    path = write(tmp_path, "places.jsonl", PLACES)
    status, out, err = run("hash", path, "--skip-bad")
    assert status == 1
    lines = [json.loads(line) for line in out.splitlines()]
    assert [line["keys"] for line in lines] == [["house|Whole Foods", "postcode|11216", "id|1"],
                                               ["house|Whole Foods", "postcode|11216", "id|2"],
                                               ["house|Joe's", "city|Springfield"]]
    # Written through as they came; a field libpostal does not read is no concern.
    assert lines[1]["record"] == {"house": "Whole Foods", "postcode": 11216, "id": 2, "note": {"seen": [1, True]}}
    assert err.splitlines()[-3:] == [
        "  %s: line 4: field 'postcode': a bool (True) is not a field's value; give text, a number or None" % path,
        "  %s: line 5: field 'road': a dict ({'a': 1}) is not a field's value; give text, a number or None" % path,
        "  %s: line 6: field 'road': a list (['Main St']) is not a field's value; give text, a number or None"
        % path]
    # Without --skip-bad, the first stops the run, named.
    status, _, err = run("hash", path)
    assert status == 2 and err == ("addrnorm: %s: line 4: field 'postcode': a bool (True) is not a field's value; "
                                   "give text, a number or None\n" % path)


def test_expand_column_from_json_lines_to_csv_writes_every_field_as_json(tmp_path, run):
    path = write(tmp_path, "places.jsonl", "\n".join(json.dumps(record) for record in [
        {"id": 1, "street": "Main St"},
        {"id": 2, "street": 781.0, "tags": ["a", "b"], "open": False},
        {"id": 3, "street": None, "geo": {"lat": 1.5}},
    ]) + "\n")
    status, out, err = run("expand", "--column", "street", path, "--format", "csv")
    assert status == 0, err
    assert out == ('id,street,tags,open,geo,expansions\n'
                   '1,Main St,,,,"[""Main St""]"\n'
                   '2,781.0,"[""a"", ""b""]",false,,"[""781""]"\n'
                   '3,,,,"{""lat"": 1.5}",[]\n')
    # A value refused in the column expanded is a bad record.
    path = write(tmp_path, "bad.jsonl", '{"street": true}\n{"street": "Elm St"}\n')
    status, out, err = run("expand", "--column", "street", path, "--skip-bad", "--format", "jsonl")
    assert status == 1 and [json.loads(line)["line"] for line in out.splitlines()] == [2]
    assert "line 1: field 'street': a bool (True) is not a field's value" in err


def test_expand_reads_a_file_given_alone_as_hash_and_dupes_do(tmp_path, run):
    path = write(tmp_path, "addresses.txt", "781 Franklin Ave\n\nMain St\n")
    status, out, err = run("expand", path, "--format", "jsonl")
    assert status == 0, err
    assert [json.loads(line)["input"] for line in out.splitlines()] == ["781 Franklin Ave", "", "Main St"]
    assert err == "addrnorm: 2 addresses, 2 expansions, 1 blank line\n"
    assert run("expand", "-i", path)[1] == "781 Franklin Ave\n\n\nMain St\n\n"
    # Text is still an address, and several arguments are addresses.
    assert run("expand", "781 Franklin Ave")[1] == "781 Franklin Ave\n\n"
    assert run("expand", path, "Main St")[1] == "%s\n\nMain St\n\n" % path
    # A file's name that is no file is an error, not an address.
    status, out, err = run("expand", str(tmp_path / "messy.csv"))
    assert (status, out) == (2, "")
    assert err == "addrnorm: %s: no such file (a lone argument ending in .csv is read as a file; give an address " \
                  "as text)\n" % (tmp_path / "messy.csv")
    # --column reads the file given so too, and so do parse, language and tokens.
    places = write(tmp_path, "places.csv", "id,street\n1,Main St\n")
    assert run("expand", "--column", "street", places)[1] == 'id,street,expansions\n1,Main St,"[""Main St""]"\n'
    assert run("tokens", path, "--format", "jsonl")[1].count('"line"') == 3


def test_a_command_shows_its_own_usage_for_an_argument_it_does_not_take(tmp_path, run):
    status, out, err = run("hash", "-i", "x.csv")
    assert (status, out) == (2, "")
    assert err.startswith("usage: addrnorm hash ")
    assert err.splitlines()[-1] == ("addrnorm hash: error: unrecognized arguments: -i (hash reads the FILE given as "
                                    "its argument: addrnorm hash FILE)")
    status, _, err = run("expand", "--no-such-option")
    assert status == 2 and err.startswith("usage: addrnorm expand ")


CSV_PLACES = "name,zip\nWhole Foods,11216\nJoe's,99999\n"


@pytest.mark.parametrize("name, argv, expected", [
    ("keys.csv", [], 'name,zip,keys\nWhole Foods,11216,"[""house|Whole Foods"", ""postcode|11216""]"\n'),
    ("keys.tsv", [], 'name\tzip\tkeys\nWhole Foods\t11216\t"[""house|Whole Foods"", ""postcode|11216""]"\n'),
    ("keys.CSV", ["--output-delimiter", ";", "--bom"],
     '\ufeffname;zip;keys\nWhole Foods;11216;"[""house|Whole Foods"", ""postcode|11216""]"\n'),
    ("keys.csv", ["--format", "jsonl"], '{"line": 2, "record": {"name": "Whole Foods", "zip": "11216"}, "keys": '
                                        '["house|Whole Foods", "postcode|11216"]}\n'),
    ("keys.out", [], '{"line": 2, "record": {"name": "Whole Foods", "zip": "11216"}, "keys": '
                     '["house|Whole Foods", "postcode|11216"]}\n'),
    ("keys", ["--format", "csv", "--output-delimiter", "tab"],
     'name\tzip\tkeys\nWhole Foods\t11216\t"[""house|Whole Foods"", ""postcode|11216""]"\n'),
])
def test_the_output_has_the_format_its_name_says_unless_format_does(tmp_path, name, argv, expected):
    path = write(tmp_path, "places.csv", CSV_PLACES)
    out = tmp_path / name
    status = cli.main(["hash", path, "--map", "name=house,zip=postcode", "-q", "-o", str(out)] + argv)
    assert status == 0
    assert out.read_text(encoding="utf-8").startswith(expected)


@pytest.mark.parametrize("argv, expected", [
    (["expand", "Main St", "-o", "{out}.csv"], 'line,input,expansions\n1,Main St,"[""Main St""]"\n'),
    (["expand", "Main St", "-o", "{out}.jsonl"], '{"line": 1, "input": "Main St", "expansions": ["Main St"]}\n'),
    (["expand", "Main St", "-o", "{out}.txt", "--format", "csv", "--bom"],
     '\ufeffline,input,expansions\n1,Main St,"[""Main St""]"\n'),
    (["tokens", "Main", "-o", "{out}.csv"], 'line,input,tokens\n1,Main,"[[""Main"", ""WORD"", 0, 4]]"\n'),
])
def test_every_command_writes_the_format_of_its_output(tmp_path, argv, expected):
    out = str(tmp_path / "out")
    argv = [item.replace("{out}", out) for item in argv]
    assert cli.main(argv + ["-q"]) == 0
    assert open(argv[argv.index("-o") + 1], encoding="utf-8").read() == expected


@pytest.mark.parametrize("argv", [["--bom"], ["--output-delimiter", ";"], ["--format", "jsonl", "--bom"]])
def test_csv_options_without_csv_output_are_a_usage_error(tmp_path, argv, capsys):
    path = write(tmp_path, "places.csv", CSV_PLACES)
    out = tmp_path / "keys.jsonl"
    assert cli.main(["hash", path, "--map", "name=house", "-o", str(out)] + argv) == 2
    assert capsys.readouterr().err == "addrnorm: --output-delimiter and --bom are for CSV output, not jsonl\n"
    assert not out.exists()


def test_the_summary_counts_records_written_and_skipped_apart(tmp_path, capsys):
    path = write(tmp_path, "places.csv", "house,city\nA,X\nB\nC,Z\n")
    assert cli.main(["hash", path, "--skip-bad", "-o", str(tmp_path / "out.jsonl")]) == 1
    assert capsys.readouterr().err.splitlines() == [
        "addrnorm: 2 records, 4 keys, 0 records without keys, 1 bad record skipped",
        "addrnorm: skipped 1 bad record:",
        "  %s: line 3: 1 columns where the header has 2" % path]
    # A record refused by the call is not counted written either.
    path = write(tmp_path, "places.jsonl", '{"house": "A"}\n{"house": [1]}\n')
    assert cli.main(["expand", "--column", "house", path, "--skip-bad", "-o", str(tmp_path / "out.csv")]) == 1
    assert capsys.readouterr().err.splitlines()[:2] == [
        "addrnorm: 1 record, 1 expansion, 0 blank addresses, 1 bad record skipped", "addrnorm: skipped 1 bad record:"]


@pytest.mark.parametrize("argv, said", [
    (["--map", "name=house"], "--map: {path} has no column 'name' (its columns: name;zip); the header is one "
                              "column: if the file is separated by ';', give --delimiter ';'"),
    (["--lat", "lat", "--lon", "zip"], "--lat: {path} has no column 'lat' (its columns: name;zip); the header is "
                                       "one column: if the file is separated by ';', give --delimiter ';'"),
])
def test_a_header_of_one_column_holding_a_separator_suggests_the_delimiter(tmp_path, capsys, argv, said):
    path = write(tmp_path, "places.csv", "name;zip\nA;1\n")
    assert cli.main(["hash", path, "-o", str(tmp_path / "out")] + argv) == 2
    assert capsys.readouterr().err == "addrnorm: %s\n" % said.format(path=path)
    assert cli.main(["expand", "--column", "street", path, "-o", str(tmp_path / "out")]) == 2
    assert "the header is one column: if the file is separated by ';', give --delimiter ';'" in \
        capsys.readouterr().err


@pytest.mark.parametrize("text, argv, labels", [
    ("zip\n11216\n", ["--map", "zip=postcode"], "postcode alone gives"),
    ("zip,town\n11216,X\n", ["--map", "zip=postcode,town=city"], "postcode and city alone give"),
])
def test_a_postcode_alone_says_a_name_or_an_address_is_needed(tmp_path, capsys, text, argv, labels):
    path = write(tmp_path, "places.csv", text)
    assert cli.main(["hash", path, "-o", str(tmp_path / "out")] + argv) == 0
    assert capsys.readouterr().err.splitlines()[-1] == (
        "addrnorm: warning: %s no key: libpostal makes its keys of a name (house) or an address (road, "
        "house_number, po_box), which the place qualifies; give a name or an address too (with --map "
        "COLUMN=LABEL)" % labels)


def test_a_language_libpostal_has_no_dictionary_for_is_a_usage_error(tmp_path, capsys):
    out = tmp_path / "out"
    for argv in (["expand", "x"], ["hash", write(tmp_path, "p.csv", "city\nX\n")], ["tokens", "x", "--normalize"]):
        assert cli.main(argv + ["--languages", "en,gb,ge", "-o", str(out)]) == 2
        err = capsys.readouterr().err
        assert err.startswith("addrnorm: --languages: libpostal has no dictionary for 'gb', 'ge', so nothing is "
                              "expanded as their languages; it knows af, ar, ast, az, ")
        assert err.count("\n") == 1 and not out.exists()
