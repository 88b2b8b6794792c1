"""The pairwise check: whether two candidate records are the same place.

Keys only say that two records may be duplicates; uniting every pair that
shares one chains unrelated records into huge clusters.  Each candidate pair
is therefore compared field by field, and united only when its score reaches
the threshold.

Each field that both records have gets a value from 0 to 1:
- libpostal's duplicate classifier for the field (names, streets, house
  numbers, units, PO boxes, postcodes, and the place names together):
  EXACT 1.0, LIKELY 0.9, POSSIBLE_NEEDS_REVIEW 0.7;
- failing that, the string similarity of the two values (rapidfuzz's
  ratio on lower case without punctuation, the words as written or sorted)
  when it is at least 0.8, which is what one or two typos leave; below
  that, 0.  A name written short counts 0.9 when each of its words is
  one of the other's or its initial, else 0.85 times the share of its
  words in the other's.

The score is the weighted mean over the fields that both records have
(weights in FIELDS).  A name weighs most, so that neighbours on one street
and people at one address stay apart, then the street, so that two branches
of one chain in one town stay apart; a house number that differs costs a
pair 2/11, so one house-number typo alone does not part duplicates.
Values equal once lower-cased and stripped of punctuation are EXACT without
asking libpostal.  The weights, the values and the default threshold (0.7)
were chosen on the project's synthetic benchmark (bench/dedupe.py).
"""
import re

from rapidfuzz import fuzz

import addrnorm
from addrnorm import DuplicateStatus
TYPO_SIMILARITY = 0.8
# What a name written short counts for: each of its words the other's, or
# an initial of one; or most of them.
SHORT_NAME = 0.9
SHARED_WORDS = 0.85
_PUNCTUATION = re.compile(r"[^\w\s]")

STATUS_VALUES = {
    DuplicateStatus.EXACT: 1.0,
    DuplicateStatus.LIKELY: 0.9,
    DuplicateStatus.POSSIBLE_NEEDS_REVIEW: 0.7,
}

# The labels libpostal's toponym classifier compares, as one field.
PLACE_LABELS = ("suburb", "city_district", "city", "island", "state_district", "state", "country_region",
                "country", "world_region")

# (field, its label, libpostal's classifier, weight); the place names last.
FIELDS = (
    ("name", "house", addrnorm.is_name_duplicate, 5.0),
    ("street", "road", addrnorm.is_street_duplicate, 3.0),
    ("house_number", "house_number", addrnorm.is_house_number_duplicate, 2.0),
    ("unit", "unit", addrnorm.is_unit_duplicate, 1.0),
    ("po_box", "po_box", addrnorm.is_po_box_duplicate, 1.0),
    ("postcode", "postcode", addrnorm.is_postal_code_duplicate, 1.0),
)
PLACE_WEIGHT = 1.0


def _plain(value):
    return " ".join(_PUNCTUATION.sub("", value.lower()).split())


def similarity(value1, value2):
    # Sorting the words matches names written the other way round; a typo
    # that moves a word in the order is matched unsorted.
    value1, value2 = _plain(value1), _plain(value2)
    return max(fuzz.ratio(value1, value2), fuzz.token_sort_ratio(value1, value2)) / 100.0


def name_similarity(name1, name2):
    """similarity, and two more ways in which one name is another written
    short: each of its words is a word of the other's or the initial of one
    ("Whole Foods" and "Whole Foods Market", "R. Hart" and "Rahul C. Hart":
    SHORT_NAME), or most of them are (the share of its words in the
    other's, times SHARED_WORDS)."""
    value1, value2 = _plain(name1), _plain(name2)
    shorter = max(fuzz.token_set_ratio(value1, value2) / 100.0 * SHARED_WORDS,
                  SHORT_NAME if _short_name(value1.split(), value2.split()) else 0.0)
    return max(similarity(name1, name2), shorter)


def _short_name(words1, words2):
    """Whether each word of the shorter name is a word of the other, or the
    initial of one, or has the other's initial as its first letter."""
    if len(words1) > len(words2):
        words1, words2 = words2, words1
    if not words1:
        return False
    left = list(words2)
    for word in words1:
        for index, other in enumerate(left):
            if word == other or (len(word) == 1 and other.startswith(word)) or (
                    len(other) == 1 and word.startswith(other)):
                del left[index]
                break
        else:
            return False
    return True


def field_value(classify, value1, value2, languages):
    """(verdict, value) of one field whose values differ as written."""
    status = classify(value1, value2, languages)
    if status in STATUS_VALUES:
        return status.name.lower(), STATUS_VALUES[status]
    typo = (name_similarity if classify is addrnorm.is_name_duplicate else similarity)(value1, value2)
    if typo >= TYPO_SIMILARITY:
        return "similar %.2f" % typo, typo
    return "differs", 0.0


def _toponym(labels1, values1, labels2, values2, languages):
    status = addrnorm.is_toponym_duplicate(labels1, values1, labels2, values2, languages)
    if status in STATUS_VALUES:
        return status.name.lower(), STATUS_VALUES[status]
    typo = similarity(" ".join(values1), " ".join(values2))
    return ("similar %.2f" % typo, typo) if typo >= TYPO_SIMILARITY else ("differs", 0.0)


def _fields_in_common(fields1, fields2):
    """(field, weight, equal as written, how to value it) of each field both
    records have, the place names as one."""
    common = []
    for field, label, classify, weight in FIELDS:
        value1, value2 = fields1.get(label), fields2.get(label)
        if value1 and value2:
            common.append((field, weight, _plain(value1) == _plain(value2),
                           (field_value, classify, value1, value2)))
    labels1 = [label for label in PLACE_LABELS if fields1.get(label)]
    labels2 = [label for label in PLACE_LABELS if fields2.get(label)]
    if labels1 and labels2:
        values1 = [fields1[label] for label in labels1]
        values2 = [fields2[label] for label in labels2]
        equal = labels1 == labels2 and list(map(_plain, values1)) == list(map(_plain, values2))
        common.append(("place", PLACE_WEIGHT, equal, (_toponym, labels1, values1, labels2, values2)))
    return common


def compare(fields1, fields2, languages=None, threshold=None):
    """(score, {field: verdict}) of two records given as {label: value};
    the score is None when the records have no field in common.

    Fields equal as written are settled first, at no cost; the others in
    order of weight, each with a call of libpostal's classifier.  With a
    threshold, the comparison stops once the score cannot reach it: the
    fields left are "not compared", and the score is the most they could
    have brought.  Most candidate pairs are two places on one street, whose
    names differ: one classifier call settles them.
    """
    common = _fields_in_common(fields1, fields2)
    weights = sum(weight for _, weight, _, _ in common)
    if not weights:
        return None, {}
    verdicts, total = {}, 0.0
    for field, weight, equal, _ in common:
        if equal:
            verdicts[field] = "exact"
            total += weight
    pending = sorted((entry for entry in common if not entry[2]), key=lambda entry: -entry[1])
    open_weight = sum(weight for _, weight, _, _ in pending)
    for field, weight, _, (value_of, *arguments) in pending:
        if threshold is not None and (total + open_weight) / weights < threshold:
            verdicts[field] = "not compared"
            continue
        verdicts[field], value = value_of(*arguments, languages)
        total += weight * value
        open_weight -= weight
    return (total + open_weight) / weights, verdicts
