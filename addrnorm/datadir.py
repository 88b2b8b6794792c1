"""Which directory libpostal's data is read from, and what a directory holds.

The order: ``LIBPOSTAL_DATA_DIR`` when it is set and not empty; addrnorm's own
data directory (per user) when it holds complete data; libpostal's
compiled-in directory.  The modules read ``LIBPOSTAL_DATA_DIR`` at their set-up,
so the package hands its choice over by setting that variable in its own
process, and only when it is unset.
"""
import ctypes
import importlib.machinery
import os
import re
import shlex
import sys
import warnings
from types import FrameType
from typing import Dict, Optional

RELEASE = "v1.0.0"
BASE_FILES = ("address_expansions/address_dictionary.dat", "numex/numex.dat", "transliteration/transliteration.dat")
CLASSIFIER_FILE = "language_classifier/language_classifier.dat"
FILES = BASE_FILES + (CLASSIFIER_FILE,)
# The address parser's model (1.9 GB), fetched only on request
# (addrnorm data download --parser) and read only by _parser.
PARSER_FILES = ("address_parser/address_parser_crf.dat", "address_parser/address_parser_postal_codes.dat",
                "address_parser/address_parser_phrases.dat", "address_parser/address_parser_vocab.trie")
PARSER_MARKER = ("parser_model_file_version", RELEASE)
# The marker files libpostal's own downloader writes, with the versions of
# this release.
MARKERS = (("data_version", "v1"), ("base_data_file_version", RELEASE),
           ("language_classifier_model_file_version", RELEASE))

VARIABLE, OWN, COMPILED_IN, GIVEN = "variable", "own", "compiled-in", "given"
REASONS = {
    VARIABLE: "named by LIBPOSTAL_DATA_DIR",
    OWN: "addrnorm's own data directory",
    COMPILED_IN: "libpostal's compiled-in directory, the --datadir libpostal was built with",
    GIVEN: "given with --dir",
}

# libpostal builds its default data paths from the compiled-in directory as
# string literals; the address dictionary's is one of them.
_DEFAULT_DICTIONARY = re.compile(rb"(/[\x20-\x7e]*?)/address_expansions/address_dictionary\.dat\x00")
_UNKNOWN = object()
_compiled_in = _UNKNOWN
_choice = None        # (directory, reason) handed to the modules' latest set-up
_set_by_us = None     # the LIBPOSTAL_DATA_DIR value the package set itself
_warned = False


def own_directory():
    from platformdirs import user_data_dir

    return user_data_dir("addrnorm")


def path_of(directory, name):
    return os.path.join(directory, *name.split("/"))


def file_size(directory, name):
    """The size of a data file, or None when it is missing or empty."""
    try:
        size = os.stat(path_of(directory, name)).st_size
    except OSError:
        return None
    return size if size > 0 and os.path.isfile(path_of(directory, name)) else None


def missing(directory, names=FILES):
    return [name for name in names if file_size(directory, name) is None]


def markers(directory):
    """Each marker file's version, None where it is missing."""
    found: Dict[str, Optional[str]] = {}
    for name, _ in MARKERS:
        try:
            with open(os.path.join(directory, name), encoding="utf-8") as marker:
                found[name] = marker.read().strip()
        except (OSError, ValueError):
            found[name] = None
    return found


def up_to_date(directory, parser=False):
    if parser and (missing(directory, PARSER_FILES) or parser_marker(directory) != PARSER_MARKER[1]):
        return False
    return not missing(directory) and markers(directory) == dict(MARKERS)


def parser_marker(directory):
    """The parser's marker file's version, None where it is missing."""
    try:
        with open(os.path.join(directory, PARSER_MARKER[0]), encoding="utf-8") as marker:
            return marker.read().strip()
    except (OSError, ValueError):
        return None


def libpostal_library():
    """The file of the libpostal the modules link, or None where it cannot be
    told.  Loading a module's shared object loads libpostal with it, without
    running the module's initialization, so nothing is set up."""
    here = os.path.dirname(os.path.abspath(__file__))
    for suffix in importlib.machinery.EXTENSION_SUFFIXES:
        module = os.path.join(here, "_expand" + suffix)
        if os.path.exists(module):
            break
    else:
        return None
    try:
        ctypes.CDLL(module)
        with open("/proc/self/maps") as maps:
            for line in maps:
                fields = line.split(None, 5)
                if len(fields) == 6 and os.path.basename(fields[5].strip()).startswith("libpostal.so"):
                    return fields[5].strip()
    except OSError:
        pass
    return None


