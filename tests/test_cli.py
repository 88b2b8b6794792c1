"""The addrnorm command, on the test double (which echoes an address as its
one expansion and a record's fields as its keys, "label|value")."""
import gzip
import json
import subprocess
import sys

import pytest

from addrnorm import LibpostalLoadError, cli
from addrnorm.cli import workers
from addrnorm.errors import BadRecord
from addrnorm.values import Refused
from addrnorm.options import EXPAND_FLAGS, FLAG_DEFAULTS, GEOHASH_PRECISION, HASH_FLAGS
from shared import DEDUPE_RUNS
from terminal import run_on_a_terminal

# The command's own Python, mostly in child interpreters: the memcheck run
# leaves it out (its calls into the modules are those of the module tests).
pytestmark = pytest.mark.pure_python

MANY = 3000

PLACES = (
    "name,street,num,zip,town\n"
    "Whole Foods,Franklin Ave,781,11216,Brooklyn\n"
    "Whole Foods Market,Franklin Ave,783,11216,Brooklyn\n"
    "Joe's,Main St,1,99999,Springfield\n"
)
MAPPING = ["--map", "name=house,street=road,num=house_number", "--map", "zip=postcode,town=city"]


def run(tmp_path, *argv):
    """main() in this process, its output to a file; returns (status, output)."""
    out = tmp_path / "out"
    status = cli.main(list(argv) + ["-o", str(out)])
    return status, out.read_text(encoding="utf-8") if out.exists() else ""


def write(tmp_path, name, text, mode="w"):
    path = tmp_path / name
    if isinstance(text, bytes):
        path.write_bytes(text)
    else:
        path.write_text(text, encoding="utf-8")
    return str(path)


def command(*argv, **kwargs):
    # A command that hangs fails its test within the limit, not CI's.
    kwargs.setdefault("timeout", 120)
    return subprocess.run([sys.executable, "-m", "addrnorm"] + list(argv), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, universal_newlines=True, **kwargs)


@pytest.mark.parametrize("argv, expected", [
    (["expand", "Main St", "Rue X"], "Main St\n\nRue X\n\n"),
    (["expand", "--format", "jsonl", "Main St", "Rue X"],
     '{"line": 1, "input": "Main St", "expansions": ["Main St"]}\n{"line": 2, "input": "Rue X", "expansions": '
     '["Rue X"]}\n'),
    (["expand", "--format", "csv", "Main St", " "], 'line,input,expansions\n1,Main St,"[""Main St""]"\n2,,[]\n'),
])
def test_expand_addresses_from_arguments(tmp_path, argv, expected):
    assert run(tmp_path, *argv) == (0, expected)


def test_expand_a_file_keeps_order_and_a_place_for_blank_lines(tmp_path, double):
    path = write(tmp_path, "addresses.txt", "781 Franklin Ave\n\n  \nStraße 5\r\n東京\n")
    calls = double.counters()["calls"]
    status, output = run(tmp_path, "expand", "-i", path, "--format", "jsonl")
    assert status == 0
    assert [json.loads(line) for line in output.splitlines()] == [
        {"line": 1, "input": "781 Franklin Ave", "expansions": ["781 Franklin Ave"]},
        {"line": 2, "input": "", "expansions": []}, {"line": 3, "input": "", "expansions": []},
        {"line": 4, "input": "Straße 5", "expansions": ["Straße 5"]},
        {"line": 5, "input": "東京", "expansions": ["東京"]}]
    assert double.counters()["calls"] - calls == 3, "a blank line is not expanded"
    # As text, a group per line: the nth group is the nth line's.
    assert run(tmp_path, "expand", "-i", path)[1] == "781 Franklin Ave\n\n\n\nStraße 5\n\n東京\n\n"
    process = command("expand", "-i", path)
    assert process.stderr == "addrnorm: 3 addresses, 3 expansions, 2 blank lines\n"


@pytest.mark.parametrize("argv", [[], ["-"], ["-i", "-"]], ids=["no-address", "dash", "input-dash"])
def test_expand_reads_standard_input(argv):
    process = command("expand", *argv, "--format", "jsonl", input="Main St\nRue X\n")
    assert process.returncode == 0, process.stderr
    assert [json.loads(line)["input"] for line in process.stdout.splitlines()] == ["Main St", "Rue X"]


