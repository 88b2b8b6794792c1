"""A small workload of the address parser on the real libpostal, for valgrind
memcheck: the parser's model is set up once (about 90 s under valgrind, and
twice the memory: the reason this workload is small and apart from
memcheck_workload.py), then parse_address runs over ordinary, awkward and
refused input, and the interpreter exits with the module live, so that the
parser is torn down at exit.

    python tests/memcheck/memcheck.py --out DIR --suppressions tests/real/libpostal.supp -- \\
        PYTHON tests/real/memcheck_parser_workload.py

Run plainly, it checks its own results and prints the number of calls.
"""
import addrnorm
from addrnorm import _parser
from addrnorm.parsing import record_fields

parse = _parser.parse_address
calls = [0]


def ok(*args, **kwargs):
    calls[0] += 1
    result = parse(*args, **kwargs)
    assert type(result) is list and all(type(part) is str and type(label) is str for part, label in result), result
    return result


def refused(error, *args, **kwargs):
    calls[0] += 1
    try:
        parse(*args, **kwargs)
    except error:
        return
    raise AssertionError("parse_address(%r, %r) did not raise %r" % (args, kwargs, error))


assert ("franklin ave", "road") in ok("781 Franklin Ave Crown Hts Brooklyn NY 11216")
for text in ("", " ", "\0", "a\0b", "Rue de Rivoli 12, 75001 Paris", "Oranienstraße 10, 10997 Berlin",
             "улица 40 лет Победы", "東京都千代田区丸の内1-9-1", "5-19&#56256;&#56321; Nakamachi", "🏠 12 Main St",
             "\u200f12 شارع الملك فهد", "Main St " * 200, type("Street", (str,), {})("Rue de Rivoli")):
    ok(text)
    ok(text, "en", "us")
for text, error in ((5, TypeError), (None, TypeError), (b"Main St", TypeError), ("\udc80 Main", UnicodeEncodeError)):
    refused(error, text)
for language, country in ((5, None), (None, b"us"), ("\ud800", None), ("en", "\udfff")):
    refused((TypeError, UnicodeEncodeError), "Main St", language, country)
refused(TypeError)
refused(TypeError, "x", "en", "us", "extra")
fields = addrnorm.parsed_fields(addrnorm.parse_address("Whole Foods, 781 Franklin Ave, Brooklyn, NY 11216"))
assert fields.get("house_number") == "781", fields
labels, values = record_fields({"name": "Whole Foods", "address": "781 Franklin Ave, Brooklyn"}, ["address"],
                               {"name": "house"})
assert addrnorm.near_dupe_hashes(labels, values, languages=["en"])
print("parser workload: %d calls" % calls[0])
