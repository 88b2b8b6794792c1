"""Constants that more than one test module checks against."""
import os
import sys

# _wordclass's namespace, in order: libpostal 1.1's token types.
TOKEN_TYPES = [
    ("TOKEN_TYPE_END", 0), ("TOKEN_TYPE_WORD", 1), ("TOKEN_TYPE_ABBREVIATION", 2),
    ("TOKEN_TYPE_IDEOGRAPHIC_CHAR", 3), ("TOKEN_TYPE_HANGUL_SYLLABLE", 4), ("TOKEN_TYPE_ACRONYM", 5),
    ("TOKEN_TYPE_PHRASE", 10), ("TOKEN_TYPE_EMAIL", 20), ("TOKEN_TYPE_URL", 21), ("TOKEN_TYPE_US_PHONE", 22),
    ("TOKEN_TYPE_INTL_PHONE", 23), ("TOKEN_TYPE_NUMERIC", 50), ("TOKEN_TYPE_ORDINAL", 51),
    ("TOKEN_TYPE_ROMAN_NUMERAL", 52), ("TOKEN_TYPE_IDEOGRAPHIC_NUMBER", 53), ("TOKEN_TYPE_PERIOD", 100),
    ("TOKEN_TYPE_EXCLAMATION", 101), ("TOKEN_TYPE_QUESTION_MARK", 102), ("TOKEN_TYPE_COMMA", 103),
    ("TOKEN_TYPE_COLON", 104), ("TOKEN_TYPE_SEMICOLON", 105), ("TOKEN_TYPE_PLUS", 106),
    ("TOKEN_TYPE_AMPERSAND", 107), ("TOKEN_TYPE_AT_SIGN", 108), ("TOKEN_TYPE_POUND", 109),
    ("TOKEN_TYPE_ELLIPSIS", 110), ("TOKEN_TYPE_DASH", 111), ("TOKEN_TYPE_BREAKING_DASH", 112),
    ("TOKEN_TYPE_HYPHEN", 113), ("TOKEN_TYPE_PUNCT_OPEN", 114), ("TOKEN_TYPE_PUNCT_CLOSE", 115),
    ("TOKEN_TYPE_DOUBLE_QUOTE", 119), ("TOKEN_TYPE_SINGLE_QUOTE", 120), ("TOKEN_TYPE_OPEN_QUOTE", 121),
    ("TOKEN_TYPE_CLOSE_QUOTE", 122), ("TOKEN_TYPE_SLASH", 124), ("TOKEN_TYPE_BACKSLASH", 125),
    ("TOKEN_TYPE_GREATER_THAN", 126), ("TOKEN_TYPE_LESS_THAN", 127), ("TOKEN_TYPE_OTHER", 200),
    ("TOKEN_TYPE_WHITESPACE", 300), ("TOKEN_TYPE_NEWLINE", 301), ("TOKEN_TYPE_INVALID_CHAR", 500),
]


# De-duplication, its bench and what they need (Splink, DuckDB, Faker) run on
# Python 3.10 and newer only; below, the suite holds that dupes says so
# (test_cli), and these modules are not the suite's.  Nor are they under a
# preloaded AddressSanitizer: DuckDB throws C++ exceptions as it works, which
# the runtime's interceptor cannot follow through a library it did not
# build, and aborts; the sanitizers are there for the modules' own C++.
DEDUPE_RUNS = sys.version_info >= (3, 10) and "address" not in os.environ.get("ADDRNORM_SANITIZE", "")
