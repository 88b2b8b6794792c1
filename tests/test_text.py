"""_text and the name keys and place languages of _kinhash, on the double:
what libpostal receives, how its answers come back, and that every answer is
released (the heap loops and allocation failures are in test_text_memory)."""
import pickle

import pytest

import addrnorm
from addrnorm import StringOption, TokenOption, TokenType, _kinhash, _text
from text_double import TextDouble

WORD, NUMERIC, WHITESPACE = 1, 50, 300


@pytest.fixture(scope="session")
def text_double():
    return TextDouble()


@pytest.fixture(autouse=True)
def fresh_text_double(text_double):
    text_double.reset()
    yield text_double
    text_double.reset()
    counters = text_double.counters()
    # Whatever a test did, every guess went back and nothing ran on a library
    # that was down.
    assert (counters["live_responses"], counters["destroy_faults"], counters["calls_while_down"]) == (0, 0, 0)


# tokenize: slices and character offsets.

@pytest.mark.parametrize("text, tokens", [
    ("781 Franklin Ave", [("781", NUMERIC), ("Franklin", WORD), ("Ave", WORD)]),
    ("Straße 5 Köln", [("Straße", WORD), ("5", NUMERIC), ("Köln", WORD)]),
    ("улица Ленина 10", [("улица", WORD), ("Ленина", WORD), ("10", NUMERIC)]),
    ("東京都 港区 1", [("東京都", WORD), ("港区", WORD), ("1", NUMERIC)]),
    ("🏠 12 𝔸𝔹", [("🏠", WORD), ("12", NUMERIC), ("𝔸𝔹", WORD)]),
    ("", []),
    ("   ", []),
], ids=["ascii", "latin", "cyrillic", "cjk", "astral", "empty", "blank"])
def test_tokens_are_slices_of_the_text_in_any_script(text_double, text, tokens):
    assert _text.tokenize(text) == tokens
    spans = _text.tokenize(text, offsets=1)
    assert [(text[start:end], code) for start, end, code in spans] == tokens
    assert text_double.last()["input"] == text


def test_whitespace_tokens_are_asked_for_and_kept(text_double):
    assert _text.tokenize("a  b", whitespace=1) == [("a", WORD), ("  ", WHITESPACE), ("b", WORD)]
    assert text_double.last()["whitespace"] is True
    _text.tokenize("a  b", 0)
    assert text_double.last()["whitespace"] is False


@pytest.mark.parametrize("tokens, spans", [
    # Out of order: counting starts again from the text's start.
    ([(8, 5, WORD), (0, 7, WORD)], [(7, 11, WORD), (0, 6, WORD)]),
    # Overlapping and empty tokens, and one at the text's very end.
    ([(0, 7, WORD), (3, 4, WORD), (13, 0, WORD), (8, 5, WORD)], [(0, 6, WORD), (3, 6, WORD), (11, 11, WORD),
                                                                  (7, 11, WORD)]),
    # A type no TokenType names passes as a number.
    ([(0, 1, 999)], [(0, 1, 999)]),
])
def test_character_offsets_of_any_byte_offsets(text_double, tokens, spans):
    text = "Gasseß Köln"  # ß and ö take two bytes each: 13 bytes, 11 characters
    text_double.set_tokens(tokens)
    assert _text.tokenize(text, offsets=1) == spans
    assert _text.tokenize(text) == [(text[start:end], code) for start, end, code in spans]


@pytest.mark.parametrize("token", [(0, 12, WORD), (12, 0, WORD), (2 ** 63, 1, WORD), (1, 2 ** 64 - 1, WORD)],
                         ids=["past-end", "start-past-end", "huge-start", "wrapping-length"])
def test_a_token_outside_the_text_is_refused(text_double, token):
    text_double.set_tokens([(0, 1, WORD), token])
    with pytest.raises(SystemError, match="libpostal gave a token at bytes"):
        _text.tokenize("Köln 50667", offsets=1)


def test_a_text_is_sent_up_to_its_first_nul_and_tokens_are_its_slices(text_double):
    assert _text.tokenize("Köln\0 hidden") == [("Köln", WORD)]
    assert text_double.last()["input"] == "Köln"
    sub = type("Text", (str,), {})
    assert _text.tokenize(sub("ä b")) == [("ä", WORD), ("b", WORD)]
    assert all(type(token) is str for token, _ in _text.tokenize(sub("ä b")))


# normalize_string and normalized_tokens: options and languages.

DEFAULT_STRING, DEFAULT_TOKEN = 245, 61


