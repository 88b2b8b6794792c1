"""A short workload on the real libpostal, for valgrind memcheck: libpostal is
set up once (what is slow under valgrind), then both functions run with every
option keyword and through every error path, and the interpreter exits with
both modules live, so that libpostal is torn down at exit.

    python tests/memcheck/memcheck.py --out DIR --suppressions tests/real/libpostal.supp -- \\
        PYTHON tests/real/memcheck_workload.py

Run plainly, it checks its own results and prints the number of calls.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

import addrnorm  # noqa: E402
from addrnorm import _expand, _kinhash  # noqa: E402
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

print("workload: %d calls" % calls[0])
