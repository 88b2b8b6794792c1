import pytest

from addrnorm import _kinhash
from addrnorm.options import HASH_FLAGS

near_dupe_hashes = _kinhash.near_dupe_hashes

REAL_DEFAULTS = dict(
    with_name=1, with_address=1, with_unit=0, with_city_or_equivalent=1, with_small_containing_boundaries=1,
    with_postal_code=1, with_latlon=0, latitude=0.0, longitude=0.0, geohash_precision=6,
    name_and_address_keys=1, name_only_keys=0, address_only_keys=0)

LABELS = ["house", "road", "house_number", "postcode"]
VALUES = ["Whole Foods", "Franklin Ave", "781", "11216"]


def sent(double):
    return double.last_call().hash_options


def test_defaults_are_libpostals_own(double):
    assert double.hash_default_options().as_dict() == REAL_DEFAULTS


@pytest.mark.parametrize("defaults", [
    {},
    dict({name: 0 for name in HASH_FLAGS}, latitude=-33.9, longitude=151.2, geohash_precision=0),
    dict({name: 1 for name in HASH_FLAGS}, geohash_precision=4294967295),
], ids=["real", "all-off", "all-on"])
def test_a_record_alone_sends_the_default_record(double, defaults):
    expected = double.set_hash_default_options(**defaults).as_dict()
    assert near_dupe_hashes(LABELS, VALUES) == ["%s|%s" % pair for pair in zip(LABELS, VALUES)]
    received = double.last_call()
    assert received.hash_options == expected
    assert received.function == "libpostal_near_dupe_hashes"
    assert (received.component_count, received.labels, received.values) == (4, LABELS, VALUES)


def test_a_default_boolean_byte_other_than_one_is_sent_as_one(double):
    double.set_hash_default_options(with_unit=2, name_only_keys=255)
    near_dupe_hashes(["city"], ["x"])
    assert (sent(double)["with_unit"], sent(double)["name_only_keys"]) == (1, 1)


@pytest.mark.parametrize("keyword", HASH_FLAGS)
@pytest.mark.parametrize("value", [0, 1])
def test_each_boolean_keyword_sets_its_own_field_only(double, keyword, value):
    defaults = double.set_hash_default_options(**{name: 1 - value for name in HASH_FLAGS}).as_dict()
    near_dupe_hashes(["city"], ["x"], **{keyword: value})
    assert sent(double) == dict(defaults, **{keyword: value})


@pytest.mark.parametrize("value, on", [
    (2, 1), (-1, 1), (True, 1), (256, 1), (2 ** 32 + 1, 1), (0, 0), (False, 0), (2 ** 32, 0)])
def test_a_boolean_tests_its_whole_low_32_bits(double, value, on):
    double.set_hash_default_options(with_name=1 - on)
    near_dupe_hashes(["city"], ["x"], with_name=value)
    assert sent(double)["with_name"] == on


@pytest.mark.parametrize("keywords, expected", [
    ({"latitude": 40.6782, "longitude": -73.9442}, {"latitude": 40.6782, "longitude": -73.9442}),
    ({"latitude": 5, "longitude": -7}, {"latitude": 5.0, "longitude": -7.0}),
    ({"latitude": float("inf")}, {"latitude": float("inf")}),
    ({"geohash_precision": 12}, {"geohash_precision": 12}),
    ({"geohash_precision": 0}, {"geohash_precision": 0}),
    ({"geohash_precision": -1}, {"geohash_precision": 4294967295}),
    ({"geohash_precision": 2 ** 32 + 3}, {"geohash_precision": 3}),
])
def test_numeric_fields_pass_unchanged(double, keywords, expected):
    defaults = double.hash_default_options().as_dict()
    near_dupe_hashes(["city"], ["x"], **keywords)
    assert sent(double) == dict(defaults, **expected)


def test_positional_arguments_follow_the_keyword_list(double):
    args = [["city"], ["x"], ["en"], 0, 1, 0, 1, 0, 1, 0, 1.5, 2.5, 9, 1, 0, 1]
    near_dupe_hashes(*args)
    assert sent(double) == dict(
        with_name=0, with_address=1, with_unit=0, with_city_or_equivalent=1, with_small_containing_boundaries=0,
        with_postal_code=1, with_latlon=0, latitude=1.5, longitude=2.5, geohash_precision=9,
        name_and_address_keys=1, name_only_keys=0, address_only_keys=1)
    assert near_dupe_hashes(labels=["city"], values=["y"], address_only_keys=1) == ["city|y"]


@pytest.mark.parametrize("languages", [None, [], (), 5, {"en"}, {"en": 1}, (c for c in ["en"])],
                         ids=["None", "list", "tuple", "int", "set", "dict", "generator"])
def test_no_codes_take_the_plain_entry_point(double, languages):
    near_dupe_hashes(["city"], ["x"], languages=languages)
    received = double.last_call()
    assert (received.function, received.language_count) == ("libpostal_near_dupe_hashes", 0)


@pytest.mark.parametrize("languages, codes", [
    (["en"], ["en"]), (("en", "de"), ["en", "de"]), ("ab", ["a", "b"]), ([""], [""]), (["abc"], ["abc"]),
    (["é"], ["é"]),
])
def test_codes_take_the_language_entry_point(double, languages, codes):
    near_dupe_hashes(["city"], ["x"], languages=languages)
    received = double.last_call()
    assert received.function == "libpostal_near_dupe_hashes_languages"
    assert (received.language_count, received.languages) == (len(codes), codes)


