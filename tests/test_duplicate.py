"""The duplicate classifiers on the double: what each sends libpostal, what it
gives back, how it refuses bad arguments, and that no path leaks."""
import inspect
import pickle

import pytest

import addrnorm
from addrnorm import DuplicateStatus, _duplicate
from awkward import ChangingLength, Failing, LyingLength
from heap import LEAK_LIMIT, OWN_ALLOCATOR, calling, exhausted_heap, heap_growth

FIELDS = ["name", "street", "house_number", "po_box", "unit", "floor", "postal_code"]
FUZZY = ["name", "street"]
# libpostal 1.1.3's libpostal_duplicate_status_t, value by value.
STATUSES = [(-1, "NULL"), (0, "NON"), (3, "POSSIBLE_NEEDS_REVIEW"), (6, "LIKELY"), (9, "EXACT")]


def field_function(field):
    return getattr(addrnorm, "is_%s_duplicate" % field)


def fuzzy_function(field):
    return getattr(addrnorm, "is_%s_duplicate_fuzzy" % field)


def test_the_statuses_are_libpostals():
    assert [(member.value, member.name) for member in DuplicateStatus] == STATUSES


@pytest.mark.parametrize("field", FIELDS)
@pytest.mark.parametrize("languages", [None, ["en"], ("de", "fr", "nld")])
def test_a_field_sends_both_values_and_the_codes(double, field, languages):
    assert field_function(field)("Main St", "Elm Street", languages) is DuplicateStatus.NON
    received = double.last_call()
    assert received.function == "libpostal_is_%s_duplicate" % field
    assert [side["values"] for side in received.sides] == [["Main St"], ["Elm Street"]]
    assert received.languages == list(languages or [])
    assert field_function(field)(value2="Straße 5", value1="Straße 5") is DuplicateStatus.EXACT
    assert [side["values"] for side in double.last_call().sides] == [["Straße 5"], ["Straße 5"]]


@pytest.mark.parametrize("value, name", STATUSES)
def test_every_function_gives_libpostals_status_as_its_member(double, value, name):
    double.set_duplicate_result(value, 0.25)
    results = [field_function(field)("a", "b") for field in FIELDS]
    results.append(addrnorm.is_toponym_duplicate(["city"], ["a"], ["city"], ["b"]))
    assert all(result is DuplicateStatus[name] for result in results)
    for field in FUZZY:
        assert fuzzy_function(field)(["a"], [1.0], ["b"], [1.0]) == (DuplicateStatus[name], 0.25)
        assert fuzzy_function(field)(["a"], [1.0], ["b"], [1.0])[0] is DuplicateStatus[name]
    # The extension module gives the plain int.
    assert type(_duplicate.is_unit_duplicate("a", "b")) is int and _duplicate.is_unit_duplicate("a", "b") == value


def test_a_value_is_sent_up_to_its_first_nul(double):
    addrnorm.is_name_duplicate("Whole\0 Foods", "Whole Foods")
    assert [side["values"] for side in double.last_call().sides] == [["Whole"], ["Whole Foods"]]


def test_a_toponym_sends_both_records(double):
    labels1, values1 = ["city", "state", "country"], ["Brooklyn", "NY", "US"]
    labels2, values2 = ("city_district", "country"), ("Brooklyn", "United States")
    status = addrnorm.is_toponym_duplicate(labels1, values1, labels2, values2, ["en", "es"])
    assert status is DuplicateStatus.NON
    received = double.last_call()
    assert received.function == "libpostal_is_toponym_duplicate"
    assert received.sides[0]["labels"] == labels1 and received.sides[0]["values"] == values1
    assert received.sides[1]["labels"] == list(labels2) and received.sides[1]["values"] == list(values2)
    assert received.languages == ["en", "es"]
    assert addrnorm.is_toponym_duplicate(labels1, values1, list(labels1), values1) is DuplicateStatus.EXACT


@pytest.mark.parametrize("sides", [([], [], ["city"], ["x"]), (["city"], ["x"], (), ()), ([], [], [], [])],
                         ids=["first-empty", "second-empty", "both-empty"])
def test_a_record_with_no_fields_is_null_without_asking_libpostal(double, sides):
    # libpostal builds no place from an empty record, then reads its city.
    calls = double.counters()["calls"]
    assert addrnorm.is_toponym_duplicate(*sides) is DuplicateStatus.NULL
    assert double.counters()["calls"] == calls


