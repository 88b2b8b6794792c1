"""The de-duplication bench's own pieces: the record generator, the scores
and the harness, which would otherwise mislead quietly (bench/dedupe_data.py,
bench/febrl.py, bench/dedupe.py)."""
import collections
import csv
import io
import os
import subprocess
import sys

import pytest

# The generator draws from Faker, the scores are counted in DuckDB and the
# harness runs Splink: the test environment installs them where the
# de-duplication runs, Python 3.10 and newer; there a missing one fails.
sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "bench"))
import dedupe  # noqa: E402
import dedupe_data  # noqa: E402
import duckdb  # noqa: E402
import febrl  # noqa: E402

# The bench's own Python: the memcheck run leaves it out.
pytestmark = pytest.mark.pure_python

_made = {}


def generated(kind, records, seed, window=100000):
    key = (kind, records, seed, window)
    if key not in _made:
        out, truth = io.StringIO(), io.StringIO()
        entities = dedupe_data.generate(kind, records, seed, out, truth, window)
        _made[key] = out.getvalue(), truth.getvalue(), entities
    return _made[key]


def rows_of(kind, records, seed, window=100000):
    """[(record as a dict, entity, changes)] of a generated file."""
    data, truth, _ = generated(kind, records, seed, window)
    rows = list(csv.DictReader(io.StringIO(data)))
    truths = list(csv.DictReader(io.StringIO(truth)))
    return [(row, int(item["entity"]), item["changes"]) for row, item in zip(rows, truths)]


@pytest.mark.parametrize("kind", ["places", "persons"])
def test_the_same_seed_gives_the_same_records(kind):
    generated(kind, 3000, 7, 1000)
    # Made afresh, Faker's pools too: no state carries over from a run.
    dedupe_data.faker_pools.cache_clear()
    out, truth = io.StringIO(), io.StringIO()
    dedupe_data.generate(kind, 3000, 7, out, truth, 1000)
    assert (out.getvalue(), truth.getvalue()) == generated(kind, 3000, 7, 1000)[:2]
    assert generated(kind, 3000, 7, 1000)[0] != generated(kind, 3000, 8, 1000)[0]


def test_the_same_seed_gives_the_same_records_in_every_process(tmp_path):
    """Whatever the interpreter's string hashing (PYTHONHASHSEED differs
    from run to run): nothing drawn may depend on the order of a set."""
    script = os.path.join(os.path.dirname(__file__), os.pardir, "bench", "dedupe_data.py")
    files = []
    for hash_seed in ("1", "2"):
        path = str(tmp_path / ("%s.csv" % hash_seed))
        subprocess.run([sys.executable, script, "--kind", "persons", "--records", "3000", "--seed", "4", "--out", path],
                       check=True, env=dict(os.environ, PYTHONHASHSEED=hash_seed), timeout=300)
        with open(path, encoding="utf-8") as made:
            files.append(made.read())
    assert files[0] == files[1]


