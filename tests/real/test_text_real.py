"""Tokens, normalization, language guesses, name keys and place languages on
the real libpostal: what its tokenizer and classifier make of real addresses
in five scripts, and its own expected strings."""
import pytest

import addrnorm
from addrnorm import StringOption as S, TokenOption as T, TokenType as K

# Each address with libpostal's tokens of it: every slice checked against the
# text, the types as libpostal gives them.
ADDRESSES = [
    ("latin", "Hauptstraße 5, 10115 Berlin",
     [("Hauptstraße", K.WORD), ("5", K.NUMERIC), (",", K.COMMA), ("10115", K.NUMERIC), ("Berlin", K.WORD)]),
    ("latin-abbreviations", "St. John's Rd.",
     [("St.", K.ABBREVIATION), ("John's", K.WORD), ("Rd.", K.ABBREVIATION)]),
    ("cyrillic", "улица Ленина, 10, Москва",
     [("улица", K.WORD), ("Ленина", K.WORD), (",", K.COMMA), ("10", K.NUMERIC), (",", K.COMMA), ("Москва", K.WORD)]),
    ("cjk", "東京都港区六本木6-10-1",
     [(c, K.IDEOGRAPHIC_CHAR) for c in "東京都港区六本木"] + [("6-10-1", K.NUMERIC)]),
    ("arabic", "شارع الملك فهد، الرياض",
     [("شارع", K.WORD), ("الملك", K.WORD), ("فهد", K.WORD), ("،", K.OTHER), ("الرياض", K.WORD)]),
    ("devanagari", "नई दिल्ली 110001", [("नई", K.WORD), ("दिल्ली", K.WORD), ("110001", K.NUMERIC)]),
]


@pytest.mark.parametrize("text, tokens", [case[1:] for case in ADDRESSES], ids=[case[0] for case in ADDRESSES])
def test_tokens_of_addresses_in_five_scripts(text, tokens):
    assert addrnorm.tokenize(text) == tokens
    spans = addrnorm.tokenize(text, offsets=True)
    assert [(text[start:end], kind) for start, end, kind in spans] == tokens
    # Character offsets, in order, each token found where the text has it.
    position = 0
    for (start, end, _), (token, _) in zip(spans, tokens):
        assert text.index(token, position) == start and end == start + len(token)
        position = end
    # With whitespace kept, the tokens of a text spaced by single spaces are
    # the whole text.
    assert "".join(token for token, _ in addrnorm.tokenize(text, whitespace=True)) == text


def test_offsets_count_characters_where_utf8_takes_up_to_four_bytes():
    text = "Köln 東京 𠀋 5"  # two, three and four bytes per character
    assert addrnorm.tokenize(text, offsets=True) == [
        (0, 4, K.WORD), (5, 6, K.IDEOGRAPHIC_CHAR), (6, 7, K.IDEOGRAPHIC_CHAR), (8, 9, K.IDEOGRAPHIC_CHAR),
        (10, 11, K.NUMERIC)]
    assert addrnorm.tokenize("", offsets=True) == addrnorm.tokenize("   ") == []


# libpostal's own expected strings: its numeric-expression tests
# (test/test_numex.c) and its simple Latin-ASCII transliteration
# (test/test_transliterate.c).
NUMEX = [
    ("five hundred ninety-three", "593", "en"), ("five hundred and ninety-three", "593", "en"),
    ("fourth and a", "4th and a", "en"), ("foo and bar", "foo and bar", "en"),
    ("thirty west twenty-sixth street", "30 west 26th street", "en"), ("five and sixth", "5 and 6th", "en"),
    ("seventeen eighty", "1780", "en"), ("ten oh four", "1004", "en"), ("ten and four", "10 and 4", "en"),
    ("quatre-vingt-douze", "92", "fr"), ("quatre vingts", "80", "fr"), ("soixante-et-onze", "71", "fr"),
    ("nonante-deux", "92", "fr"), ("septante-cinq", "75", "fr"), ("sechs-und-fünfzig", "56", "de"),
    ("eins", "1", "de"),
]


