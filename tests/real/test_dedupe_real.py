"""De-duplication on the real library: libpostal's levels agree with its own
duplicate classifiers, and the model, learned from a seeded town of places
and people, puts written-again records together and keeps neighbours,
relatives and a chain's branches apart."""
import json
import random
import subprocess
import sys

import pytest

import addrnorm
from addrnorm import DuplicateStatus as S
from addrnorm.dedupe import features
from addrnorm.dedupe.fields import Field
from test_duplicates_real import FIELD_PAIRS

# The classifiers' fields as the model's labels.
LABEL = {"name": "house", "street": "road", "house_number": "house_number", "po_box": "po_box", "unit": "unit",
         "floor": "level", "postal_code": "postcode"}


def level(label, value1, value2, languages):
    """The libpostal level two values fall into: "same", "same root" or None."""
    components = Field("x", label).components
    (expansions1, roots1), (expansions2, roots2) = (
        features.value_forms((components, value), languages) for value in (value1, value2))
    if set(expansions1) & set(expansions2):
        return "same"
    if set(roots1) & set(roots2):
        return "same root"
    return None


@pytest.mark.parametrize("languages", [None, ["en"]], ids=["guessed", "en"])
@pytest.mark.parametrize("field, value1, value2, status", FIELD_PAIRS,
                         ids=["%s: %s ~ %s" % pair[:3] for pair in FIELD_PAIRS])
def test_libpostals_levels_are_its_classifiers_verdicts(field, value1, value2, status, languages):
    # Names and streets: EXACT when the expansions meet, review when only
    # the root forms do.  Numbers, units and postcodes: EXACT when either
    # meets (libpostal tries their roots first).
    found = level(LABEL[field], value1, value2, languages)
    if field in ("name", "street"):
        expected = {S.EXACT: "same", S.POSSIBLE_NEEDS_REVIEW: "same root", S.NON: None}[status]
        assert found == expected
    else:
        assert (found is not None) == (status is S.EXACT)


STREETS = [(base, short, long) for base in (
    "Franklin Atlantic Nevada Ocean Elm Lincoln Maple Cedar Washington Park Bedford Dean Pacific Bergen Union "
    "Carroll President Sterling Lefferts Rogers Nostrand Classon Grand Putnam Halsey Macon Fulton Myrtle Kent "
    "Hudson").split() for short, long in (("St", "Street"), ("Ave", "Avenue"), ("Rd", "Road"), ("Pl", "Place"))]
NAMES = ["%s %s" % (adjective, noun) for adjective in
         "Golden Lucky Green Blue Urban Happy Quick Bright Sunrise City Corner Fresh Royal Silver Little".split()
         for noun in "Dragon Bakery Laundry Grocer Cafe Hardware Dental Books Pharmacy Clinic Salon Print Yoga "
                     "Market Deli".split()]
PEOPLE = ["%s %s" % (given, surname) for given in "Ann Bob Cara Dan Eve Finn Gus Hana Ivo Jan Kim Lea Max Nia".split()
          for surname in "Lee Moss Nash Ortiz Price Quinn Reyes Stone Tate Walsh Young Abbott Baird Crane".split()]


def typo(rng, text):
    at = rng.randrange(1, len(text))
    return text[:at] + text[at + 1:] if rng.random() < 0.5 else text[:at] + rng.choice("aeiou") + text[at:]


def zip_of(base):
    # Each street lies in one postcode, as in a real town (the hand-checked
    # records' too).
    known = {"Franklin": "11216", "Atlantic": "11217", "Nevada": "11238", "Elm": "11238"}
    return known.get(base, ("11216", "11217", "11238")[len(base) % 3])


def town(seed=11, count=900):
    """(records, entity of each): places and people in one town, where a
    fifth share an address with another (a mall's shops, a household, of
    one surname); a third written again with a typo, a street type spelled
    out or cut short, or a field left out."""
    rng = random.Random(seed)
    rows, hosts = [], []
    for entity in range(count):
        street = base, short, long = rng.choice(STREETS)
        record = {"name": rng.choice(NAMES + PEOPLE), "number": str(rng.randrange(1, 1000)),
                  "street": "%s %s" % (base, rng.choice((short, long))), "zip": zip_of(base)}
        if hosts and rng.random() < 0.2:
            host, street = rng.choice(hosts)
            base, short, long = street
            record.update(number=host["number"], street=host["street"], zip=host["zip"])
            if host["name"] in PEOPLE:
                record["name"] = "%s %s" % (rng.choice(PEOPLE).split()[0], host["name"].split()[1])
        hosts.append((record, street))
        rows.append((entity, record))
        if rng.random() < 0.35:
            again = dict(record)
            change = rng.randrange(4)
            if change == 0:
                again["name"] = typo(rng, again["name"])
            elif change == 1:
                again["street"] = "%s %s" % (base, long if again["street"].endswith(short) else short)
            elif change == 2:
                again["street"] = typo(rng, again["street"])
            else:
                again[rng.choice(("number", "zip", "name"))] = ""
            rows.append((entity, again))
    rng.shuffle(rows)
    return [record for _, record in rows], [entity for entity, _ in rows]


