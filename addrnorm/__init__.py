"""Python bindings to libpostal: address expansion and near-duplicate hashing.

Importing this package is cheap and needs neither libpostal's data nor its
set-up: libpostal is loaded the first time ``expand_address`` or
``near_dupe_hashes`` is called, from the data directory that
``addrnorm.datadir`` chooses (``LIBPOSTAL_DATA_DIR``, addrnorm's own, or
libpostal's compiled-in one).
"""
import enum
import importlib
import sys

from . import _wordclass

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


# The extension functions, bound on first use: importing _expand or _kinhash
# sets libpostal up, which takes seconds and gigabytes with the real data.
# Once bound, the package's own name is the extension function itself, so
# that addrnorm.expand_address(...) in a loop costs no wrapper; a name
# imported before (from addrnorm import expand_address) keeps the wrapper,
# which calls the bound function.
_expand_address = None
_near_dupe_hashes = None


def _bind_expand():
    global _expand_address, expand_address
    _expand_address = expand_address = _load("_expand").expand_address
    return _expand_address


def _bind_kinhash():
    global _near_dupe_hashes, near_dupe_hashes
    _near_dupe_hashes = near_dupe_hashes = _load("_kinhash").near_dupe_hashes
    return _near_dupe_hashes


def expand_address(address, *args, **kwargs):
    """Every normalized form of one address, as a list of str.

    expand_address(address, languages=None, address_components=..., latin_ascii=...,
                   transliterate=..., strip_accents=..., decompose=..., lowercase=...,
                   trim_string=..., replace_word_hyphens=..., delete_word_hyphens=...,
                   replace_numeric_hyphens=..., delete_numeric_hyphens=...,
                   split_alpha_from_numeric=..., delete_final_periods=...,
                   delete_acronym_periods=..., drop_english_possessives=...,
                   delete_apostrophes=..., expand_numex=..., roman_numerals=..., root=0)

    Options left out take libpostal's defaults.  ``languages`` is a sequence of
    language codes of at most three bytes (["en", "fr"]); ``address_components``
    an ``AddressComponent`` mask; each flag is on when non-zero; ``root`` asks
    for root forms.  Returns ``[]`` when libpostal finds no expansion and
    ``None`` when it gives no result for the input.
    """
    return (_expand_address or _bind_expand())(address, *args, **kwargs)


def near_dupe_hashes(labels, values, *args, **kwargs):
    """libpostal's near-duplicate hash keys for one place record, as a list of str.

    near_dupe_hashes(labels, values, languages=None, with_name=..., with_address=...,
                     with_unit=..., with_city_or_equivalent=...,
                     with_small_containing_boundaries=..., with_postal_code=...,
                     with_latlon=..., latitude=..., longitude=..., geohash_precision=...,
                     name_and_address_keys=..., name_only_keys=..., address_only_keys=...)

    ``labels`` and ``values`` are parallel sequences of str; labels are
    libpostal's parser labels (house, road, house_number, postcode, city, ...).
    Records that share a key are candidate duplicates.  Returns ``None`` when
    libpostal yields no keys for the record, and for a record with no fields.
    """
    return (_near_dupe_hashes or _bind_kinhash())(labels, values, *args, **kwargs)


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
