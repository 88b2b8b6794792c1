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

# libpostal 1.1's defaults for the flags (libpostal_get_default_options and
# libpostal_get_near_dupe_hash_default_options), shown by the command's help:
# the command itself leaves a flag it is not given to libpostal.
FLAG_DEFAULTS = {
    "latin_ascii": 1, "transliterate": 1, "strip_accents": 1, "decompose": 1, "lowercase": 1, "trim_string": 1,
    "replace_word_hyphens": 1, "delete_word_hyphens": 1, "replace_numeric_hyphens": 0,
    "delete_numeric_hyphens": 0, "split_alpha_from_numeric": 1, "delete_final_periods": 1,
    "delete_acronym_periods": 1, "drop_english_possessives": 1, "delete_apostrophes": 1, "expand_numex": 1,
    "roman_numerals": 1,
    "with_name": 1, "with_address": 1, "with_unit": 0, "with_city_or_equivalent": 1,
    "with_small_containing_boundaries": 1, "with_postal_code": 1, "with_latlon": 0, "name_and_address_keys": 1,
    "name_only_keys": 0, "address_only_keys": 0,
}
GEOHASH_PRECISION = 6
# The longest geohash libpostal makes: a longer precision is capped, and 0
# drops every geohash key, so the command takes 1 to this.
GEOHASH_LENGTH = 12

# The labels whose values libpostal's near-duplicate hashing reads (its place
# record takes these and ignores any other label without a word), so the
# command checks a mapping against them.
LABELS = (
    "house", "house_number", "road", "unit", "level", "staircase", "entrance", "building", "po_box",
    "metro_station", "postcode", "suburb", "city_district", "city", "island", "state_district", "state",
    "country_region", "country", "world_region", "phone", "website",
)

__all__ = ["EXPAND_FLAGS", "EXPAND_KEYWORDS", "FLAG_DEFAULTS", "GEOHASH_LENGTH", "GEOHASH_PRECISION", "HASH_FLAGS",
           "HASH_KEYWORDS", "LABELS"]
