import enum
from types import ModuleType
from typing import Any, Iterable, Literal, Mapping, Sequence, overload

from .errors import LengthMismatchError as LengthMismatchError

__version__: str
__all__ = [
    "AddressComponent",
    "DuplicateStatus",
    "LibpostalLoadError",
    "TokenType",
    "expand_address",
    "find_duplicates",
    "is_floor_duplicate",
    "is_house_number_duplicate",
    "is_name_duplicate",
    "is_name_duplicate_fuzzy",
    "is_po_box_duplicate",
    "is_postal_code_duplicate",
    "is_street_duplicate",
    "is_street_duplicate_fuzzy",
    "is_toponym_duplicate",
    "is_unit_duplicate",
    "near_dupe_hashes",
    "parse_address",
    "parsed_fields",
    "__version__",
]

class LibpostalLoadError(TypeError): ...

# The package's own, shared with addrnorm.classifiers.
_DEFAULT: Any

def _load(name: str) -> ModuleType: ...
def find_duplicates(
    records: Iterable[Mapping[str, object]],
    mapping: Mapping[str, str] | None = None,
    languages: Sequence[str] | None = None,
    threshold: float = ...,
    max_block: int = ...,
    engine: str = "duckdb",
    model: str | Mapping[str, Any] | None = None,
    model_out: str | None = None,
    memory_limit: str | None = None,
    temp_dir: str | None = None,
    parse: Sequence[str] = (),
    **hash_options: Any,
) -> list[int]: ...

# Defaults written "..." are libpostal's own: an option left out is not
# passed on, and libpostal's default is fetched on every call.
def expand_address(
    address: str,
    languages: Sequence[str] | None = None,
    address_components: int = ...,
    latin_ascii: int = ...,
    transliterate: int = ...,
    strip_accents: int = ...,
    decompose: int = ...,
    lowercase: int = ...,
    trim_string: int = ...,
    replace_word_hyphens: int = ...,
    delete_word_hyphens: int = ...,
    replace_numeric_hyphens: int = ...,
    delete_numeric_hyphens: int = ...,
    split_alpha_from_numeric: int = ...,
    delete_final_periods: int = ...,
    delete_acronym_periods: int = ...,
    drop_english_possessives: int = ...,
    delete_apostrophes: int = ...,
    expand_numex: int = ...,
    roman_numerals: int = ...,
    root: int = 0,
) -> list[str] | None: ...
def near_dupe_hashes(
    labels: Sequence[str],
    values: Sequence[str],
    languages: Sequence[str] | None = None,
    with_name: int = ...,
    with_address: int = ...,
    with_unit: int = ...,
    with_city_or_equivalent: int = ...,
    with_small_containing_boundaries: int = ...,
    with_postal_code: int = ...,
    with_latlon: int = ...,
    latitude: float = ...,
    longitude: float = ...,
    geohash_precision: int = ...,
    name_and_address_keys: int = ...,
    name_only_keys: int = ...,
    address_only_keys: int = ...,
) -> list[str] | None: ...

def parse_address(address: str, language: str | None = None, country: str | None = None) -> list[tuple[str, str]]: ...
def parsed_fields(parsed: Iterable[tuple[str, str]]) -> dict[str, str]: ...

class DuplicateStatus(enum.IntEnum):
    NULL = -1
    NON = 0
    POSSIBLE_NEEDS_REVIEW = 3
    LIKELY = 6
    EXACT = 9

def is_name_duplicate(value1: str, value2: str, languages: Sequence[str] | None = None) -> DuplicateStatus: ...
def is_street_duplicate(value1: str, value2: str, languages: Sequence[str] | None = None) -> DuplicateStatus: ...
def is_house_number_duplicate(
    value1: str, value2: str, languages: Sequence[str] | None = None
) -> DuplicateStatus: ...
def is_po_box_duplicate(value1: str, value2: str, languages: Sequence[str] | None = None) -> DuplicateStatus: ...
def is_unit_duplicate(value1: str, value2: str, languages: Sequence[str] | None = None) -> DuplicateStatus: ...
def is_floor_duplicate(value1: str, value2: str, languages: Sequence[str] | None = None) -> DuplicateStatus: ...
def is_postal_code_duplicate(
    value1: str, value2: str, languages: Sequence[str] | None = None
) -> DuplicateStatus: ...
def is_toponym_duplicate(
    labels1: Sequence[str],
    values1: Sequence[str],
    labels2: Sequence[str],
    values2: Sequence[str],
    languages: Sequence[str] | None = None,
) -> DuplicateStatus: ...
def is_name_duplicate_fuzzy(
    tokens1: Sequence[str],
    scores1: Sequence[float],
    tokens2: Sequence[str],
    scores2: Sequence[float],
    languages: Sequence[str] | None = None,
    needs_review_threshold: float = ...,
    likely_dupe_threshold: float = ...,
) -> tuple[DuplicateStatus, float]: ...
def is_street_duplicate_fuzzy(
    tokens1: Sequence[str],
    scores1: Sequence[float],
    tokens2: Sequence[str],
    scores2: Sequence[float],
    languages: Sequence[str] | None = None,
    needs_review_threshold: float = ...,
    likely_dupe_threshold: float = ...,
) -> tuple[DuplicateStatus, float]: ...

