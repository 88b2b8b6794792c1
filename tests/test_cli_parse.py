"""addrnorm parse and hash --parse, on the test double (whose parse of an
address is its comma-separated parts labelled road, city, postcode, country
in turn, and whose keys echo a record's fields, "label|value")."""
import json
import os
import subprocess
import sys

import pytest

from test_cli import command, run, write

pytestmark = pytest.mark.pure_python

ADDRESSES = "781 Franklin Ave, Brooklyn, 11216\n\n  \nStraße 5, Berlin\r\na, b, c, d, e\n"


def test_parse_a_file_keeps_order_and_a_place_for_blank_lines(tmp_path, double):
    path = write(tmp_path, "addresses.txt", ADDRESSES)
    calls = double.counters()["calls"]
    status, output = run(tmp_path, "parse", "-i", path)
    assert status == 0
    assert [json.loads(line) for line in output.splitlines()] == [
        {"line": 1, "input": "781 Franklin Ave, Brooklyn, 11216",
         "parsed": {"road": "781 Franklin Ave", "city": "Brooklyn", "postcode": "11216"}},
        {"line": 2, "input": "", "parsed": {}}, {"line": 3, "input": "", "parsed": {}},
        {"line": 4, "input": "Straße 5, Berlin", "parsed": {"road": "Straße 5", "city": "Berlin"}},
        # A label given twice, its parts joined in order.
        {"line": 5, "input": "a, b, c, d, e", "parsed": {"road": "a e", "city": "b", "postcode": "c", "country": "d"}}]
    assert double.counters()["calls"] - calls == 3, "a blank line is not parsed"
    assert command("parse", "-i", path).stderr == "addrnorm: 3 addresses, 9 labelled parts, 2 blank lines\n"


def test_parse_as_csv_has_a_column_per_label_found_in_libpostals_order(tmp_path):
    status, output = run(tmp_path, "parse", "--format", "csv", "Main St, Springfield", "", "x, y, 1")
    assert status == 0
    assert output == ("line,input,road,postcode,city\n1,\"Main St, Springfield\",Main St,,Springfield\n2,,,,\n"
                      "3,\"x, y, 1\",x,1,y\n")


@pytest.mark.parametrize("argv", [[], ["-"], ["-i", "-"]], ids=["no-address", "dash", "input-dash"])
def test_parse_reads_standard_input(argv):
    process = command("parse", *argv, input="Main St, Rome\n")
    assert process.returncode == 0, process.stderr
    assert json.loads(process.stdout) == {"line": 1, "input": "Main St, Rome",
                                          "parsed": {"road": "Main St", "city": "Rome"}}


PLACES = 'id,name,address\n1,Whole Foods,"781 Franklin Ave, Brooklyn"\n2,Joe,\n'


@pytest.mark.parametrize("argv, expected", [
    (["--format", "jsonl"],
     '{"line": 2, "record": {"id": "1", "name": "Whole Foods", "address": "781 Franklin Ave, Brooklyn"}, "parsed": '
     '{"road": "781 Franklin Ave", "city": "Brooklyn"}}\n{"line": 3, "record": {"id": "2", "name": "Joe", "address": '
     '""}, "parsed": {}}\n'),
    (["--format", "csv"],
     'id,name,address,road,city\n1,Whole Foods,"781 Franklin Ave, Brooklyn",781 Franklin Ave,Brooklyn\n'
     '2,Joe,,,\n'),
])
def test_parse_a_column_writing_the_record_through(tmp_path, argv, expected):
    path = write(tmp_path, "places.csv", PLACES)
    assert run(tmp_path, "parse", "--column", "address", "-i", path, *argv) == (0, expected)


def test_a_parsed_label_that_is_a_column_is_named_apart(tmp_path):
    path = write(tmp_path, "places.csv", "road,city\n\"Main St, Rome\",Roma\n")
    assert run(tmp_path, "parse", "--column", "road", "-i", path, "--format", "csv") == (
        0, "road,city,parsed_road,parsed_city\n\"Main St, Rome\",Roma,Main St,Rome\n")


