"""De-duplication on the test double: candidate pairs from blocks on disk, the
pairwise check, and what dupes and find_duplicates make of them.  The
double's keys are "label|value" per field, and its classifiers answer EXACT
for equal values and NON otherwise, so the string similarity shows too."""
import json

import numpy
import pytest

import addrnorm
from addrnorm import DuplicateStatus, candidates, compare, passes
from addrnorm.cli import main

# The de-duplication's own Python and numpy: the memcheck run leaves it out
# (the classifiers it calls have their own tests there).
pytestmark = pytest.mark.pure_python

JOE = {"house": "Joe's Diner", "road": "Main St", "house_number": "12", "postcode": "11111"}
JOE_TYPO = dict(JOE, road="Main Stt")           # a typo in the street: one pair, kept
PIZZA = dict(JOE, house="Pizza Place", house_number="14")   # the neighbour: another place
ON_MAIN = dict(JOE, road="Main Street")        # the street written as names write it
RECORDS = [JOE, PIZZA, JOE_TYPO]


def blocks_of(tmp_path, keyed, max_block=candidates.DEFAULT_MAX_BLOCK, min_share=0.05):
    blocks = candidates.Blocks(str(tmp_path), max_block, min_share)
    for record, keys in enumerate(keyed):
        blocks.add(record, keys)
    pairs = sorted(pair for firsts, seconds in blocks.pairs() for pair in zip(firsts.tolist(), seconds.tolist()))
    return blocks, pairs


@pytest.mark.parametrize("keyed, max_block, pairs, skipped", [
    ([[1], [1], [2]], 100, [(0, 1)], 0),
    # A pair that shares several keys is one pair.
    ([[1, 2, 3], [1, 2, 3], [3]], 100, [(0, 1), (0, 2), (1, 2)], 0),
    # Keys that differ only above the partition bits, and negative ones.
    ([[5], [5 + candidates.PARTITIONS], [-7], [-7]], 100, [(2, 3)], 0),
    # A block over the bound makes no pairs; the pair also sharing a small
    # block is still found.
    ([[9, 4], [9, 4], [9], [9]], 3, [(0, 1)], 1),
    ([[], [1]], 100, [], 0),
], ids=["one-block", "shared-several-times", "partitions", "over-the-bound", "no-keys"])
def test_candidate_pairs_are_each_pair_in_a_block_once(tmp_path, keyed, max_block, pairs, skipped):
    blocks, found = blocks_of(tmp_path, keyed, max_block)
    assert (found, blocks.skipped, blocks.pair_count) == (pairs, skipped, len(pairs))
    assert not list(tmp_path.iterdir()), "the partitions are removed once read"


@pytest.mark.parametrize("min_share, pairs, too_little", [
    (0.05, [(0, 1)], 1),      # 2 of 40 keys shared, then 1 of 40
    (0.0, [(0, 1), (0, 2)], 0),
    (0.5, [], 2),
])
def test_pairs_that_share_too_few_of_their_keys_are_left_out(tmp_path, min_share, pairs, too_little):
    # Record 2 has 40 keys too, one of them record 0's: the share is counted
    # on the record with fewer keys.
    keyed = [list(range(40)), [0, 1] + list(range(100, 138)), [2] + list(range(200, 239))]
    blocks, found = blocks_of(tmp_path, keyed, min_share=min_share)
    assert (found, blocks.sharing_too_little, blocks.pair_count) == (pairs, too_little, len(pairs))


def test_keys_spilled_in_several_rounds_meet_again(tmp_path, monkeypatch):
    monkeypatch.setattr(candidates, "SPILL_EVERY", 3)
    rng = numpy.random.RandomState(7)
    keyed = [rng.randint(0, 40, size=4).tolist() for _ in range(60)]
    _, found = blocks_of(tmp_path, keyed, max_block=60)
    expected = sorted({(a, b) for a in range(60) for b in range(a + 1, 60) if set(keyed[a]) & set(keyed[b])})
    assert found == expected