def test_expand_options_reach_the_library(tmp_path, double):
    run(tmp_path, "expand", "x", "--languages", "en,fr", "--components", "street,HOUSE_NUMBER", "--root",
        "--no-lowercase", "--delete-numeric-hyphens")
    received = double.last_call()
    assert received.function == "libpostal_expand_address_root"
    assert received.languages == ["en", "fr"]
    assert received.options["address_components"] == 8 | 4
    assert (received.options["lowercase"], received.options["delete_numeric_hyphens"]) == (0, 1)
    run(tmp_path, "expand", "x")
    assert double.last_call().options == double.default_options().as_dict()


def test_expand_shows_none_and_empty_results(tmp_path, double):
    double.set_result(None)
    assert run(tmp_path, "expand", "--format", "jsonl", "x") == (
        0, '{"line": 1, "input": "x", "expansions": null}\n')
    double.set_result([])
    assert run(tmp_path, "expand", "x") == (0, "\n")


def test_hash_csv_with_a_mapping(tmp_path, double):
    path = write(tmp_path, "places.csv", PLACES)
    status, output = run(tmp_path, "hash", path, *MAPPING)
    rows = [json.loads(line) for line in output.splitlines()]
    assert status == 0
    assert [row["line"] for row in rows] == [2, 3, 4]
    assert rows[0]["keys"] == ["house|Whole Foods", "road|Franklin Ave", "house_number|781", "postcode|11216",
                               "city|Brooklyn"]
    assert rows[2]["record"]["name"] == "Joe's"


def test_hash_options_and_coordinates_reach_the_library(tmp_path, double):
    path = write(tmp_path, "points.csv", "city,lat,lon\nParis,48.85,2.35\n")
    run(tmp_path, "hash", path, "--lat", "lat", "--lon", "lon", "--languages", "fr", "--address-only-keys",
        "--no-with-name", "--geohash-precision", "7")
    received = double.last_call()
    assert (received.labels, received.values, received.languages) == (["city"], ["Paris"], ["fr"])
    assert {name: received.hash_options[name] for name in (
        "latitude", "longitude", "with_latlon", "address_only_keys", "with_name", "geohash_precision")} == {
        "latitude": 48.85, "longitude": 2.35, "with_latlon": 1, "address_only_keys": 1, "with_name": 0,
        "geohash_precision": 7}


def test_a_record_without_coordinates_keeps_its_keys_without_the_geohash(tmp_path, double):
    path = write(tmp_path, "points.csv", "city,lat,lon\nParis,,\nLyon,x,4.8\n")
    status, output = run(tmp_path, "hash", path, "--lat", "lat", "--lon", "lon", "--skip-bad")
    assert status == 1  # Lyon's latitude is not a number: a bad record
    assert [json.loads(line)["keys"] for line in output.splitlines()] == [["city|Paris"]]
    assert double.last_call().hash_options["with_latlon"] == 0  # Paris, the last record called


def test_hash_json_lines_to_csv(tmp_path, double):
    path = write(tmp_path, "places.jsonl", '{"city": "Berlin", "road": "Unter den Linden"}\n\n{"city": "Köln"}\n')
    status, output = run(tmp_path, "hash", path, "--format", "csv")
    assert status == 0
    assert output.splitlines() == [
        "city,road,keys", 'Berlin,Unter den Linden,"[""city|Berlin"", ""road|Unter den Linden""]"',
        'Köln,,"[""city|Köln""]"']


def test_dupes_says_what_it_needs_where_the_model_cannot_run(tmp_path):
    # Below Python 3.10 Splink does not install; above it, an install
    # without the extra has no Splink either: the same message, before any
    # record is read.
    path = write(tmp_path, "r.jsonl", '{"city": "X"}\n')
    code = "import sys; sys.modules['splink'] = None; from addrnorm.cli import main; sys.exit(main(sys.argv[1:]))"
    process = subprocess.run([sys.executable, "-c", code, "dupes", path], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, universal_newlines=True, timeout=120)
    assert (process.returncode, process.stdout) == (2, "")
    assert process.stderr == ("addrnorm: dupes: de-duplication needs Python 3.10 or newer with addrnorm's "
                              "de-duplication extra, which brings Splink and DuckDB: pip install 'addrnorm[dedupe]'\n")


