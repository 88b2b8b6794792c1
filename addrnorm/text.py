"""libpostal's tokenizer, string and token normalization, language
classifier, name keys and place languages, as the package publishes them.

Like expand_address, each is a plain Python function, so that it pickles by
name, and looks its extension module up on first use, as importing
addrnorm._text or addrnorm._kinhash sets libpostal up.
"""
import enum

from addrnorm import options
from addrnorm._library import DEFAULT as _DEFAULT, TokenType, load as _load
from addrnorm.languages import check_languages

_text = None
_kinhash = None


def _bind_text():
    global _text
    _text = _load("_text")
    return _text


def _bind_kinhash():
    global _kinhash
    _kinhash = _load("_kinhash")
    return _kinhash


class StringOption(enum.IntFlag):
    """How ``normalize_string`` and ``normalized_tokens`` normalize a whole
    text (libpostal's ``LIBPOSTAL_NORMALIZE_STRING_*`` bits); OR them
    together.  ``DEFAULT`` is libpostal's default."""

    LATIN_ASCII = 1 << 0
    TRANSLITERATE = 1 << 1
    STRIP_ACCENTS = 1 << 2
    DECOMPOSE = 1 << 3
    LOWERCASE = 1 << 4
    TRIM = 1 << 5
    REPLACE_HYPHENS = 1 << 6
    COMPOSE = 1 << 7
    SIMPLE_LATIN_ASCII = 1 << 8
    REPLACE_NUMEX = 1 << 9
    DEFAULT = LATIN_ASCII | COMPOSE | TRIM | REPLACE_HYPHENS | STRIP_ACCENTS | LOWERCASE


class TokenOption(enum.IntFlag):
    """How ``normalized_tokens`` normalizes each token (libpostal's
    ``LIBPOSTAL_NORMALIZE_TOKEN_*`` bits); OR them together.  ``DEFAULT`` is
    libpostal's default."""

    REPLACE_HYPHENS = 1 << 0
    DELETE_HYPHENS = 1 << 1
    DELETE_FINAL_PERIOD = 1 << 2
    DELETE_ACRONYM_PERIODS = 1 << 3
    DROP_ENGLISH_POSSESSIVES = 1 << 4
    DELETE_OTHER_APOSTROPHE = 1 << 5
    SPLIT_ALPHA_FROM_NUMERIC = 1 << 6
    REPLACE_DIGITS = 1 << 7
    REPLACE_NUMERIC_TOKEN_LETTERS = 1 << 8
    REPLACE_NUMERIC_HYPHENS = 1 << 9
    DEFAULT = REPLACE_HYPHENS | DELETE_FINAL_PERIOD | DELETE_ACRONYM_PERIODS | DROP_ENGLISH_POSSESSIVES \
        | DELETE_OTHER_APOSTROPHE


class _TokenTypes(dict):
    """TokenType by code; a code libpostal adds after 1.1 stays an int."""

    def __missing__(self, code):
        return code


_token_types = None


def _types():
    global _token_types
    if _token_types is None:
        _token_types = _TokenTypes((member.value, member) for member in TokenType)
    return _token_types


def _refuse_missing(text, what):
    # None and NaN are what a missing value in a pandas column looks like.
    if text is None or isinstance(text, float):
        raise TypeError("%s must be a str, not %r; to skip missing values in pandas, use "
                        "series.map(function, na_action=\"ignore\")" % (what, text)) from None


