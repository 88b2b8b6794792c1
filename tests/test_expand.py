import pytest

from addrnorm import _expand
from addrnorm.options import EXPAND_FLAGS
from libpostal_double import NORMALIZE_FLAGS

expand_address = _expand.expand_address

REAL_DEFAULTS = dict(
    {name: 1 for name in NORMALIZE_FLAGS},
    address_components=0xC0FE, num_languages=0, replace_numeric_hyphens=0, delete_numeric_hyphens=0)


def sent(double):
    return double.last_call().options


def test_defaults_are_libpostals_own(double):
    assert double.default_options().as_dict() == REAL_DEFAULTS


@pytest.mark.parametrize("defaults", [
    {},
    {name: 0 for name in NORMALIZE_FLAGS},
    dict({name: 1 for name in NORMALIZE_FLAGS}, address_components=0),
    {"drop_parentheticals": 0, "lowercase": 0, "address_components": 0x2001},
], ids=["real", "all-off", "all-on", "mixed"])
def test_address_alone_sends_the_default_record(double, defaults):
    expected = double.set_default_options(**defaults).as_dict()
    assert expand_address("Main St") == ["Main St"]
    assert sent(double) == expected
    assert double.last_call().function == "libpostal_expand_address"


def test_a_default_flag_byte_other_than_one_is_sent_as_one(double):
    double.set_default_options(lowercase=2, drop_parentheticals=0)
    expand_address("x")
    assert sent(double)["lowercase"] == 1
    assert sent(double)["drop_parentheticals"] == 0


@pytest.mark.parametrize("keyword", EXPAND_FLAGS)
@pytest.mark.parametrize("value", [0, 1])
def test_each_flag_keyword_sets_its_own_field_only(double, keyword, value):
    defaults = double.set_default_options(**{name: 1 - value for name in NORMALIZE_FLAGS}).as_dict()
    expand_address("x", **{keyword: value})
    assert sent(double) == dict(defaults, **{keyword: value})


@pytest.mark.parametrize("drop", [0, 1])
def test_the_unnamed_flag_keeps_its_default_whatever_the_keywords(double, drop):
    double.set_default_options(drop_parentheticals=drop)
    expand_address("x", **{keyword: 1 - drop for keyword in EXPAND_FLAGS})
    assert sent(double)["drop_parentheticals"] == drop


@pytest.mark.parametrize("value, on", [
    (1, 1), (2, 1), (256, 1), (-1, 1), (2 ** 31, 1), (2 ** 32 + 1, 1), (True, 1),
    (0, 0), (False, 0), (2 ** 32, 0), (-(2 ** 32), 0), (2 ** 64, 0),
])
def test_a_flag_tests_its_whole_low_32_bits(double, value, on):
    double.set_default_options(lowercase=1 - on)
    expand_address("x", lowercase=value)
    assert sent(double)["lowercase"] == on


@pytest.mark.parametrize("value, mask", [
    (0, 0), (_expand.ADDRESS_NONE, 0), (0x2000, 0x2000), (2 ** 16, 0), (2 ** 16 + 5, 5), (-1, 0xFFFF),
    (_expand.ADDRESS_ALL, 0xFFFF), (_expand.ADDRESS_STREET | _expand.ADDRESS_HOUSE_NUMBER, 12),
])
def test_address_components_keeps_its_low_16_bits(double, value, mask):
    expand_address("x", address_components=value)
    assert sent(double)["address_components"] == mask


def test_positional_arguments_follow_the_keyword_list(double):
    defaults = double.set_default_options(**{name: 0 for name in NORMALIZE_FLAGS}).as_dict()
    for position, keyword in enumerate(EXPAND_FLAGS):
        args = ["x", None, 0] + [0] * len(EXPAND_FLAGS) + [0]
        args[3 + position] = 1
        expand_address(*args)
        assert sent(double) == dict(defaults, address_components=0, **{keyword: 1}), keyword
    # The tenth argument is replace_word_hyphens, the twelfth replace_numeric_hyphens.
    expand_address("x", None, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0)
    assert sent(double)["replace_word_hyphens"] == 1
    expand_address("x", None, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1)
    assert sent(double)["replace_numeric_hyphens"] == 1
    expand_address("x", None, 7)
    assert sent(double)["address_components"] == 7
    expand_address(*(["x", None, 0] + [0] * 17 + [1]))
    assert double.last_call().function == "libpostal_expand_address_root"


