"""Python bindings to libpostal: address expansion and near-duplicate hashing.

Importing this package is cheap and needs neither libpostal's data nor its
set-up: libpostal is loaded the first time ``expand_address`` or
``near_dupe_hashes`` is called, from the data directory that
``addrnorm.datadir`` chooses (``LIBPOSTAL_DATA_DIR``, addrnorm's own, or
libpostal's compiled-in one).
"""
import collections.abc
import enum
import importlib
import re
import sys

from . import _wordclass, options

__version__ = "0.1.0"

__all__ = [
    "AddressComponent",
    "LibpostalLoadError",
    "TokenType",
    "expand_address",
    "near_dupe_hashes",
    "__version__",
]


class LibpostalLoadError(TypeError):
    """libpostal could not be set up: as a rule its data files are missing.

    A ``TypeError``, as the extension modules raise it ("Error loading libpostal");
    the message names the data directory tried, the files missing there and
    the command that fetches them.
    """


class _DataDirectoryChoice:
    """Hands the package's choice of data directory to _expand and _kinhash
    before each import that sets libpostal up, however it is imported (the
    package's functions, ``import addrnorm._expand``, ``from addrnorm import
    _kinhash``).  It finds no module itself: the import goes on as usual."""

    chooses_for_addrnorm = True

    @staticmethod
    def find_spec(name, path=None, target=None):
        if name in ("addrnorm._expand", "addrnorm._kinhash"):
            from addrnorm import datadir

            datadir.prepare()
        return None


if not any(getattr(finder, "chooses_for_addrnorm", False) for finder in sys.meta_path):
    sys.meta_path.insert(0, _DataDirectoryChoice)


def _load(name):
    try:
        return importlib.import_module("addrnorm." + name)
    except TypeError as error:
        if str(error) != "Error loading libpostal":
            raise
        from addrnorm import datadir

        raise LibpostalLoadError(datadir.load_error_message()) from error


# The extension functions, looked up on first use: importing _expand or
# _kinhash sets libpostal up, which takes seconds and gigabytes with the real
# data.  The package's names stay the Python functions below for good, so
# that they pickle by name (process pools send them to workers) and keep
# their signatures for help() and inspect.
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


class _LibpostalDefault:
    """The default of every option whose default is libpostal's own: an
    option left at it is not passed on, so the extension function fetches
    libpostal's default afresh on each call, as when it is called without it."""

    __slots__ = ()

    def __repr__(self):
        return "<libpostal's default>"


_DEFAULT = _LibpostalDefault()

# root's default; the wrapper passes root on only when it is not this very
# object, so that root=False or root=0.0 still reach the extension's checks.
_ROOT_OFF = 0

_EXPAND_OPTIONS = options.EXPAND_KEYWORDS[1:-1]
_HASH_OPTIONS = options.HASH_KEYWORDS[1:]

_LANGUAGE_CODE = re.compile(r"[a-z]{2,3}")

# Codes already found well formed, so that a call with the usual one or two
# codes costs a set look-up per code, not a regular expression.  At most
# 26**2 + 26**3 entries.
_good_codes = set()


def _check_languages(languages):
    """Refuses at the package level what the extension functions would take
    silently and wrongly: a str (one code per character) and codes that are
    no language codes (libpostal ignores a code it does not know)."""
    if type(languages) is not list and type(languages) is not tuple:
        if isinstance(languages, str):
            import json

            codes = [code for code in re.split(r"[\s,;]+", languages) if code] or ["en"]
            raise TypeError("languages must be a list of language codes such as %s, not the str %s"
                            % (json.dumps(codes), json.dumps(languages)))
        if not isinstance(languages, collections.abc.Sequence):
            return
    for code in languages:
        if type(code) is not str or code not in _good_codes:
            _check_code(code)


def _check_code(code):
    # Elements that are not str are left to the extension function, which
    # refuses them with its own message.
    if not isinstance(code, str):
        return
    if _LANGUAGE_CODE.fullmatch(code) is None:
        raise ValueError("languages: %r is not a language code; give ISO 639-1 codes in lower case such as "
                         "\"en\" or \"fr\" (or a three-letter code)" % (code,))
    if type(code) is str:
        _good_codes.add(code)


def _refuse_missing(address, error):
    # None and NaN are what a missing value in a pandas column looks like.
    if address is None or isinstance(address, float):
        raise TypeError("address must be a str, not %r; to skip missing values in pandas, use "
                        "series.map(expand_address, na_action=\"ignore\")" % (address,)) from error


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
        _check_languages(languages)
    function = _expand_address or _bind_expand()
    flags = (address_components, latin_ascii, transliterate, strip_accents, decompose, lowercase, trim_string,
             replace_word_hyphens, delete_word_hyphens, replace_numeric_hyphens, delete_numeric_hyphens,
             split_alpha_from_numeric, delete_final_periods, delete_acronym_periods, drop_english_possessives,
             delete_apostrophes, expand_numex, roman_numerals)
    try:
        # languages goes by position: keywords cost the extension's parser
        # a look-up of every keyword name.
        if root is _ROOT_OFF and flags.count(_DEFAULT) == len(flags):
            return function(address, languages)
        given = {name: value for name, value in zip(_EXPAND_OPTIONS, flags) if value is not _DEFAULT}
        if root is not _ROOT_OFF:
            given["root"] = root
        return function(address, languages, **given)
    except TypeError as error:
        _refuse_missing(address, error)
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
        _check_languages(languages)
    function = _near_dupe_hashes or _bind_kinhash()
    settings = (with_name, with_address, with_unit, with_city_or_equivalent, with_small_containing_boundaries,
                with_postal_code, with_latlon, latitude, longitude, geohash_precision, name_and_address_keys,
                name_only_keys, address_only_keys)
    if settings.count(_DEFAULT) == len(settings):
        return function(labels, values, languages)
    given = {name: value for name, value in zip(_HASH_OPTIONS, settings) if value is not _DEFAULT}
    return function(labels, values, languages, **given)


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


_TOKEN_PREFIX = "TOKEN_TYPE_"

TokenType = enum.IntEnum(
    "TokenType",
    [(name[len(_TOKEN_PREFIX):], value) for name, value in vars(_wordclass).items() if name.startswith(_TOKEN_PREFIX)],
    module=__name__,
)
TokenType.__doc__ = "libpostal's token types, the classes its tokenizer gives a token (TokenType.WORD is 1)."