BAD = [
    ("bytes.txt", b"Main St\n\xff\xfe broken\nRue X\n", ["expand", "-i"], "line 2: bytes that are not UTF-8"),
    ("columns.csv", "city,road\nX,R\nY\nZ,R,extra\n", ["hash"], "line 3: 1 columns where the header has 2"),
    ("bytes.csv", b"city\nX\n\xc3\n", ["hash"], "line 3: bytes that are not UTF-8"),
    ("json.jsonl", '{"city": "X"}\n{"city": \n[1]\n', ["hash"], "line 2: not JSON"),
    ("surrogate.jsonl", '{"city": "X"}\n{"city": "\\ud800"}\n', ["hash"],
     "line 2: text that is not Unicode: a lone surrogate \\ud800"),
    ("surrogate-key.jsonl", '{"city": "X"}\n{"\\udfff": "Y"}\n', ["expand", "--column", "city"],
     "line 2: text that is not Unicode: a lone surrogate \\udfff"),
    # libpostal's geohash has no cell for it.
    ("infinite.csv", "city,lat,lon\nX,1,2\nY,1,-inf\n", ["hash", "--lat", "lat", "--lon", "lon"],
     "line 3: no usable lat/lon coordinates"),
]


@pytest.mark.parametrize("name, text, argv, message", BAD, ids=[row[0] for row in BAD])
def test_a_bad_record_stops_the_run_naming_file_and_line(tmp_path, name, text, argv, message):
    path = write(tmp_path, name, text)
    process = command(*(argv[:1] + ([argv[1], path] if argv[1:2] == ["-i"] else [path] + argv[1:])))
    assert process.returncode == 2
    assert "%s: %s" % (path, message) in process.stderr


@pytest.mark.parametrize("name, text, argv, message", BAD, ids=[row[0] for row in BAD])
def test_skip_bad_reports_at_the_end_and_exits_1(tmp_path, name, text, argv, message):
    path = write(tmp_path, name, text)
    args = argv[:1] + ([argv[1], path] if argv[1:2] == ["-i"] else [path] + argv[1:])
    process = command(*(args + ["--skip-bad", "--format", "jsonl"]))
    assert process.returncode == 1
    assert "skipped" in process.stderr and "%s: %s" % (path, message) in process.stderr
    assert all(json.loads(line) for line in process.stdout.splitlines())


@pytest.mark.parametrize("name", ["expand", "parse", "language"])
def test_an_argument_the_file_system_could_not_decode_is_a_bad_record(name):
    # The interpreter keeps its bytes as lone surrogates, which libpostal
    # cannot take: the record is bad, not the code at fault.
    process = command(name, "Main St", b"Rue \xff", "--skip-bad")
    assert process.returncode == 1, process.stderr
    assert "<arguments>: line 2: bytes that are not utf-8" in process.stderr
    assert "internal error" not in process.stderr


def _raising(error):
    def function(item, options):
        raise error
    return function


@pytest.mark.parametrize("error, said", [
    (BadRecord("no field 'city'"), "no field 'city'"),
    (Refused("field 'city': a list is no text"), "refused: field 'city': a list is no text"),
], ids=["bad-record", "refused"])
def test_a_records_own_fault_is_its_result(error, said):
    assert list(workers.processed([(1, "x"), (2, "y")], _raising(error), None, 1)) == [
        (1, "x", None, said), (2, "y", None, said)]


@pytest.mark.parametrize("error", [TypeError("a fault"), ValueError("a fault"), KeyError("a fault"),
                                   LibpostalLoadError("Error loading libpostal")],
                         ids=["TypeError", "ValueError", "KeyError", "load-error"])
def test_any_other_error_is_no_records_fault(error):
    with pytest.raises(type(error)):
        list(workers.processed([(1, "x")], _raising(error), None, 1))


# A fault of the code in the call a worker makes per record: not the
# record's, so never a skipped record or status 2.
FAULTS = [
    ("expand", ["expand", "Main St", "Rue X"], "addrnorm.cli.expand", "expand_one"),
    ("hash", ["hash", "-"], "addrnorm.cli.hash", "hash_one"),
]