def tokenize(text, whitespace=False, offsets=False):
    """libpostal's tokens of ``text``, in order, as a list of ``(token, TokenType)``.

    Each token is the str slice of ``text`` that libpostal's tokenizer found
    (a word, a number, a punctuation mark, an ideograph ...).  With
    ``offsets=True`` each is ``(start, end, TokenType)`` instead, in
    characters, so that ``text[start:end]`` is the token in any script.
    ``whitespace=True`` keeps the whitespace between tokens as tokens.
    Returns ``None`` when libpostal gives no result (it gives one for any
    text, short of memory).

    >>> tokenize("Hauptstraße 5, Berlin")  # doctest: +NORMALIZE_WHITESPACE
    [('Hauptstraße', <TokenType.WORD: 1>), ('5', <TokenType.NUMERIC: 50>), (',', <TokenType.COMMA: 103>),
     ('Berlin', <TokenType.WORD: 1>)]
    >>> tokenize("東京都6-10-1", offsets=True)  # doctest: +NORMALIZE_WHITESPACE
    [(0, 1, <TokenType.IDEOGRAPHIC_CHAR: 3>), (1, 2, <TokenType.IDEOGRAPHIC_CHAR: 3>),
     (2, 3, <TokenType.IDEOGRAPHIC_CHAR: 3>), (3, 9, <TokenType.NUMERIC: 50>)]
    """
    function = (_text or _bind_text()).tokenize
    try:
        tokens = function(text, whitespace, offsets) if whitespace or offsets else function(text)
    except TypeError:
        _refuse_missing(text, "text")
        raise
    if tokens is None:
        return None
    types = _token_types or _types()
    if offsets:
        return [(start, end, types[code]) for start, end, code in tokens]
    return [(token, types[code]) for token, code in tokens]


def normalize_string(text, options=_DEFAULT, languages=None):
    """``text`` normalized as a whole, as a str.

    ``options`` is a ``StringOption`` mask; left at ``<libpostal's
    default>`` it is ``StringOption.DEFAULT`` (Latin-ASCII, composed,
    accents stripped, lower case, hyphens replaced, trimmed).
    ``languages`` is a list of ISO 639-1 codes, which ``REPLACE_NUMEX``
    needs to find numbers written as words.

    Returns ``None`` when libpostal gives no string, which it does when no
    step after its Latin-ASCII transliteration applies: ``TRIM``,
    ``LOWERCASE``, ``DECOMPOSE``, ``COMPOSE`` and ``STRIP_ACCENTS`` always
    apply, ``REPLACE_HYPHENS`` to a text with a hyphen, ``REPLACE_NUMEX`` to
    one with a number in words; ``LATIN_ASCII`` alone and ``TRANSLITERATE``
    (which only expansion uses) give none.  Add ``COMPOSE`` to be sure of a
    string.

    >>> normalize_string("Rue de l'Église-Saint-Étienne")
    "rue de l'eglise saint etienne"
    >>> normalize_string("thirty west twenty-sixth street", StringOption.REPLACE_NUMEX | StringOption.COMPOSE,
    ...                  languages=["en"])
    '30 west 26th street'
    """
    if languages is not None:
        check_languages(languages)
    module = _text or _bind_text()
    try:
        return module.normalize_string(text, module.DEFAULT_STRING_OPTIONS if options is _DEFAULT else options,
                                       languages)
    except TypeError:
        _refuse_missing(text, "text")
        raise


def normalized_tokens(text, string_options=_DEFAULT, token_options=_DEFAULT, whitespace=False, languages=None):
    """``text`` normalized, split into tokens and each token normalized, as a
    list of ``(str, TokenType)``: the form to index words by.

    ``string_options`` is a ``StringOption`` mask, ``token_options`` a
    ``TokenOption`` mask; left at ``<libpostal's default>`` they are
    libpostal's defaults (``StringOption.DEFAULT``, ``TokenOption.DEFAULT``).
    ``whitespace=True`` keeps the whitespace tokens.  ``languages`` as for
    ``normalize_string``.  Returns ``None`` when libpostal gives no
    normalized string (see ``normalize_string``).

    >>> normalized_tokens("St. John's Rd.")
    [('st', <TokenType.ABBREVIATION: 2>), ('johns', <TokenType.WORD: 1>), ('rd', <TokenType.ABBREVIATION: 2>)]
    """
    if languages is not None:
        check_languages(languages)
    module = _text or _bind_text()
    if string_options is _DEFAULT:
        string_options = module.DEFAULT_STRING_OPTIONS
    if token_options is _DEFAULT:
        token_options = module.DEFAULT_TOKEN_OPTIONS
    try:
        tokens = module.normalized_tokens(text, string_options, token_options, whitespace, languages)
    except TypeError:
        _refuse_missing(text, "text")
        raise
    if tokens is None:
        return None
    types = _token_types or _types()
    return [(token, types[code]) for token, code in tokens]


