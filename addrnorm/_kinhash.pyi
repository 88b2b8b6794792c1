# Defaults written "..." are libpostal's own, fetched on every call (libpostal
# 1.1: with_name, with_address, with_city_or_equivalent,
# with_small_containing_boundaries, with_postal_code and name_and_address_keys
# on, the other booleans off, latitude and longitude 0.0, geohash_precision 6).
from typing import Sequence

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

# Options as expand_address's, with libpostal's defaults fetched on every call.
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
