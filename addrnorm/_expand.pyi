# Defaults written "..." are libpostal's own, fetched on every call (libpostal
# 1.1: address_components 0xc0fe, replace_numeric_hyphens and
# delete_numeric_hyphens off, every other flag on).
from typing import Final, Sequence

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

ADDRESS_NONE: Final[int]
ADDRESS_ANY: Final[int]
ADDRESS_NAME: Final[int]
ADDRESS_HOUSE_NUMBER: Final[int]
ADDRESS_STREET: Final[int]
ADDRESS_UNIT: Final[int]
ADDRESS_LEVEL: Final[int]
ADDRESS_STAIRCASE: Final[int]
ADDRESS_ENTRANCE: Final[int]
ADDRESS_CATEGORY: Final[int]
ADDRESS_NEAR: Final[int]
ADDRESS_TOPONYM: Final[int]
ADDRESS_POSTAL_CODE: Final[int]
ADDRESS_PO_BOX: Final[int]
ADDRESS_ALL: Final[int]