@pytest.mark.parametrize("jobs", ["1", "2"])
@pytest.mark.parametrize("name, argv, module, function", FAULTS, ids=[row[0] for row in FAULTS])
def test_a_fault_in_the_code_ends_the_run_with_status_1_and_its_traceback(name, argv, module, function, jobs):
    code = ("import sys, importlib; module = importlib.import_module(%r)\n"
            "def faulty(record, options):\n    return len(None)\n"
            "setattr(module, %r, faulty); from addrnorm.cli import main; sys.exit(main(sys.argv[1:]))"
            % (module, function))
    process = subprocess.run([sys.executable, "-c", code] + argv + ["--skip-bad", "--jobs", jobs],
                             input="city\nX\n", stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             universal_newlines=True, timeout=120)
    lines = process.stderr.splitlines()
    assert process.returncode == 1, process.stderr
    assert "Traceback (most recent call last)" in process.stderr and ", in faulty" in process.stderr
    if jobs == "2":
        assert "in a worker process:" in process.stderr
    assert lines[-1] == ("addrnorm: internal error, a fault in addrnorm and not in the input (TypeError: object of "
                         "type 'NoneType' has no len()); the traceback above shows where")
    assert "skipped" not in process.stderr and process.stdout == ""


@pytest.mark.parametrize("argv, message", [
    (["expand", "--bogus", "x"], "unrecognized arguments"),
    (["expand", "x", "--components", "streets"], "no component 'streets'"),
    (["expand", "x", "--languages", "english"], "--languages: 'english' is not a language code"),
    (["hash", "-", "--languages", "en,EN"], "--languages: 'EN' is not a language code"),
    (["expand", "x", "--jobs", "0"], "--jobs"),
    (["hash", "/no/such/file.csv"], "No such file"),
    (["hash", "-", "--lat", "y"], "--lat and --lon go together"),
    (["hash", "-", "--map", "nolabel"], "--map takes COLUMN=LABEL"),
    ([], "required"),
])
def test_usage_and_input_errors_exit_2(argv, message):
    process = command(*argv, input="city\nX\n")
    assert process.returncode == 2
    assert message in process.stderr


NUMBERS = [
    (["expand", "x", "--jobs", "0"], "argument -j/--jobs: a whole number of at least 1, not '0'"),
    (["tokens", "x", "-j", "two"], "argument -j/--jobs: a whole number of at least 1, not 'two'"),
    (["hash", "-", "--geohash-precision", "0"], "argument --geohash-precision: a whole number from 1 to 12, not '0'"),
    (["hash", "-", "--geohash-precision", "13"], "a whole number from 1 to 12, not '13'"),
    (["dupes", "-", "--geohash-precision", "-1"], "a whole number from 1 to 12, not '-1'"),
    (["dupes", "-", "--max-block", "0"], "argument --max-block: a whole number of records, at least 2, not '0'"),
    (["dupes", "-", "--threshold", "2"], "argument --threshold: a match probability between 0 and 1, not '2'"),
    (["dupes", "-", "--threshold", "nan"], "a match probability between 0 and 1, not 'nan'"),
    (["language", "x", "--top", "0"], "--top takes a whole number of at least 1"),
]


@pytest.mark.parametrize("argv, message", NUMBERS, ids=["%s%s=%s" % tuple(row[0][::2] + row[0][3:]) for row in NUMBERS])
def test_a_number_out_of_range_is_a_usage_error(argv, message, capsys):
    try:
        status = cli.main(argv)
    except SystemExit as stopped:
        status = stopped.code
    err = capsys.readouterr().err
    assert status == 2 and message in err and "Traceback" not in err, err


@pytest.mark.parametrize("redirect, status, message", [
    ("<&-", 2, "addrnorm: <stdin>: standard input is closed\n"),
    (">&-", 3, "addrnorm: <stdout>: standard output is closed\n"),
], ids=["stdin", "stdout"])
@pytest.mark.parametrize("argv", [["expand"], ["hash", "-"], ["tokens", "-j", "2"]], ids=lambda argv: argv[0])
def test_a_closed_standard_stream_is_one_line(redirect, status, message, argv):
    addresses = [] if redirect == "<&-" else ["1 Main St"]
    process = subprocess.run(["sh", "-c", 'exec "$@" %s' % redirect, "sh", sys.executable, "-m", "addrnorm"] + argv +
                             (addresses if argv[0] != "hash" else []), stdin=subprocess.DEVNULL if redirect != "<&-"
                             else None, stderr=subprocess.PIPE, universal_newlines=True, timeout=120)
    assert (process.returncode, process.stderr) == (status, message)


