"""Python bindings to libpostal: address expansion, near-duplicate hashing,
pairwise duplicate classification and address parsing.

Importing this package is cheap and needs neither libpostal's data nor its
set-up: libpostal is loaded the first time ``expand_address``,
``near_dupe_hashes`` or one of the ``is_*_duplicate`` classifiers is called
(and its address parser, 2 GB, the first time ``parse_address`` is),
from the data directory that ``addrnorm.datadir`` chooses
(``LIBPOSTAL_DATA_DIR``, addrnorm's own, or libpostal's compiled-in one).
"""
import enum

from . import options, values as _values
from ._library import DEFAULT as _DEFAULT, LibpostalLoadError, TokenType, load as _load
from .languages import check_languages

__version__ = "0.1.0"

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


# The extension functions, looked up on first use: importing _expand,
# _kinhash or _duplicate sets libpostal up, which takes seconds and gigabytes
# with the real data.  The package's names stay the Python functions below
# for good, so that they pickle by name (process pools send them to workers)
# and keep their signatures for help() and inspect.
_expand_address = None
_near_dupe_hashes = None


def _bind_expand():
    global _expand_address
    _expand_address = _load("_expand").expand_address
    return _expand_address


def _bind_kinhash():
    global _near_dupe_hashes
    _near_dupe_hashes = _load("_kinhash").near_dupe_hashes
    return _near_dupe_hashes


# root's default; the wrapper passes root on only when it is not this very
# object, so that root=False or root=0.0 still reach the extension's checks.
_ROOT_OFF = 0

_EXPAND_OPTIONS = options.EXPAND_KEYWORDS[1:-1]
_HASH_OPTIONS = options.HASH_KEYWORDS[1:]

def _refuse_missing(address):
    # None and NaN are what a missing value in a pandas column looks like.
    if address is None or isinstance(address, float):
        raise TypeError("address must be a str, not %r; to skip missing values in pandas, use "
                        "series.map(expand_address, na_action=\"ignore\")" % (address,)) from None
    # bytes keep the extension's own message, which says what they lack.
    if not isinstance(address, (str, bytes)):
        raise TypeError("address must be a str, not %s (%.40r)" % (type(address).__name__, address)) from None


def expand_address(address, languages=None, address_components=_DEFAULT, latin_ascii=_DEFAULT,
                   transliterate=_DEFAULT, strip_accents=_DEFAULT, decompose=_DEFAULT, lowercase=_DEFAULT,
                   trim_string=_DEFAULT, replace_word_hyphens=_DEFAULT, delete_word_hyphens=_DEFAULT,
                   replace_numeric_hyphens=_DEFAULT, delete_numeric_hyphens=_DEFAULT,
                   split_alpha_from_numeric=_DEFAULT, delete_final_periods=_DEFAULT,
                   delete_acronym_periods=_DEFAULT, drop_english_possessives=_DEFAULT,
                   delete_apostrophes=_DEFAULT, expand_numex=_DEFAULT, roman_numerals=_DEFAULT, root=_ROOT_OFF):
    """Every normalized form of one address, as a list of str.

    ``languages`` is a list of language codes, ISO 639-1 in lower case
    (["en", "fr"]); without it libpostal guesses the language.
    ``address_components`` is an ``AddressComponent`` mask; each flag is on
    when non-zero; ``root`` asks for root forms.  Options left at
    ``<libpostal's default>`` take libpostal's own defaults.  Returns ``[]``
    when libpostal finds no expansion and ``None`` when it gives no result
    for the input.
    """
    if languages is not None:
        check_languages(languages)
    function = _expand_address or _bind_expand()
    d = _DEFAULT
    try:
        # Identity, not equality: an option given is passed on whatever its
        # value compares equal to.  languages goes by position, as keywords
        # cost the extension's parser a look-up of every keyword name.
        if (address_components is d and latin_ascii is d and transliterate is d and strip_accents is d
                and decompose is d and lowercase is d and trim_string is d and replace_word_hyphens is d
                and delete_word_hyphens is d and replace_numeric_hyphens is d and delete_numeric_hyphens is d
                and split_alpha_from_numeric is d and delete_final_periods is d and delete_acronym_periods is d
                and drop_english_possessives is d and delete_apostrophes is d and expand_numex is d
                and roman_numerals is d and root is _ROOT_OFF):
            return function(address, languages)
        flags = (address_components, latin_ascii, transliterate, strip_accents, decompose, lowercase, trim_string,
                 replace_word_hyphens, delete_word_hyphens, replace_numeric_hyphens, delete_numeric_hyphens,
                 split_alpha_from_numeric, delete_final_periods, delete_acronym_periods, drop_english_possessives,
                 delete_apostrophes, expand_numex, roman_numerals)
        given = {name: value for name, value in zip(_EXPAND_OPTIONS, flags) if value is not d}
        if root is not _ROOT_OFF:
            given["root"] = root
        return function(address, languages, **given)
    except TypeError:
        _refuse_missing(address)
        raise


