"""Every path of _text's functions and of the name keys and place languages,
success and each failure, leaves the C heap where it was and hands every
language guess back to the library; an exhausted heap is a MemoryError that
leaks nothing and reaches no library call."""
import pytest

from addrnorm._kinhash import near_dupe_name_hashes, place_languages
from addrnorm._text import classify_language, normalize_string, normalized_tokens, tokenize
from awkward import LyingLength
from heap import LEAK_LIMIT, OWN_ALLOCATOR, calling, exhausted_heap, heap_growth
from text_double import TextDouble

LONG = "Avenue des Champs-Élysées " * 40
STRINGS = [b"saint", "straße".encode(), b""]

# (id, what the double answers: "echo", "null", strings, or tokens, call)
PATHS = [
    ("tokenize", "echo", calling(tokenize, LONG)),
    ("tokenize: whitespace, offsets", "echo", calling(tokenize, LONG, 1, 1)),
    ("tokenize: null", "null", calling(tokenize, "x")),
    ("tokenize: token past the end", [(0, 1, 1), (2, 99, 1)], calling(tokenize, "Köln x", 0, 1)),
    ("tokenize: refused", "echo", calling(tokenize, b"bytes")),
    ("tokenize: parse error", "echo", calling(tokenize, "x", 1.5)),
    ("normalize", STRINGS, calling(normalize_string, LONG, 3, ["en", "fr"])),
    ("normalize: null", "null", calling(normalize_string, "x")),
    ("normalize: undecodable", [b"\xff"], calling(normalize_string, "x")),
    ("normalize: bad code", "echo", calling(normalize_string, LONG, 3, ["en", "engl"])),
    ("normalize: lying codes", "echo", calling(normalize_string, LONG, 3, LyingLength(["en", "fr"], 3))),
    ("tokens", "echo", calling(normalized_tokens, LONG, 1, 2, 1, ["de"])),
    ("tokens: chosen", STRINGS, calling(normalized_tokens, "x")),
    ("tokens: null", "null", calling(normalized_tokens, "x")),
    ("tokens: undecodable", [b"ok", b"\xc3"], calling(normalized_tokens, "x")),
    ("tokens: bad code", "echo", calling(normalized_tokens, "x", languages=["en", 5])),
    ("guess", STRINGS, calling(classify_language, LONG)),
    ("guess: null", "null", calling(classify_language, "x")),
    ("guess: undecodable", [b"en", b"\xe2\x82"], calling(classify_language, "x")),
    ("guess: refused", "echo", calling(classify_language, "\ud800")),
    ("name keys", "echo", calling(near_dupe_name_hashes, LONG, ["en", "de"], lowercase=0)),
    ("name keys: chosen", STRINGS, calling(near_dupe_name_hashes, "x")),
    ("name keys: null", "null", calling(near_dupe_name_hashes, "x")),
    ("name keys: undecodable", [b"a", b"\xff"], calling(near_dupe_name_hashes, "x")),
    ("name keys: bad code", "echo", calling(near_dupe_name_hashes, "x", ["en", b"de"])),
    ("place", STRINGS, calling(place_languages, ["house", "road", "city"], ["Acme", LONG, "Town"])),
    ("place: null", "null", calling(place_languages, ["road"], ["x"])),
    ("place: undecodable", [b"\xff"], calling(place_languages, ["road"], ["x"])),
    ("place: empty", "echo", calling(place_languages, [], [])),
    ("place: bad value", "echo", calling(place_languages, ["road", "city"], [LONG, b"y"])),
    ("place: lying values", "echo", calling(place_languages, ["road", "city"], LyingLength([LONG], 2))),
]


@pytest.fixture
def text_double():
    double = TextDouble()
    double.reset()
    yield double
    double.reset()


def answer(text_double, result):
    if result == "null":
        text_double.set_null_result()
    elif result != "echo" and isinstance(result[0], tuple):
        text_double.set_tokens(result)
    elif result != "echo":
        text_double.set_strings(result, [0.75, 0.25])


@pytest.mark.parametrize("result, call", [path[1:] for path in PATHS], ids=[path[0] for path in PATHS])
def test_a_loop_leaves_the_heap_flat(text_double, result, call):
    answer(text_double, result)
    growth = heap_growth(call)
    assert growth is None or growth < LEAK_LIMIT
    counters = text_double.counters()
    assert (counters["live_responses"], counters["destroy_faults"], counters["calls_while_down"]) == (0, 0, 0)


# The double's own counters, read as exhausted_heap reads the others.
IMPORTS = """
from addrnorm._kinhash import near_dupe_name_hashes, place_languages
from addrnorm._text import classify_language, normalize_string, normalized_tokens, tokenize
from text_double import TextDouble
class TextCounters:
    text = TextDouble()
    def counters(self):
        counters = self.text.counters()
        return {'calls': counters['calls'], 'live_arrays': counters['live_responses']}
double = TextCounters()
"""

TEXT = "Köln, Hohe Straße 1"
OUT_OF_MEMORY = [
    ("failalloc_arm_strdup(%r.encode())" % TEXT, "%s(%r)" % (function, TEXT))
    for function in ("tokenize", "normalize_string", "normalized_tokens", "classify_language",
                     "near_dupe_name_hashes")
] + [
    ("failalloc_arm_calloc(3)", "normalize_string('x', 245, ['en', 'fr', 'de'])"),
    ("failalloc_arm_calloc(3)", "normalized_tokens('x', languages=['en', 'fr', 'de'])"),
    ("failalloc_arm_calloc(3)", "near_dupe_name_hashes('x', ['en', 'fr', 'de'])"),
    ("failalloc_arm_strdup(b'fr')", "normalize_string('x', 245, ['en', 'fr', 'de'])"),
    ("failalloc_arm_calloc(3)", "place_languages(['house', 'road', 'city'], ['a', 'b', 'c'])"),
    ("failalloc_arm_strdup(%r.encode())" % TEXT, "place_languages(['house', 'road'], ['a', %r])" % TEXT),
]


# valgrind and AddressSanitizer put their own calloc and strdup ahead of any
# preloaded ones, so these failures can only be made under glibc's allocator.
@pytest.mark.skipif(OWN_ALLOCATOR, reason="the allocator is valgrind's or AddressSanitizer's")
@pytest.mark.parametrize("arm, call", OUT_OF_MEMORY)
def test_an_exhausted_heap_is_a_memory_error_and_leaks_nothing(python, arm, call):
    outcomes, growth, calls, live = exhausted_heap(python, IMPORTS, arm, call)
    assert outcomes == ["MemoryError"]
    assert growth < LEAK_LIMIT
    assert (calls, live) == (0, 0)