def test_the_default_masks_are_libpostals():
    assert (_text.DEFAULT_STRING_OPTIONS, _text.DEFAULT_TOKEN_OPTIONS) == (DEFAULT_STRING, DEFAULT_TOKEN)
    assert (StringOption.DEFAULT, TokenOption.DEFAULT) == (DEFAULT_STRING, DEFAULT_TOKEN)
    assert StringOption.DEFAULT == (StringOption.LATIN_ASCII | StringOption.COMPOSE | StringOption.TRIM
                                    | StringOption.REPLACE_HYPHENS | StringOption.STRIP_ACCENTS
                                    | StringOption.LOWERCASE)


@pytest.mark.parametrize("call, expected", [
    (lambda: _text.normalize_string("x"), (DEFAULT_STRING, None)),
    (lambda: _text.normalize_string("x", 0), (0, None)),
    (lambda: _text.normalize_string("x", options=2 ** 64 - 1), (2 ** 64 - 1, None)),
    (lambda: _text.normalize_string("x", -1), (2 ** 64 - 1, None)),
    (lambda: _text.normalize_string("x", StringOption.TRANSLITERATE | StringOption.LOWERCASE), (18, None)),
    (lambda: _text.normalized_tokens("x"), (DEFAULT_STRING, DEFAULT_TOKEN)),
    (lambda: _text.normalized_tokens("x", 1, 2), (1, 2)),
    (lambda: _text.normalized_tokens("x", token_options=TokenOption.REPLACE_DIGITS), (DEFAULT_STRING, 128)),
    (lambda: addrnorm.normalized_tokens("x", token_options=0), (DEFAULT_STRING, 0)),
    (lambda: addrnorm.normalize_string("x"), (DEFAULT_STRING, None)),
    (lambda: addrnorm.normalize_string("x", StringOption.DECOMPOSE), (8, None)),
], ids=range(11))
def test_option_masks_reach_libpostal_whole(text_double, call, expected):
    call()
    last = text_double.last()
    assert last["string_options"] == expected[0]
    if expected[1] is not None:
        assert last["token_options"] == expected[1]


@pytest.mark.parametrize("function, plain", [
    (_text.normalize_string, "libpostal_normalize_string"),
    (_text.normalized_tokens, "libpostal_normalized_tokens"),
])
@pytest.mark.parametrize("languages, codes", [
    (None, None), ([], None), (5, None), (["de"], ["de"]), (("de", "fr"), ["de", "fr"]), ("ab", ["a", "b"]),
])
def test_codes_take_the_language_entry_point(text_double, function, plain, languages, codes):
    function("Straße", languages=languages)
    last = text_double.last()
    assert last["function"] == (plain if codes is None else plain + "_languages")
    assert last["languages"] == (codes or [])


@pytest.mark.parametrize("function", [_text.normalize_string, _text.normalized_tokens])
@pytest.mark.parametrize("languages, message", [
    (["engl"], "string exceeded maximum length"), ([b"en"], "all elements must be strings"),
    (["en", None], "all elements must be strings"),
])
def test_refused_codes_never_reach_libpostal(text_double, function, languages, message):
    with pytest.raises(TypeError, match="^%s$" % message):
        function("x", languages=languages)
    assert text_double.calls() == 0


def test_normalized_tokens_come_back_with_their_types(text_double):
    assert _text.normalized_tokens("st johns 5", whitespace=1) == [
        ("st", WORD), (" ", WHITESPACE), ("johns", WORD), (" ", WHITESPACE), ("5", NUMERIC)]
    assert text_double.last()["whitespace"] is True
    text_double.set_strings([b"saint", "straße".encode(), b""])
    text_double.set_tokens([(0, 2, 2), (3, 6, WORD), (9, 0, 100)])
    assert _text.normalized_tokens("x") == [("saint", 2), ("straße", WORD), ("", 100)]


@pytest.mark.parametrize("strings, expected", [([b"rue de l'eglise"], "rue de l'eglise"),
                                               (["köln".encode()], "köln"), ([b""], "")])
def test_normalize_string_returns_libpostals_string(text_double, strings, expected):
    text_double.set_strings(strings)
    assert _text.normalize_string("Rue") == expected


# classify_language.

def test_guesses_come_back_in_libpostals_order_and_are_released(text_double):
    text_double.set_strings([b"de", b"nl", b"en"], [0.91, 0.06])
    assert _text.classify_language("Hauptstraße 5") == [("de", 0.91), ("nl", 0.06), ("en", 1.0 / 4)]
    assert text_double.last()["function"] == "libpostal_classify_language"
    text_double.set_strings([])
    assert _text.classify_language("x") == []