@pytest.mark.parametrize("first, second, score, verdicts", [
    (JOE, JOE, 1.0, {"name": "exact", "street": "exact", "house_number": "exact", "postcode": "exact"}),
    (JOE, JOE_TYPO, (5 + 3 * 0.93 + 3 + 1) / 12, {"street": "similar 0.93"}),
    (JOE, PIZZA, (3 + 3 * 0.8 + 1) / 12, {"name": "differs", "house_number": "one keystroke"}),
    # Two addresses: nothing else counts.
    (JOE, dict(JOE, house_number="40"), 0.0, {"name": "exact", "house_number": "another address"}),
    (JOE, dict(JOE, road="Elm St"), 0.0, {"street": "another street", "name": "exact"}),
    # A house number and a unit written the wrong way round.
    (dict(JOE, unit="Apt 3"), dict(JOE, unit="12", house_number="Apt 3"), 1.0,
     {"house_number": "exact (swapped)", "unit": "exact (swapped)"}),
    # The street's own words say nothing of which place it is.
    (dict(JOE, house="Main Street Cafe"), dict(JOE, house="MAIN STREET BANK"), 7 / 12, {"name": "differs"}),
    # A name that is its street's name only takes the house number to tell.
    (dict(ON_MAIN, house="Main Street"), dict(ON_MAIN, house="Main Street Cafe"), (5 * 0.9 + 3 + 3 + 1) / 12,
     {"name": "street's name only"}),
    ({"house": "Main Street", "road": "Main Street"}, dict(ON_MAIN, house="Main Street Cafe"), 3 / 8,
     {"name": "street's name only"}),
    ({"house": "Main Stret", "road": "Main Street"}, dict(ON_MAIN, house="Main Street Cafe"), 3 / 8,
     {"name": "street's name only"}),
    # One street with its type misspelled, and a typo in its name.
    (JOE, dict(JOE, road="Mian Stret"), (5 + 3 * 0.8 + 3 + 1) / 12, {"street": "same street name"}),
    # The house number at the head of the street, as the other record has it.
    (JOE, {"house": "Joe's Diner", "road": "12 Main", "postcode": "11111"}, (5 + 3 * 0.8 + 3 + 1) / 12,
     {"house_number": "exact", "street": "same street name"}),
    # Two of one family at one address.
    (dict(JOE, house="Frances Bailey"), dict(JOE, house="Frank Bailey"), 7 / 12, {"name": "differs"}),
    # Only the fields both records have count.
    ({"road": "Main St"}, {"road": "Main St", "city": "X"}, 1.0, {"street": "exact"}),
    ({"city": "X", "state": "S"}, {"city": "x", "state": "s"}, 1.0, {"place": "exact"}),
    ({"city": "X"}, {"road": "Y"}, None, {}),
], ids=["same", "typo", "neighbour", "another-number", "another-street", "swapped", "street-in-names",
        "street-name-only-one-number", "street-name-only-no-number", "street-name-only-typo",
        "street-type-misspelt", "number-in-street",
        "relatives", "one-side-only", "place-case", "nothing-in-common"])
def test_the_check_scores_the_fields_both_records_have(first, second, score, verdicts):
    got_score, got_verdicts = compare.compare(first, second)
    assert got_score == pytest.approx(score, abs=0.005) if score is not None else got_score is None
    assert {field: got_verdicts[field] for field in verdicts} == verdicts


@pytest.mark.parametrize("first, second, value", [
    ("Whole Foods", "Whole Foods Market", compare.SHORT_NAME),
    ("R. Hart", "Rahul C. Hart", compare.SHORT_NAME),
    ("Whole Fods", "Whole Foods Market", compare.SHORT_NAME),
    ("Whle Fods", "Whole Foods Market", None),
    ("Dentdl Care", "Dental Crre", compare.SHORT_NAME),
    ("Purple Oen", "Purple Oven Deli", compare.SHORT_NAME),
    ("Hart Rahul", "Rahul Hart", 1.0),
    ("Pizza Place", "Pizza Palace", 0.96),
    # None: too unlike to count as a typo.
    ("B. Perry", "Kelly Perry", None),
    ("Joe's Diner", "Pizza Place", None),
], ids=["short-form", "initials", "short-form-typo", "short-form-two-typos", "typo-in-each-word",
        "short-word-typo", "words-swapped", "typo",
        "another-initial", "another-name"])
