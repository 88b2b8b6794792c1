"""What the binding's modules share to reach libpostal: the import that
sets it up (load) with the data directory the package chooses, the error of
a failed set-up, the default that leaves an option to libpostal, and its
token types.  The package (addrnorm) gives these their public names; its
modules import them from here, never from the package, which imports them.
"""
import enum
import importlib
import sys

from . import _wordclass


class LibpostalLoadError(TypeError):
    """libpostal could not be set up: as a rule its data files are missing.

    A ``TypeError``: the extension modules raise this type itself, "Error
    loading libpostal", which the package replaces with a message that names
    the data directory tried, the files missing there and the command that
    fetches them.
    """


# The package's own name, as its users (and the extension modules, which
# raise it) know it.
LibpostalLoadError.__module__ = "addrnorm"


class _DataDirectoryChoice:
    """Hands the package's choice of data directory to _expand, _kinhash and
    _duplicate before each import that sets libpostal up, however it is
    imported (the package's functions, ``import addrnorm._expand``, ``from
    addrnorm import _kinhash``).  It finds no module itself: the import goes
    on as usual."""

    chooses_for_addrnorm = True

    @staticmethod
    def find_spec(name, path=None, target=None):
        if name in ("addrnorm._expand", "addrnorm._kinhash", "addrnorm._duplicate", "addrnorm._text",
                    "addrnorm._parser"):
            from addrnorm import datadir

            datadir.prepare()
        return None


if not any(getattr(finder, "chooses_for_addrnorm", False) for finder in sys.meta_path):
    sys.meta_path.insert(0, _DataDirectoryChoice)


def load(name):
    try:
        return importlib.import_module("addrnorm." + name)
    except LibpostalLoadError as error:
        # The extension modules raise this very type when libpostal's set-up
        # fails; any other error of an import is not a load failure.
        from addrnorm import datadir

        raise LibpostalLoadError(datadir.load_error_message(parser=name == "_parser")) from error


class _LibpostalDefault:
    """The default of every option whose default is libpostal's own: an
    option left at it is not passed on, so the extension function fetches
    libpostal's default afresh on each call, as when it is called without it."""

    # No __slots__: on 3.6 and 3.7, a dict-less instance held as the
    # functions' default kept the extension modules alive through interpreter
    # exit, so libpostal was never torn down.

    def __repr__(self):
        return "<libpostal's default>"


DEFAULT = _LibpostalDefault()


_TOKEN_PREFIX = "TOKEN_TYPE_"

# Its members are the extension module's, which no type checker can see.
TokenType = enum.IntEnum(  # type: ignore[misc]
    "TokenType",
    [(name[len(_TOKEN_PREFIX):], value) for name, value in vars(_wordclass).items() if name.startswith(_TOKEN_PREFIX)],
    module="addrnorm",
)
TokenType.__doc__ = "libpostal's token types, the classes its tokenizer gives a token (TokenType.WORD is 1)."