# The null answer, and answers that are not UTF-8, on every function.

CALLS = [
    ("tokenize", lambda: _text.tokenize("a b")),
    ("normalize_string", lambda: _text.normalize_string("a b")),
    ("normalized_tokens", lambda: _text.normalized_tokens("a b", languages=["en"])),
    ("classify_language", lambda: _text.classify_language("a b")),
    ("near_dupe_name_hashes", lambda: _kinhash.near_dupe_name_hashes("a b", ["en"])),
    ("place_languages", lambda: _kinhash.place_languages(["road"], ["a b"])),
]


@pytest.mark.parametrize("call", [call for _, call in CALLS], ids=[name for name, _ in CALLS])
def test_a_null_answer_is_none(text_double, call):
    text_double.set_null_result()
    assert call() is None
    assert text_double.calls() == 1


@pytest.mark.parametrize("call", [call for _, call in CALLS[1:]], ids=[name for name, _ in CALLS[1:]])
def test_an_undecodable_answer_raises_and_is_released(text_double, call):
    # normalize_string answers with the first string, the others with all.
    text_double.set_strings([b"\xe2\x82"] if call is CALLS[1][1] else [b"fine", b"\xe2\x82"], [0.5, 0.5])
    with pytest.raises(UnicodeDecodeError):
        call()


# Argument checks, shared by every function.

@pytest.mark.parametrize("call", [
    lambda value: _text.tokenize(value), lambda value: _text.normalize_string(value),
    lambda value: _text.normalized_tokens(value), lambda value: _text.classify_language(value),
    lambda value: _kinhash.near_dupe_name_hashes(value)], ids=[name for name, _ in CALLS[:5]])
@pytest.mark.parametrize("value, message", [
    (b"bytes", "Parameter could not be converted to unicode"), (None, "Parameter must be bytes or unicode"),
    (5, "Parameter must be bytes or unicode"),
])
def test_text_must_be_a_str(text_double, call, value, message):
    with pytest.raises(TypeError, match="^%s$" % message):
        call(value)
    with pytest.raises(UnicodeEncodeError):
        call("\ud800")
    assert text_double.calls() == 0


@pytest.mark.parametrize("call, fragments", [
    (lambda: _text.tokenize(), ("'text'",)),
    (lambda: _text.tokenize("x", 1.5), ("integer", "float")),
    (lambda: _text.tokenize("x", 0, 0, 0), ("tokenize()", "at most 3 arguments")),
    (lambda: _text.normalize_string("x", 1.0), ("float",)),
    (lambda: _text.normalize_string("x", options="245"), ("str",)),
    (lambda: _text.normalized_tokens("x", token_options=None), ("None",)),
    (lambda: _text.classify_language("x", "y"), ("classify_language()", "at most 1 argument")),
    (lambda: _kinhash.near_dupe_name_hashes("x", lowercase=1.0), ("integer", "float")),
    (lambda: _kinhash.near_dupe_name_hashes("x", root=1), ("'root'", "keyword argument")),
    (lambda: _kinhash.place_languages(["road"]), ("'values'",)),
], ids=range(10))
def test_argument_errors_come_from_the_parser(text_double, call, fragments):
    with pytest.raises(TypeError) as raised:
        call()
    assert all(fragment in str(raised.value) for fragment in fragments), str(raised.value)
    assert text_double.calls() == 0


# near_dupe_name_hashes: expand_address's options, libpostal's keys.

EXPAND_FLAGS = addrnorm.options.EXPAND_FLAGS


def test_name_keys_send_the_default_record_with_the_name(double, text_double):
    expected = double.set_default_options(lowercase=0, roman_numerals=0, address_components=0x1234).as_dict()
    assert _kinhash.near_dupe_name_hashes("Whole Foods") == ["name|Whole Foods"]
    last = text_double.last()
    assert (last["function"], last["input"], last["languages"]) == (
        "libpostal_near_dupe_name_hashes", "Whole Foods", [])
    assert last["options"] == expected


@pytest.mark.parametrize("keyword", EXPAND_FLAGS)
def test_each_name_key_flag_sets_its_own_field_only(double, text_double, keyword):
    defaults = double.set_default_options(**{name: 1 for name in EXPAND_FLAGS}).as_dict()
    addrnorm.near_dupe_name_hashes("x", **{keyword: 0})
    assert text_double.last()["options"] == dict(defaults, **{keyword: 0})


