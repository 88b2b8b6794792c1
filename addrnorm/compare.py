"""The pairwise check: whether two candidate records are the same place.

Keys only say that two records may be duplicates; uniting every pair that
shares one chains unrelated records into huge clusters.  Each candidate pair
is therefore compared field by field, and united only when its score reaches
the threshold.

Each field that both records have gets a value from 0 to 1:
- libpostal's duplicate classifier's verdict for the field (names, streets,
  house numbers, units, PO boxes, postcodes, and the place names together):
  EXACT 1.0, LIKELY 0.9, POSSIBLE_NEEDS_REVIEW 0.7 (see Verdicts);
- failing that, the string similarity of the two values (rapidfuzz's
  ratio on lower case without punctuation, the words as written or sorted;
  for streets, their root forms too) when it is at least 0.8, which is what
  one or two typos leave; below that, 0.  A name written short counts 0.9
  when each of its words is one of the other's (one may have a typo) or its
  initial, else 0.85 times the share of its words in the other's; two
  names written whole may have a typo in each word.  A name's similarity
  counts from 0.86 only, as people of one family at one address come close
  to 0.8.  Names that hold their street's name are compared without it; a
  name that is its street's name only ("Elm Street" beside "Elm Street
  Cafe") counts 0.9 when both records give the one house number, else 0.
  House numbers one keystroke apart count 0.8.  Streets whose names,
  without their last word (the type, perhaps misspelled), are alike count
  0.8 ("Nevda Sltreet", "Nevada St").

Two streets that are not alike, or two house numbers more than a keystroke
apart, are two addresses: the pair scores 0, whatever else agrees.  A house
number and a unit written the wrong way round in one record are put back,
and so is a house number written at the head of the street when it is the
other record's ("900 Kennedy" and "Kennedy Dr", 900).

The score is the weighted mean over the fields that both records have
(weights in FIELDS).  A name weighs most, so that neighbours on one street
and people at one address stay apart.  Values equal once lower-cased and
stripped of punctuation are EXACT without asking libpostal.  The weights,
the values and the default threshold (0.75) were chosen on the project's
synthetic benchmark (bench/dedupe.py).
"""
import re

from rapidfuzz import fuzz

import addrnorm
from addrnorm import AddressComponent, DuplicateStatus
from addrnorm.dedupe import Kept

TYPO_SIMILARITY = 0.8
# Names need more: two people of one family at one address ("Frances
# Bailey", "Frank Bailey") are as similar as that.
NAME_TYPO_SIMILARITY = 0.86
# Two house numbers one keystroke apart ("476" and "467"): a typo.  Further
# apart, they are two addresses, and the pair is no duplicate; so are two
# streets that are not alike.
HOUSE_NUMBER_TYPO = 0.8
# What a name written short counts for: each of its words the other's, or
# an initial of one; or most of them.
SHORT_NAME = 0.9
SHARED_WORDS = 0.85
_PUNCTUATION = re.compile(r"[^\w\s]")
# Two street names without their types, two typos apart ("Cymress",
# "Cyprexs").
STREET_NAME_SIMILARITY = 70
_ORDINAL = re.compile(r"\b(\d+)(?:st|nd|rd|th)\b")

STATUS_VALUES = {
    DuplicateStatus.EXACT: 1.0,
    DuplicateStatus.LIKELY: 0.9,
    DuplicateStatus.POSSIBLE_NEEDS_REVIEW: 0.7,
}

# The labels libpostal's toponym classifier compares, as one field.
PLACE_LABELS = ("suburb", "city_district", "city", "island", "state_district", "state", "country_region",
                "country", "world_region")