@pytest.mark.parametrize("root, function", [
    (0, "libpostal_expand_address"), (False, "libpostal_expand_address"), (2 ** 32, "libpostal_expand_address"),
    (1, "libpostal_expand_address_root"), (True, "libpostal_expand_address_root"),
    (-1, "libpostal_expand_address_root"), (512, "libpostal_expand_address_root"),
])
def test_root_chooses_the_entry_point(double, root, function):
    double.set_result([b"one", b"two"])
    assert expand_address("x", root=root) == ["one", "two"]
    assert double.last_call().function == function


@pytest.mark.parametrize("languages", [None, [], (), 5, {"en"}, {"en": 1}, iter(["en"]), (c for c in ["en"])],
                         ids=["None", "list", "tuple", "int", "set", "dict", "iterator", "generator"])
def test_languages_that_give_no_codes_leave_the_default_list(double, languages):
    defaults = double.set_default_options(languages=["de", "fr"])
    expand_address("x", languages=languages)
    received = double.last_call()
    assert received.language_count == 2
    assert received.languages == ["de", "fr"]
    assert sent(double) == defaults.as_dict()


@pytest.mark.parametrize("languages, codes", [
    (["en"], ["en"]), (("en", "fr"), ["en", "fr"]), ("enf", ["e", "n", "f"]),
    ([""], [""]), (["a", "ab", "abc"], ["a", "ab", "abc"]), (["é"], ["é"]), (["aé"], ["aé"]),
    ([type("Code", (str,), {})("de")], ["de"]),
])
def test_language_codes_reach_the_library(double, languages, codes):
    double.set_default_options(languages=["zz"])
    expand_address("x", languages=languages)
    received = double.last_call()
    assert (received.language_count, received.languages) == (len(codes), codes)


@pytest.mark.parametrize("languages, message", [
    (["engl"], "string exceeded maximum length"),
    (["en", "fr", "toolong"], "string exceeded maximum length"),
    (["éé"], "string exceeded maximum length"),
    (["€a"], "string exceeded maximum length"),
    ([b"en"], "all elements must be strings"),
    (["en", 5], "all elements must be strings"),
    ([None], "all elements must be strings"),
    (b"en", "all elements must be strings"),
    (["\ud800"], "all elements must be strings"),
])
def test_refused_language_codes(double, languages, message):
    calls = double.counters()["calls"]
    with pytest.raises(TypeError) as raised:
        expand_address("x", languages=languages)
    assert str(raised.value) == message
    assert double.counters()["calls"] == calls


@pytest.mark.parametrize("address, error, message", [
    (5, TypeError, "Parameter must be bytes or unicode"),
    (None, TypeError, "Parameter must be bytes or unicode"),
    (bytearray(b"x"), TypeError, "Parameter must be bytes or unicode"),
    (["x"], TypeError, "Parameter must be bytes or unicode"),
    (b"Main St", TypeError, "Parameter could not be converted to unicode"),
    (type("Raw", (bytes,), {})(b"x"), TypeError, "Parameter could not be converted to unicode"),
    ("\udc80 Main", UnicodeEncodeError, None),
])
def test_refused_addresses(double, address, error, message):
    calls = double.counters()["calls"]
    with pytest.raises(error) as raised:
        expand_address(address)
    if message is not None:
        assert str(raised.value) == message
    assert double.counters()["calls"] == calls