@pytest.mark.parametrize("labels, values, kwargs, message", [
    ({"city"}, ["x"], {}, "Input labels and values must be sequences"),
    (["city"], {"x": 1}, {}, "Input labels and values must be sequences"),
    (5, 5, {}, "Input labels and values must be sequences"),
    (iter(["city"]), ["x"], {}, "Input labels and values must be sequences"),
    (["city", "road"], ["x", "y", "z"], {}, "Input labels and values arrays must be of equal length"),
    ([1, 2], [b"x", None, 3.0], {"languages": [5]}, "Input labels and values arrays must be of equal length"),
    (["city"], ["x"], {"languages": ["engl"]}, "string exceeded maximum length"),
    (["city"], ["x"], {"languages": ["éé"]}, "string exceeded maximum length"),
    (["city"], ["x"], {"languages": [b"en"]}, "all elements must be strings"),
    (["city"], ["x"], {"languages": b"en"}, "all elements must be strings"),
    ([5], ["x"], {"languages": ["toolong"]}, "string exceeded maximum length"),
    ([b"city"], ["x"], {}, "all elements must be strings"),
    (b"ab", ["x", "y"], {}, "all elements must be strings"),
    (["city", None], ["x", "y"], {"languages": ["en"]}, "all elements must be strings"),
    (["city"], [b"x"], {}, "all elements must be strings"),
    (["city"], [7], {}, "all elements must be strings"),
    (["city"], ["\ud800"], {}, "all elements must be strings"),
])
def test_refused_records_in_the_order_of_the_checks(double, labels, values, kwargs, message):
    calls = double.counters()["calls"]
    with pytest.raises(TypeError) as raised:
        near_dupe_hashes(labels, values, **kwargs)
    assert str(raised.value) == message
    assert double.counters()["calls"] == calls


@pytest.mark.parametrize("args, kwargs, fragments", [
    ((["city"],), {}, ("'values'", "(pos 2)")),
    (([], [], None) + (0,) * 14, {}, ("near_dupe()", "at most 16 arguments (17 given)")),
    ((["city"], ["x"]), {"with_name": 1.0}, ("integer", "float")),
    ((["city"], ["x"]), {"geohash_precision": 6.0}, ("integer", "float")),
    ((["city"], ["x"]), {"latitude": "52.5"}, ("must be real number", "str")),
    ((["city"], ["x"]), {"label": ["city"]}, ("keyword argument", "'label'")),
])
def test_argument_errors_come_from_the_parser(double, args, kwargs, fragments):
    with pytest.raises(TypeError) as raised:
        near_dupe_hashes(*args, **kwargs)
    assert all(fragment in str(raised.value) for fragment in fragments), str(raised.value)


def test_str_sequences_and_mixed_sequence_types(double):
    assert near_dupe_hashes("ab", "xy") == ["a|x", "b|y"]
    assert near_dupe_hashes(("city", "road"), ["Town", "Main St"]) == ["city|Town", "road|Main St"]
    sub = type("Label", (str,), {})
    assert near_dupe_hashes([sub("city")], (sub("Töwn"),)) == ["city|Töwn"]


def test_field_text_has_no_length_limit_and_ends_at_a_nul(double):
    long_value = "Straße " * 10000
    near_dupe_hashes(["road", "city"], [long_value, "before\0after"])
    assert double.last_call().values == [long_value, "before"]


@pytest.mark.parametrize("result, expected", [
    ([b"napc|whol|franklin avenue|781|11216", b"nap|whol|11216"],
     ["napc|whol|franklin avenue|781|11216", "nap|whol|11216"]),
    (["act|straße|köln".encode()], ["act|straße|köln"]),
    ([], []),
    (None, None),
])
def test_keys_come_back_in_the_librarys_order(double, result, expected):
    double.set_result(result)
    assert near_dupe_hashes(LABELS, VALUES, languages=["en"]) == expected


def test_undecodable_keys_raise(double):
    double.set_result([b"fine", b"\xe2\x82"])
    with pytest.raises(UnicodeDecodeError):
        near_dupe_hashes(LABELS, VALUES)


@pytest.mark.parametrize("languages", [None, ["en"]])
def test_an_empty_record_gives_none_without_asking_the_library(double, languages):
    calls = double.counters()["calls"]
    assert near_dupe_hashes([], (), languages=languages) is None
    assert near_dupe_hashes("", "") is None
    assert double.counters()["calls"] == calls


def test_module_namespace():
    assert _kinhash.__doc__ is None
    assert not hasattr(_kinhash, "Error")
    assert near_dupe_hashes.__doc__ == "near_dupe_hashes(labels, values, **kw)"
    assert [name for name in vars(_kinhash) if not name.startswith("__")] == [
        "near_dupe_hashes", "near_dupe_name_hashes", "place_languages"]


@pytest.mark.parametrize("longitude, expected", [
    (179.5, 179.5), (-180.0, -180.0), (180.0, -180.0), (540.25, -179.75), (-190.0, 170.0),
    (1e15, 1e15 % 360.0 - 360.0), (float("nan"), None),
])
def test_with_latlon_a_longitude_is_wrapped_into_range_at_once(double, longitude, expected):
    near_dupe_hashes(["city"], ["x"], with_latlon=1, latitude=1.0, longitude=longitude)
    received = sent(double)["longitude"]
    assert received != received if expected is None else received == expected


@pytest.mark.parametrize("longitude", [float("inf"), float("-inf")])
def test_with_latlon_an_infinite_longitude_is_refused_before_libpostal(double, longitude):
    calls = double.counters()["calls"]
    with pytest.raises(ValueError, match="^longitude must be finite when with_latlon is set$"):
        near_dupe_hashes(["city"], ["x"], with_latlon=1, longitude=longitude)
    assert double.counters()["calls"] == calls
    # Without with_latlon libpostal never reads it: it passes unchanged.
    near_dupe_hashes(["city"], ["x"], longitude=longitude)
    assert sent(double)["longitude"] == longitude
