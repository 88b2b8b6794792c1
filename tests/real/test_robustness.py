"""Inputs that crashed, hung or blew up earlier libpostal releases, and other
awkward text, through both functions: each input in its own child process
under a time limit, so that a crash or a hang fails naming the input."""
import json
import subprocess
import sys

import pytest

import support

LIMIT = 180  # seconds per input, for all its calls; the slowest takes a few

INPUTS = [
    ("victory-day-street", "улица 40 лет Победы"),
    ("hardware-store", "Хозтовары"),
    ("cheongju", "I I2 E E I2 I I O I2 I E I E OE!O 74 E2 E 26 I EO E 100, CHEONGJU-SI, 12345, Republic of Korea"),
    ("engerwitz", "HNO 1 WANDERWEG ENGERWITZ DORF 4209 AUSTRIA AT"),
    ("surrogate-entities", "5-19&#56256;&#56321; Nakamachi"),
    ("tacoma", "1608 S J St Fl 3, Tacoma, WA, 98405, US"),
    ("email", "ida-b@wells.co"),
    ("arkhangelsk", "Россия, 163502, Архангельская область, Архангельск, Приморский р-н, д. Малые Карелы"),
    ("empty", ""),
    ("whitespace", " \t\n\r\u00a0\u3000 "),
    ("100kB-latin", ("12 Rue de Rivoli, 75001 Paris ") * 3449),
    ("100kB-cjk", "東京都千代田区丸の内" * 3334),
    ("100kB-one-word", "a" * 100000),
    ("nul-inside", "781 Franklin Ave\0Crown Hts Brooklyn NY"),
    ("unpaired-entities", "&#55296; Main St &#57343; &#xD800; &#1114112; &#0; &#"),
    ("emoji-mixed-scripts", "🏠 12 Main St 東京 улица Ленина 🇺🇸 Straße 5 ☕ Δ שלום 123"),
    ("right-to-left-marks", "\u200f12 شارع الملك فهد\u200e, Riyadh \u202eevA nilknarF 187\u202c \u2067x\u2069"),
    ("combining-flood", "Rue" + "\u0301" * 2000 + " 5"),
]

CODE = r"""
import json, sys
import addrnorm
text = sys.stdin.read()
outcomes = []
def outcome(result):
    if result is None:
        return None
    assert type(result) is list and all(type(item) is str for item in result), result
    return len(result)
for keywords in ({}, {"languages": ["en"]}, {"root": 1}, {"address_components": 0xFFFF, "languages": ["ru", "zh"]},
                 {"lowercase": 0, "latin_ascii": 0, "transliterate": 0, "expand_numex": 0}):
    outcomes.append(outcome(addrnorm.expand_address(text, **keywords)))
# The text as each field of an ordinary record in turn (as every field at
# once, a long address makes libpostal combine its expansions into millions
# of keys: a cost, not a fault).
record = {"house": "Whole Foods", "road": "Franklin Ave", "house_number": "781", "unit": "2",
          "city": "Brooklyn", "postcode": "11216"}
wide = {"languages": ["en"], "address_only_keys": 1, "name_only_keys": 1, "with_unit": 1}
for number, label in enumerate(record):
    values = [text if other == label else value for other, value in record.items()]
    outcomes.append(outcome(addrnorm.near_dupe_hashes(list(record), values, **(wide if number % 2 else {}))))
outcomes.append(outcome(addrnorm.near_dupe_hashes(["house", "road"], [text, text], with_latlon=1, latitude=52.52,
                                                  longitude=13.405)))
print(json.dumps(outcomes))
"""


@pytest.mark.parametrize("name, text", INPUTS, ids=[name for name, _ in INPUTS])
def test_awkward_input_through_both_functions(name, text):
    # The text goes through standard input, which takes a NUL and any length.
    try:
        child = subprocess.run([sys.executable, "-X", "faulthandler", "-c", CODE], input=text.encode("utf-8"),
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=support.child_env(),
                               timeout=LIMIT)
    except subprocess.TimeoutExpired:
        pytest.fail("%s: no answer within %d s for %r" % (name, LIMIT, text[:200]), pytrace=False)
    stderr = child.stderr.decode("utf-8", "backslashreplace")
    assert child.returncode == 0, "%s: exit %d for %r\n%s" % (name, child.returncode, text[:200], stderr[-3000:])
    outcomes = json.loads(child.stdout.decode().strip().splitlines()[-1])
    assert len(outcomes) == 12
    # Only libpostal's own warning about text that is not UTF-8 once its
    # numeric character references are decoded may reach standard error.
    for line in stderr.splitlines():
        assert "invalid UTF-8 at position" in line or "transliterate.c:791" in line, (name, stderr[-2000:])
    assert bool(stderr) == (name in ("surrogate-entities", "unpaired-entities")), (name, stderr[-2000:])