@pytest.mark.parametrize("field", FUZZY)
def test_fuzzy_sends_tokens_scores_and_libpostals_default_thresholds(double, field):
    # Defaults unlike the real library's, so that thresholds written into the
    # binding in place of libpostal's own would show.
    double.set_fuzzy_default_thresholds(0.125, 0.375)
    result = fuzzy_function(field)(["whole", "foods"], [0.5, 2], ("whole", "foods", "market"), (1, True, 0.25))
    assert result == (DuplicateStatus.NON, 0.0)
    received = double.last_call()
    assert received.function == "libpostal_is_%s_duplicate_fuzzy" % field
    assert [(side["values"], side["scores"]) for side in received.sides] == [
        (["whole", "foods"], [0.5, 2.0]), (["whole", "foods", "market"], [1.0, 1.0, 0.25])]
    assert received.thresholds == (0.125, 0.375) and received.languages == []
    fuzzy_function(field)(["a"], [1.0], ["a"], [1.0], ["en", "fr"])
    assert double.last_call().thresholds == (0.125, 0.375) and double.last_call().languages == ["en", "fr"]


@pytest.mark.parametrize("field", FUZZY)
@pytest.mark.parametrize("given, sent", [
    ({"needs_review_threshold": 0.5}, (0.5, 0.9)),
    ({"likely_dupe_threshold": 0.75}, (0.7, 0.75)),
    ({"needs_review_threshold": 1, "likely_dupe_threshold": -2.5}, (1.0, -2.5)),
])
def test_each_threshold_given_replaces_its_default_only(double, field, given, sent):
    assert double.fuzzy_default_thresholds() == (0.7, 0.9)
    assert fuzzy_function(field)(["a"], [1.0], ["a"], [1.0], ["en"], **given) == (DuplicateStatus.EXACT, 1.0)
    assert double.last_call().thresholds == sent
    _duplicate.is_name_duplicate_fuzzy(["a"], [1.0], ["a"], [1.0], None, *(given.get(name, default) for name, default in
                                       (("needs_review_threshold", 0.7), ("likely_dupe_threshold", 0.9))))
    assert double.last_call().thresholds == sent


def test_the_similarity_comes_back_exactly(double):
    double.set_duplicate_result(6, 0.1 + 0.2)
    status, similarity = addrnorm.is_street_duplicate_fuzzy(["main"], [1.0], ["main", "st"], [1.0, 0.1])
    assert status is DuplicateStatus.LIKELY and similarity == 0.1 + 0.2 and type(similarity) is float


@pytest.mark.parametrize("field", FUZZY)
@pytest.mark.parametrize("sides", [([], [], ["a"], [1.0]), (["a"], [1.0], [], []), ((), (), (), ())],
                         ids=["first-empty", "second-empty", "both-empty"])
def test_a_side_with_no_tokens_is_null_without_asking_libpostal(double, field, sides):
    # libpostal counts no tokens as all of them matching: a street with none
    # would be a likely duplicate of every street.
    calls = double.counters()["calls"]
    assert fuzzy_function(field)(*sides) == (DuplicateStatus.NULL, 0.0)
    assert double.counters()["calls"] == calls


class Score:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        if isinstance(self.value, Exception):
            raise self.value
        return self.value


def test_scores_are_any_real_numbers(double):
    addrnorm.is_name_duplicate_fuzzy(["a", "b", "c"], [Score(0.5), 7, float("inf")], ["a"], [-0.0])
    assert [side["scores"] for side in double.last_call().sides] == [[0.5, 7.0, float("inf")], [-0.0]]


class Clearing:
    """A score whose conversion empties the list that holds it."""

    def __init__(self, holder):
        self.holder = holder

    def __float__(self):
        del self.holder[:]
        return 0.5


def test_a_list_of_scores_changed_while_it_is_read_is_read_as_it_was(double):
    scores = [1.0, None, 2.0, 3.0]
    scores[1] = Clearing(scores)
    addrnorm.is_name_duplicate_fuzzy(["a", "b", "c", "d"], scores, ["a"], [1.0])
    assert double.last_call().sides[0]["scores"] == [1.0, 0.5, 2.0, 3.0] and scores == []