def classify_language(text):
    """libpostal's guess of the language of ``text``, as a list of
    ``(code, probability)``, most probable first: the codes it would use for
    ``expand_address`` when given no ``languages``.

    Returns ``None`` when the text gives the classifier nothing to go by
    (an empty text, digits only); libpostal then logs "Language
    classification returned NULL" on standard error.

    >>> [(code, round(p, 4)) for code, p in classify_language("улица Ленина, 10, Москва")]
    [('ru', 0.9996)]
    """
    try:
        return (_text or _bind_text()).classify_language(text)
    except TypeError:
        _refuse_missing(text, "text")
        raise


_NAME_OPTIONS = options.EXPAND_KEYWORDS[1:-1]


def near_dupe_name_hashes(name, languages=None, address_components=_DEFAULT, latin_ascii=_DEFAULT,
                          transliterate=_DEFAULT, strip_accents=_DEFAULT, decompose=_DEFAULT, lowercase=_DEFAULT,
                          trim_string=_DEFAULT, replace_word_hyphens=_DEFAULT, delete_word_hyphens=_DEFAULT,
                          replace_numeric_hyphens=_DEFAULT, delete_numeric_hyphens=_DEFAULT,
                          split_alpha_from_numeric=_DEFAULT, delete_final_periods=_DEFAULT,
                          delete_acronym_periods=_DEFAULT, drop_english_possessives=_DEFAULT,
                          delete_apostrophes=_DEFAULT, expand_numex=_DEFAULT, roman_numerals=_DEFAULT):
    """libpostal's near-duplicate keys of a name alone (a venue, a person), as
    a list of str: what ``near_dupe_hashes`` builds its name part from.

    The options are ``expand_address``'s, with the same defaults; a name is
    normalized as an address is.  Returns ``None`` when libpostal gives no
    keys.

    >>> near_dupe_name_hashes("Whole Foods Market", languages=["en"])
    ['AL', 'whol', 'hole', 'FTS', 'food', 'oods', 'ALFT', 'LFTS', 'FM']
    """
    if languages is not None:
        check_languages(languages)
    function = (_kinhash or _bind_kinhash()).near_dupe_name_hashes
    settings = (address_components, latin_ascii, transliterate, strip_accents, decompose, lowercase, trim_string,
                replace_word_hyphens, delete_word_hyphens, replace_numeric_hyphens, delete_numeric_hyphens,
                split_alpha_from_numeric, delete_final_periods, delete_acronym_periods, drop_english_possessives,
                delete_apostrophes, expand_numex, roman_numerals)
    given = {keyword: value for keyword, value in zip(_NAME_OPTIONS, settings) if value is not _DEFAULT}
    try:
        return function(name, languages, **given)
    except TypeError:
        _refuse_missing(name, "name")
        raise


def place_languages(labels, values):
    """The languages libpostal takes a place record to be in, as a list of
    codes, most probable first: the ones ``near_dupe_hashes`` uses when it is
    given no ``languages``.

    ``labels`` and ``values`` are parallel sequences of str, as for
    ``near_dupe_hashes``; libpostal reads the text of the name and address
    fields.  Returns ``None`` for a record with no fields, and when
    libpostal makes no guess.

    >>> place_languages(["house", "road", "city"], ["Café Einstein", "Kurfürstenstraße", "Berlin"])
    ['de']
    """
    return (_kinhash or _bind_kinhash()).place_languages(labels, values)