class AddressComponent(enum.IntFlag):
    NONE = 0x0000
    ANY = 0x0001
    NAME = 0x0002
    HOUSE_NUMBER = 0x0004
    STREET = 0x0008
    UNIT = 0x0010
    LEVEL = 0x0020
    STAIRCASE = 0x0040
    ENTRANCE = 0x0080
    CATEGORY = 0x0100
    NEAR = 0x0200
    TOPONYM = 0x2000
    POSTAL_CODE = 0x4000
    PO_BOX = 0x8000
    ALL = 0xFFFF

class TokenType(enum.IntEnum):
    END = 0
    WORD = 1
    ABBREVIATION = 2
    IDEOGRAPHIC_CHAR = 3
    HANGUL_SYLLABLE = 4
    ACRONYM = 5
    PHRASE = 10
    EMAIL = 20
    URL = 21
    US_PHONE = 22
    INTL_PHONE = 23
    NUMERIC = 50
    ORDINAL = 51
    ROMAN_NUMERAL = 52
    IDEOGRAPHIC_NUMBER = 53
    PERIOD = 100
    EXCLAMATION = 101
    QUESTION_MARK = 102
    COMMA = 103
    COLON = 104
    SEMICOLON = 105
    PLUS = 106
    AMPERSAND = 107
    AT_SIGN = 108
    POUND = 109
    ELLIPSIS = 110
    DASH = 111
    BREAKING_DASH = 112
    HYPHEN = 113
    PUNCT_OPEN = 114
    PUNCT_CLOSE = 115
    DOUBLE_QUOTE = 119
    SINGLE_QUOTE = 120
    OPEN_QUOTE = 121
    CLOSE_QUOTE = 122
    SLASH = 124
    BACKSLASH = 125
    GREATER_THAN = 126
    LESS_THAN = 127
    OTHER = 200
    WHITESPACE = 300
    NEWLINE = 301
    INVALID_CHAR = 500

# libpostal's tokenizer, normalization, language classifier, name keys and
# place languages (addrnorm.text).
class StringOption(enum.IntFlag):
    LATIN_ASCII = 1
    TRANSLITERATE = 2
    STRIP_ACCENTS = 4
    DECOMPOSE = 8
    LOWERCASE = 16
    TRIM = 32
    REPLACE_HYPHENS = 64
    COMPOSE = 128
    SIMPLE_LATIN_ASCII = 256
    REPLACE_NUMEX = 512
    DEFAULT = 245

class TokenOption(enum.IntFlag):
    REPLACE_HYPHENS = 1
    DELETE_HYPHENS = 2
    DELETE_FINAL_PERIOD = 4
    DELETE_ACRONYM_PERIODS = 8
    DROP_ENGLISH_POSSESSIVES = 16
    DELETE_OTHER_APOSTROPHE = 32
    SPLIT_ALPHA_FROM_NUMERIC = 64
    REPLACE_DIGITS = 128
    REPLACE_NUMERIC_TOKEN_LETTERS = 256
    REPLACE_NUMERIC_HYPHENS = 512
    DEFAULT = 61

@overload
def tokenize(
    text: str, whitespace: bool = False, offsets: Literal[False] = False
) -> list[tuple[str, TokenType]] | None: ...
@overload
def tokenize(text: str, whitespace: bool, offsets: Literal[True]) -> list[tuple[int, int, TokenType]] | None: ...
@overload
def tokenize(text: str, *, offsets: Literal[True]) -> list[tuple[int, int, TokenType]] | None: ...
def normalize_string(text: str, options: int = ..., languages: Sequence[str] | None = None) -> str | None: ...
def normalized_tokens(
    text: str,
    string_options: int = ...,
    token_options: int = ...,
    whitespace: bool = False,
    languages: Sequence[str] | None = None,
) -> list[tuple[str, TokenType]] | None: ...
def classify_language(text: str) -> list[tuple[str, float]] | None: ...
def near_dupe_name_hashes(
    name: str,
    languages: Sequence[str] | None = None,
    address_components: int = ...,
    latin_ascii: int = ...,
    transliterate: int = ...,
    strip_accents: int = ...,
    decompose: int = ...,
    lowercase: int = ...,
    trim_string: int = ...,
    replace_word_hyphens: int = ...,
    delete_word_hyphens: int = ...,
    replace_numeric_hyphens: int = ...,
    delete_numeric_hyphens: int = ...,
    split_alpha_from_numeric: int = ...,
    delete_final_periods: int = ...,
    delete_acronym_periods: int = ...,
    drop_english_possessives: int = ...,
    delete_apostrophes: int = ...,
    expand_numex: int = ...,
    roman_numerals: int = ...,
) -> list[str] | None: ...
def place_languages(labels: Sequence[str], values: Sequence[str]) -> list[str] | None: ...

__all__ += [
    "StringOption",
    "TokenOption",
    "classify_language",
    "near_dupe_name_hashes",
    "normalize_string",
    "normalized_tokens",
    "place_languages",
    "tokenize",
]

__all__ += ["LengthMismatchError"]
