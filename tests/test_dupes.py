"""De-duplication on the test double: candidate pairs from blocks on disk, the
pairwise check, and what dupes and find_duplicates make of them.  The
double's keys are "label|value" per field, and its classifiers answer EXACT
for equal values and NON otherwise, so the string similarity shows too."""
import json

import numpy
import pytest

import addrnorm
from addrnorm import candidates, compare
from addrnorm.cli import main

# The de-duplication's own Python and numpy: the memcheck run leaves it out
# (the classifiers it calls have their own tests there).
pytestmark = pytest.mark.pure_python

JOE = {"house": "Joe's Diner", "road": "Main St", "house_number": "12", "postcode": "11111"}
JOE_TYPO = dict(JOE, road="Main Stt")           # a typo in the street: one pair, kept
PIZZA = dict(JOE, house="Pizza Place", house_number="14")   # the neighbour: another place
RECORDS = [JOE, PIZZA, JOE_TYPO]


def blocks_of(tmp_path, keyed, max_block=candidates.DEFAULT_MAX_BLOCK):
    blocks = candidates.Blocks(str(tmp_path), max_block)
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


def test_keys_spilled_in_several_rounds_meet_again(tmp_path, monkeypatch):
    monkeypatch.setattr(candidates, "SPILL_EVERY", 3)
    rng = numpy.random.RandomState(7)
    keyed = [rng.randint(0, 40, size=4).tolist() for _ in range(60)]
    _, found = blocks_of(tmp_path, keyed, max_block=60)
    expected = sorted({(a, b) for a in range(60) for b in range(a + 1, 60) if set(keyed[a]) & set(keyed[b])})
    assert found == expected


@pytest.mark.parametrize("first, second, score, verdicts", [
    (JOE, JOE, 1.0, {"name": "exact", "street": "exact", "house_number": "exact", "postcode": "exact"}),
    (JOE, JOE_TYPO, (5 + 3 * 0.93 + 2 + 1) / 11, {"street": "similar 0.93"}),
    (JOE, PIZZA, 4 / 11, {"name": "differs", "house_number": "differs"}),
    # Only the fields both records have count.
    ({"road": "Main St"}, {"road": "Main St", "city": "X"}, 1.0, {"street": "exact"}),
    ({"city": "X", "state": "S"}, {"city": "x", "state": "s"}, 1.0, {"place": "exact"}),
    ({"city": "X"}, {"road": "Y"}, None, {}),
], ids=["same", "typo", "neighbour", "one-side-only", "place-case", "nothing-in-common"])
def test_the_check_scores_the_fields_both_records_have(first, second, score, verdicts):
    got_score, got_verdicts = compare.compare(first, second)
    assert got_score == pytest.approx(score, abs=0.005) if score is not None else got_score is None
    assert {field: got_verdicts[field] for field in verdicts} == verdicts


@pytest.mark.parametrize("first, second, value", [
    ("Whole Foods", "Whole Foods Market", compare.SHORT_NAME),
    ("R. Hart", "Rahul C. Hart", compare.SHORT_NAME),
    ("Whole Fods", "Whole Foods Market", None),
    ("Hart Rahul", "Rahul Hart", 1.0),
    ("Pizza Place", "Pizza Palace", 0.96),
    # None: too unlike to count as a typo.
    ("B. Perry", "Kelly Perry", None),
    ("Joe's Diner", "Pizza Place", None),
], ids=["short-form", "initials", "short-form-typo", "words-swapped", "typo", "another-initial", "another-name"])
def test_names_written_short_count_as_alike(first, second, value):
    found = compare.name_similarity(first, second)
    assert found < compare.TYPO_SIMILARITY if value is None else found == pytest.approx(value, abs=0.01)


def test_the_check_stops_once_the_threshold_is_out_of_reach(double):
    calls = double.counters()["calls"]
    score, verdicts = compare.compare(JOE, PIZZA, threshold=0.7)
    # The names differ: at most (11 - 5) / 11 is left, so the house numbers are
    # never put to libpostal.
    assert score == pytest.approx(6 / 11)
    assert verdicts == {"name": "differs", "house_number": "not compared", "street": "exact", "postcode": "exact"}
    assert double.counters()["calls"] == calls + 1


def test_the_check_asks_libpostals_classifier_for_what_differs(double):
    double.set_duplicate_result(int(addrnorm.DuplicateStatus.LIKELY), 0.0)
    assert compare.compare({"road": "Main St"}, {"road": "Main Street"}, ["en"]) == (0.9, {"street": "likely"})
    received = double.last_call()
    assert (received.function, received.languages) == ("libpostal_is_street_duplicate", ["en"])


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
    assert typo["matched"] and typo["score"] == pytest.approx((5 + 3 * 0.9333 + 2 + 1) / 11, abs=0.0001)
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