@pytest.mark.parametrize("kind", ["places", "persons"])
@pytest.mark.parametrize("records, window", [(0, 100), (1, 100), (999, 100), (1000, 64), (1000, 100000)])
def test_as_many_records_as_asked_each_with_its_truth(kind, records, window):
    data, truth, entities = generated(kind, records, 3, window)
    rows = list(csv.reader(io.StringIO(data)))
    truths = list(csv.reader(io.StringIO(truth)))
    assert rows[0] == dedupe_data.header(kind) and truths[0] == ["id", "entity", "changes"]
    assert len(rows) == len(truths) == records + 1
    assert len(data.splitlines()) == records + 1  # no field holds a line break
    # Record id is on line id + 2: the bench maps results back so.
    assert [row[0] for row in rows[1:]] == [str(n) for n in range(records)]
    assert [row[0] for row in truths[1:]] == [str(n) for n in range(records)]
    assert all(len(row) == len(rows[0]) for row in rows)
    # Each entity has one record as made, the others changed, all in one window.
    firsts = collections.Counter(int(row[1]) for row in truths[1:] if not row[2])
    assert set(firsts) == set(int(row[1]) for row in truths[1:]) and set(firsts.values()) <= {1}
    assert len(firsts) <= entities
    windows = collections.defaultdict(set)
    for row in truths[1:]:
        windows[int(row[1])].add(int(row[0]) // window)
    assert all(len(seen) == 1 for seen in windows.values())


def test_read_truth_takes_either_file(tmp_path):
    with open(str(tmp_path / "data.csv"), "w", newline="") as out:
        dedupe_data.generate("places", 50, 1, out)
    with open(str(tmp_path / "apart.csv"), "w", newline="") as out, \
            open(str(tmp_path / "truth.csv"), "w", newline="") as truth:
        dedupe_data.generate("places", 50, 1, out, truth)
    together = dedupe_data.read_truth(str(tmp_path / "data.csv"))
    apart = dedupe_data.read_truth(str(tmp_path / "truth.csv"))
    assert [entity for entity, _ in together] == [entity for entity, _ in apart] and len(apart) == 50


@pytest.mark.parametrize("locale, base, kind, form, written", [
    ("en_US", "Main", 0, 0, "Main Street"),
    ("en_US", "Main", 0, 1, "Main St"),
    ("en_GB", "Station", 0, 1, "Station Rd"),
    ("de_DE", "Goethe", 0, 0, "Goethestraße"),
    ("de_DE", "Goethe", 0, 1, "Goethestr."),
    ("de_DE", "Konrad Adenauer", 0, 1, "Konrad Adenauer Str."),
    ("fr_FR", "Victor Hugo", 0, 0, "rue Victor Hugo"),
    ("fr_FR", "Victor Hugo", 2, 1, "bd Victor Hugo"),
    ("es_ES", "Mayor", 0, 1, "C/ Mayor"),
    ("it_IT", "Roma", 3, 1, "C.so Roma"),
    ("nl_NL", "Kerk", 0, 0, "Kerkstraat"),
    ("pt_BR", "Augusta", 0, 1, "R. Augusta"),
    ("es_ES", "Mayor", 0, None, "Mayor"),
])
def test_streets_are_written_as_their_language_writes_them(locale, base, kind, form, written):
    record = dedupe_data.Record()
    record.locale, record.base, record.kind, record.form, record.street_text = locale, base, kind, form, None
    assert record.street() == written


def one_edit(a, b):
    """Whether b is a one keystroke from a: an insertion, a deletion, a
    replacement or two neighbours swapped."""
    if a == b:
        return False
    if len(a) == len(b):
        diff = [at for at in range(len(a)) if a[at] != b[at]]
        return len(diff) == 1 or (len(diff) == 2 and diff[1] == diff[0] + 1 and a[diff[0]] == b[diff[1]]
                                  and a[diff[1]] == b[diff[0]])
    if abs(len(a) - len(b)) != 1:
        return False
    short, long_ = (a, b) if len(a) < len(b) else (b, a)
    return any(long_[:at] + long_[at + 1:] == short for at in range(len(long_)))


def street_core(street):
    """A street without its type, in whichever language's form it is written."""
    for _, types in dedupe_data.STREET_TYPES.values():
        for full, short, _ in types:
            for form in [full] + short:
                if street.lower().startswith(form.lower() + " "):
                    return street[len(form) + 1:]
                if street.lower().endswith(" " + form.lower()):
                    return street[:-len(form) - 1]
    for locale in ("de_DE", "nl_NL"):
        for full, short, _ in sorted(dedupe_data.STREET_TYPES[locale][1], key=lambda item: -len(item[0])):
            for form in [full] + short:
                if street.lower().endswith(form.lower()) and len(street) > len(form):
                    return street[:-len(form)]
    return street


def only_street_type_changed(first, copy):
    """The type written another way in its language, left out, or mistyped."""
    a, b = first["street"], copy["street"]
    return a != b and (street_core(a) == street_core(b) or street_core(a) == b or one_edit(a, b))


def one_of_the_names_typed_wrong(first, copy, kind):
    columns = ["given", "surname"] if kind == "persons" else ["name"]
    changed = [column for column in columns if first[column] != copy[column]]
    return len(changed) == 1 and one_edit(first[changed[0]], copy[changed[0]])


def another_form_of_a_name(a, b):
    """A venue's name without its legal form or its kind, with its kind
    added, or its joining word or hyphen written another way."""
    if a == b:
        return False
    if a.startswith(b + " ") or b.startswith(a + " ") or a.endswith(" " + b) or a.replace("-", " ", 1) == b:
        return True
    words_a, words_b = a.split(" "), b.split(" ")
    changed = [(x, y) for x, y in zip(words_a, words_b) if x != y]
    return len(words_a) == len(words_b) and len(changed) == 1 and set(changed[0]) <= set(dedupe_data.AND_WORDS)


# change: what a duplicate changed by it alone shows against its entity's
# first record (the other columns unchanged).
CHANGES = {
    "name_typo": (("name", "given", "surname"), one_of_the_names_typed_wrong),
    "street_typo": (("street",), lambda a, b, kind: one_edit(a["street"], b["street"])),
    "street_type": (("street",), lambda a, b, kind: only_street_type_changed(a, b)),
    "number_typo": (("number",), lambda a, b, kind: b["number"] != "" and (
        one_edit(a["number"], b["number"]))),
    "number_missing": (("number",), lambda a, b, kind: a["number"] and b["number"] == ""),
    "number_in_street": (("number", "street"), lambda a, b, kind: b["number"] == "" and b["street"] in (
        a["number"] + " " + a["street"], a["street"] + " " + a["number"])),
    "name_form": (("name", "given"), lambda a, b, kind: (
        b["given"] == a["given"][0] + "." if kind == "persons" else another_form_of_a_name(a["name"], b["name"]))),
    "swap": (("given", "surname", "number", "unit"), lambda a, b, kind: (
        (b["given"], b["surname"]) == (a["surname"], a["given"]) or (b["number"], b["unit"]) == (a["unit"],
                                                                                              a["number"]))),
    "unit": (("unit",), lambda a, b, kind: a["unit"] != b["unit"] and (
        b["unit"] == "" or a["unit"].split(" ")[-1].lstrip("#") == b["unit"].split(" ")[-1].lstrip("#"))),
    "postcode": (("zip",), lambda a, b, kind: b["zip"] == "" or one_edit(a["zip"], b["zip"]) or b["zip"] == (
        a["zip"].replace(" ", "").replace("-", ""))),
    "town": (("town",), lambda a, b, kind: b["town"] == "" or one_edit(a["town"], b["town"]) or (
        b["town"].lower() == a["town"].lower() != b["town"])),
    "capitals": (("name", "given", "surname", "street", "town"), lambda a, b, kind: all(
        b[column] == a[column].upper() for column in ("name", "given", "surname", "town") if column in a) and
        b["street"].isupper()),
}


@pytest.mark.parametrize("kind", ["places", "persons"])
def test_each_change_does_what_it_says(kind):
    rows = rows_of(kind, 6000, 1)
    firsts = {entity: row for row, entity, changes in rows if not changes}
    seen = collections.Counter()
    for row, entity, changes in rows:
        if not changes or "+" in changes:
            continue
        columns, holds = CHANGES[changes]
        first = firsts[entity]
        assert holds(first, row, kind), (changes, first, row)
        untouched = [column for column in row if column not in columns + ("id",)]
        assert [row[column] for column in untouched] == [first[column] for column in untouched], (changes, first, row)
        seen[changes] += 1
    expected = set(CHANGES) - ({"swap", "unit"} if kind == "places" else set())
    assert set(seen) == expected


@pytest.mark.parametrize("kind", ["places", "persons"])
def test_duplicates_are_made_and_changed(kind):
    rows = rows_of(kind, 6000, 1)
    by_entity = collections.defaultdict(list)
    for row, entity, changes in rows:
        by_entity[entity].append((dict(row, id=None), changes))
    with_copies = [records for records in by_entity.values() if len(records) > 1]
    assert 0.2 < len(with_copies) / len(by_entity) < 0.4
    for records in with_copies:
        first = [fields for fields, changes in records if not changes][0]
        for fields, changes in records:
            if changes:
                assert fields != first and 1 <= len(changes.split("+")) <= 3


def test_records_speak_several_languages():
    """Street types of each language, written in full and abbreviated: what
    libpostal's expansions are measured on."""
    streets = [row["street"] for row, _, _ in rows_of("places", 6000, 1)]
    for forms in [("straße",), ("str.",), ("rue ",), ("r. ",), ("Calle ",), ("C/ ",), ("Via ",), ("V. ",),
                  ("straat",), ("Rua ",), ("R. ",), (" Street", " Road"), (" St", " Rd")]:
        assert any(form in street for street in streets for form in forms), forms


def test_towns_grow_with_the_records():
    def towns(records):
        # A town is its name in its postcodes: towns of one name are told apart.
        return len(set((row["town"], row["zip"]) for row, _, changes in rows_of("places", records, 1)
                       if not changes)), len(set(row["town"] for row, _, changes in rows_of("places", records, 1)
                                                 if not changes))

    small, large = towns(2000), towns(60000)
    assert small[1] <= 15 and large[1] > 3 * small[1] and large[0] > 3 * small[0]


@pytest.mark.parametrize("kind", ["places", "persons"])
def test_distinct_entities_crowd_together(kind):
    """Blocking and the model must have work to do: distinct entities at one
    address, namesakes, busy streets; households and chains."""
    firsts = [row for row, _, changes in rows_of(kind, 6000, 2) if not changes]
    addresses = collections.Counter((row["number"], row["street"], row["zip"]) for row in firsts)
    streets = collections.Counter((row["street"], row["zip"]) for row in firsts)
    assert sum(count for count in addresses.values() if count > 1) > len(firsts) * 0.05
    assert max(streets.values()) >= 10
    if kind == "persons":
        names = collections.Counter((row["given"], row["surname"]) for row in firsts)
        households = collections.Counter((row["surname"], row["number"], row["street"], row["zip"])
                                         for row in firsts)
        assert sum(count for count in households.values() if count > 1) > len(firsts) * 0.03
    else:
        names = collections.Counter(row["name"] for row in firsts)
        # Chains: one name at many addresses.
        assert max(names.values()) >= 20
    assert sum(count for count in names.values() if count > 1) > len(firsts) * 0.05


# Scores on clusterings small enough to count by hand.  Truth: entities
# {0, 1, 2}, {3, 4}, {5}: 3 + 1 = 4 true pairs.
TRUTH = [10, 10, 10, 20, 20, 30]


def scored(clusters, pairs=None, truth=TRUTH):
    connection = duckdb.connect()
    connection.execute("CREATE TABLE bench_truth (id BIGINT, entity BIGINT)")
    connection.executemany("INSERT INTO bench_truth VALUES (?, ?)", list(enumerate(truth)))
    connection.execute("CREATE TABLE bench_clusters (id BIGINT, cluster BIGINT)")
    connection.executemany("INSERT INTO bench_clusters VALUES (?, ?)", list(enumerate(clusters)))
    if pairs is not None:
        connection.execute("CREATE TABLE compared (unique_id_l BIGINT, unique_id_r BIGINT)")
        if pairs:
            connection.executemany("INSERT INTO compared VALUES (?, ?)", pairs)
    return dedupe.scores(connection, predictions="compared" if pairs is not None else None)


@pytest.mark.parametrize("clusters, predicted, correct, precision, recall, largest", [
    ([7, 7, 7, 9, 9, 8], 4, 4, 1.0, 1.0, 3),
    ([1] * 6, 15, 4, 4 / 15, 1.0, 6),
    (list(range(6)), 0, 0, 1.0, 0.0, 1),
    # {0, 1} {2, 3, 4} {5}: right 0-1 and 3-4, wrong 2-3 and 2-4.
    ([1, 1, 2, 2, 2, 3], 4, 2, 0.5, 0.5, 3),
])
def test_pairwise_scores(clusters, predicted, correct, precision, recall, largest):
    scores = scored(clusters)
    assert (scores["predicted_pairs"], scores["true_pairs"], scores["correct_pairs"]) == (predicted, 4, correct)
    assert scores["precision"] == pytest.approx(precision) and scores["recall"] == pytest.approx(recall)
    f1 = 2 * precision * recall / (precision + recall) if precision + recall else 0.0
    assert scores["f1"] == pytest.approx(f1) and scores["largest"] == largest


def test_clusters_and_truth_must_line_up():
    with pytest.raises(ValueError):
        scored([1, 2])


@pytest.mark.parametrize("pairs, compared, found", [
    # 0-1, 1-2 and 3-4 are true; 2-5 is not; 1-0 and 0-1 again count once; 4-4 is no pair.
    ([(0, 1), (1, 2), (3, 4), (2, 5), (1, 0), (0, 1), (4, 4)], 4, 3),
    ([], 0, 0),
    ([(a, b) for a in range(6) for b in range(a + 1, 6)], 15, 4),
])
def test_pairs_completeness(pairs, compared, found):
    scores = scored([1, 2, 3, 4, 5, 6], pairs)
    assert (scores["compared"], scores["true_compared"], scores["completeness"]) == (compared, found, found / 4)


@pytest.mark.parametrize("count, pairs, entities", [
    (5, [(0, 1), (1, 2), (4, 3)], [0, 0, 0, 3, 3]),
    (4, [(3, 0), (2, 1), (1, 3)], [0, 0, 0, 0]),
    (3, [], [0, 1, 2]),
])
def test_febrl_pairs_make_entities(count, pairs, entities):
    assert febrl.entities(count, pairs) == entities


def test_febrl2_is_read_whole():
    out, truth = io.StringIO(), io.StringIO()
    assert febrl.write(out, truth) == (5000, 1934)
    rows = list(csv.DictReader(io.StringIO(out.getvalue())))
    entities = collections.Counter(row["entity"] for row in csv.DictReader(io.StringIO(truth.getvalue())))
    assert len(rows) == 5000 and sum(n * (n - 1) // 2 for n in entities.values()) == 1934
    assert "date_of_birth" not in rows[0] and "soc_sec_id" not in rows[0]
    assert sum(1 for row in rows if row["surname"] and row["postcode"]) > 4500


def test_the_harness_runs_and_its_check_fails_below_the_bar(tmp_path, capsys):
    """On whatever libpostal the environment gives (the test double in CI):
    both runs of a data set, and --check exiting 1 when an F1 is below the
    bar (no F1 reaches 1.01)."""
    status = dedupe.main(["--records", "300", "--data", "places", "--jobs", "2", "--check", "--min-f1", "1.01",
                          "--work", str(tmp_path)])
    out = capsys.readouterr().out
    assert status == 1 and "check failed: places-300: F1" in out
    rows = [line for line in out.splitlines() if line.startswith("| places-300 |")]
    assert [row.split(" | ")[2] for row in rows] == ["yes", "no"]


@pytest.mark.parametrize("with_libpostal, without, failed", [
    (0.95, 0.90, []),
    (0.95, None, []),                 # no run without libpostal: the bar alone
    (0.95, 0.95, []),                 # as good as without is enough
    (0.85, 0.90, ["below 0.9000 without libpostal"]),
    (0.895, 0.90, []),                # within the tolerance
    (0.70, 0.60, ["F1 0.7000 < 0.8000"]),
])
def test_the_check_fails_below_the_bar_or_below_the_model_without_libpostal(with_libpostal, without, failed):
    rows = [{"data": "persons-3000", "libpostal": True, "f1": with_libpostal},
            {"data": "places-3000", "libpostal": True, "f1": 0.99}, {"data": "places-3000", "libpostal": False, "f1": 0.5}]
    if without is not None:
        rows.append({"data": "persons-3000", "libpostal": False, "f1": without})
    found = dedupe.check_failures(rows, 0.8, tolerance=0.01)
    assert len(found) == len(failed) and all(text in message and message.startswith("persons-3000: ")
                                             for text, message in zip(failed, found))
