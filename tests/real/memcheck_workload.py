"""A short workload on the real libpostal, for valgrind memcheck: libpostal is
set up once (what is slow under valgrind), then every function runs with every
option keyword and through every error path, and the interpreter exits with
every module live, so that libpostal is torn down at exit.

    python tests/memcheck/memcheck.py --out DIR --suppressions tests/real/libpostal.supp -- \\
        PYTHON tests/real/memcheck_workload.py

Run plainly, it checks its own results and prints the number of calls.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

import addrnorm  # noqa: E402
from addrnorm import _duplicate, _expand, _kinhash, _text  # noqa: E402
from addrnorm.options import EXPAND_FLAGS, HASH_FLAGS  # noqa: E402
from awkward import Failing, GrowingLength, LyingLength, LyingList  # noqa: E402

expand, hashes = _expand.expand_address, _kinhash.near_dupe_hashes
calls = [0]

LABELS = ["house", "road", "house_number", "unit", "postcode", "city"]
VALUES = ["Whole Foods", "Franklin Ave", "781", "Apt 2", "11216", "Brooklyn"]


def ok(function, *args, **kwargs):
    calls[0] += 1
    result = function(*args, **kwargs)
    assert result is None or (type(result) is list and all(type(item) is str for item in result)), result
    return result


def status(function, *args, **kwargs):
    calls[0] += 1
    result = function(*args, **kwargs)
    if type(result) is tuple:
        assert len(result) == 2 and result[0] in (-1, 0, 3, 6, 9) and type(result[1]) is float, result
    else:
        assert result in (-1, 0, 3, 6, 9), result
    return result


def refused(error, function, *args, **kwargs):
    calls[0] += 1
    try:
        function(*args, **kwargs)
    except error:
        return
    raise AssertionError("%s(%r, %r) did not raise %r" % (function.__name__, args, kwargs, error))


# Expansions: defaults, each flag both ways, components, languages, root.
assert "781 franklin avenue" in ok(expand, "781 Franklin Ave", languages=["en"])
assert "781 franklin avenue" in ok(addrnorm.expand_address, "781 Franklin Ave")
for flag in EXPAND_FLAGS:
    for value in (0, 1):
        ok(expand, "Rev. Dr. MLK's Blvd-Ext 4B, Champs-Élysées", **{flag: value})
for components in (0, 1, 0x0C, 0xC0FE, 0xFFFF, -1, 2 ** 16 + 5):
    ok(expand, "Apt 101, 30 W 26th St, PO Box 12, NY 10010", address_components=components, root=1)
for languages in (None, [], ["en"], ("fr", "de"), "en", ["", "ru", "zh"], {"en"}, 5):
    ok(expand, "Quatre vingt douze Ave des Champs-Élysées", languages=languages)
ok(expand, *(["120 E 96th St", ["en"], 0xFFFF] + [1] * 17 + [1]))
ok(expand, "120 E 96th St New York", **dict.fromkeys(EXPAND_FLAGS, 0))
for text in ("", "\0", "a\0b", "ida-b@wells.co", "улица 40 лет Победы", "東京都千代田区丸の内1-9-1", "5-19&#56256;&#56321; Nakamachi",
             "\u200f12 شارع الملك فهد", "🏠 12 Main St", "Main St " * 200, type("Street", (str,), {})("Rue de Rivoli")):
    ok(expand, text)
    ok(expand, text, root=1, languages=["en"])

# Expansion errors.
for address, error in ((5, TypeError), (None, TypeError), (b"Main St", TypeError), (bytearray(b"x"), TypeError),
                       ("\udc80 Main", UnicodeEncodeError), (["x"], TypeError)):
    refused(error, expand, address)
for languages in (["engl"], ["éé"], [b"en"], ["en", 5], [None], b"en", ["\ud800"], LyingLength(["en"], 2),
                  LyingList(["en"]), Failing("iter"), Failing("item")):
    refused((TypeError, ValueError), expand, "x", languages=languages)
refused(TypeError, expand)
refused(TypeError, expand, "x", lowercase=1.0)
refused(TypeError, expand, "x", address_components="all")
refused(TypeError, expand, "x", language=["en"])
refused(TypeError, expand, *(["x"] + [0] * 21))

# Hashes: defaults, languages, each option both ways, coordinates, precision.
assert "napc|whol|franklin avenue|781|11216" in ok(hashes, LABELS[:3] + ["postcode"], VALUES[:3] + ["11216"])
ok(addrnorm.near_dupe_hashes, LABELS, VALUES, languages=["en"])
for flag in HASH_FLAGS:
    for value in (0, 1):
        ok(hashes, LABELS, VALUES, **{flag: value})
for precision in (0, 1, 6, 12, 13, -1):
    ok(hashes, LABELS, VALUES, with_latlon=1, latitude=40.6782, longitude=-73.9442, geohash_precision=precision)
ok(hashes, LABELS, VALUES, with_latlon=1, latitude=float("nan"), longitude=float("nan"))
ok(hashes, LABELS, VALUES, with_latlon=1, latitude=95.0, longitude=-190.0)
ok(hashes, LABELS, VALUES, ["en"], 1, 1, 1, 1, 1, 1, 1, 52.52, 13.405, 7, 1, 1, 1)
ok(hashes, ("house", "city"), ("Аптека", "Москва"), name_only_keys=1)
ok(hashes, "ab", "xy")
assert ok(hashes, [], []) is None and ok(hashes, ["house", "road"], ["Whole Foods", "Franklin Ave"]) is None
assert ok(hashes, ["house", "road"], ["Whole Foods", "Franklin Ave"], with_latlon=1) is None
assert ok(hashes, LABELS[:4], VALUES[:4], with_latlon=1, with_unit=1, latitude=float("nan")) is None
ok(hashes, ["house", "city"], ["5-19&#56256;&#56321; Nakamachi", "Tokyo"])
ok(hashes, ["road", "city"], ["Main St " * 200, "x"], address_only_keys=1)
# A far longitude is wrapped before libpostal's geohash sees it.
assert ok(hashes, LABELS[:4], VALUES[:4], with_latlon=1, latitude=40.67, longitude=1e15)

# Hash errors.
for labels, values, keywords in (
        ({"city"}, ["x"], {}), (["city"], {"x": 1}, {}), (iter(["city"]), ["x"], {}), (5, 5, {}),
        (["city", "road"], ["x", "y", "z"], {}), (["city"], ["x"], {"languages": ["engl"]}),
        (["city"], ["x"], {"languages": [b"en"]}), ([b"city"], ["x"], {}), (["city"], [b"x"], {}),
        (["city"], [7], {}), (["city"], ["\ud800"], {}), (["city", None], ["x", "y"], {"languages": ["en"]}),
        (LyingLength(["city"], 2), ["x", "y"], {}), (["city", "road"], LyingList(["x", "y"]), {}),
        (GrowingLength(["city", "road", "house"]), ["x", "y"], {}), (Failing("item"), ["x", "y"], {}),
        (["city"], ["x"], {"with_name": 1.0}), (["city"], ["x"], {"latitude": "52.5"}),
        (["city"], ["x"], {"label": ["city"]}), (["city"], ["x"], {"with_latlon": 1, "longitude": float("inf")})):
    refused((TypeError, ValueError), hashes, labels, values, **keywords)
refused(TypeError, hashes, ["city"])

# Duplicate classifiers: every field with and without languages, the
# toponym and fuzzy ones with every argument.
FIELDS = ("name", "street", "house_number", "po_box", "unit", "floor", "postal_code")
for field in FIELDS:
    function = getattr(_duplicate, "is_%s_duplicate" % field)
    for languages in (None, [], ["en"], ("fr", "de"), 5):
        status(function, "Apt 3, 781 Franklin Ave", "Apartment 3 781 Franklin Avenue", languages)
    for value1, value2 in (("", ""), ("a\0b", "a"), ("улица Ленина", "ул. Ленина"), ("東京都千代田区", "東京都"),
                           ("Main St " * 200, "Main St")):
        status(function, value1, value2, languages=["en"])
assert status(addrnorm.is_street_duplicate, "Main St", "Main Street") == 9
topo = _duplicate.is_toponym_duplicate
assert status(topo, ["city", "state"], ["Brooklyn", "NY"], ["city", "state"], ["Brooklyn", "New York"]) == 9
status(topo, ["city_district", "suburb", "state_district", "state", "country"], ["a", "b", "c", "d", "e"],
       ("city", "state", "country"), ("a", "d", "e"), ["en"])
status(topo, ["suburb"], ["Brooklyn"], ["city"], ["Brooklyn"], languages=("en", "de"))
status(addrnorm.is_toponym_duplicate, ["house", "road"], ["x", "y"], ["city"], ["x"])
assert status(topo, [], [], ["city"], ["x"]) == -1
for fuzzy in (_duplicate.is_name_duplicate_fuzzy, _duplicate.is_street_duplicate_fuzzy):
    for languages in (None, ["en"], ["en", "fr", "zzz"]):
        status(fuzzy, ["whole", "foods"], [0.5, 0.5], ["whole", "foods", "market"], [0.4, 0.4, 0.2], languages)
    status(fuzzy, ["a", "b", "jewelry"], [0.3, 0.3, 0.4], ["b", "c", "jewelry"], [0.3, 0.3, 0.4], ["en"], 0.5, 0.8)
    status(fuzzy, ["main", "st"], [1, True], ["main", "street"], [0.8, float("nan")], needs_review_threshold=-1.0,
           likely_dupe_threshold=float("inf"))
    status(fuzzy, ["東京", "駅"], [0.5, 0.5], ["東京"], [1.0])
    status(fuzzy, [""], [1.0], ["a" * 500], [1.0])
    assert status(fuzzy, ["a"], [1.0], (), ()) == (-1, 0.0)
status(addrnorm.is_name_duplicate_fuzzy, ["whole", "foods"], [0.5, 0.5], ["whole"], [1.0], likely_dupe_threshold=0.95)

# Duplicate errors.
for value1, value2, languages in (("a", None, None), (5, "a", None), ("a", b"a", None), ("\ud800", "a", None),
                                  ("a", "b", ["engl"]), ("a", "b", ["en", 5]), ("a", "b", LyingLength(["en"], 2)),
                                  ("a", "b", Failing("item"))):
    for field in FIELDS:
        refused((TypeError, ValueError), getattr(_duplicate, "is_%s_duplicate" % field), value1, value2, languages)
refused(TypeError, _duplicate.is_name_duplicate, "a")
refused(ValueError, addrnorm.is_unit_duplicate, "1", "1", ["EN"])
for args in ((["city"], ["x"], "city", ["x"]), (["city", "state"], ["x"], ["city"], ["x"]),
             (["city"], ["x"], ["city"], [b"x"]), (["city"], ["\ud800"], ["city"], ["x"]),
             (LyingLength(["city"], 2), ["x", "y"], ["city"], ["x"]), (["city"], ["x"], ["city"], LyingList(["x"])),
             (["city"], ["x"], ["city", "road"], GrowingLength(["x", "y", "z"])), (Failing("len"), ["x"], [], []),
             (["city"], ["x"], ["city"], ["x"], ["toolong"])):
    refused((TypeError, ValueError), topo, *args)
for fuzzy in (_duplicate.is_name_duplicate_fuzzy, _duplicate.is_street_duplicate_fuzzy):
    for args in (("ab", [1, 2], ["a"], [1]), (["a"], 1.0, ["a"], [1]), (["a", "b"], [1], ["a"], [1]),
                 (["a"], ["1"], ["a"], [1]), (["a"], [1], [b"a"], [1]), (["\udc80"], [1], ["a"], [1]),
                 (["a"], [1], ["a"], [None]), (["a"], LyingLength([1.0], 2), ["a", "b"], [1, 2]),
                 (["a", "b"], LyingLength([1.0], 2), ["a"], [1]), (["a"], [1], ["a", "b"], Failing("item")),
                 (["a"], [1], ["a"], [1], ["en", "x" * 4]), (["a"], [1], ["a"], [1], None, "0.5"),
                 (["a"], [1], ["a"], [1], None, 0.5, None)):
        refused((TypeError, ValueError), fuzzy, *args)

# Tokens, normalization, guesses, name keys and place languages: every
# function in five scripts, each option bit alone, the null answers and the
# error paths.
TEXTS = ["Hauptstraße 5, 10115 Berlin", "улица Ленина, 10, Москва", "東京都港区六本木6-10-1", "شارع الملك فهد، الرياض",
         "नई दिल्ली 110001", "St. John's Rd.", "", "12345", "a\0b"]


def pairs(function, *args, **kwargs):
    calls[0] += 1
    result = function(*args, **kwargs)
    assert result is None or (type(result) is list and all(type(item) is tuple for item in result)), result
    return result


for text in TEXTS:
    for whitespace, offsets in ((0, 0), (1, 0), (0, 1), (1, 1)):
        pairs(_text.tokenize, text, whitespace, offsets)
    pairs(_text.normalized_tokens, text)
    pairs(_text.classify_language, text)
    ok(_kinhash.near_dupe_name_hashes, text)
    ok(_kinhash.place_languages, ["house", "road"], [text, text])
    calls[0] += 1
    _text.normalize_string(text)
for bit in range(11):
    calls[0] += 1
    _text.normalize_string("Thirty-Two Rue de l'Église &amp; 5", 1 << bit if bit < 10 else 0, ["en", "fr"])
    pairs(_text.normalized_tokens, "Thirty-Two U.S.A. Bob's l'Église 4B 12-34", 0xF5, 1 << bit if bit < 10 else 0,
          bit & 1, ["en"])
assert addrnorm.tokenize("Köln 5", offsets=True)[0][:2] == (0, 4)
assert addrnorm.classify_language("Hauptstraße 5, 10115 Berlin")[0][0] == "de"
for flag in EXPAND_FLAGS:
    ok(addrnorm.near_dupe_name_hashes, "Whole Foods Market", ["en"], **{flag: 0})
for function in (_text.tokenize, _text.normalize_string, _text.normalized_tokens, _text.classify_language,
                 _kinhash.near_dupe_name_hashes):
    for text in (b"bytes", None, "\ud800"):
        refused((TypeError, UnicodeEncodeError), function, text)
for args, kwargs in ((("x", ["engl"]), {}), (("x",), {"languages": [b"en"]}), (("x",), {"languages": LyingLength(["en"], 2)})):
    refused(TypeError, _text.normalize_string, args[0], 245, *args[1:], **kwargs)
    refused(TypeError, _text.normalized_tokens, args[0], 245, 61, 0, *args[1:], **kwargs)
for args in (({"road"}, ["x"]), (["road", "city"], ["x"]), (["road"], [b"x"]), (LyingLength(["road"], 2), ["x", "y"])):
    refused(TypeError, _kinhash.place_languages, *args)

print("workload: %d calls" % calls[0])
