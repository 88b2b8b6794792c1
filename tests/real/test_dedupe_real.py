"""De-duplication on the real library: the places and people that must end in
one cluster, and those that must not, and why the pairwise check is there."""
import json
import subprocess
import sys

import pytest

import addrnorm

BROOKLYN = {"postcode": "11216", "city": "Brooklyn"}
DALLAS = {"unit": "Apt 18", "postcode": "75207", "city": "Dallas"}
# (record, cluster it must be in): clusters numbered in order of first
# appearance.
RECORDS = [
    (dict(BROOKLYN, house="Whole Foods Market", road="Franklin Ave", house_number="781"), 1),
    (dict(BROOKLYN, house="Whole Foods", road="Franklin Avenue", house_number="781"), 1),  # written short
    (dict(BROOKLYN, house="Barboncino", road="Franklin Ave", house_number="781"), 2),  # same address, not the same
    (dict(BROOKLYN, house="Whole Foods Market", road="Frnaklin Ave", house_number="781"), 1),  # a typo
    (dict(BROOKLYN, house="Whole Foods Market", road="Franklin Ave"), 1),  # no house number
    # Another branch of the chain, in the same town.
    (dict(BROOKLYN, house="Whole Foods Market", road="Atlantic Ave", house_number="214", postcode="11217"), 3),
    (dict(DALLAS, house="R. Hart", road="Ocean Dr", house_number="50"), 4),
    (dict(DALLAS, house="Rahul C. Hart", road="Ocean Drive", house_number="50"), 4),  # initials
    (dict(DALLAS, house="Kelly Hart", road="Ocean Drive", house_number="50"), 5),  # someone else at home
    (dict(DALLAS, house="Frances Bailey", road="Elm St", house_number="12"), 6),
    (dict(DALLAS, house="Frank Bailey", road="Elm Street", house_number="12"), 7),  # of one family
    (dict(DALLAS, house="Lone Star Deli", road="Nevada St", house_number="301"), 8),
    (dict(DALLAS, house="Lone Star Deli", road="Nevda Sltreet", house_number="301"), 8),  # a type misspelled
    (dict(DALLAS, house="Lone Star Deli", road="301 Nevada"), 8),  # the number in the street
    (dict(BROOKLYN, house="Franklin Avenue Books", road="Franklin Ave", house_number="790"), 9),
    (dict(BROOKLYN, house="Franklin Avenue", road="Franklin Ave"), 10),  # which place on the avenue?
    # libpostal's root forms reduce both names, and both streets, to "53rd".
    (dict(house="53rd Way Veterinary Clinic", road="53rd Way", house_number="1", postcode="68105", city="Omaha"), 11),
    (dict(house="53rd Road Restaurant", road="53rd Rd", house_number="4", postcode="68102", city="Omaha"), 12),
]


@pytest.mark.parametrize("languages", [None, ["en"]], ids=["guessed", "en"])
def test_duplicates_are_clustered_and_neighbours_are_not(languages):
    assert addrnorm.find_duplicates([record for record, _ in RECORDS], languages=languages) == [
        cluster for _, cluster in RECORDS]


def test_shared_keys_alone_miss_typos_and_chain_unrelated_records():
    clusters = addrnorm.find_duplicates([record for record, _ in RECORDS], passes=["full"], check=False)
    # The typo and the missing house number change every key of the full
    # record: those duplicates are missed ...
    assert len({clusters[0], clusters[3], clusters[4]}) == 3
    # ... while Kelly Hart, who shares her address with R. Hart, is taken for him.
    assert clusters[6] == clusters[8]