@pytest.mark.parametrize("jobs", ["2", "3"])
def test_jobs_keep_the_input_order(tmp_path, jobs):
    path = write(tmp_path, "many.txt", "".join("%d Main St\n" % n for n in range(MANY)))
    single = command("expand", "-i", path, "--format", "jsonl")
    parallel = command("expand", "-i", path, "--format", "jsonl", "--jobs", jobs)
    assert parallel.returncode == single.returncode == 0, parallel.stderr
    assert parallel.stdout == single.stdout
    assert [json.loads(line)["input"] for line in parallel.stdout.splitlines()] == [
        "%d Main St" % n for n in range(MANY)]
    records = write(tmp_path, "many.csv", "city,road\n" + "".join("C%d,R%d\n" % (n % 97, n) for n in range(MANY)))
    assert command("hash", records, "-j", jobs, "-q").stdout == command("hash", records, "-q").stdout


def test_progress_only_on_a_terminal_and_a_summary_at_the_end(tmp_path):
    path = write(tmp_path, "a.txt", "Main St\n" * 50)
    plain = command("expand", "-i", path)
    assert plain.returncode == 0 and plain.stderr == "addrnorm: 50 addresses, 50 expansions\n"
    assert command("expand", "-i", path, "-q").stderr == ""
    with open(str(tmp_path / "out"), "w") as out:
        process, shown = run_on_a_terminal(["expand", "-i", path], stdout=out)
    assert process.returncode == 0
    assert b"addrnorm expanding: 100%" in shown and b"50 records, " in shown and b" records/s" in shown
    assert b"50.0" not in shown


def test_an_open_quote_loses_no_line(tmp_path):
    lines = ["city,road"] + ["C%d,R%d" % (n, n) for n in range(2, 400)]
    lines[199] = 'C200,"R200'
    path = write(tmp_path, "open.csv", "\n".join(lines) + "\n")
    listing = tmp_path / "bad.tsv"
    process = command("hash", path, "--bad-records", str(listing), "-q")
    assert process.returncode == 1
    assert [json.loads(line)["line"] for line in process.stdout.splitlines()] == [
        n for n in range(2, 400) if n != 200]
    assert listing.read_text(encoding="utf-8") == "%s\t200\ta quoted field is not closed within 100 lines\n" % path
    assert command("hash", path).returncode == 2


HEADERS = [
    ("a column --map names is not in the header", PLACES, ["--map", "nme=house"],
     "--map: %s has no column 'nme' (its columns: name, street, num, zip, town)"),
    ("a label libpostal does not know", PLACES, ["--map", "name=hous"],
     "--map: 'hous' is not a label of libpostal's; they are: house, house_number, road, unit"),
    ("--lat names no column", "city,y,x\nX,1,2\n", ["--lat", "lat", "--lon", "x"], "--lat: %s has no column 'lat'"),
    ("no column reaches a label", PLACES, [], "%s: no column is one of libpostal's labels, so no record would give a "
                                             "key (columns: name, street, num, zip, town); name them with --map"),
    ("a file separated by semicolons", "name;city\nX;Y\n", [],
     "the header is one column: if the file is separated by ';', give --delimiter ';'"),
]


@pytest.mark.parametrize("text, argv, message", [row[1:] for row in HEADERS], ids=[row[0] for row in HEADERS])
def test_options_that_reach_no_column_are_usage_errors(tmp_path, text, argv, message):
    path = write(tmp_path, "places.csv", text)
    for name in ("hash", "dupes") if DEDUPE_RUNS else ("hash",):
        process = command(name, path, *argv)
        assert process.returncode == 2 and process.stdout == ""
        assert message.replace("%s", path) in process.stderr


@pytest.mark.parametrize("name, data, argv", [
    ("bom.csv", "\ufeffname,city\nX,Y\n".encode("utf-8"), ["--map", "name=house"]),
    ("semicolons.csv", b"name;city\nX;Y\n", ["--map", "name=house", "--delimiter", ";"]),
    ("tabs.tsv", b"name\tcity\nX\tY\n", ["--map", "name=house"]),
    ("tabs.txt", b"name\tcity\nX\tY\n", ["--map", "name=house", "--delimiter", "\\t"]),
    ("latin.csv", "name,city\nX,Y\n".encode("latin-1"), ["--map", "name=house", "--encoding", "latin-1"]),
    ("utf16.csv", "name,city\nX,Y\n".encode("utf-16"), ["--map", "name=house", "--encoding", "utf-16"]),
    ("places.csv.gz", gzip.compress(b"name,city\nX,Y\n"), ["--map", "name=house"]),
    ("places.jsonl.gz", gzip.compress(b'{"name": "X", "city": "Y"}\n'), ["--map", "name=house"]),
])
def test_input_conventions(tmp_path, name, data, argv):
    path = write(tmp_path, name, data)
    status, output = run(tmp_path, "hash", path, *argv)
    assert (status, json.loads(output)["keys"]) == (0, ["house|X", "city|Y"])


