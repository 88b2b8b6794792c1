"""The de-duplication bench's own pieces: the record generator and the
scores, which would otherwise mislead quietly (bench/dedupe_data.py,
bench/dedupe.py)."""
import collections
import csv
import io
import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "bench"))
import dedupe  # noqa: E402
import dedupe_data  # noqa: E402

# The bench's own Python: the memcheck run leaves it out.
pytestmark = pytest.mark.pure_python


def generated(kind, records, seed, window=100000):
    out, truth = io.StringIO(), io.StringIO()
    entities = dedupe_data.generate(kind, records, seed, out, truth, window)
    return out.getvalue(), truth.getvalue(), entities


@pytest.mark.parametrize("kind", ["places", "persons"])
def test_the_same_seed_gives_the_same_records(kind):
    assert generated(kind, 500, 7) == generated(kind, 500, 7)
    assert generated(kind, 500, 7)[0] != generated(kind, 500, 8)[0]


@pytest.mark.parametrize("kind", ["places", "persons"])
@pytest.mark.parametrize("records, window", [(0, 100), (1, 100), (999, 100), (1000, 64), (1000, 100000)])
def test_as_many_records_as_asked_each_with_its_truth(kind, records, window):
    data, truth, entities = generated(kind, records, 3, window)
    rows = list(csv.reader(io.StringIO(data)))
    truths = list(csv.reader(io.StringIO(truth)))
    assert rows[0] == dedupe_data.header(kind) and truths[0] == ["id", "entity", "changes"]
    assert len(rows) == len(truths) == records + 1
    assert len(data.splitlines()) == records + 1  # no field holds a line break
    # Record id is on line id + 2: the bench maps the command's line numbers back so.
    assert [row[0] for row in rows[1:]] == [str(n) for n in range(records)]
    assert [row[0] for row in truths[1:]] == [str(n) for n in range(records)]
    assert all(len(row) == len(rows[0]) for row in rows)
    # Each entity has one record as made, before any change, and the others changed.
    firsts = collections.Counter(int(row[1]) for row in truths[1:] if not row[2])
    assert set(firsts) == set(int(row[1]) for row in truths[1:]) and set(firsts.values()) <= {1}
    assert len(firsts) <= entities


def test_duplicates_are_made_and_changed():
    data, truth, entities = generated("persons", 5000, 1)
    rows = list(csv.reader(io.StringIO(data)))[1:]
    truths = list(csv.reader(io.StringIO(truth)))[1:]
    by_entity = collections.defaultdict(list)
    for row, (_, entity, changes) in zip(rows, truths):
        by_entity[entity].append((row[1:], changes))
    with_copies = [records for records in by_entity.values() if len(records) > 1]
    assert 0.2 < len(with_copies) / len(by_entity) < 0.4
    for records in with_copies:
        first = [fields for fields, changes in records if not changes][0]
        for fields, changes in records:
            if changes:
                assert fields != first and 1 <= len(changes.split("+")) <= 3
    changes = collections.Counter(name for _, _, how in truths if how for name in how.split("+"))
    assert set(changes) == {"name_typo", "street_typo", "street_type", "number_typo", "number_missing",
                            "number_in_street", "name_form", "swap", "unit", "postcode", "city", "capitals"}


def test_distinct_entities_crowd_together():
    """Blocking must have work to do: distinct entities at one address, and
    namesakes."""
    data, truth, _ = generated("places", 5000, 2)
    rows = list(csv.reader(io.StringIO(data)))[1:]
    truths = list(csv.reader(io.StringIO(truth)))[1:]
    firsts = [row for row, (_, _, changes) in zip(rows, truths) if not changes]
    addresses = collections.Counter((row[2], row[3], row[4]) for row in firsts)
    names = collections.Counter(row[1] for row in firsts)
    streets = collections.Counter((row[3], row[4]) for row in firsts)
    assert sum(count for count in addresses.values() if count > 1) > len(firsts) * 0.05
    assert sum(count for count in names.values() if count > 1) > len(firsts) * 0.05
    assert max(streets.values()) >= 10