def compiled_in_directory():
    """libpostal's compiled-in data directory, read from the library itself;
    None where it cannot be found."""
    global _compiled_in
    if _compiled_in is _UNKNOWN:
        _compiled_in = None
        library = libpostal_library()
        if library is not None:
            try:
                with open(library, "rb") as binary:
                    found = _DEFAULT_DICTIONARY.search(binary.read())
            except OSError:
                found = None
            if found:
                _compiled_in = found.group(1).decode("utf-8", "surrogateescape")
    return _compiled_in


def choose():
    """(directory, reason): the directory the modules' set-up reads, by the
    order above; the directory is None when libpostal's compiled-in one
    cannot be found from here."""
    named = os.environ.get("LIBPOSTAL_DATA_DIR")
    if named:
        return named, (OWN if named == _set_by_us else VARIABLE)
    own = own_directory()
    if not missing(own):
        return own, OWN
    return compiled_in_directory(), COMPILED_IN


def prepare():
    """Run before _expand or _kinhash is imported: hands the choice to the
    modules, and warns once when the directory lacks the language classifier,
    since libpostal sets up without it and quietly expands worse."""
    global _choice, _set_by_us, _warned
    directory, reason = _choice = choose()
    if reason == OWN and not os.environ.get("LIBPOSTAL_DATA_DIR"):
        os.environ["LIBPOSTAL_DATA_DIR"] = _set_by_us = directory
    if _warned or directory is None or missing(directory, BASE_FILES) or not missing(directory, (CLASSIFIER_FILE,)):
        return
    _warned = True
    warnings.warn(
        "libpostal's language classifier (%s) is missing from %s (%s): expansions without `languages` will be "
        "poorer; pass `languages`, or fetch it with '%s'" % (
            CLASSIFIER_FILE, directory, REASONS[reason], fix_command(directory, reason, force=False)),
        UserWarning, stacklevel=_caller_level())


def _caller_level():
    """The warning's stack level that names the user's line: the first frame
    outside this package and the import machinery it runs under.  The
    warnings module skips importlib's bootstrap frames itself, so they are
    not counted."""
    inside = (os.path.dirname(os.path.abspath(__file__)) + os.sep, "<frozen importlib",
              os.path.dirname(os.path.abspath(importlib.machinery.__file__)) + os.sep)
    level = 1
    frame: Optional[FrameType] = sys._getframe(1)
    while frame is not None and frame.f_code.co_filename.startswith(inside):
        frame = frame.f_back
        if frame is not None and not ("importlib" in frame.f_code.co_filename and
                                      "_bootstrap" in frame.f_code.co_filename):
            level += 1
    return level


def fix_command(directory, reason, force, parser=False):
    """The command that puts the data where the modules will read it."""
    command = "addrnorm data download" + (" --parser" if parser else "")
    if reason in (VARIABLE, GIVEN):
        command += " --dir " + shlex.quote(directory)
    return command + (" --force" if force else "")


def load_error_message(parser=False):
    """What LibpostalLoadError says: the directory tried, what is missing
    there, and the command that fixes it; with parser, for the set-up of
    the address parser, whose files count too."""
    directory, reason = _choice or choose()
    if directory is None:
        return ("Error loading libpostal: its set-up failed reading libpostal's data files from its compiled-in "
                "directory (the --datadir libpostal was built with), which could not be found from here. Fetch "
                "the data with '%s' (into addrnorm's own data directory, %s), or point LIBPOSTAL_DATA_DIR at a "
                "directory that holds it." % (fix_command(None, reason, False, parser), own_directory()))
    gone = missing(directory, FILES + PARSER_FILES if parser else FILES)
    found = ("Missing there: %s." % ", ".join(gone) if gone else
             "Its data files are all there, so one of them is damaged or cannot be read.")
    fix = "run '%s'" % fix_command(directory, reason, not gone and reason != COMPILED_IN, parser)
    if reason == COMPILED_IN:
        fix += " (it fetches libpostal's data files into addrnorm's own data directory, %s, which is read first)" % (
            own_directory())
    return "Error loading libpostal: its set-up failed with the data directory %s (%s). %s To fix it, %s." % (
        directory, REASONS[reason], found, fix)
