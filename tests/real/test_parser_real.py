"""libpostal's address parser through addrnorm, on the real library and its
model (laid out by data.sh --parser).  The model takes seconds and about
2 GB to set up, so this process sets it up once for the tests that parse in
it; one child shows the lifecycle and the sharing by forked workers, and two
runs of the command show it end to end."""
import json
import os
import subprocess
import sys

import pytest

import support
from parser_cases import CASES
from test_robustness import INPUTS

MIB = 1024
PARSER_FILES = ("address_parser/address_parser_crf.dat", "address_parser/address_parser_postal_codes.dat",
                "address_parser/address_parser_phrases.dat", "address_parser/address_parser_vocab.trie")


@pytest.fixture(scope="module", autouse=True)
def parser_data():
    """Every test here fails, naming what is missing, without the model."""
    directory = os.environ["LIBPOSTAL_DATA_DIR"]
    gone = [name for name in PARSER_FILES if not os.path.isfile(os.path.join(directory, name))]
    if gone:
        pytest.fail("LIBPOSTAL_DATA_DIR=%s lacks the parser's model (%s): lay it out with "
                    "data.sh --parser DIR" % (directory, ", ".join(gone)), pytrace=False)


def case_ids():
    seen = {}
    for country, _, _ in CASES:
        seen[country] = seen.get(country, 0) + 1
        yield "%s-%d" % (country, seen[country])


@pytest.mark.parametrize("address, expected", [case[1:] for case in CASES], ids=list(case_ids()))
def test_libpostals_own_parser_expectations(address, expected):
    import addrnorm

    assert addrnorm.parse_address(address) == expected


def test_all_146_expectations_are_ported():
    assert len(CASES) == 146 and len({country for country, _, _ in CASES}) == 26


def test_a_parse_as_fields_and_as_a_records_labelled_fields():
    import addrnorm
    from addrnorm.parsing import record_fields

    parsed = addrnorm.parse_address("781 Franklin Ave Crown Hts Brooklyn NY 11216")
    assert parsed == [("781", "house_number"), ("franklin ave", "road"), ("crown hts", "suburb"),
                      ("brooklyn", "city_district"), ("ny", "state"), ("11216", "postcode")]
    assert addrnorm.parsed_fields(parsed) == {"house_number": "781", "road": "franklin ave", "suburb": "crown hts",
                                              "city_district": "brooklyn", "state": "ny", "postcode": "11216"}
    record = {"name": "Whole Foods", "address": "781 Franklin Ave Crown Hts Brooklyn NY 11216", "zip": "11238"}
    labels, values = record_fields(record, ["address"], {"name": "house", "zip": "postcode"})
    assert dict(zip(labels, values)) == {"house": "Whole Foods", "postcode": "11238", "house_number": "781",
                                         "road": "franklin ave", "suburb": "crown hts",
                                         "city_district": "brooklyn", "state": "ny"}
    # The codes are passed on; libpostal 1.1's parser does not read them.
    assert addrnorm.parse_address(record["address"], "en", "US") == parsed
    assert addrnorm.parse_address("") == [] and addrnorm.parse_address(" \t ") == []


@pytest.mark.parametrize("name, text", INPUTS, ids=[name for name, _ in INPUTS])
def test_awkward_input_is_parsed_or_refused(name, text):
    import addrnorm

    parsed = addrnorm.parse_address(text)
    assert type(parsed) is list and all(type(label) is str and type(part) is str for part, label in parsed)
    if text.strip("\0 \t\n\r\u00a0\u3000"):
        assert parsed, name


@pytest.mark.parametrize("text", ["é&#55296;", "a&#55296;", "&#55296;\u202e", "\x0f\u2e5a\u8a42", "\x0f\U00010391\u2ec7"])
def test_text_that_crashes_libpostals_expansion_is_parsed(text):
    # What makes libpostal 1.1.3 crash in expansions and hashes
    # (test_robustness.py) takes another road through the parser.
    import addrnorm

    assert type(addrnorm.parse_address(text)) is list