def test_compressed_standard_input():
    process = command("expand", "--format", "jsonl", "-i", "-", input=gzip.compress(b"Main St\n").decode("latin-1"),
                      encoding="latin-1")
    assert process.returncode == 0, process.stderr
    assert json.loads(process.stdout)["input"] == "Main St"


def test_a_run_that_gives_no_key_says_so_even_when_quiet(tmp_path, double, capsys):
    double.set_result(None)
    path = write(tmp_path, "places.csv", "house,city\nA,X\n")
    assert run(tmp_path, "hash", path, "-q")[0] == 0
    assert capsys.readouterr().err.startswith("addrnorm: warning: no record gave a key: libpostal reads only fields "
                                              "labelled house, house_number")
    # JSON Lines have no header: a mapping that reached no field is said at the end.
    path = write(tmp_path, "places.jsonl", '{"name": "X", "city": "Y"}\n')
    process = command("hash", path, "--map", "nme=house")
    assert "addrnorm: warning: --map: no record has a field 'nme'\n" in process.stderr
    assert "warning: no record gave a key" not in process.stderr


EXPAND_COLUMN = [
    ([], 'id,addr,zip,expansions\n1,Main St,1,"[""Main St""]"\n2,,2,[]\n3,"Rue X, 5",3,"[""Rue X, 5""]"\n'),
    (["--format", "jsonl"], '{"line": 2, "record": {"id": "1", "addr": "Main St", "zip": "1"}, "expansions": '
                            '["Main St"]}\n'),
    (["--format", "text"], "Main St\n\n\nRue X, 5\n\n"),
]


@pytest.mark.parametrize("argv, expected", EXPAND_COLUMN, ids=["csv", "jsonl", "text"])
def test_expand_a_column_writing_the_others_through(tmp_path, argv, expected):
    path = write(tmp_path, "a.csv", 'id,addr,zip\n1,Main St,1\n2,,2\n\n3,"Rue X, 5",3\n')
    status, output = run(tmp_path, "expand", "-i", path, "--column", "addr", *argv)
    assert status == 0
    assert output.startswith(expected)
    process = command("expand", "-i", path, "--column", "addr", "-j", "2", *argv)
    assert process.stdout.startswith(expected)
    assert process.stderr == "addrnorm: 3 records, 2 expansions, 1 blank address, 1 blank line\n"


@pytest.mark.parametrize("argv, message", [
    (["--column", "adr"], "--column: %s has no column 'adr' (its columns: id, addr)"),
    (["--column", "addr", "x"], "addresses and -i FILE: give one or the other"),
    (["--input-format", "csv"], "--input-format and --delimiter go with --column"),
    (["--delimiter", ";"], "--input-format and --delimiter go with --column"),
    (["--column", "addr", "--input-format", "jsonl", "--delimiter", ";"], "--delimiter is for CSV input"),
    (["--delimiter", ";;"], "argument --delimiter: one character"),
    (["--encoding", "utf-9"], "argument --encoding: no encoding 'utf-9'"),
])
def test_expand_usage_errors(tmp_path, argv, message):
    path = write(tmp_path, "a.csv", "id,addr\n1,Main St\n")
    process = command("expand", "-i", path, *argv)
    assert process.returncode == 2 and message.replace("%s", path) in process.stderr


@pytest.mark.parametrize("name", ["expand", "hash", "dupes"])
def test_help_shows_every_default_and_the_no_forms(name):
    parser = cli.build_parser()
    commands = next(action for action in parser._actions if action.dest == "command")
    sub = commands.choices[name]
    for action in sub._actions:
        if action.option_strings and action.dest != "help":
            assert "default" in action.help, action.option_strings
    text = sub.format_help()
    assert "--with-unit, --no-with-unit" in text or "--lowercase, --no-lowercase" in text
    flags = HASH_FLAGS if name != "expand" else EXPAND_FLAGS
    for flag in flags:
        assert "--no-" + flag.replace("_", "-") in text


def test_the_defaults_in_the_help_are_the_librarys(double):
    shown = dict(double.default_options().as_dict(), **double.hash_default_options().as_dict())
    assert {name: shown[name] for name in FLAG_DEFAULTS} == FLAG_DEFAULTS
    assert shown["geohash_precision"] == GEOHASH_PRECISION