F = _duplicate
# (call, exception, message): each refused before libpostal is asked.
REFUSED = [
    (lambda: F.is_name_duplicate("a"), TypeError, "value2"),
    (lambda: F.is_floor_duplicate("a", "b", None, 4), TypeError, "is_floor_duplicate"),
    (lambda: F.is_street_duplicate("a", None), TypeError, "Parameter must be bytes or unicode"),
    (lambda: F.is_street_duplicate(5, "a"), TypeError, "Parameter must be bytes or unicode"),
    (lambda: F.is_unit_duplicate("a", b"a"), TypeError, "could not be converted to unicode"),
    (lambda: F.is_po_box_duplicate("\ud800", "a"), UnicodeEncodeError, "surrogates not allowed"),
    (lambda: F.is_postal_code_duplicate("a", "b\udfff"), UnicodeEncodeError, "surrogates not allowed"),
    (lambda: F.is_house_number_duplicate("1", "1", ["en", "engl"]), TypeError, "exceeded maximum length"),
    (lambda: F.is_house_number_duplicate("1", "1", ["en", 5]), TypeError, "all elements must be strings"),
    (lambda: F.is_toponym_duplicate("city", ["x"], ["city"], ["x"]), TypeError, "labels1 must be a sequence of str"),
    (lambda: F.is_toponym_duplicate(["city"], b"x", ["city"], ["x"]), TypeError, "values1 must be"),
    (lambda: F.is_toponym_duplicate(["city"], ["x"], {"city"}, ["x"]), TypeError, "labels2 must be"),
    (lambda: F.is_toponym_duplicate(["city"], ["x"], ["city"], None), TypeError, "values2 must be"),
    (lambda: F.is_toponym_duplicate(["city", "state"], ["x"], ["city"], ["x"]), ValueError,
     "labels1 and values1 must be of equal length (2 and 1)"),
    (lambda: F.is_toponym_duplicate(["city"], ["x"], [], ["x"]), ValueError, "labels2 and values2"),
    (lambda: F.is_toponym_duplicate(["city"], ["x"], ["city"], [5]), TypeError, "all elements must be strings"),
    (lambda: F.is_toponym_duplicate(["city"], ["\ud800"], ["city"], ["x"]), TypeError, "all elements must be strings"),
    (lambda: F.is_toponym_duplicate(["city"], ["x"], ["city"], ["x"], ["toolong"]), TypeError, "maximum length"),
    (lambda: F.is_toponym_duplicate(LyingLength(["city"], 2), ["x", "y"], ["city"], ["x"]), TypeError,
     "sequence length does not match its items"),
    (lambda: F.is_toponym_duplicate(Failing("len"), ["x", "y"], ["city"], ["x"]), ValueError, "broken sequence"),
    (lambda: F.is_name_duplicate_fuzzy("ab", [1, 2], ["a"], [1]), TypeError, "tokens1 must be a sequence of str"),
    (lambda: F.is_name_duplicate_fuzzy(["a"], 1.0, ["a"], [1]), TypeError, "scores1 must be a sequence of numbers"),
    (lambda: F.is_name_duplicate_fuzzy(["a"], [1], iter(["a"]), [1]), TypeError, "tokens2 must be"),
    (lambda: F.is_name_duplicate_fuzzy(["a"], [1], ["a"], b"\x01"), TypeError, "scores2 must be"),
    (lambda: F.is_street_duplicate_fuzzy(["a", "b"], [1], ["a"], [1]), ValueError,
     "tokens1 and scores1 must be of equal length (2 and 1)"),
    (lambda: F.is_street_duplicate_fuzzy(["a"], [1], ["a"], [1, 2]), ValueError, "tokens2 and scores2"),
    (lambda: F.is_street_duplicate_fuzzy(["a"], ["1"], ["a"], [1]), TypeError, "all scores must be numbers"),
    (lambda: F.is_street_duplicate_fuzzy(["a"], [1], ["a"], [None]), TypeError, "all scores must be numbers"),
    # A score's own error is its own, not a type error.
    (lambda: F.is_street_duplicate_fuzzy(["a"], [1], ["a"], [Score(ValueError("no score"))]), ValueError, "no score"),
    (lambda: F.is_name_duplicate_fuzzy(["a"], [1], [b"a"], [1]), TypeError, "all elements must be strings"),
    (lambda: F.is_name_duplicate_fuzzy(["\udc80"], [1], ["a"], [1]), TypeError, "all elements must be strings"),
    (lambda: F.is_name_duplicate_fuzzy(["a"], LyingLength([1.0], 2), ["a", "b"], [1, 2]), ValueError,
     "tokens1 and scores1 must be of equal length"),
    (lambda: F.is_name_duplicate_fuzzy(["a", "b"], LyingLength([1.0], 2), ["a"], [1]), TypeError,
     "sequence length does not match its items"),
    (lambda: F.is_name_duplicate_fuzzy(["a"], [1], ["a"], [1], None, "0.5"), TypeError, "must be real number"),
    (lambda: F.is_street_duplicate_fuzzy(["a"], [1], ["a"], [1], likely_dupe_threshold=None), TypeError,
     "must be real number"),
    (lambda: F.is_street_duplicate_fuzzy(["a"], [1], ["a"], [1], ["en", "x" * 4]), TypeError, "maximum length"),
    (lambda: addrnorm.is_name_duplicate("a", "b", "en"), TypeError, "not the str"),
    (lambda: addrnorm.is_toponym_duplicate(["city"], ["x"], ["city"], ["x"], ["EN"]), ValueError,
     "is not a language code"),
    (lambda: addrnorm.is_name_duplicate_fuzzy(["a"], [1], ["a"], [1], ["en-US"]), ValueError,
     "is not a language code"),
]