def test_an_address_with_too_many_expansions_gives_the_normalized_text():
    # libpostal does not expand a string whose alternatives number 100 or more
    # (EXCESSIVE_PERMUTATIONS in its expand.c): it returns the normalized text
    # instead, once per normalization tried.
    import addrnorm

    found = addrnorm.expand_address("1608 S J St Fl 3, Tacoma, WA, 98405, US")
    assert found and set(found) == {"1608 s j st fl 3, tacoma, wa, 98405, us"}
    assert "1608 south j street floor 3" in addrnorm.expand_address("1608 S J St Fl 3", languages=["en"])


# What libpostal 1.1.3 itself does wrong, found by the fuzzer and shrunk to
# the smallest call.  Each runs in a child under a time limit.
#
# It crashes, and the binding has no sound guard: transliterate.c:1038-1041
# takes strlen of the NULL a nested transliterator returns for text that is
# not UTF-8 after HTML decoding of a numeric reference to a surrogate (decimal
# &#55296; to &#57343;), or where a step trips on U+000F (a marker in
# libpostal's rules).  Skipping that step instead sends the tokenizer into an
# endless loop on the same text, so libpostal is left as it is.  Strict: a
# libpostal that stops crashing shows up here.
KNOWN_CRASHES = [
    ("crash-expand", "from addrnorm import expand_address as f; f('é&#55296;')"),
    ("crash-expand-ascii", "from addrnorm import expand_address as f; f('a&#55296;', lowercase=0)"),
    ("crash-hash", "from addrnorm import near_dupe_hashes as f; f(['suburb'], ['&#55296;\\u202e'], languages=['de'])"),
    ("crash-marker-expand", "from addrnorm import expand_address as f; f('\\x0f\\u2e5a\\u8a42')"),
    ("crash-marker-hash", "from addrnorm import near_dupe_hashes as f; f(['island'], ['\\x0f\\U00010391\\u2ec7'])"),
]
# It loops, and the binding guards it: geohash/geohash.c:219-220 brings the
# longitude into range by adding or subtracting 360 in a loop, never ending
# for infinity and taking hours for 1e15.  The binding wraps a far longitude
# at once (the same cell) and refuses an infinite one.
GUARDED_HANGS = [
    ("hang-infinite-longitude", "from addrnorm import near_dupe_hashes as f\n"
                                "try:\n    f(['house'], ['x'], with_latlon=1, latitude=1.0, longitude=float('inf'))\n"
                                "except ValueError as e:\n    assert 'must be finite' in str(e)\n"
                                "else:\n    raise SystemExit('an infinite longitude was not refused')"),
    ("hang-far-longitude", "from addrnorm import near_dupe_hashes as f\n"
                           "record = (['house', 'road', 'house_number', 'postcode'], ['Whole Foods', 'Franklin Ave', '781', '11216'])\n"
                           "far = f(*record, with_latlon=1, latitude=40.67, longitude=1e15)\n"
                           "near = f(*record, with_latlon=1, latitude=40.67, longitude=1e15 % 360 - 360)\n"
                           "assert far == near and any(key.startswith('gh') or '|' in key for key in far), (far, near)"),
]


def answers_in_time(name, call):
    try:
        child = support.run_python(call, timeout=20)
    except subprocess.TimeoutExpired:
        raise AssertionError("%s: no answer within 20 s: %s" % (name, call))
    if child.returncode not in (0, -11):
        # Any other ending is a fault of the test, not the one expected.
        raise RuntimeError("%s: exit %d: %s\n%s" % (name, child.returncode, call, child.stderr[-2000:]))
    assert child.returncode == 0, "%s: killed by SIGSEGV: %s" % (name, call)


@pytest.mark.xfail(strict=True, raises=AssertionError, reason="libpostal 1.1.3 crashes on these")
@pytest.mark.parametrize("name, call", KNOWN_CRASHES, ids=[name for name, _ in KNOWN_CRASHES])
def test_a_known_libpostal_crash(name, call):
    answers_in_time(name, call)


@pytest.mark.parametrize("name, call", GUARDED_HANGS, ids=[name for name, _ in GUARDED_HANGS])
def test_a_libpostal_hang_the_binding_guards_answers_in_time(name, call):
    answers_in_time(name, call)
