"""One policy for the values of records' fields, in the package's functions
(the command's records have theirs in test_cli_values): numbers as text,
missing values left out, anything else refused with a message naming it;
and the arguments every function checks alike (languages, the labels a
record gives no key with)."""
import decimal
import math
import warnings

import pytest

import addrnorm
from addrnorm import DuplicateStatus, languages as language_codes
from addrnorm.languages import UnknownLanguageWarning
from addrnorm.values import LabelWarning, Refused, field_text
from shared import DEDUPE_RUNS

TEXTS = [
    ("Main St", "Main St"), ("", ""), (11216, "11216"), (-3, "-3"), (12.0, "12"), (-0.0, "0"), (12.5, "12.5"),
    (1e16, "10000000000000000"), (float("inf"), "inf"), (decimal.Decimal("12.0"), "12"), (None, None),
    (float("nan"), None),
]
REFUSED = [(True, "a bool (True)"), (False, "a bool (False)"), ([1, 2], "a list ([1, 2])"),
           ({"a": 1}, "a dict ({'a': 1})"), (b"x", "a bytes (b'x')"), ((1,), "a tuple ((1,))"),
           (object, "a type (<class 'object'>)"), (1j, "a complex (1j)")]
if DEDUPE_RUNS:
    # Where the de-duplication runs, so do numpy and pandas (Splink's): a
    # DataFrame's cells.
    import numpy
    import pandas

    TEXTS += [(numpy.int64(7), "7"), (numpy.float64(7.0), "7"), (numpy.float32(2.5), "2.5"),
              (numpy.float64("nan"), None), (pandas.NA, None), (pandas.NaT, None)]
    REFUSED += [(numpy.bool_(True), "a %s (%r)" % (type(numpy.bool_(True)).__name__, numpy.bool_(True)))]


# The policy's own Python: the memcheck run leaves these two out (the
# calls below go through the modules).
@pytest.mark.pure_python
@pytest.mark.parametrize("value, text", TEXTS, ids=[repr(value) for value, _ in TEXTS])
def test_a_value_is_its_text_or_missing(value, text):
    assert field_text(value) == text


@pytest.mark.pure_python
@pytest.mark.parametrize("value, shown", REFUSED, ids=[shown for _, shown in REFUSED])
def test_a_value_that_is_no_text_is_refused_by_name(value, shown):
    with pytest.raises(Refused) as caught:
        field_text(value)
    assert isinstance(caught.value, TypeError)
    assert str(caught.value) == "%s is not a field's value; give text, a number or None" % shown


def test_near_dupe_hashes_takes_numbers_as_text_and_leaves_missing_values_out(double):
    keys = addrnorm.near_dupe_hashes(["house", "postcode", "city", "house_number"],
                                     ["Whole Foods", 11216.0, float("nan"), 781])
    assert double.last_call().labels == ["house", "postcode", "house_number"]
    assert double.last_call().values == ["Whole Foods", "11216", "781"]
    assert keys == ["house|Whole Foods", "postcode|11216", "house_number|781"]
    # With options, by the same path.
    addrnorm.near_dupe_hashes(("house", "city"), ("X", None), with_name=1)
    assert (double.last_call().labels, double.last_call().values) == (["house"], ["X"])


@pytest.mark.parametrize("value, shown", [(True, "a bool (True)"), ({"a": 1}, "a dict ({'a': 1})"),
                                          (["x"], "a list (['x'])")])
def test_near_dupe_hashes_names_the_value_it_refuses(double, value, shown):
    calls = double.counters()["calls"]
    with pytest.raises(TypeError) as caught:
        addrnorm.near_dupe_hashes(["house", "postcode"], ["X", value])
    assert str(caught.value).startswith("near_dupe_hashes: values[1] (label 'postcode'): %s is not" % shown)
    assert double.counters()["calls"] == calls
    # Labels that are not str keep the module's message.
    with pytest.raises(TypeError, match="^all elements must be strings$"):
        addrnorm.near_dupe_hashes(["house", 5], ["X", "Y"])