@pytest.mark.parametrize("call, error, message", REFUSED, ids=range(len(REFUSED)))
def test_bad_arguments_are_refused_before_libpostal_is_asked(double, call, error, message):
    calls = double.counters()["calls"]
    with pytest.raises(error) as raised:
        call()
    assert message in str(raised.value)
    assert double.counters()["calls"] == calls


def test_the_first_failing_check_wins(double):
    # Types of all four sequences before any length, lengths before any
    # element, languages before the sides, side 1 before side 2.
    with pytest.raises(TypeError, match="scores2 must be"):
        F.is_name_duplicate_fuzzy(["a", "b"], [1], ["a"], None)
    with pytest.raises(ValueError, match="tokens2 and scores2"):
        F.is_name_duplicate_fuzzy(["a"], ["x"], ["a", 5], [1], ["engl"])
    with pytest.raises(TypeError, match="maximum length"):
        F.is_name_duplicate_fuzzy(["a"], ["x"], ["a"], [1], ["engl"])
    with pytest.raises(TypeError, match="all scores must be numbers"):
        F.is_name_duplicate_fuzzy(["a"], ["x"], [5], [1])
    with pytest.raises(TypeError, match="labels2 must be"):
        F.is_toponym_duplicate(["city", "state"], ["x"], "city", ["x"])


def test_the_package_functions_show_their_signatures_and_pickle_by_name():
    for field in FIELDS:
        function = field_function(field)
        assert list(inspect.signature(function).parameters) == ["value1", "value2", "languages"]
        assert pickle.loads(pickle.dumps(function)) is function and "libpostal" not in function.__name__
        assert function.__name__ in addrnorm.__all__ and function.__doc__
    for field in FUZZY:
        function = fuzzy_function(field)
        parameters = inspect.signature(function).parameters
        assert list(parameters) == ["tokens1", "scores1", "tokens2", "scores2", "languages",
                                    "needs_review_threshold", "likely_dupe_threshold"]
        assert repr(parameters["likely_dupe_threshold"].default) == "<libpostal's default>"
        assert pickle.loads(pickle.dumps(function)) is function and function.__name__ in addrnorm.__all__
    assert list(inspect.signature(addrnorm.is_toponym_duplicate).parameters) == [
        "labels1", "values1", "labels2", "values2", "languages"]
    assert [name for name in vars(_duplicate) if not name.startswith("__")] == [
        "is_%s_duplicate" % field for field in FIELDS] + ["is_toponym_duplicate"] + [
        "is_%s_duplicate_fuzzy" % field for field in FUZZY]


def test_the_package_sets_the_library_up_on_the_first_classification(python):
    result = python("""
        import addrnorm
        before = [double.counters()['setup'], 'addrnorm._duplicate' in sys.modules]
        status = addrnorm.is_postal_code_duplicate('11216', '11216')
        print(json.dumps([before, int(status), double.counters()['setup'], double.counters()['classifier_setup']]))
    """)
    assert result == [[0, False], 9, 1, 1]


