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
    assert not branch["matched"] and branch["keys"] and branch["fields"]["street"] == "differs"
    # Kelly Hart shares every key of the address with R. Hart; the names tell.
    other_person = explained[(7, 9)]
    assert not other_person["matched"] and other_person["fields"]["name"] == "differs"
