"""libpostal's duplicate classifiers, as the package publishes them: whether
two values of one field (a name, a street, a house number, ...) or two
records' place names are the same, as a DuplicateStatus.

Like expand_address, each is a plain Python function, so that it pickles by
name, and looks the extension module up on first use, as importing
addrnorm._duplicate sets libpostal up.
"""
import enum

from addrnorm._library import DEFAULT as _DEFAULT, load as _load
from addrnorm.languages import check_languages
from addrnorm.values import argument_text, call_values

# The module itself, not one function: it has ten.  Not named _duplicate,
# which is the submodule's own name in the package's namespace.
_duplicate_module = None


def _bind_duplicate():
    global _duplicate_module
    _duplicate_module = _load("_duplicate")
    return _duplicate_module


class DuplicateStatus(enum.IntEnum):
    """libpostal's verdict on two values of one field, in increasing
    certainty; its values are libpostal's own (libpostal_duplicate_status_t).
    ``NULL`` means there was nothing to compare (a side with no components or
    tokens)."""

    NULL = -1
    NON = 0
    POSSIBLE_NEEDS_REVIEW = 3
    LIKELY = 6
    EXACT = 9


def _field_classifier(field, what):
    """The package's function for one of libpostal's field classifiers, named
    and documented as if written out, so that it pickles by name."""
    name = "is_%s_duplicate" % field

    def classify(value1, value2, languages=None):
        if languages is not None:
            check_languages(languages)
        function = getattr(_duplicate_module or _bind_duplicate(), name)
        try:
            return DuplicateStatus(function(value1, value2, languages))
        except TypeError:
            if type(value1) is str and type(value2) is str:
                raise
        # Numbers as text, as in records: a house number or a postcode from a
        # numeric column.
        return DuplicateStatus(function(argument_text(value1, "value1", name), argument_text(value2, "value2", name),
                                        languages))

    classify.__name__ = classify.__qualname__ = name
    classify.__doc__ = """Whether two %s are the same, as a ``DuplicateStatus``.

    ``value1`` and ``value2`` are str.  ``languages`` is a list of ISO 639-1
    codes as for ``expand_address``; without it libpostal guesses the
    language of each value.
    """ % what
    return classify


is_name_duplicate = _field_classifier("name", "place names (a business, a building)")
is_street_duplicate = _field_classifier("street", "street names")
is_house_number_duplicate = _field_classifier("house_number", "house numbers")
is_po_box_duplicate = _field_classifier("po_box", "PO boxes")
is_unit_duplicate = _field_classifier("unit", "units (flat, suite, apartment)")
is_floor_duplicate = _field_classifier("floor", "floors (levels)")
is_postal_code_duplicate = _field_classifier("postal_code", "postal codes")


def is_toponym_duplicate(labels1, values1, labels2, values2, languages=None):
    """Whether two records name the same place (city, or its district or
    suburb, within the same state and country), as a ``DuplicateStatus``.

    Each record is a pair of parallel sequences of str: labels are libpostal's
    parser labels (city, city_district, suburb, state_district, state,
    country), values their values.  ``languages`` is a list of ISO 639-1 codes
    as for ``expand_address``.  A record with no fields gives
    ``DuplicateStatus.NULL``.
    """
    if languages is not None:
        check_languages(languages)
    function = (_duplicate_module or _bind_duplicate()).is_toponym_duplicate
    try:
        return DuplicateStatus(function(labels1, values1, labels2, values2, languages))
    except TypeError:
        first = call_values(labels1, values1, "is_toponym_duplicate: record 1")
        second = call_values(labels2, values2, "is_toponym_duplicate: record 2")
        if first is None or second is None or (first[1] == list(values1) and second[1] == list(values2)):
            raise
    return DuplicateStatus(function(first[0], first[1], second[0], second[1], languages))


def _fuzzy_classifier(field, what):
    """The package's function for one of libpostal's fuzzy classifiers, as
    _field_classifier makes the others."""
    name = "is_%s_duplicate_fuzzy" % field

    def classify(tokens1, scores1, tokens2, scores2, languages=None, needs_review_threshold=_DEFAULT,
                 likely_dupe_threshold=_DEFAULT):
        if languages is not None:
            check_languages(languages)
        function = getattr(_duplicate_module or _bind_duplicate(), name)
        d = _DEFAULT
        if needs_review_threshold is d and likely_dupe_threshold is d:
            status, similarity = function(tokens1, scores1, tokens2, scores2, languages)
        else:
            given = {}
            if needs_review_threshold is not d:
                given["needs_review_threshold"] = needs_review_threshold
            if likely_dupe_threshold is not d:
                given["likely_dupe_threshold"] = likely_dupe_threshold
            status, similarity = function(tokens1, scores1, tokens2, scores2, languages, **given)
        return DuplicateStatus(status), similarity

    classify.__name__ = classify.__qualname__ = name
    classify.__doc__ = """Whether two %s are alike, by the similarity of their tokens:
    ``(DuplicateStatus, similarity)``.

    Each side is a list of tokens (str) and a parallel list of scores
    (numbers: how much each token counts, for example its TF-IDF weight).
    ``languages`` is a list of ISO 639-1 codes as for ``expand_address``.  As
    a rule a similarity at or above ``likely_dupe_threshold`` is ``LIKELY``,
    at or above ``needs_review_threshold`` ``POSSIBLE_NEEDS_REVIEW``; left at
    ``<libpostal's default>`` they are libpostal's own (0.9 and 0.7).
    libpostal's exceptions: a street whose every token matches one of the
    other's is ``LIKELY``, and names that differ in single letters ("A & B"
    against "B & C") at most need review.  A side with no tokens gives
    ``(DuplicateStatus.NULL, 0.0)``.
    """ % what
    return classify


is_name_duplicate_fuzzy = _fuzzy_classifier("name", "place names")
is_street_duplicate_fuzzy = _fuzzy_classifier("street", "street names")
