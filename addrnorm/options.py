"""The option names of expand_address and near_dupe_hashes, in the order of
their positional parameters, written once for the command, the tests and the
bench (the stubs and the extension modules' keyword tables hold the same
orders; tests/test_options.py checks that they agree).
"""

# expand_address's flags: the parameters after address, languages and
# address_components, before root.
EXPAND_FLAGS = (
    "latin_ascii",
    "transliterate",
    "strip_accents",
    "decompose",
    "lowercase",
    "trim_string",
    "replace_word_hyphens",
    "delete_word_hyphens",
    "replace_numeric_hyphens",
    "delete_numeric_hyphens",
    "split_alpha_from_numeric",
    "delete_final_periods",
    "delete_acronym_periods",
    "drop_english_possessives",
    "delete_apostrophes",
    "expand_numex",
    "roman_numerals",
)

# Every parameter of expand_address after address.
EXPAND_KEYWORDS = ("languages", "address_components") + EXPAND_FLAGS + ("root",)

# near_dupe_hashes's boolean flags, in their order among its parameters
# (latitude, longitude and geohash_precision come between with_latlon and
# name_and_address_keys).
HASH_FLAGS = (
    "with_name",
    "with_address",
    "with_unit",
    "with_city_or_equivalent",
    "with_small_containing_boundaries",
    "with_postal_code",
    "with_latlon",
    "name_and_address_keys",
    "name_only_keys",
    "address_only_keys",
)

# Every parameter of near_dupe_hashes after labels and values.
HASH_KEYWORDS = (
    ("languages",)
    + HASH_FLAGS[:7]
    + ("latitude", "longitude", "geohash_precision")
    + HASH_FLAGS[7:]
)

__all__ = ["EXPAND_FLAGS", "EXPAND_KEYWORDS", "HASH_FLAGS", "HASH_KEYWORDS"]
