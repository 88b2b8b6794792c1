"""libpostal's duplicate classifiers on real values: pairs one field's values
that name the same thing, and pairs that do not.  Each expectation was read
off libpostal 1.1.3 and kept only where the answer is plainly right."""
import pytest

import addrnorm
from addrnorm import DuplicateStatus as S

# (field, value1, value2, status), each with and without languages=["en"].
FIELD_PAIRS = [
    ("name", "Whole Foods", "Whole Foods", S.EXACT),
    ("name", "Saint Mary's Church", "St. Mary's Church", S.EXACT),
    ("name", "McDonald's", "McDonalds", S.EXACT),
    ("name", "Whole Foods", "Trader Joe's", S.NON),
    ("street", "Main St", "Main Street", S.EXACT),
    ("street", "Franklin Ave", "Franklin Avenue", S.EXACT),
    ("street", "W 125th St", "West 125th Street", S.EXACT),
    ("street", "Fifth Avenue", "5th Ave", S.EXACT),
    # The same root, another street type: for a person to look at.
    ("street", "Main St", "Main Ave", S.POSSIBLE_NEEDS_REVIEW),
    ("street", "Main St", "Elm St", S.NON),
    ("house_number", "123", "123", S.EXACT),
    ("house_number", "123A", "123 A", S.EXACT),
    ("house_number", "one hundred twenty three", "123", S.EXACT),
    ("house_number", "123", "125", S.NON),
    ("house_number", "123", "123A", S.NON),
    ("po_box", "PO Box 1234", "P.O. Box 1234", S.EXACT),
    ("po_box", "PO Box 1234", "Post Office Box 1234", S.EXACT),
    ("po_box", "PO Box 1234", "PO Box 4321", S.NON),
    ("unit", "Apt 3", "Apartment 3", S.EXACT),
    ("unit", "Suite 100", "Ste 100", S.EXACT),
    ("unit", "#3", "Unit 3", S.EXACT),
    ("unit", "Apt 3", "Apt 4", S.NON),
    ("floor", "2nd Floor", "Floor 2", S.EXACT),
    ("floor", "Fl 2", "2nd floor", S.EXACT),
    ("floor", "2nd Floor", "3rd Floor", S.NON),
    ("postal_code", "11216", "11216", S.EXACT),
    ("postal_code", "11216", "11217", S.NON),
    ("postal_code", "10115", "10117", S.NON),
]


@pytest.mark.parametrize("languages", [None, ["en"]], ids=["classifier", "en"])
@pytest.mark.parametrize("field, value1, value2, status", FIELD_PAIRS,
                         ids=["%s: %s ~ %s" % pair[:3] for pair in FIELD_PAIRS])
def test_field_pairs(field, value1, value2, status, languages):
    function = getattr(addrnorm, "is_%s_duplicate" % field)
    assert function(value1, value2, languages) is status
    # The classifiers are symmetric in the values they are given.
    assert function(value2, value1, languages=languages) is status


def test_the_languages_given_are_the_ones_libpostal_expands_in():
    # "R." stands for "Rue" in French only.
    assert addrnorm.is_street_duplicate("Rue de la Paix", "R. de la Paix", ["fr"]) is S.EXACT
    assert addrnorm.is_street_duplicate("Rue de la Paix", "R. de la Paix", ["en"]) is S.NON
    assert addrnorm.is_street_duplicate("Hauptstraße", "Hauptstr.", ["de"]) is S.EXACT


# Two records each: (labels1, values1, labels2, values2, status).
TOPONYM_PAIRS = [
    (["city"], ["Brooklyn"], ["city"], ["Brooklyn"], S.EXACT),
    (["city", "state"], ["Brooklyn", "NY"], ["city", "state"], ["Brooklyn", "New York"], S.EXACT),
    (["city", "country"], ["Munich", "Germany"], ["city", "country"], ["Munich", "Germany"], S.EXACT),
    # A city district or a suburb that is named like the other's city.
    (["city_district", "state"], ["Brooklyn", "NY"], ["city", "state"], ["Brooklyn", "NY"], S.LIKELY),
    (["city"], ["Brooklyn"], ["city_district"], ["Brooklyn"], S.LIKELY),
    (["suburb"], ["Brooklyn"], ["city"], ["Brooklyn"], S.POSSIBLE_NEEDS_REVIEW),
    # One city name in two states.
    (["city", "state"], ["Springfield", "IL"], ["city", "state"], ["Springfield", "MA"], S.NON),
    (["city", "state"], ["Portland", "Oregon"], ["city", "state"], ["Portland", "Maine"], S.NON),
    (["city"], ["Paris"], ["city"], ["London"], S.NON),
]


@pytest.mark.parametrize("languages", [None, ["en"]], ids=["classifier", "en"])
@pytest.mark.parametrize("labels1, values1, labels2, values2, status", TOPONYM_PAIRS,
                         ids=["%s ~ %s" % (pair[1], pair[3]) for pair in TOPONYM_PAIRS])
def test_toponym_pairs(labels1, values1, labels2, values2, status, languages):
    assert addrnorm.is_toponym_duplicate(labels1, values1, labels2, values2, languages) is status


def test_a_toponym_record_with_no_fields_is_null():
    assert addrnorm.is_toponym_duplicate([], [], ["city"], ["Brooklyn"]) is S.NULL


WHOLE_FOODS = (["whole", "foods"], [0.5, 0.5])
WHOLE_FOODS_MARKET = (["whole", "foods", "market"], [0.4, 0.4, 0.2])


@pytest.mark.parametrize("languages", [None, ["en"]], ids=["classifier", "en"])
def test_fuzzy_names(languages):
    status, similarity = addrnorm.is_name_duplicate_fuzzy(*WHOLE_FOODS, *WHOLE_FOODS_MARKET, languages)
    assert status is S.LIKELY and 0.9 <= similarity < 1.0
    status, similarity = addrnorm.is_name_duplicate_fuzzy(*WHOLE_FOODS, *WHOLE_FOODS, languages)
    assert status is S.LIKELY and similarity == pytest.approx(1.0)
    assert addrnorm.is_name_duplicate_fuzzy(*WHOLE_FOODS, ["trader", "joes"], [0.5, 0.5], languages) == (S.NON, 0.0)


def test_fuzzy_thresholds_decide_the_status_of_one_similarity():
    similarity = addrnorm.is_name_duplicate_fuzzy(*WHOLE_FOODS, *WHOLE_FOODS_MARKET)[1]
    assert 0.9 <= similarity < 0.99
    for needs_review, likely, status in ((0.5, 0.99, S.POSSIBLE_NEEDS_REVIEW), (0.99, 1.0, S.NON),
                                         (0.1, 0.2, S.LIKELY)):
        assert addrnorm.is_name_duplicate_fuzzy(*WHOLE_FOODS, *WHOLE_FOODS_MARKET, needs_review_threshold=needs_review,
                                                likely_dupe_threshold=likely) == (status, similarity)


def test_fuzzy_streets():
    status, similarity = addrnorm.is_street_duplicate_fuzzy(["main", "st"], [0.8, 0.2], ["main", "street"],
                                                            [0.8, 0.2], ["en"])
    assert status is S.LIKELY and similarity == pytest.approx(1.0)
    status, similarity = addrnorm.is_street_duplicate_fuzzy(["main", "st"], [0.8, 0.2], ["elm", "st"], [0.8, 0.2],
                                                            ["en"])
    assert status is S.NON and similarity < 0.7
    assert addrnorm.is_street_duplicate_fuzzy([], [], ["main", "st"], [0.8, 0.2]) == (S.NULL, 0.0)