def test_read_truth_takes_either_file(tmp_path):
    with open(str(tmp_path / "data.csv"), "w", newline="") as out:
        dedupe_data.generate("places", 50, 1, out)
    with open(str(tmp_path / "apart.csv"), "w", newline="") as out, \
            open(str(tmp_path / "truth.csv"), "w", newline="") as truth:
        dedupe_data.generate("places", 50, 1, out, truth)
    together = dedupe_data.read_truth(str(tmp_path / "data.csv"))
    apart = dedupe_data.read_truth(str(tmp_path / "truth.csv"))
    assert [entity for entity, _ in together] == [entity for entity, _ in apart] and len(apart) == 50


# Scores on clusterings small enough to count by hand.  Truth: entities
# {0, 1, 2}, {3, 4}, {5}: 3 + 1 = 4 true pairs.
TRUTH = ["a", "a", "a", "b", "b", "c"]


def test_a_perfect_clustering():
    scores = dedupe.cluster_scores([7, 7, 7, 9, 9, 8], TRUTH)
    assert (scores["precision"], scores["recall"], scores["f1"]) == (1.0, 1.0, 1.0)
    assert (scores["predicted_pairs"], scores["true_pairs"], scores["correct_pairs"], scores["largest"]) == \
        (4, 4, 4, 3)


def test_everything_in_one_cluster():
    scores = dedupe.cluster_scores([1] * 6, TRUTH)
    assert scores["predicted_pairs"] == 15 and scores["correct_pairs"] == 4
    assert scores["precision"] == pytest.approx(4 / 15) and scores["recall"] == 1.0
    assert scores["f1"] == pytest.approx(2 * (4 / 15) / (4 / 15 + 1))


def test_every_record_alone():
    scores = dedupe.cluster_scores(list(range(6)), TRUTH)
    assert (scores["predicted_pairs"], scores["correct_pairs"]) == (0, 0)
    assert (scores["precision"], scores["recall"], scores["f1"]) == (1.0, 0.0, 0.0)


def test_a_split_and_a_false_merge():
    # {0, 1} {2, 3, 4} {5}: right 0-1 and 3-4, wrong 2-3 and 2-4.
    scores = dedupe.cluster_scores([1, 1, 2, 2, 2, 3], TRUTH)
    assert (scores["predicted_pairs"], scores["correct_pairs"]) == (4, 2)
    assert (scores["precision"], scores["recall"], scores["f1"]) == (0.5, 0.5, 0.5)


def test_labels_and_truth_must_line_up():
    with pytest.raises(ValueError):
        dedupe.cluster_scores([1, 2], TRUTH)


def test_candidate_pairs():
    # 0-1, 1-2 and 3-4 are true; 2-5 is not; 1-0 and 0-1 again count once.
    scores = dedupe.candidate_scores([(0, 1), (1, 2), (3, 4), (2, 5), (1, 0), (0, 1), (4, 4)], TRUTH)
    assert (scores["candidates"], scores["true_candidates"]) == (4, 3)
    assert scores["completeness"] == 3 / 4 and scores["quality"] == 3 / 4
    assert scores["reduction"] == 1 - 4 / 15


def test_no_candidates_and_all_candidates():
    none = dedupe.candidate_scores([], TRUTH)
    assert (none["completeness"], none["reduction"]) == (0.0, 1.0)
    every = dedupe.candidate_scores([(a, b) for a in range(6) for b in range(a + 1, 6)], TRUTH)
    assert (every["completeness"], every["quality"], every["reduction"]) == (1.0, 4 / 15, 0.0)


def test_changes_are_scored_against_the_entity_s_first_record():
    truth = [(0, ""), (0, "street_typo"), (0, "street_typo+city"), (1, ""), (1, "city")]
    scores = dedupe.change_scores([5, 5, 6, 7, 7], truth)
    assert scores == {"street_typo": [1, 1, 1, 0], "city": [1, 1, 1, 0]}


def test_same_partition_ignores_the_labels():
    assert dedupe.same_partition([1, 1, 2, 3], [9, 9, 4, 5])
    assert not dedupe.same_partition([1, 1, 2, 3], [9, 9, 9, 5])
    assert not dedupe.same_partition([1, 2, 2, 3], [9, 9, 4, 5])