def test_names_written_short_count_as_alike(first, second, value):
    found = compare.name_similarity(first, second)
    assert found < compare.TYPO_SIMILARITY if value is None else found == pytest.approx(value, abs=0.01)


def test_the_check_stops_once_the_threshold_is_out_of_reach(double):
    calls = double.counters()["calls"]
    score, verdicts = compare.compare(JOE, PIZZA, threshold=0.7)
    # The names differ: at most (12 - 5) / 12 is left, so the house numbers are
    # never put to libpostal.  The street is expanded (its words are not the
    # names' own), then the names, then their roots.
    assert score == pytest.approx(7 / 12)
    assert verdicts == {"name": "differs", "house_number": "not compared", "street": "exact", "postcode": "exact"}
    assert double.counters()["calls"] == calls + 5
    name = addrnorm.AddressComponent.NAME | addrnorm.AddressComponent.ANY
    assert double.last_call().options["address_components"] == int(name)


@pytest.mark.parametrize("street1, street2, alike", [
    ("nevda sltreet", "nevada st", True),       # the type misspelled, a typo in the name
    ("fern bouleyvard", "fern blvd", True),
    ("fxo", "fox way", True),                   # no type on one side
    ("53rd way", "53 way", True),               # the ordinal written short
    ("cymress stmeet", "cyprexs st", True),     # two typos in a long name
    ("elm st", "oak st", False),
    ("main st", "maple st", False),
    ("st", "main st", False),
])
def test_street_names_alike_without_their_types(street1, street2, alike):
    assert compare.street_names_alike(street1, street2) == alike
    assert compare.street_names_alike(street2, street1) == alike


@pytest.mark.parametrize("value1, value2, apart", [
    ("476", "467", True),      # two neighbours swapped
    ("123", "125", True),      # one replaced
    ("12", "123", True),       # one added
    ("wibld", "wild", True),   # one dropped
    ("476", "764", False),
    ("12", "1234", False),
    ("12", "12", False),       # the same: no keystroke apart
    ("", "1", True),
])
def test_one_keystroke(value1, value2, apart):
    assert compare.one_keystroke(value1, value2) == apart
    assert compare.one_keystroke(value2, value1) == apart


@pytest.mark.parametrize("labels, values, taken", [
    (["house", "road"], ["Joe's", "598 Court Road"],
     (["house", "house_number", "road"], ["Joe's", "598", "Court Road"])),
    (["road", "city"], ["12B  Main St", "X"], (["house_number", "road", "city"], ["12B", "Main St", "X"])),
    # A house number of its own, a street that is a number, an ordinal
    # street written short, and no letter at all: the street stays.
    (["house_number", "road"], ["5", "598 Court Road"], None),
    (["road"], ["36 Hwy"], None),
    (["road"], ["5th Ave"], None),
    (["road"], ["12 34 56"], None),
    (["house"], ["598 Court Road"], None),
])
def test_a_house_number_at_the_head_of_the_street_is_taken_out(labels, values, taken):
    assert passes.house_number_from_street(labels, values) == (taken or (labels, values))


PLACE = (["house", "road", "house_number", "city"], ["Joe's", "Main St", "12", "X"])


@pytest.mark.parametrize("record, keywords, chosen, calls", [
    # The full and name passes in one call: libpostal adds the name-only keys
    # to the others.
    (PLACE, {}, passes.PASSES, [("full+name", 4, {"name_only_keys": 1}), ("no_house_number", 3, {}),
                                ("no_street", 3, {})]),
    (PLACE, {"with_name": 0}, passes.PASSES, [("full", 4, {"with_name": 0}), ("no_house_number", 3, {"with_name": 0}),
                                              ("no_street", 3, {"with_name": 0}),
                                              ("name", 4, dict(passes.NAME_ONLY))]),
    (PLACE, {}, ("name",), [("name", 4, dict(passes.NAME_ONLY))]),
    # Nothing left out, no name: no call that would repeat the full pass.
    ((["road", "city"], ["Main St", "X"]), {}, passes.PASSES, [("full", 2, {}), ("no_street", 1, {})]),
], ids=["together", "names-left-out", "name-only", "no-name"])
def test_each_pass_makes_the_calls_it_needs(record, keywords, chosen, calls):
    made = passes.pass_calls(record[0], record[1], keywords, chosen)
    assert [(name, len(labels), call) for name, labels, _, call in made] == calls