# (record, its group): records of one group must share a cluster, records of
# two groups must not.
HAND_CHECKED = [
    ({"name": "Whole Foods Market", "street": "Franklin Ave", "number": "781", "zip": "11216"}, "wf"),
    ({"name": "Whole Foods", "street": "Franklin Avenue", "number": "781", "zip": "11216"}, "wf"),
    ({"name": "Whole Foods Market", "street": "Frnaklin Ave", "number": "781", "zip": "11216"}, "wf"),
    ({"name": "Barboncino", "street": "Franklin Ave", "number": "781", "zip": "11216"}, "neighbour"),
    ({"name": "Whole Foods Market", "street": "Atlantic Ave", "number": "214", "zip": "11217"}, "branch"),
    ({"name": "Frances Bailey", "street": "Elm St", "number": "12", "zip": "11238"}, "frances"),
    ({"name": "Frank Bailey", "street": "Elm Street", "number": "12", "zip": "11238"}, "frank"),
    ({"name": "Lone Star Deli", "street": "Nevada St", "number": "301", "zip": "11238"}, "deli"),
    ({"name": "Lone Star Deli", "street": "Nevada Street", "number": "301", "zip": "11238"}, "deli"),
    ({"name": "Lone Star Dli", "street": "Nevada St", "number": "301", "zip": "11238"}, "deli"),
]
MAPPING = {"name": "house", "street": "road", "number": "house_number", "zip": "postcode"}


@pytest.fixture(scope="module")
def clustered():
    records, entities = town()
    records += [record for record, _ in HAND_CHECKED]
    return addrnorm.find_duplicates(records, mapping=MAPPING, languages=["en"]), entities


# Known shortfall: in a town of three postcodes, each shared by hundreds
# of records, no area is small enough for the names to learn their m on,
# beside the address; the model then puts tenants of one building and
# members of a household into one cluster.  Strict, so that a model that
# learns better shows here.
CROWDED = pytest.mark.xfail(strict=True, reason="the model takes records at one address for duplicates where no "
                                                "postcode is small enough to learn on")


@CROWDED
def test_the_model_learned_from_the_town_finds_its_duplicates(clustered, report):
    clusters, entities = clustered
    found, true = set(), set()
    for pairs, labels in ((found, clusters[:len(entities)]), (true, entities)):
        members = {}
        for index, label in enumerate(labels):
            members.setdefault(label, []).append(index)
        pairs.update((a, b) for group in members.values() for a in group for b in group if a < b)
    precision, recall = len(found & true) / len(found), len(found & true) / len(true)
    report("town of %d records: precision %.3f, recall %.3f" % (len(entities), precision, recall))
    assert precision > 0.95 and recall > 0.9


def test_written_again_meet_and_a_branch_of_the_chain_stays_apart(clustered):
    clusters = dict(zip(range(len(HAND_CHECKED)), clustered[0][-len(HAND_CHECKED):]))
    assert clusters[0] == clusters[1] == clusters[2]  # written short, a typo
    assert clusters[7] == clusters[8] == clusters[9]  # a street type, a typo in the name
    assert clusters[4] not in (clusters[0], clusters[5], clusters[7])  # the other branch


@CROWDED
def test_written_again_meet_and_neighbours_relatives_and_branches_stay_apart(clustered):
    clusters = clustered[0][-len(HAND_CHECKED):]
    for (_, group1), cluster1 in zip(HAND_CHECKED, clusters):
        for (_, group2), cluster2 in zip(HAND_CHECKED, clusters):
            assert (cluster1 == cluster2) == (group1 == group2), (group1, group2)


def test_dupes_explains_a_pair_by_libpostals_levels(tmp_path):
    records, _ = town(count=300)
    path = tmp_path / "town.jsonl"
    path.write_text("".join(json.dumps(record) + "\n" for record in records + [record for record, _ in HAND_CHECKED]),
                    encoding="utf-8")
    pairs = tmp_path / "pairs.jsonl"
    process = subprocess.run(
        [sys.executable, "-m", "addrnorm", "dupes", str(path), "--map", ",".join("%s=%s" % kv for kv in MAPPING.items()),
         "--pairs", str(pairs), "--languages", "en", "-q"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True, timeout=600)
    assert process.returncode == 0, process.stderr
    first = len(records) + 1  # the input line of the first hand-checked record
    explained = {(row["a"], row["b"]): row for row in map(json.loads, pairs.read_text(encoding="utf-8").splitlines())}
    written_short = explained[(first, first + 1)]
    # The street is compared on its own, or with the house number and
    # postcode as the address, where the town's streets lie in one postcode
    # each; either way "Ave" and "Avenue" are the same only to libpostal.
    street = written_short["fields"].get("address") or written_short["fields"]["street"]
    assert written_short["matched"] and street["level"] in ("same address", "libpostal: same")
    assert street["weight"] > 0
    neighbour = explained[(first, first + 3)]
    assert neighbour["fields"]["name"]["level"] == "different" and neighbour["fields"]["name"]["weight"] < 0