@pytest.mark.parametrize("text, expected, language", NUMEX, ids=[case[0] for case in NUMEX])
def test_numeric_expressions_as_libpostals_own_tests_expect(text, expected, language):
    # COMPOSE, which changes none of these, so that a text without numbers
    # comes back too: libpostal gives no string when no step applied.
    assert addrnorm.normalize_string(text, S.REPLACE_NUMEX | S.COMPOSE, languages=[language]) == expected
    # Without the language, numbers are not looked for.
    assert addrnorm.normalize_string(text, S.REPLACE_NUMEX | S.COMPOSE) == text


@pytest.mark.parametrize("text, expected", [
    ("eschenbräu bräurei triftstraße 67½ &amp; foo", "eschenbräu bräurei triftstraße 67½ & foo"),
    ("at&amp;t", "at&t"), ("at&t", "at&t"),
])
def test_simple_latin_ascii_as_libpostals_own_tests_expect(text, expected):
    assert addrnorm.normalize_string(text, S.LATIN_ASCII | S.SIMPLE_LATIN_ASCII | S.COMPOSE) == expected


@pytest.mark.parametrize("text, options, expected", [
    ("Rue de l'Église-Saint-Étienne", S.DEFAULT, "rue de l'eglise saint etienne"),
    ("  Hauptstraße  5 ", S.DEFAULT, "hauptstrasse  5"),
    ("улица Ленина", S.DEFAULT, "улица ленина"),
    ("Café", S.DECOMPOSE, "Cafe\u0301"),
    ("Café", S.STRIP_ACCENTS | S.DECOMPOSE, "Cafe"),
    ("  A-B  ", S.TRIM | S.REPLACE_HYPHENS, "A B"),
    ("Straße", S.LATIN_ASCII | S.COMPOSE, "Strasse"),
    # libpostal gives no string when no step after transliteration applies:
    # Latin-ASCII alone, transliteration (which only expansion uses), hyphens
    # to replace in a text without one, no option at all.
    ("Straße", S.LATIN_ASCII, None), ("улица", S.TRANSLITERATE, None), ("abc", S.REPLACE_HYPHENS, None),
    ("abc", 0, None),
], ids=range(11))
def test_string_normalization(text, options, expected):
    assert addrnorm.normalize_string(text, options) == expected


@pytest.mark.parametrize("text, string_options, token_options, expected", [
    ("St. John's Rd.", S.DEFAULT, T.DEFAULT, [("st", K.ABBREVIATION), ("johns", K.WORD), ("rd", K.ABBREVIATION)]),
    ("Saint-Martin-d'Hères", S.DEFAULT, T.DEFAULT, [("saint", K.WORD), ("martin", K.WORD), ("dheres", K.WORD)]),
    ("Saint-Martin", S.COMPOSE, T.DELETE_HYPHENS, [("SaintMartin", K.WORD)]),
    ("Saint-Martin", S.COMPOSE, T.REPLACE_HYPHENS, [("Saint Martin", K.WORD)]),
    ("U.S.A. Bob's", S.COMPOSE, T.DELETE_ACRONYM_PERIODS | T.DROP_ENGLISH_POSSESSIVES,
     [("USA", K.ACRONYM), ("Bobs", K.WORD)]),
    ("U.S.A. Bob's", S.COMPOSE, 0, [("U.S.A.", K.ACRONYM), ("Bob's", K.WORD)]),
    ("l'église", S.COMPOSE, T.DELETE_OTHER_APOSTROPHE, [("léglise", K.WORD)]),
    ("12-34", S.COMPOSE, T.REPLACE_NUMERIC_HYPHENS, [("12-34", K.NUMERIC)]),
    ("東京都6-10", S.DEFAULT, T.DEFAULT, [("東", K.IDEOGRAPHIC_CHAR), ("京", K.IDEOGRAPHIC_CHAR),
                                          ("都", K.IDEOGRAPHIC_CHAR), ("6", K.NUMERIC), ("10", K.NUMERIC)]),
    ("Saint-Martin", 0, T.DEFAULT, None),
], ids=range(10))
def test_normalized_tokens(text, string_options, token_options, expected):
    assert addrnorm.normalized_tokens(text, string_options, token_options) == expected