def test_name_keys_take_codes_and_components(text_double):
    assert addrnorm.near_dupe_name_hashes("x", ["en", "es"], address_components=addrnorm.AddressComponent.NAME)
    last = text_double.last()
    assert last["languages"] == ["en", "es"]
    assert (last["options"]["num_languages"], last["options"]["address_components"]) == (2, 2)
    text_double.set_strings([b"whol", b"fot"])
    assert addrnorm.near_dupe_name_hashes("Whole Foods") == ["whol", "fot"]


# place_languages: near_dupe_hashes's record checks, codes that are the
# classifier's own.

def test_place_languages_sends_the_record_and_returns_the_codes(text_double):
    text_double.set_strings([b"de", b"fr"])
    assert _kinhash.place_languages(("house", "road"), ["Café", "Kurfürstenstraße"]) == ["de", "fr"]
    last = text_double.last()
    assert (last["function"], last["labels"], last["values"]) == (
        "libpostal_place_languages", ["house", "road"], ["Café", "Kurfürstenstraße"])
    assert addrnorm.place_languages(labels=["road"], values=["x"]) == ["de", "fr"]


@pytest.mark.parametrize("labels, values, message", [
    ({"road"}, ["x"], "Input labels and values must be sequences"),
    (["road"], 5, "Input labels and values must be sequences"),
    (["road", "city"], ["x"], "Input labels and values arrays must be of equal length"),
    ([b"road"], ["x"], "all elements must be strings"),
    (["road"], [None], "all elements must be strings"),
])
def test_place_languages_refuses_records_as_near_dupe_hashes_does(text_double, labels, values, message):
    with pytest.raises(TypeError, match="^%s$" % message):
        _kinhash.place_languages(labels, values)
    assert text_double.calls() == 0


def test_an_empty_record_has_no_languages_without_asking(text_double):
    assert _kinhash.place_languages([], ()) is None
    assert _kinhash.place_languages("", "") is None
    assert text_double.calls() == 0


# The package's functions.

def test_package_tokens_carry_token_types(text_double):
    tokens = addrnorm.tokenize("Köln 5")
    assert tokens == [("Köln", TokenType.WORD), ("5", TokenType.NUMERIC)]
    assert all(type(kind) is TokenType for _, kind in tokens)
    assert addrnorm.tokenize("Köln 5", offsets=True) == [(0, 4, TokenType.WORD), (5, 6, TokenType.NUMERIC)]
    assert [type(kind) for _, kind in addrnorm.normalized_tokens("a")] == [TokenType]
    text_double.set_tokens([(0, 1, 999)])
    assert addrnorm.tokenize("a") == [("a", 999)]


@pytest.mark.parametrize("call", [
    lambda: addrnorm.tokenize(None), lambda: addrnorm.normalize_string(float("nan")),
    lambda: addrnorm.normalized_tokens(None), lambda: addrnorm.classify_language(None),
    lambda: addrnorm.near_dupe_name_hashes(None)])
def test_a_missing_value_is_refused_with_a_hint(call):
    with pytest.raises(TypeError, match="must be a str, not .*na_action"):
        call()


@pytest.mark.parametrize("call", [
    lambda: addrnorm.normalize_string("x", languages="en"), lambda: addrnorm.normalized_tokens("x", languages="en"),
    lambda: addrnorm.near_dupe_name_hashes("x", "en,fr")])
def test_languages_as_a_str_are_refused_by_the_package(text_double, call):
    with pytest.raises(TypeError, match="languages must be a list of language codes"):
        call()
    with pytest.raises(ValueError, match="is not a language code"):
        addrnorm.normalize_string("x", languages=["EN"])
    assert text_double.calls() == 0


NEW = ["tokenize", "normalize_string", "normalized_tokens", "classify_language", "near_dupe_name_hashes",
       "place_languages"]


@pytest.mark.parametrize("name", NEW)
def test_package_functions_are_documented_and_pickle_by_name(name):
    function = getattr(addrnorm, name)
    assert name in addrnorm.__all__
    assert pickle.loads(pickle.dumps(function)) is function
    assert ">>> " in function.__doc__


def test_module_namespaces():
    assert _text.__doc__ and not hasattr(_text, "Error")
    assert sorted(name for name in vars(_text) if not name.startswith("__")) == [
        "DEFAULT_STRING_OPTIONS", "DEFAULT_TOKEN_OPTIONS", "classify_language", "normalize_string",
        "normalized_tokens", "tokenize"]
    assert {"StringOption", "TokenOption"} <= set(addrnorm.__all__)