def near_dupe_hashes(labels, values, languages=None, with_name=_DEFAULT, with_address=_DEFAULT,
                     with_unit=_DEFAULT, with_city_or_equivalent=_DEFAULT,
                     with_small_containing_boundaries=_DEFAULT, with_postal_code=_DEFAULT,
                     with_latlon=_DEFAULT, latitude=_DEFAULT, longitude=_DEFAULT, geohash_precision=_DEFAULT,
                     name_and_address_keys=_DEFAULT, name_only_keys=_DEFAULT, address_only_keys=_DEFAULT):
    """libpostal's near-duplicate hash keys for one place record, as a list of str.

    ``labels`` and ``values`` are parallel sequences of str; labels are
    libpostal's parser labels (house, road, house_number, postcode, city, ...).
    ``languages`` is a list of ISO 639-1 codes as for ``expand_address``.
    Options left at ``<libpostal's default>`` take libpostal's own defaults.
    Records that share a key are candidate duplicates.  Returns ``None`` when
    libpostal yields no keys for the record, and for a record with no fields.
    """
    if languages is not None:
        check_languages(languages)
    function = _near_dupe_hashes or _bind_kinhash()
    d = _DEFAULT
    if (with_name is d and with_address is d and with_unit is d and with_city_or_equivalent is d
            and with_small_containing_boundaries is d and with_postal_code is d and with_latlon is d
            and latitude is d and longitude is d and geohash_precision is d and name_and_address_keys is d
            and name_only_keys is d and address_only_keys is d):
        return _hashed(function, labels, values, languages)
    settings = (with_name, with_address, with_unit, with_city_or_equivalent, with_small_containing_boundaries,
                with_postal_code, with_latlon, latitude, longitude, geohash_precision, name_and_address_keys,
                name_only_keys, address_only_keys)
    given = {name: value for name, value in zip(_HASH_OPTIONS, settings) if value is not d}
    return _hashed(function, labels, values, languages, **given)


def _hashed(function, labels, values, languages, **given):
    """The call, its values taken under the package's value policy
    (addrnorm.values) when the extension refuses them: numbers as text,
    missing values left out; and a warning when a record that gave no key has
    labels libpostal does not read."""
    try:
        keys = function(labels, values, languages, **given)
    except TypeError:
        checked = _values.call_values(labels, values, "near_dupe_hashes")
        if checked is None or list(checked[1]) == list(values):
            raise
        labels, values = checked
        keys = function(labels, values, languages, **given)
    if keys is None:
        _values.warn_unknown_labels(labels, "near_dupe_hashes")
    return keys


class AddressComponent(enum.IntFlag):
    """The parts of an address that ``expand_address`` expands; OR them into
    ``address_components``.  ``ALL`` is the full 16-bit mask."""

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


# Last: the names above are the package's first.
from .classifiers import (  # noqa: E402
    DuplicateStatus,
    is_floor_duplicate,
    is_house_number_duplicate,
    is_name_duplicate,
    is_name_duplicate_fuzzy,
    is_po_box_duplicate,
    is_postal_code_duplicate,
    is_street_duplicate,
    is_street_duplicate_fuzzy,
    is_toponym_duplicate,
    is_unit_duplicate,
)
from .dedupe import find_duplicates  # noqa: E402
from .parsing import parse_address, parsed_fields  # noqa: E402

# libpostal's tokenizer, normalization, language classifier, name keys and
# place languages.
from .text import (  # noqa: E402
    StringOption,
    TokenOption,
    classify_language,
    near_dupe_name_hashes,
    normalize_string,
    normalized_tokens,
    place_languages,
    tokenize,
)

__all__ += ["StringOption", "TokenOption", "classify_language", "near_dupe_name_hashes", "normalize_string",
            "normalized_tokens", "place_languages", "tokenize"]

# Parallel sequences of different lengths, whichever function is given them.
from .errors import LengthMismatchError  # noqa: E402

__all__ += ["LengthMismatchError"]