LIFECYCLE = r"""
import gc, json, os, sys
sys.path.insert(0, %(tests)r)
from module_hooks import clear
from support import memory_kib, rss_kib
import addrnorm
from addrnorm import _expand
ADDRESSES = ["781 Franklin Ave Crown Hts Brooklyn NY 11216", "Rue de Rivoli 12, 75001 Paris",
             "Oranienstraße 10, 10997 Berlin"] * 100
expanded = _expand.expand_address("781 Franklin Ave", languages=["en"])
before = rss_kib()
cycles = []
for cycle in range(%(cycles)d):
    parsed = [addrnorm.parse_address(address) for address in ADDRESSES[:3]]
    up = rss_kib()
    workers = []
    if cycle == 0:
        # Forked workers share the model with the parent, copy on write.
        for worker in range(2):
            reader, writer = os.pipe()
            pid = os.fork()
            if pid == 0:
                os.close(reader)
                results = [addrnorm.parse_address(address) for address in ADDRESSES]
                private = memory_kib()["private"]
                os.write(writer, json.dumps([private, results[:3] == parsed]).encode())
                os._exit(0)
            os.close(writer)
            with os.fdopen(reader) as pipe:
                workers.append(json.loads(pipe.read()))
            os.waitpid(pid, 0)
    module = sys.modules.pop("addrnorm._parser")
    del addrnorm._parser
    from addrnorm import parsing
    parsing._parse_address = None
    clear(module)
    del module
    gc.collect()
    cycles.append({"parsed": parsed, "up": up, "down": rss_kib(), "workers": workers,
                   "still": _expand.expand_address("781 Franklin Ave", languages=["en"]) == expanded})
print(json.dumps({"before": before, "cycles": cycles}))
"""


def test_set_up_late_shared_by_forks_torn_down_and_set_up_again(report):
    child = support.run_python(LIFECYCLE % {"tests": support.TESTS, "cycles": 3}, timeout=600)
    result = support.last_json(child, "the parser's lifecycle")
    before, cycles = result["before"], result["cycles"]
    # Expansions alone never load the model.
    assert before < 400 * MIB, before
    for number, cycle in enumerate(cycles):
        assert cycle["parsed"] == cycles[0]["parsed"] and cycle["still"], number
        # The model is about 2 GB, and goes with the last instance.
        assert cycle["up"] - before > 1500 * MIB, (number, cycle)
        assert cycle["down"] - before < 200 * MIB, (number, cycle)
    # Each worker holds a few MB of its own, not a copy of the model.
    workers = cycles[0]["workers"]
    assert [same for _, same in workers] == [True, True]
    assert all(private < 64 * MIB for private, _ in workers), workers
    report("parser lifecycle: RSS %.0f MiB before parsing; with the parser, cycles 1/2/3: %s MiB; torn down: %s MiB; "
           "private memory of 2 forked workers after 300 parses each: %s MiB" % (
               before / MIB, "/".join("%.0f" % (c["up"] / MIB) for c in cycles),
               "/".join("%.0f" % (c["down"] / MIB) for c in cycles),
               " + ".join("%.1f" % (private / MIB) for private, _ in workers)))


def command(*argv, **kwargs):
    return subprocess.run([sys.executable, "-m", "addrnorm"] + list(argv), env=support.child_env(),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True, timeout=600,
                          **kwargs)


def test_the_parse_command_end_to_end_with_two_jobs():
    process = command("parse", "--jobs", "2", "-", input="781 Franklin Ave Crown Hts Brooklyn NY 11216\n\n" * 300)
    assert process.returncode == 0, process.stderr
    lines = [json.loads(line) for line in process.stdout.splitlines()]
    assert len(lines) == 600 and [line["line"] for line in lines] == list(range(1, 601))
    assert lines[0]["parsed"] == {"house_number": "781", "road": "franklin ave", "suburb": "crown hts",
                                  "city_district": "brooklyn", "state": "ny", "postcode": "11216"}
    assert all(line["parsed"] == (lines[0]["parsed"] if line["line"] % 2 else {}) for line in lines)
    assert process.stderr == "addrnorm: 300 addresses, 1,800 labelled parts, 300 blank lines\n"


def test_hash_parse_gives_addresses_written_differently_common_keys(tmp_path):
    places = tmp_path / "places.csv"
    places.write_text("name,address\n"
                      "Whole Foods Market,\"781 Franklin Ave, Brooklyn, NY 11216\"\n"
                      "Whole Foods,781 Franklin Avenue Brooklyn New York 11216\n"
                      "Barboncino,\"781 Franklin Ave, Brooklyn, NY 11216\"\n", encoding="utf-8")
    process = command("hash", str(places), "--parse", "address", "--map", "name=house", "--languages", "en")
    assert process.returncode == 0, process.stderr
    keys = [set(json.loads(line)["keys"]) for line in process.stdout.splitlines()]
    assert len(keys) == 3 and all(keys)
    # Name and address: the two writings of one shop meet, the neighbour
    # at the same address does not share its name keys.
    shared = keys[0] & keys[1]
    assert any(key.startswith("na") for key in shared), shared
    assert not any(key.startswith("n") for key in keys[0] & keys[2]), keys[0] & keys[2]