def test_dupes_explains_each_pair(tmp_path):
    places = tmp_path / "places.jsonl"
    places.write_text("".join(json.dumps(record) + "\n" for record, _ in RECORDS), encoding="utf-8")
    pairs = tmp_path / "pairs.jsonl"
    process = subprocess.run(
        [sys.executable, "-m", "addrnorm", "dupes", str(places), "--pairs", str(pairs), "--languages", "en", "-q"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True, timeout=300)
    assert process.returncode == 0, process.stderr
    assert [json.loads(line)["cluster"] for line in process.stdout.splitlines()] == [cluster for _, cluster in RECORDS]
    explained = {(row["a"], row["b"]): row for row in map(json.loads, pairs.read_text(encoding="utf-8").splitlines())}
    written_short = explained[(1, 2)]
    assert written_short["matched"] and written_short["keys"]
    assert written_short["fields"]["street"] == "exact"
    # The other branch shares the name-only keys, and is told apart by its street.
    branch = explained[(1, 6)]
    assert not branch["matched"] and branch["keys"] and branch["fields"]["street"] == "another street"
    # Kelly Hart shares every key of the address with R. Hart; the names tell.
    other_person = explained[(7, 9)]
    assert not other_person["matched"] and other_person["fields"]["name"] == "differs"


def bench_records(kind, count, seed):
    """The bench's synthetic records ({column: value}, entity) of one kind:
    duplicates with the typos, short forms and changed fields real data has."""
    import csv
    import io
    import os

    sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "bench"))
    try:
        import dedupe_data
    finally:
        sys.path.pop(0)
    out = io.StringIO()
    dedupe_data.generate(kind, count, seed, out)
    return list(csv.DictReader(io.StringIO(out.getvalue())))


COLUMNS = {"name": "name", "street": "street", "house_number": "number", "unit": "unit", "postcode": "zip"}


@pytest.mark.parametrize("languages", [None, ["en"]], ids=["guessed", "en"])
def test_the_checks_verdicts_are_libpostals_classifiers(languages):
    # The check expands each value once and compares expansions, instead of
    # calling the classifier on every pair: both must give the same verdict.
    # Each record is paired with the next three, so that most pairs are one
    # entity's duplicates or its neighbours on one street.
    from addrnorm import compare
    from test_duplicates_real import FIELD_PAIRS

    rows = bench_records("persons", 120, 3) + bench_records("places", 120, 4)
    verdicts = compare.Verdicts(languages)
    compared = statuses = 0
    seen = set()
    for field, _, _, classify, components, roots_first in compare.FIELDS:
        values = [row.get(COLUMNS[field]) for row in rows] if field in COLUMNS else []
        # The hand-checked pairs too: "#3" and "Unit 3" meet only as roots.
        pairs = [(value1, value2) for name, value1, value2, _ in FIELD_PAIRS if name == field]
        pairs += [(value1, value2) for index, value1 in enumerate(values) for value2 in values[index + 1:index + 4]]
        for value1, value2 in pairs:
            if value1 and value2 and (field, value1, value2) not in seen:
                seen.add((field, value1, value2))
                expected = classify(value1, value2, languages)
                assert verdicts.status(components, roots_first, value1, value2) == expected, (field, value1, value2)
                compared += 1
                statuses |= 1 << int(expected)
    # Enough pairs, and their verdicts span NON, review and EXACT.
    assert compared > 1000
    assert statuses == (1 << 0) | (1 << 3) | (1 << 9), bin(statuses)


def test_the_full_and_name_passes_in_one_call_give_both_passes_keys():
    from addrnorm import passes

    labels_of = {"name": "house", "number": "house_number", "street": "road", "unit": "unit", "zip": "postcode",
                 "town": "city"}
    for row in bench_records("persons", 60, 5) + bench_records("places", 60, 6):
        labels = [labels_of[column] for column in labels_of if row.get(column)]
        values = [row[column] for column in labels_of if row.get(column)]
        apart = set()
        for _, call_labels, call_values, keywords in passes.pass_calls(labels, values, {"with_name": 0}, ("name",)) + \
                passes.pass_calls(labels, values, {}, ("full",)):
            apart.update(addrnorm.near_dupe_hashes(call_labels, call_values, **keywords))
        assert passes.record_keys(labels, values, {}, ("full", "name")) == apart, row