STREET = int(addrnorm.AddressComponent.STREET | addrnorm.AddressComponent.ANY)


@pytest.mark.parametrize("roots_first, expansions, roots, status", [
    # Names and streets: the values' expansions meet (EXACT), or only their
    # roots do (review); house numbers and the others: either, EXACT.
    (False, [b"main street"], [b"main"], DuplicateStatus.EXACT),
    (False, None, [b"main"], DuplicateStatus.POSSIBLE_NEEDS_REVIEW),
    (False, None, None, DuplicateStatus.NON),
    (True, None, [b"3"], DuplicateStatus.EXACT),
    (True, [b"3"], None, DuplicateStatus.EXACT),
    (True, None, None, DuplicateStatus.NON),
], ids=["expansions-meet", "roots-meet", "neither", "root-first", "then-expansions", "neither-root-first"])
def test_verdicts_are_libpostals_from_each_values_expansions_made_once(double, roots_first, expansions, roots,
                                                                       status):
    verdicts = compare.Verdicts(["en"])
    # Each value's expansions, then its roots, as the classifier asks for them;
    # None: the two values' expansions differ (the double echoes its input).
    for root, answer in ((0, expansions), (1, roots)):
        if answer is None:
            double.set_echo_result()
        else:
            double.set_result(answer)
        for value in ("Main St", "Main Street"):
            verdicts.expanded(value, STREET, root)
    received = double.last_call()
    assert (received.function, received.languages, received.options["address_components"]) == (
        "libpostal_expand_address_root", ["en"], STREET)
    calls = double.counters()["calls"]
    assert verdicts.status(STREET, roots_first, "Main St", "Main Street") == status
    assert double.counters()["calls"] == calls, "each value is expanded once"


@pytest.mark.parametrize("options, clusters", [
    ({}, [1, 2, 1]),
    ({"threshold": 0.3}, [1, 1, 1]),
    ({"check": False}, [1, 1, 1]),
    # The postcode's block of three is skipped: the pairs come from the
    # house and the road alone.
    ({"passes": ["full"], "check": False, "max_block": 2}, [1, 1, 1]),
], ids=["checked", "low-threshold", "unchecked", "blocks-over-the-bound"])
def test_find_duplicates(options, clusters):
    assert addrnorm.find_duplicates(RECORDS, **options) == clusters


BRANCHES = [dict(JOE, house_number="12"), dict(JOE, house_number=None), dict(JOE, house_number="45"),
            dict(JOE, house_number="13")]


@pytest.mark.parametrize("options, clusters", [
    # The record without a house number matches both branches; the branch
    # at 45 is kept apart, while 13 is one keystroke from 12.
    ({}, [1, 1, 2, 1]),
    ({"check": False}, [1, 1, 1, 1]),
], ids=["checked", "unchecked"])
def test_a_record_without_a_house_number_does_not_chain_two_addresses(options, clusters):
    assert addrnorm.find_duplicates(BRANCHES, **options) == clusters


def test_dupes_counts_the_pairs_kept_apart(tmp_path, capsys):
    path = tmp_path / "branches.jsonl"
    path.write_text("".join(json.dumps(record) + "\n" for record in BRANCHES), encoding="utf-8")
    assert main(["dupes", str(path), "-o", str(tmp_path / "out")]) == 0
    assert "1 pair kept apart (their clusters' house numbers differ)" in capsys.readouterr().err


def test_no_records_and_records_without_keys_are_no_clusters(double):
    assert addrnorm.find_duplicates([]) == []
    double.set_result(None)
    assert addrnorm.find_duplicates(RECORDS) == [1, 2, 3]


@pytest.mark.parametrize("options, error", [
    ({"passes": ["full", "nope"]}, "no pass 'nope'"),
    ({"passes": []}, "at least one pass"),
    ({"threshold": 1.5}, "from 0 to 1"),
    ({"max_block": 1}, "at least 2 records"),
])
def test_find_duplicates_refuses_settings_that_make_no_sense(options, error):
    with pytest.raises(ValueError, match=error):
        addrnorm.find_duplicates(RECORDS, **options)


