"""The addrnorm command, on the test double (which echoes an address as its
one expansion and a record's fields as its keys, "label|value")."""
import json
import subprocess
import sys

import pytest

from addrnorm import cli
from heap import UNDER_VALGRIND
from terminal import run_on_a_terminal

# Under valgrind every interpreter is many times slower: fewer lines.
MANY = 300 if UNDER_VALGRIND else 3000

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
    return subprocess.run([sys.executable, "-m", "addrnorm"] + list(argv), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, universal_newlines=True, **kwargs)


@pytest.mark.parametrize("argv, expected", [
    (["expand", "Main St", "Rue X"], "Main St\n\nRue X\n\n"),
    (["expand", "--format", "jsonl", "Main St"], '{"input": "Main St", "expansions": ["Main St"]}\n'),
])
def test_expand_addresses_from_arguments(tmp_path, argv, expected):
    assert run(tmp_path, *argv) == (0, expected)


def test_expand_a_file_skips_blank_lines_and_keeps_order(tmp_path, double):
    path = write(tmp_path, "addresses.txt", "781 Franklin Ave\n\n  \nStraße 5\r\n東京\n")
    status, output = run(tmp_path, "expand", "-i", path, "--format", "jsonl")
    assert status == 0
    assert [json.loads(line)["input"] for line in output.splitlines()] == ["781 Franklin Ave", "Straße 5", "東京"]


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
    assert run(tmp_path, "expand", "--format", "jsonl", "x") == (0, '{"input": "x", "expansions": null}\n')
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


def test_hash_json_lines_to_csv(tmp_path, double):
    path = write(tmp_path, "places.jsonl", '{"city": "Berlin", "road": "Unter den Linden"}\n\n{"city": "Köln"}\n')
    status, output = run(tmp_path, "hash", path, "--format", "csv")
    assert status == 0
    assert output.splitlines() == [
        "city,road,keys", 'Berlin,Unter den Linden,"[""city|Berlin"", ""road|Unter den Linden""]"',
        'Köln,,"[""city|Köln""]"']


def test_dupes_groups_records_that_share_any_key(tmp_path, double):
    # A and B share a road, B and C a city: one cluster through B; D alone;
    # E shares A's house.
    records = [{"road": "R1", "city": "X"}, {"road": "R1", "city": "Y"}, {"city": "Y"}, {"city": "Z"},
               {"house": "H", "city": "W"}, {"house": "H", "road": "R1"}]
    path = write(tmp_path, "r.jsonl", "".join(json.dumps(record) + "\n" for record in records))
    status, output = run(tmp_path, "dupes", path)
    assert status == 0
    assert [json.loads(line)["cluster"] for line in output.splitlines()] == [1, 1, 1, 2, 1, 1]
    process = command("dupes", path)
    assert process.stderr == "addrnorm: 6 records, 6 keys, 2 clusters, largest cluster 5\n"
    # CSV takes its columns from the first record: a record with others is
    # refused rather than written without them.
    process = command("dupes", path, "--format", "csv", "--skip-bad")
    assert process.returncode == 1 and "line 5: field 'house' is not a column" in process.stderr
    assert process.stdout.splitlines()[0] == "road,city,cluster"


def test_dupes_without_keys_gives_each_record_its_own_cluster(tmp_path, double):
    double.set_result(None)
    path = write(tmp_path, "r.jsonl", '{"city": "X"}\n{"city": "X"}\n')
    assert [json.loads(line)["cluster"] for line in run(tmp_path, "dupes", path)[1].splitlines()] == [1, 2]


BAD = [
    ("bytes.txt", b"Main St\n\xff\xfe broken\nRue X\n", ["expand", "-i"], "line 2: bytes that are not UTF-8"),
    ("columns.csv", "city,road\nX,R\nY\nZ,R,extra\n", ["hash"], "line 3: 1 columns where the header has 2"),
    ("bytes.csv", b"city\nX\n\xc3\n", ["hash"], "line 3: bytes that are not UTF-8"),
    ("json.jsonl", '{"city": "X"}\n{"city": \n[1]\n', ["dupes"], "line 2: not JSON"),
    ("surrogate.jsonl", '{"city": "X"}\n{"city": "\\ud800"}\n', ["hash"],
     "line 2: refused: all elements must be strings"),
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
    assert command("dupes", records, "-j", jobs, "-q").stdout == command("dupes", records, "-q").stdout


def test_progress_only_on_a_terminal(tmp_path):
    path = write(tmp_path, "a.txt", "Main St\n" * 50)
    quiet = command("expand", "-i", path)
    assert quiet.returncode == 0 and quiet.stderr == ""
    with open(str(tmp_path / "out"), "w") as out:
        process, shown = run_on_a_terminal(["expand", "-i", path], stdout=out)
    assert process.returncode == 0
    assert b"addrnorm" in shown and b"records=50" in shown and b"100%" in shown