@pytest.mark.parametrize("address, received", [
    ("Main St", b"Main St"),
    ("Straße 5", "Straße 5".encode()),
    ("東京都 𝔘", "東京都 𝔘".encode()),
    ("A\u0301", "A\u0301".encode()),
    (type("Street", (str,), {})("Rue de Rivoli"), b"Rue de Rivoli"),
    ("before\0after", b"before"),
    ("\0", b""),
    ("", b""),
])
def test_address_text_reaches_the_library_as_utf8(double, address, received):
    expand_address(address)
    assert double.last_call().input == received


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, ("'address'", "(pos 1)")),
    (("x",) + (0,) * 21, {}, "pyexpand() takes at most 21 arguments (22 given)"),
    ((), {"text": "x"}, ("'address'", "(pos 1)")),
    (("x",), {"text": "x"}, ("keyword argument", "'text'")),
    (("x",), {"language": ["en"]}, ("keyword argument", "'language'")),
    (("x", None), {"languages": None}, ("('languages')", "position (2)")),
    (("x",), {"lowercase": 1.0}, ("integer", "float")),
    (("x",), {"address_components": "all"}, ("integer", "str")),
    (("x",), {"root": None}, ("integer", "NoneType")),
])
def test_argument_errors_come_from_the_parser(double, args, kwargs, message):
    calls = double.counters()["calls"]
    with pytest.raises(TypeError) as raised:
        expand_address(*args, **kwargs)
    # The wording differs between interpreters; the count limit names the
    # function in all of them.
    fragments = message if isinstance(message, tuple) else (message,)
    assert all(fragment in str(raised.value) for fragment in fragments)
    assert double.counters()["calls"] == calls


@pytest.mark.parametrize("result, expected", [
    ([b"main street", b"main st"], ["main street", "main st"]),
    (["straße".encode(), "東京".encode(), b""], ["straße", "東京", ""]),
    ([], []),
    (None, None),
])
def test_expansions_come_back_in_the_librarys_order(double, result, expected):
    double.set_result(result)
    assert expand_address("x") == expected
    counters = double.counters()
    assert (counters["live_arrays"], counters["destroy_faults"]) == (0, 0)


@pytest.mark.parametrize("result", [[b"\xff"], [b"ok", b"caf\xc3"], [b"ok", b"ok", b"\xed\xa0\x80"]])
def test_an_expansion_that_is_not_utf8_raises_and_is_still_destroyed(double, result):
    double.set_result(result)
    with pytest.raises(UnicodeDecodeError):
        expand_address("x")
    counters = double.counters()
    assert (counters["live_arrays"], counters["destroy_faults"]) == (0, 0)


def test_module_namespace():
    assert _expand.__doc__ is None
    assert not hasattr(_expand, "Error")
    assert _expand.expand_address.__doc__ == "expand_address(text, **kw)"
    assert _expand.expand_address.__name__ == "expand_address"


ADDRESS_CONSTANTS = [
    ("ADDRESS_NONE", 0), ("ADDRESS_ANY", 1), ("ADDRESS_NAME", 2), ("ADDRESS_HOUSE_NUMBER", 4),
    ("ADDRESS_STREET", 8), ("ADDRESS_UNIT", 16), ("ADDRESS_LEVEL", 32), ("ADDRESS_STAIRCASE", 64),
    ("ADDRESS_ENTRANCE", 128), ("ADDRESS_CATEGORY", 256), ("ADDRESS_NEAR", 512), ("ADDRESS_TOPONYM", 8192),
    ("ADDRESS_POSTAL_CODE", 16384), ("ADDRESS_PO_BOX", 32768), ("ADDRESS_ALL", 65535),
]


def test_address_constants_in_order():
    published = [(name, value) for name, value in vars(_expand).items() if name.startswith("ADDRESS_")]
    assert published == ADDRESS_CONSTANTS
    assert all(type(value) is int for _, value in published)
    assert [name for name in vars(_expand) if not name.startswith("__")] == ["expand_address"] + [
        name for name, _ in ADDRESS_CONSTANTS]