def places(tmp_path):
    path = tmp_path / "places.jsonl"
    path.write_text("".join(json.dumps(record) + "\n" for record in RECORDS), encoding="utf-8")
    return str(path)


def dupes(tmp_path, capsys, *argv):
    out = tmp_path / "out"
    status = main(["dupes", places(tmp_path), "-o", str(out)] + list(argv))
    return status, [json.loads(line) for line in out.read_text(encoding="utf-8").splitlines()], capsys.readouterr().err


def test_dupes_writes_each_record_with_its_cluster_and_its_size(tmp_path, capsys):
    status, rows, said = dupes(tmp_path, capsys)
    assert status == 0
    assert [(row["line"], row["cluster"], row["cluster_size"]) for row in rows] == [(1, 1, 2), (2, 2, 1), (3, 1, 2)]
    assert said == ("addrnorm: 3 records, 12 keys, 3 candidate pairs, 1 pair matched, "
                    "1 cluster of 2 or more (2: 1), largest 2\n")


def test_the_check_reads_values_in_the_languages_given(tmp_path, capsys, double):
    assert dupes(tmp_path, capsys, "--languages", "fr", "--max-block", "2")[0] == 0
    received = double.last_call()
    assert received.function.startswith("libpostal_expand_address") and received.languages == ["fr"]


def test_only_dupes_writes_the_clusters_of_two_or_more_together(tmp_path, capsys):
    extra = dict(PIZZA, house_number="16", house="Pizza Palace")
    path = tmp_path / "places.jsonl"
    path.write_text("".join(json.dumps(record) + "\n" for record in [JOE, PIZZA, extra, JOE_TYPO]), encoding="utf-8")
    out = tmp_path / "out"
    assert main(["dupes", str(path), "-o", str(out), "--only-dupes", "--threshold", "0.6"]) == 0
    rows = [json.loads(line) for line in out.read_text(encoding="utf-8").splitlines()]
    assert [(row["line"], row["cluster"]) for row in rows] == [(1, 1), (4, 1), (2, 2), (3, 2)]


def test_pairs_explain_each_comparison(tmp_path, capsys):
    pairs = tmp_path / "pairs.jsonl"
    assert dupes(tmp_path, capsys, "--pairs", str(pairs))[0] == 0
    explained = {(row["a"], row["b"]): row for row in map(json.loads, pairs.read_text(encoding="utf-8").splitlines())}
    assert sorted(explained) == [(1, 2), (1, 3), (2, 3)]
    typo = explained[(1, 3)]
    assert typo["matched"] and typo["score"] == pytest.approx((5 + 3 * 0.9333 + 3 + 1) / 12, abs=0.0001)
    assert typo["keys"] == ["house_number|12", "house|Joe's Diner", "postcode|11111"]
    assert typo["fields"] == {"name": "exact", "street": "similar 0.93", "house_number": "exact", "postcode": "exact"}
    assert not explained[(1, 2)]["matched"]


@pytest.mark.parametrize("argv, message", [
    (["--passes", "full,nope"], "no pass 'nope'"),
    (["--threshold", "2"], "a score from 0 to 1, not '2'"),
])
def test_dupes_usage_errors(tmp_path, capsys, argv, message):
    with pytest.raises(SystemExit) as stopped:
        main(["dupes", places(tmp_path)] + argv)
    assert stopped.value.code == 2 and message in capsys.readouterr().err


def test_the_workers_find_what_one_process_finds(tmp_path, capsys):
    names = ["Joe's Diner", "Pizza Place", "Corner Deli", "Blue Bottle", "Green Grocer"]
    records = [dict(JOE, house_number=str(n % 7), house=names[n % 5]) for n in range(120)]
    path = tmp_path / "many.jsonl"
    path.write_text("".join(json.dumps(record) + "\n" for record in records), encoding="utf-8")
    outputs = []
    for jobs in ("1", "2"):
        out = tmp_path / ("out" + jobs)
        assert main(["dupes", str(path), "-o", str(out), "-j", jobs, "-q"]) == 0
        outputs.append(out.read_text(encoding="utf-8"))
    assert outputs[0] == outputs[1]
    # One name on one street is one place, whatever its house number.
    assert max(json.loads(line)["cluster_size"] for line in outputs[0].splitlines()) == 24