LONG = "Avenue des Champs-Élysées " * 40
TOKENS = ["whole", "foods", "market", LONG]
PATHS = [
    ("field", calling(F.is_street_duplicate, LONG, "Main St")),
    ("field with codes", calling(F.is_name_duplicate, "Acme", LONG, ["en", "fr", "de"])),
    ("field: second value refused", calling(F.is_unit_duplicate, LONG, "\ud800")),
    ("field: codes refused", calling(F.is_floor_duplicate, LONG, LONG, ["en", "fr", 5])),
    ("toponym", calling(F.is_toponym_duplicate, ["city", "state"], [LONG, "NY"], ["city"], ["x"], ["en"])),
    ("toponym: empty side", calling(F.is_toponym_duplicate, ["city"], [LONG], [], [], ["en"])),
    ("toponym: second values refused", calling(F.is_toponym_duplicate, ["city"], [LONG], ["city", "x"], [LONG, 5])),
    ("toponym: lying labels", calling(F.is_toponym_duplicate, ["city"], [LONG], LyingLength(["city"], 2), ["a", "b"])),
    ("fuzzy", calling(F.is_name_duplicate_fuzzy, TOKENS, [1.0] * 4, TOKENS[:2], [0.5, 0.5], ["en", "fr"], 0.5, 0.8)),
    ("fuzzy: empty side", calling(F.is_street_duplicate_fuzzy, TOKENS, [1] * 4, [], [])),
    ("fuzzy: second scores refused", calling(F.is_street_duplicate_fuzzy, TOKENS, [1] * 4, ["a", "b"], [1, "x"])),
    ("fuzzy: second tokens refused", calling(F.is_name_duplicate_fuzzy, TOKENS, [1] * 4, [LONG, 5], [1, 2], ["en"])),
    ("fuzzy: lying tokens", calling(F.is_name_duplicate_fuzzy, TOKENS, [1] * 4, LyingLength([LONG], 2), [1, 2])),
    ("fuzzy: lying scores", calling(F.is_name_duplicate_fuzzy, TOKENS, LyingLength([1.0] * 3, 4), ["a"], [1])),
    # Lengths that agree when measured and differ once read: the mismatch
    # is found with the side's arrays made.
    ("toponym: second labels grow", calling(lambda: F.is_toponym_duplicate(
        ["city"], [LONG], ChangingLength(["city", "state"], [1, 2]), ["x"], ["en"]))),
    ("fuzzy: first scores grow", calling(lambda: F.is_street_duplicate_fuzzy(
        TOKENS[:2], ChangingLength([1, 2, 3], [2, 3]), ["a"], [1]))),
]


@pytest.mark.parametrize("call", [path[1] for path in PATHS], ids=[path[0] for path in PATHS])
def test_a_loop_leaves_the_heap_flat(double, call):
    growth = heap_growth(call)
    assert growth is None or growth < LEAK_LIMIT
    assert double.counters()["calls_while_down"] == 0


# Allocation failures, made real by preloading a library that fails one
# chosen calloc or strdup, in a fresh interpreter.  Each side's scores are
# allocated before its tokens, so a calloc of their common count fails the
# scores.
OUT_OF_MEMORY = [
    ("failalloc_arm_strdup(b'a value out of memory')", "d.is_name_duplicate('Acme', 'a value out of memory')"),
    ("failalloc_arm_strdup(b'zq')", "d.is_street_duplicate('Main St', 'Main Street', ['en', 'zq'])"),
    ("failalloc_arm_calloc(4099)", "d.is_toponym_duplicate(['city'], ['x'], ['city'] * 4099, ['x'] * 4099)"),
    ("failalloc_arm_strdup(b'a label out of memory')",
     "d.is_toponym_duplicate(['city', 'state'], ['x', 'y'], ['city', 'a label out of memory'], ['x', 'y'])"),
    ("failalloc_arm_calloc(4099)", "d.is_name_duplicate_fuzzy(['a'] * 4099, [1.0] * 4099, ['a'], [1.0])"),
    ("failalloc_arm_calloc(4099)", "d.is_street_duplicate_fuzzy(['a', 'b'], [1, 2], ['a'] * 4099, [1.0] * 4099)"),
    ("failalloc_arm_strdup(b'a token out of memory')",
     "d.is_name_duplicate_fuzzy(['a', 'b'], [1, 2], ['a', 'a token out of memory'], [1.0, 2.0], ['en'])"),
]


# valgrind and AddressSanitizer put their own calloc and strdup ahead of any
# preloaded ones, so these failures can only be made under glibc's allocator.
@pytest.mark.skipif(OWN_ALLOCATOR, reason="the allocator is valgrind's or AddressSanitizer's")
@pytest.mark.parametrize("arm, call", OUT_OF_MEMORY)
def test_an_exhausted_heap_is_a_memory_error_and_leaks_nothing(python, arm, call):
    outcomes, growth, calls, _ = exhausted_heap(python, "import addrnorm._duplicate as d", arm, call)
    assert outcomes == ["MemoryError"]
    assert growth < LEAK_LIMIT
    assert calls == 0