@pytest.mark.parametrize("text, language", [
    ("Hauptstraße 5, 10115 Berlin", "de"), ("Rue de la Paix 12, 75002 Paris", "fr"),
    ("ул. Тверская, 7, Москва", "ru"), ("улица Ленина, 10, Москва", "ru"),
    ("東京都千代田区丸の内1-9-1", "ja"), ("شارع الملك فهد، الرياض", "ar"),
    ("781 Franklin Ave Crown Hts Brooklyn NY", "en"),
])
def test_clear_cases_are_guessed_right(text, language):
    guesses = addrnorm.classify_language(text)
    assert guesses[0][0] == language and guesses[0][1] > 0.95, guesses
    probabilities = [probability for _, probability in guesses]
    assert probabilities == sorted(probabilities, reverse=True) and sum(probabilities) <= 1.0 + 1e-9


def test_a_text_without_features_has_no_guess():
    assert addrnorm.classify_language("") is None
    assert addrnorm.classify_language("12345") is None


def test_name_keys_are_the_name_part_of_the_record_keys():
    name = "Whole Foods Market"
    names = addrnorm.near_dupe_name_hashes(name, languages=["en"])
    assert names[:3] == ["AL", "whol", "hole"]
    record = addrnorm.near_dupe_hashes(["house", "road", "house_number", "postcode"],
                                       [name, "Franklin Ave", "781", "11216"], languages=["en"])
    assert {key.split("|")[1] for key in record if key.startswith("n")} <= set(names)
    assert addrnorm.near_dupe_name_hashes("") is None


@pytest.mark.parametrize("labels, values, expected", [
    (["house", "road", "city"], ["Café Einstein", "Kurfürstenstraße", "Berlin"], ["de"]),
    (["house", "road", "city"], ["Аптека", "улица Ленина", "Москва"], ["ru"]),
    (["road", "city"], ["Rue de Rivoli", "Paris"], ["fr"]),
    (["postcode"], ["10115"], None),
])
def test_place_languages_of_records(labels, values, expected):
    assert addrnorm.place_languages(labels, values) == expected


def test_the_documented_examples_are_libpostals_output():
    import doctest

    import addrnorm.text

    failures, tried = doctest.testmod(addrnorm.text)
    assert tried >= 8 and failures == 0


def test_the_commands_agree_with_the_functions():
    import json
    import subprocess
    import sys

    import support

    texts = [text for _, text, _ in ADDRESSES] + ["", "Rue de la Paix 12, 75002 Paris"]
    stdin = "\n".join(texts) + "\n"
    guessed = subprocess.run([sys.executable, "-m", "addrnorm", "language", "--format", "jsonl", "--top", "1"],
                             input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True,
                             env=support.child_env(), timeout=300)
    assert guessed.returncode == 0, guessed.stderr
    assert [json.loads(line)["languages"] for line in guessed.stdout.splitlines()] == [
        [list(pair) for pair in (addrnorm.classify_language(text) or [])[:1]] for text in texts]
    listed = subprocess.run([sys.executable, "-m", "addrnorm", "tokens", "--format", "jsonl"], input=stdin,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True,
                            env=support.child_env(), timeout=300)
    assert listed.returncode == 0, listed.stderr
    assert [[tuple(token) for token in json.loads(line)["tokens"]] for line in listed.stdout.splitlines()] == [
        [(text[start:end], kind.name, start, end) for start, end, kind in addrnorm.tokenize(text, offsets=True)]
        for text in texts]