def test_parse_codes_reach_libpostal(tmp_path, double):
    assert run(tmp_path, "parse", "--language", "fr", "--country", "FR", "Rue X, Paris")[0] == 0
    assert double.last_parse_codes() == ("fr", "fr")


@pytest.mark.parametrize("argv, message", [
    (["parse", "--country", "usa", "x"], "--country: 'usa' is not a country code"),
    (["parse", "--language", "EN", "x"], "--language: 'EN' is not a language code"),
    (["parse", "-i", "x.txt", "Main St"], "addresses and -i FILE: give one or the other"),
    (["parse", "--delimiter", ";", "Main St"], "--input-format and --delimiter go with --column"),
    (["parse", "--column", "nope", "-i", "PLACES"], "--column: PLACES has no column 'nope'"),
    (["hash", "PLACES", "--parse", "addr"], "--parse: PLACES has no column 'addr' (its columns: id, name, address)"),
])
def test_usage_errors_exit_2(tmp_path, argv, message):
    path = write(tmp_path, "places.csv", PLACES)
    argv = [path if item == "PLACES" else item for item in argv]
    process = command(*argv)
    assert process.returncode == 2 and process.stdout == ""
    assert process.stderr.startswith("addrnorm: " + message.replace("PLACES", path)), process.stderr
    assert process.stderr.count("\n") == 1, process.stderr


def test_hash_parse_adds_the_parts_and_a_mapped_column_wins(tmp_path):
    path = write(tmp_path, "places.csv", 'name,address,zip\nWhole Foods,"781 Franklin Ave, Brooklyn, 11216",11299\n'
                                         'Joe,,\n')
    status, output = run(tmp_path, "hash", path, "--parse", "address", "--map", "name=house,zip=postcode")
    assert status == 0
    assert [json.loads(line)["keys"] for line in output.splitlines()] == [
        ["house|Whole Foods", "postcode|11299", "road|781 Franklin Ave", "city|Brooklyn"], ["house|Joe"]]
    # Without a mapping of it, the parsed postcode is the record's.
    status, output = run(tmp_path, "hash", path, "--parse", "address", "--map", "name=house,zip=")
    assert json.loads(output.splitlines()[0])["keys"] == [
        "house|Whole Foods", "road|781 Franklin Ave", "city|Brooklyn", "postcode|11216"]


def test_hash_parse_of_two_columns_and_no_label_column_needed(tmp_path):
    # A header with no label at all is fine when a column is parsed.
    path = write(tmp_path, "places.jsonl", '{"a": "Main St, Rome", "b": "x, Roma, 00100"}\n')
    status, output = run(tmp_path, "hash", path, "--parse", "a", "--parse", "b")
    assert status == 0
    assert json.loads(output)["keys"] == ["road|Main St", "city|Rome", "postcode|00100"]


def test_jobs_fork_after_the_parser_is_set_up(tmp_path):
    # The double's counters at the parent's exit: one set-up of the parser,
    # made before the fork, and one teardown.
    lines = "".join("%d Main St, Town %d\n" % (i, i) for i in range(600))
    path = write(tmp_path, "addresses.txt", lines)
    env = dict(os.environ, ADDRNORM_DOUBLE_EXIT_REPORT="1")
    process = subprocess.run([sys.executable, "-m", "addrnorm", "parse", "-i", path, "--jobs", "2", "-q"], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True, timeout=120)
    assert process.returncode == 0, process.stderr
    assert [json.loads(line)["parsed"]["city"] for line in process.stdout.splitlines()] == [
        "Town %d" % i for i in range(600)]
    parent = [line for line in process.stderr.splitlines() if line.startswith("double at exit")][-1]
    assert "parser_setup 1 parser_teardown 1 live_responses 0" in parent
