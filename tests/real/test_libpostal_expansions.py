"""libpostal's own expansion expectations (test/test_expand.c of libpostal
1.1.3), through addrnorm.expand_address.

Each row keeps the C check's meaning: the expected string is among the
expansions (root=True: among the root expansions) of the input, with the
components the C test sets (None: libpostal's default) and the language codes
it passes (None: none, so the classifier chooses).  The 89 checks are
transcribed in the C file's order, duplicates included ("1F" and "1R" are
checked twice there): 87 distinct cases.
"""
import pytest

import addrnorm
from addrnorm import AddressComponent as C
from addrnorm.options import EXPAND_FLAGS

STREET = C.STREET | C.ANY
HOUSE_NUMBER = C.HOUSE_NUMBER | C.ANY
LEVEL = C.LEVEL | C.ANY
UNIT = C.UNIT | C.ANY
PO_BOX = C.PO_BOX | C.ANY
EN = ["en"]

# The C test's all-options-off case switches off every normalize flag; the
# binding has no keyword for drop_parentheticals, which keeps its default (on):
# the input has no parentheses, so that flag cannot change its expansions.
ALL_OFF = dict.fromkeys(EXPAND_FLAGS, 0)

# (C test, input, expected, components, languages, root, other keywords)
CASES = [
    ("expansions", "123 Main St. #2f", "123 main street number 2f", None, EN, False, {}),
    ("expansions", "120 E 96th St", "120 east 96 street", None, EN, False, {}),
    ("expansions", "120 E Ninety-sixth St", "120 east 96 street", None, EN, False, {}),
    ("expansions", "4998 Vanderbilt Dr, Columbus, OH 43213", "4998 vanderbilt drive columbus ohio 43213", None, EN,
     False, {}),
    ("expansions", "Nineteen oh one W El Segundo Blvd", "1901 west el segundo boulevard", None, EN, False, {}),
    ("expansions", "S St. NW", "s street northwest", None, EN, False, {}),
    ("expansions", "Quatre vingt douze Ave des Champs-Élysées", "92 avenue des champs-elysees", None, ["fr"], False,
     {}),
    ("expansions", "Quatre vingt douze Ave des Champs-Élysées", "92 avenue des champs elysees", None, ["fr"], False,
     {}),
    ("expansions", "Quatre vingt douze Ave des Champs-Élysées", "92 avenue des champselysees", None, ["fr"], False,
     {}),
    ("expansions", "Marktstrasse", "markt strasse", None, ["de"], False, {}),
    ("expansions", "Hoofdstraat", "hoofdstraat", None, ["nl"], False, {}),
    ("expansions", "มงแตร", "มงแตร", None, ["th"], False, {}),
] + [
    ("street_root", text, expected, STREET, None, True, {}) for text, expected in [
        ("Malcolm X Blvd", "malcolm x"), ("E 106th St", "106"), ("S Park Ave", "park"), ("Park South", "park"),
        ("Rev Dr. MLK Dr S", "martin luther king junior"),
        ("Rev Dr. Martin Luther King Jr Dr S", "martin luther king junior"), ("East 6th Street", "6th"),
        ("Avenue B", "b"), ("Avenue C", "c"), ("Avenue D", "d"), ("Avenue E", "e"), ("Avenue N", "n"),
        ("U St SE", "u"), ("S Park", "park"), ("Park S", "park"), ("Avenue Rd", "avenue"),
        ("Broadway", "broadway"), ("E Broadway", "broadway"), ("E Center St", "center"), ("E Ctr St", "center"),
        ("E Center Street", "center"), ("E Ctr Street", "center"), ("Center St E", "center"),
        ("Ctr St E", "center"), ("Center Street E", "center"), ("Ctr Street E", "center"),
    ]
] + [
    ("street_root", "W. UNION STREET", "union", STREET, ["en", "es"], True, {}),
    ("street_root", "C/ Ocho", "8", STREET, None, True, {}),
    ("house_number_root", "1A", "1 a", HOUSE_NUMBER, None, True, {}),
    ("house_number_root", "A1", "a 1", HOUSE_NUMBER, None, True, {}),
    ("house_number_root", "1", "1", HOUSE_NUMBER, None, True, {}),
] + [
    ("house_number_root", text, "1", HOUSE_NUMBER, EN, True, {})
    for text in ("# 1", "No. 1", "House No. 1", "House #1")
] + [
    ("level_root", text, expected, LEVEL, EN, True, {}) for text, expected in [
        ("1st Fl", "1"), ("1st Floor", "1"), ("First Fl", "1"), ("First Floor", "1"), ("2nd Fl", "2"),
        ("2nd Floor", "2"), ("Second Fl", "2"), ("Second Floor", "2"), ("Fl #1", "1"), ("Fl No. 1", "1"),
        ("Floor No. 1", "1"), ("SB 1", "sub basement 1"), ("Bsmt", "basement"), ("Bsmt 1", "basement 1"),
        ("1G", "1 ground"), ("G", "ground"),
    ]
] + [
    ("unit_root", text, expected, UNIT, EN, True, {}) for text, expected in [
        ("1A", "1 a"), ("A1", "a 1"), ("Apt 101", "101"), ("Apt No 101", "101"), ("Apt #101", "101"),
        ("Apartment 101", "101"), ("Apartment #101", "101"), ("Ste 101", "101"), ("Ste No 101", "101"),
        ("Ste #101", "101"), ("Suite 101", "101"), ("Suite #101", "101"), ("PH 1", "penthouse 1"),
        ("PH1", "penthouse 1"), ("Penthouse 1", "penthouse 1"), ("1L", "1l"), ("1L", "1 left"), ("1F", "1f"),
        ("1F", "1f"), ("1R", "1r"), ("1R", "1r"),
    ]
] + [
    ("po_box_root", "PO Box 1234", "1234", PO_BOX, EN, True, {}),
    ("po_box_root", "PO Box #1234", "1234", PO_BOX, EN, True, {}),
    ("language_classifier", "V XX Sett", "via 20 settembre", None, None, False, {}),
    ("language_classifier", "C/ Ocho", "calle 8", None, None, False, {}),
    ("no_options", "120 E 96th St New York", "120 E 96th St New York", None, None, False, ALL_OFF),
]


def case_id(case):
    test, text, expected, _, languages, _, _ = case
    return "%s:%s->%s%s" % (test, text, expected, "[%s]" % ",".join(languages) if languages else "")


@pytest.mark.parametrize("test, text, expected, components, languages, root, keywords", CASES,
                         ids=[case_id(case) for case in CASES])
def test_libpostals_own_expansion_expectations(test, text, expected, components, languages, root, keywords):
    call = dict(keywords)
    if components is not None:
        call["address_components"] = components
    if languages is not None:
        call["languages"] = languages
    if root:
        call["root"] = 1
    expansions = addrnorm.expand_address(text, **call)
    assert expansions is not None and expected in expansions, "%r with %r gave %r" % (text, call, expansions)


def test_the_transcription_is_complete():
    # The C file's count of checks, and of distinct ones once its repeated
    # "1F" and "1R" unit checks are folded.
    assert len(CASES) == 89
    assert len({(t, x, e, c, tuple(l or ()), r) for t, x, e, c, l, r, _ in CASES}) == 87
