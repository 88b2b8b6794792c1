"""The conversions between Python objects and libpostal's strings, through both
functions, including the cases the interpreter's protocols let go wrong."""
import pytest

import addrnorm
from addrnorm import LengthMismatchError, _duplicate, _kinhash
from addrnorm._expand import expand_address
from addrnorm._kinhash import near_dupe_hashes
from awkward import ChangingLength, Failing, GrowingLength, LyingLength, LyingList
from heap import OWN_ALLOCATOR, exhausted_heap

MISMATCH = "sequence length does not match its items"


def through_languages(languages):
    return expand_address("x", languages=languages)


def through_hash_languages(languages):
    return near_dupe_hashes(["city"], ["x"], languages=languages)


# Partners of the same reported length, so that the length check passes and
# the conversion itself meets the sequence.
def through_labels(labels):
    return near_dupe_hashes(labels, ["x"] * len(labels))


def through_values(values):
    return near_dupe_hashes(["city"] * len(values), values)


CONVERSIONS = [through_languages, through_hash_languages, through_labels, through_values]


@pytest.mark.parametrize("convert", CONVERSIONS)
@pytest.mark.parametrize("sequence, error, message", [
    (LyingLength(["a", "b"], 3), TypeError, MISMATCH),
    (LyingLength(["a", "b", "c"], 2), TypeError, MISMATCH),
    (LyingLength(["a"], 0), TypeError, MISMATCH),
    (LyingList(["a", "b"]), TypeError, MISMATCH),
    (Failing("iter"), ValueError, "broken sequence"),
    (Failing("item"), ValueError, "broken sequence"),
], ids=["longer", "shorter", "says-empty", "list-subclass", "iter-raises", "item-raises"])
def test_a_sequence_that_breaks_its_promises_is_refused(double, convert, sequence, error, message):
    calls = double.counters()["calls"]
    with pytest.raises(error) as raised:
        convert(sequence)
    assert str(raised.value) == message
    assert double.counters()["calls"] == calls


@pytest.mark.parametrize("convert", CONVERSIONS)
def test_a_length_that_raises_propagates(double, convert):
    with pytest.raises(ZeroDivisionError):
        convert(Failing("len", ZeroDivisionError("no length")))


def test_labels_and_values_never_reach_the_library_with_different_counts(double):
    # Equal when measured, but the labels claim one more when converted.
    calls = double.counters()["calls"]
    with pytest.raises(TypeError) as raised:
        near_dupe_hashes(GrowingLength(["city", "road", "house"]), ["a", "b"])
    assert str(raised.value) in (MISMATCH, "Input labels and values arrays must be of equal length")
    assert double.counters()["calls"] == calls


LABELS_AND_VALUES = "Input labels and values arrays must be of equal length"
# Parallel sequences of different lengths, in every function that takes them:
# as measured before any element is read, and (a sequence that changes in
# between) as converted.
LENGTH_MISMATCHES = [
    (lambda: near_dupe_hashes(["city", "road"], ["x"]), LABELS_AND_VALUES),
    (lambda: near_dupe_hashes(ChangingLength(["city", "road", "house"], [2, 3]), ["a", "b"]), LABELS_AND_VALUES),
    (lambda: _kinhash.place_languages(["road"], ["x", "y"]), LABELS_AND_VALUES),
    (lambda: _kinhash.place_languages(["road", "city"], ChangingLength(["x", "y", "z"], [2, 3])), LABELS_AND_VALUES),
    (lambda: addrnorm.near_dupe_hashes(["city", "road"], ["x"]), LABELS_AND_VALUES),
    (lambda: _duplicate.is_toponym_duplicate(["city", "state"], ["x"], ["city"], ["x"]),
     "labels1 and values1 must be of equal length (2 and 1)"),
    (lambda: _duplicate.is_toponym_duplicate(["city"], ["x"], ChangingLength(["city", "state"], [1, 2]), ["x"]),
     "labels2 and values2 must be of equal length (2 and 1)"),
    (lambda: _duplicate.is_name_duplicate_fuzzy(["a"], [1], ["a", "b"], [1]),
     "tokens2 and scores2 must be of equal length (2 and 1)"),
    (lambda: _duplicate.is_street_duplicate_fuzzy(["a", "b"], ChangingLength([1, 2, 3], [2, 3]), ["a"], [1]),
     "tokens1 and scores1 must be of equal length (2 and 3)"),
    (lambda: addrnorm.is_toponym_duplicate(["city"], ["x", "y"], ["city"], ["x"]), "labels1 and values1"),
]


@pytest.mark.parametrize("call, message", LENGTH_MISMATCHES, ids=range(len(LENGTH_MISMATCHES)))
def test_a_length_mismatch_is_one_error_in_every_module(double, call, message):
    # Callers of _duplicate catch it as the ValueError it always was, those of
    # _kinhash as the TypeError.
    calls = double.counters()["calls"]
    with pytest.raises(ValueError) as raised:
        call()
    assert type(raised.value) is LengthMismatchError and isinstance(raised.value, TypeError)
    assert message in str(raised.value)
    assert double.counters()["calls"] == calls


def test_an_honest_custom_sequence_converts(double):
    assert near_dupe_hashes(LyingLength(["city", "road"], 2), ("x", "y")) == ["city|x", "road|y"]
    expand_address("x", languages=LyingLength(["en", "fr"], 2))
    assert double.last_call().languages == ["en", "fr"]


# Allocation failures, made real by preloading a library that fails one
# chosen calloc or strdup, in a fresh interpreter.
OUT_OF_MEMORY = [
    ("failalloc_arm_calloc(4099)",
     "expand_address('x', languages=['a'] * 4099)"),
    ("failalloc_arm_strdup(b'zq')",
     "expand_address('x', languages=['en', 'zq', 'fr'])"),
    ("failalloc_arm_strdup(b'an address out of memory')",
     "expand_address('an address out of memory')"),
    ("failalloc_arm_calloc(4099)",
     "near_dupe_hashes(['city'] * 4099, ['x'] * 4099)"),
    ("failalloc_arm_strdup(b'a label out of memory')",
     "near_dupe_hashes(['city', 'a label out of memory'], ['x', 'y'])"),
    ("failalloc_arm_strdup(b'a value out of memory')",
     "near_dupe_hashes(['city', 'road'], ['x', 'a value out of memory'])"),
    ("failalloc_arm_strdup(b'zq')",
     "near_dupe_hashes(['city'], ['x'], languages=['en', 'zq'])"),
]


# valgrind and AddressSanitizer put their own calloc and strdup ahead of any
# preloaded ones, so these failures can only be made under glibc's allocator.
@pytest.mark.skipif(OWN_ALLOCATOR, reason="the allocator is valgrind's or AddressSanitizer's")
@pytest.mark.parametrize("arm, call", OUT_OF_MEMORY)
def test_an_exhausted_heap_is_a_memory_error_and_leaks_nothing(python, arm, call):
    imports = "from addrnorm._expand import expand_address\nfrom addrnorm._kinhash import near_dupe_hashes"
    outcomes, growth, calls, live = exhausted_heap(python, imports, arm, call)
    assert outcomes == ["MemoryError"]
    assert OWN_ALLOCATOR or growth < 64 * 1024
    assert (calls, live) == (0, 0)