@pytest.mark.parametrize("first, second", [(11216, "11216"), (11216.0, 11216), ("11216", decimal.Decimal(11216))])
def test_the_classifiers_take_numbers_as_text(double, first, second):
    assert addrnorm.is_postal_code_duplicate(first, second) is DuplicateStatus.EXACT
    assert double.last_call().sides[0]["values"] == ["11216"]
    addrnorm.is_toponym_duplicate(["city", "postcode"], ["X", 12.0], ["city", "state"], ["X", None])
    assert double.last_call().sides[0]["values"] == ["X", "12"]
    assert double.last_call().sides[1]["labels"] == ["city"]


@pytest.mark.parametrize("value, shown", [
    (None, "None (a missing value, nothing to compare)"), (float("nan"), "a float (nan)"), (True, "a bool (True)"),
    (["Main St"], "a list (['Main St'])"),
])
def test_the_classifiers_name_the_type_they_got(double, value, shown):
    with pytest.raises(TypeError) as caught:
        addrnorm.is_street_duplicate(value, "Main St")
    assert str(caught.value) == "is_street_duplicate: value1 must be a str or a number, not " + shown
    with pytest.raises(TypeError, match="value2 must be a str or a number, not " + shown.split(" ")[0]):
        addrnorm.is_house_number_duplicate("1", value)


@pytest.mark.parametrize("call", [
    lambda languages: addrnorm.expand_address("x", languages=languages),
    lambda languages: addrnorm.near_dupe_hashes(["city"], ["x"], languages),
    lambda languages: addrnorm.is_street_duplicate("a", "b", languages),
    lambda languages: addrnorm.is_toponym_duplicate(["city"], ["a"], ["city"], ["b"], languages),
    lambda languages: addrnorm.is_name_duplicate_fuzzy(["a"], [1.0], ["b"], [1.0], languages),
    lambda languages: addrnorm.near_dupe_name_hashes("a", languages=languages),
    lambda languages: addrnorm.normalize_string("a", languages=languages),
    lambda languages: addrnorm.normalized_tokens("a", languages=languages),
], ids=["expand_address", "near_dupe_hashes", "is_street_duplicate", "is_toponym_duplicate",
        "is_name_duplicate_fuzzy", "near_dupe_name_hashes", "normalize_string", "normalized_tokens"])
def test_every_function_refuses_languages_as_a_str_and_warns_of_codes_libpostal_lacks(double, monkeypatch, call):
    with pytest.raises(TypeError, match=r'^languages must be a list of language codes such as \["en"\], not the str'):
        call("en")
    monkeypatch.setattr(language_codes, "_warned", set())
    with pytest.warns(UnknownLanguageWarning) as caught:
        call(["en", "gb", "xx"])
    messages = [str(warning.message) for warning in caught]
    assert len(messages) == 2 and messages[0].startswith("languages: libpostal has no dictionary for 'gb'")
    assert "it knows af, ar, ast" in messages[0] and ", en, " in messages[0] and "'xx'" in messages[1]
    # Once a process: a run of a million calls says it once.
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        call(["gb", "en"])


def test_a_record_that_gives_no_key_with_labels_libpostal_does_not_read_warns(double):
    double.set_result(None)
    with pytest.warns(LabelWarning) as caught:
        assert addrnorm.near_dupe_hashes(["name", "street", "city"], ["X", "Y", "Z"]) is None
    assert str(caught[0].message).startswith("near_dupe_hashes: libpostal reads no label 'name', 'street' and "
                                             "ignores its value; it reads house, house_number")
    # Labels it reads: nothing to say, keys or none.
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert addrnorm.near_dupe_hashes(["house", "city"], ["X", "Z"]) is None
        double.reset()
        assert addrnorm.near_dupe_hashes(["name", "city"], ["X", "Z"]) == ["name|X", "city|Z"]


def test_expand_address_names_the_type_it_got():
    for address, shown in ((12345, "int (12345)"), (math.pi, "3.14"), (None, "None"), ({1}, "set ({1})")):
        with pytest.raises(TypeError) as caught:
            addrnorm.expand_address(address)
        assert str(caught.value).startswith("address must be a str, not " + shown)