_A = AddressComponent
# (field, its label, weight, the classifier whose verdict it takes, the
# address components that classifier expands the values for, and whether it
# tries the root forms first, either meeting being EXACT; else the values
# meeting only as root forms are POSSIBLE_NEEDS_REVIEW).
FIELDS = (
    ("name", "house", 5.0, addrnorm.is_name_duplicate, int(_A.NAME | _A.ANY), False),
    ("street", "road", 3.0, addrnorm.is_street_duplicate, int(_A.STREET | _A.ANY), False),
    ("house_number", "house_number", 3.0, addrnorm.is_house_number_duplicate, int(_A.HOUSE_NUMBER | _A.ANY), True),
    ("unit", "unit", 1.0, addrnorm.is_unit_duplicate, int(_A.UNIT | _A.ANY), True),
    ("po_box", "po_box", 1.0, addrnorm.is_po_box_duplicate, int(_A.PO_BOX | _A.ANY), True),
    ("postcode", "postcode", 1.0, addrnorm.is_postal_code_duplicate, int(_A.POSTAL_CODE | _A.ANY), True),
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
    initial of one, or has the other's initial as its first letter; or is
    one keystroke from one: one word of a name written short, any word of
    one written whole ("Dentdl Care", "Dental Crre")."""
    if len(words1) > len(words2):
        words1, words2 = words2, words1
    if not words1:
        return False
    left, typos = list(words2), 0
    for word in words1:
        for index, other in enumerate(left):
            if word == other or (len(word) == 1 and other.startswith(word)) or (
                    len(other) == 1 and word.startswith(other)):
                del left[index]
                break
        else:
            typo = [index for index, other in enumerate(left)
                    if min(len(word), len(other)) >= 3 and max(len(word), len(other)) >= 4
                    and one_keystroke(word, other)]
            if not typo or (typos and len(words1) != len(words2)):
                return False
            typos += 1
            del left[typo[0]]
    return True


def one_keystroke(value1, value2):
    """Whether two different values are one keystroke apart: a character
    inserted, dropped or replaced, or two neighbours swapped ("476" and
    "467", "Wild" and "Wibld")."""
    if abs(len(value1) - len(value2)) > 1 or value1 == value2:
        return False
    shorter = min(len(value1), len(value2))
    start = 0
    while start < shorter and value1[start] == value2[start]:
        start += 1
    end = 0
    while end < shorter - start and value1[-1 - end] == value2[-1 - end]:
        end += 1
    rest1, rest2 = value1[start:len(value1) - end], value2[start:len(value2) - end]
    return (len(rest1) <= 1 and len(rest2) <= 1) or (len(rest1) == 2 and rest1 == rest2[::-1])


class Verdicts:
    """libpostal's verdicts on field values, with what they are made of kept.

    libpostal's classifier for a name, a street, a house number, a unit, a
    PO box or a postcode expands both values for its kind of address
    component, on every call, and the two are duplicates when their
    expansions meet: EXACT when the values' expansions meet; for a name or a
    street, POSSIBLE_NEEDS_REVIEW when only their root forms do; for the
    others, the root forms are tried first and either meeting is EXACT.  A
    value meets dozens of others in a run, and expanding it costs far more
    than the comparison, so each value's expansions are made once here, with
    the classifier's own options, and the verdict is the classifier's (the
    tests hold the two to agreement on the real library).  The place names,
    which libpostal's toponym classifier weighs label by label, are put to
    it, each distinct pair once.

    At most KEPT values of each kind are held (see Kept).
    """

    KEPT = 1 << 17

    def __init__(self, languages=None):
        self.languages = list(languages) if languages else None
        self._expansions, self._places, self._plain, self._street_words = (Kept(self.KEPT) for _ in range(4))

    def expanded(self, value, components, root):
        """The value's expansions (root forms when root is 1), as a frozenset."""
        return self._expansions.get_or_make((value, components, root), self._expand, value, components, root)

    def _expand(self, value, components, root):
        return frozenset(addrnorm.expand_address(value, self.languages, address_components=components,
                                                 root=root) or ())

    def _meet(self, value1, value2, components, root):
        return not self.expanded(value1, components, root).isdisjoint(self.expanded(value2, components, root))

    def status(self, components, roots_first, value1, value2):
        """The DuplicateStatus of two values of the field whose classifier
        expands for components (see FIELDS)."""
        if roots_first:
            meets = self._meet(value1, value2, components, 1) or self._meet(value1, value2, components, 0)
            return DuplicateStatus.EXACT if meets else DuplicateStatus.NON
        if self._meet(value1, value2, components, 0):
            return DuplicateStatus.EXACT
        return DuplicateStatus.POSSIBLE_NEEDS_REVIEW if self._meet(value1, value2, components, 1) else \
            DuplicateStatus.NON

    def place_status(self, labels1, values1, labels2, values2):
        key = (tuple(labels1), tuple(values1), tuple(labels2), tuple(values2))
        return self._places.get_or_make(key, addrnorm.is_toponym_duplicate, labels1, values1, labels2, values2,
                                        self.languages)

    def street_words(self, street):
        """The words of a street as written and as libpostal expands it
        ("St" is "street" or "saint")."""
        return self._street_words.get_or_make(street, self._street_words_of, street)

    def _street_words_of(self, street):
        words = set(self.plain(street).split())
        for form in self.expanded(street, FIELDS[1][4], 0):
            words.update(form.split())
        return frozenset(words)

    def plain(self, value):
        """The value lower-cased, without punctuation, its spaces made one."""
        return self._plain.get_or_make(value, _plain, value)


def field_value(field, components, roots_first, value1, value2, verdicts):
    """(verdict, value) of one field whose values differ as written; the
    value is None for two streets or two house numbers that are two
    addresses."""
    status = verdicts.status(components, roots_first, value1, value2)
    if status in STATUS_VALUES:
        return status.name.lower(), STATUS_VALUES[status]
    if field == "house_number":
        number1, number2 = verdicts.plain(value1), verdicts.plain(value2)
        if one_keystroke(number1, number2):
            return "one keystroke", HOUSE_NUMBER_TYPO
        return "another address", None
    typo = (name_similarity if field == "name" else similarity)(value1, value2)
    if field == "street":
        # Without their street types ("Plymouth Street", "Plymiuth St"), the
        # typo is all that differs.
        typo = max([typo] + [fuzz.ratio(root1, root2) / 100.0
                             for root1 in verdicts.expanded(value1, components, 1)
                             for root2 in verdicts.expanded(value2, components, 1)])
    if typo >= (NAME_TYPO_SIMILARITY if field == "name" else TYPO_SIMILARITY):
        return "similar %.2f" % typo, typo
    if field == "street":
        if street_names_alike(verdicts.plain(value1), verdicts.plain(value2)):
            return "same street name", TYPO_SIMILARITY
        return "another street", None
    return "differs", 0.0


def street_names_alike(street1, street2):
    """Whether two streets (plain) that neither libpostal nor their
    similarity finds alike are one street name with its type misspelled or
    changed, and perhaps a typo of its own: "Nevda Sltreet" and "Nevada St",
    "Fern Bouleyvard" and "Fern Blvd", "Fxo" and "Fox Way".  libpostal knows
    a street type only as written right, so its root forms keep a misspelled
    one; here the last word of a street of several is taken for its type."""
    name1, name2 = _street_name(street1), _street_name(street2)
    if not (name1 and name2):
        return False
    return name1 == name2 or one_keystroke(name1, name2) or fuzz.ratio(name1, name2) >= STREET_NAME_SIMILARITY


def _street_name(street):
    words = _ORDINAL.sub(r"\1", street).split()
    return " ".join(words[:-1] if len(words) > 1 else words)


def _toponym(labels1, values1, labels2, values2, verdicts):
    status = verdicts.place_status(labels1, values1, labels2, values2)
    if status in STATUS_VALUES:
        return status.name.lower(), STATUS_VALUES[status]
    typo = similarity(" ".join(values1), " ".join(values2))
    return ("similar %.2f" % typo, typo) if typo >= TYPO_SIMILARITY else ("differs", 0.0)


def _names_apart_from_street(name1, name2, fields1, fields2, verdicts):
    """(name1, name2, whether one is the street's name only).

    The two names come back without the words of their streets when both
    hold the same ones and have words left: "Elm Street Cafe" and "Elm
    Street Bank" on Elm St are a cafe and a bank, which libpostal's root
    forms ("elm street") and the similarity of the whole names would take
    for one; so do names that hold other streets' words and have no word of
    their own in common.  A name that is its street's words alone ("Elm
    Street", beside "Elm Street Cafe") says only where the place is: any
    place on that street with a name of its own would be as like it."""
    street1, street2 = fields1.get("road"), fields2.get("road")
    if not (street1 and street2):
        return name1, name2, False
    words = verdicts.street_words(street1) | verdicts.street_words(street2)
    words1, words2 = verdicts.plain(name1).split(), verdicts.plain(name2).split()
    in_street1, in_street2 = ([_street_word(word, words) for word in words1],
                              [_street_word(word, words) for word in words2])
    rest1 = [word for word, street_word in zip(words1, in_street1) if street_word is None]
    rest2 = [word for word, street_word in zip(words2, in_street2) if street_word is None]
    if len(rest1) == len(words1) or len(rest2) == len(words2):
        return name1, name2, False
    # Only the same street's words, in both: "Elm Street Cafe" and "Oak
    # Street Cafe" are not one cafe.  Other streets' words, and no word of
    # their own in common: "53rd Way Veterinary Clinic" and "53rd Road
    # Restaurant", which libpostal's root forms reduce to "53rd" both.
    if set(in_street1) - {None} != set(in_street2) - {None}:
        if rest1 and rest2 and set(rest1).isdisjoint(rest2):
            return " ".join(rest1), " ".join(rest2), False
        return name1, name2, False
    if not rest1 or not rest2:
        return name1, name2, bool(rest1 or rest2)
    return " ".join(rest1), " ".join(rest2), False


def _street_word(word, street_words):
    """The street's word that a word of a name is, perhaps with a typo
    ("53rd Wagy" on 53rd Way); None for a word of the name's own."""
    if word in street_words:
        return word
    if len(word) < 3:
        return None
    # The first in order of those it may be, so that the answer does not
    # hang on the set's order; no sorting on every pair.
    return min((street_word for street_word in street_words
                if len(street_word) >= 3 and one_keystroke(word, street_word)), default=None)


def _street_name_only(same_number, verdicts):
    """A name that is its street's name only, against a longer one: as good
    as written short when both records give the one house number; else it
    counts for nothing."""
    return ("street's name only", SHORT_NAME) if same_number else ("street's name only", 0.0)


def _fields_in_common(fields1, fields2, verdicts):
    """(field, weight, equal as written, how to value it) of each field both
    records have, the place names as one."""
    common = []
    plain = verdicts.plain
    for field, label, weight, _, components, roots_first in FIELDS:
        value1, value2 = fields1.get(label), fields2.get(label)
        if field == "name" and value1 and value2:
            value1, value2, street_only = _names_apart_from_street(value1, value2, fields1, fields2, verdicts)
            if street_only:
                number1, number2 = fields1.get("house_number"), fields2.get("house_number")
                same_number = bool(number1 and number2) and plain(number1) == plain(number2)
                common.append((field, weight, False, (_street_name_only, same_number)))
                continue
        if value1 and value2:
            common.append((field, weight, plain(value1) == plain(value2),
                           (field_value, field, components, roots_first, value1, value2)))
    labels1 = [label for label in PLACE_LABELS if fields1.get(label)]
    labels2 = [label for label in PLACE_LABELS if fields2.get(label)]
    if labels1 and labels2:
        values1 = [fields1[label] for label in labels1]
        values2 = [fields2[label] for label in labels2]
        equal = labels1 == labels2 and list(map(plain, values1)) == list(map(plain, values2))
        common.append(("place", PLACE_WEIGHT, equal, (_toponym, labels1, values1, labels2, values2)))
    return common


def _swapped(fields1, fields2, plain):
    """Whether one record's house number is the other's unit, or its unit
    the other's house number: the two fields written the wrong way round."""
    if not all(fields.get(label) for fields in (fields1, fields2) for label in ("house_number", "unit")):
        return False
    number1, unit1 = plain(fields1["house_number"]), plain(fields1["unit"])
    number2, unit2 = plain(fields2["house_number"]), plain(fields2["unit"])
    return number1 != number2 and (number1 == unit2 or unit1 == number2)


def plain_numbers(fields):
    """The house number and unit of a record ({label: value}) with a house
    number, plain, as a frozenset; none for a record without one.  The unit
    is there because the two may be written the wrong way round."""
    if not fields.get("house_number"):
        return frozenset()
    return frozenset(_plain(fields[label]) for label in ("house_number", "unit") if fields.get(label))


def _number_in_street(fields, other, plain):
    """fields, with the head of its street taken for its house number when
    it has none and the head is the other record's house number: "900
    Kennedy" and "Kennedy Dr", 900.  A street of one word after a number
    may be an ordinal street ("36 Hwy"), so it takes the other record to
    tell."""
    number, street = other.get("house_number"), fields.get("road")
    if fields.get("house_number") or not (number and street):
        return fields
    head, _, rest = street.strip().partition(" ")
    if not rest.strip() or plain(head) != plain(number):
        return fields
    return dict(fields, house_number=head, road=rest.strip())


def compare(fields1, fields2, languages=None, threshold=None, verdicts=None):
    """(score, {field: verdict}) of two records given as {label: value};
    the score is None when the records have no field in common.

    Fields equal as written are settled first, at no cost; the others in
    order of weight, each with libpostal's verdict.  With a threshold, the
    comparison stops once the score cannot reach it: the fields left are
    "not compared", and the score is the most they could have brought.  Most
    candidate pairs are two places on one street, whose names differ: one
    verdict settles them.  verdicts (a Verdicts for the languages) keeps
    what the values are made of from one pair to the next.
    """
    if verdicts is None:
        verdicts = Verdicts(languages)
    fields1 = _number_in_street(fields1, fields2, verdicts.plain)
    fields2 = _number_in_street(fields2, fields1, verdicts.plain)
    swapped = _swapped(fields1, fields2, verdicts.plain)
    if swapped:
        fields2 = dict(fields2, house_number=fields2["unit"], unit=fields2["house_number"])
    common = _fields_in_common(fields1, fields2, verdicts)
    weights = sum(weight for _, weight, _, _ in common)
    if not weights:
        return None, {}
    found, total = {}, 0.0
    for field, weight, equal, _ in common:
        if equal:
            found[field] = "exact (swapped)" if swapped and field in ("house_number", "unit") else "exact"
            total += weight
    pending = sorted((entry for entry in common if not entry[2]), key=lambda entry: -entry[1])
    open_weight = sum(weight for _, weight, _, _ in pending)
    for field, weight, _, (value_of, *arguments) in pending:
        if threshold is not None and (total + open_weight) / weights < threshold:
            found[field] = "not compared"
            continue
        found[field], value = value_of(*arguments, verdicts)
        if swapped and field in ("house_number", "unit"):
            found[field] += " (swapped)"
        if value is None:
            # Whatever else agrees, two addresses are two places: branches
            # of one chain, neighbours with one name.
            for rest, _, _, _ in pending:
                found.setdefault(rest, "not compared")
            return 0.0, found
        total += weight * value
        open_weight -= weight
    return (total + open_weight) / weights, found
