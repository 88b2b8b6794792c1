"""libpostal's data files downloaded for the modules (the command is
``addrnorm data``, addrnorm.cli.data).

A download streams upstream's two release archives (the base data and the
language classifier; with --parser, the address parser's model too, 1.9 GB
unpacked, which only parse_address reads) into a new directory beside the
target, refusing any member that would land outside it,
checks it by setting libpostal up from it in a child process, and only then
renames it into place: a failure at any step leaves the data already there
as it was.
"""
import os
import shutil
import subprocess
import sys
import tempfile

from addrnorm import datadir
from addrnorm.data.archives import Failure, fetch, scheme_of
from addrnorm.datadir import FILES, MARKERS, PARSER_FILES, PARSER_MARKER, RELEASE

UPSTREAM = "https://github.com/openvenues/libpostal/releases/download"
# Each archive and the folders it unpacks into the data directory.
ARCHIVES = (
    ("libpostal_data.tar.gz", ("address_expansions", "numex", "transliteration")),
    ("language_classifier.tar.gz", ("language_classifier",)),
)
PARSER_ARCHIVE = ("parser.tar.gz", ("address_parser",))
OURS = {folder for _, folders in ARCHIVES for folder in folders} | {name for name, _ in MARKERS}
CHECK_TIMEOUT = 900
CHECK = ("import sys\nsys.path.insert(0, sys.argv[1])\nfrom addrnorm import _expand\n"
         "sys.exit(0 if _expand.expand_address(sys.argv[2]) else 3)\n")
# With the parser: an address parsed too, into more than one part.
CHECK_PARSER = ("import sys\nsys.path.insert(0, sys.argv[1])\nfrom addrnorm import _expand, _parser\n"
                "if not _expand.expand_address(sys.argv[2]):\n    sys.exit(3)\n"
                "sys.exit(0 if len(_parser.parse_address(sys.argv[2]) or ()) > 1 else 4)\n")
CHECK_ADDRESS = "781 Franklin Ave Crown Hts Brooklyn NY"
CHECK_PARSED_ADDRESS = "781 Franklin Ave, Brooklyn, NY 11216"


def check(folder, parser=False):
    """Sets libpostal (and, with parser, its parser) up from the folder in a
    child process and expands (and parses) one address: the data must work,
    not merely be there."""
    # addrnorm/data/download.py: the folder that holds the package.
    package_parent = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    env = dict(os.environ, LIBPOSTAL_DATA_DIR=folder)
    try:
        process = subprocess.run([sys.executable, "-c", CHECK_PARSER if parser else CHECK, package_parent,
                                  CHECK_PARSED_ADDRESS if parser else CHECK_ADDRESS], env=env, cwd=folder,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True,
                                 timeout=CHECK_TIMEOUT)
    except subprocess.TimeoutExpired:
        raise Failure("the check of the new data did not finish in %d s" % CHECK_TIMEOUT) from None
    if process.returncode != 0:
        said = process.stderr.strip().splitlines()
        raise Failure("libpostal could not use the new data: %s" % (
            said[-1] if said else "the check exited with status %d" % process.returncode))


def replace(directory, new):
    """Puts the new folder in the directory's place, carrying over what the
    download does not own (the parser's data, say), and backing out on failure."""
    if not os.path.lexists(directory):
        os.rename(new, directory)
        return
    old = new + "-old"
    # What the new folder holds replaces the old (the parser's, with --parser).
    carried = [name for name in os.listdir(directory)
               if name not in OURS and not os.path.lexists(os.path.join(new, name))]
    moved = []
    try:
        for name in carried:
            os.rename(os.path.join(directory, name), os.path.join(new, name))
            moved.append(name)
        os.rename(directory, old)
        try:
            os.rename(new, directory)
        except OSError:
            os.rename(old, directory)
            raise
    except OSError:
        for name in moved:
            os.rename(os.path.join(new, name), os.path.join(directory, name))
        raise
    shutil.rmtree(old, ignore_errors=True)


def download(directory, source, force, progress, parser=False):
    """Returns the summary line; raises Failure."""
    scheme_of(source)
    directory = os.path.realpath(directory)
    if os.path.exists(directory) and not os.path.isdir(directory):
        raise Failure("%s is not a directory" % directory, 2)
    if not force and datadir.up_to_date(directory, parser):
        return "libpostal's data %s%s in %s is up to date (--force fetches it again)" % (
            RELEASE, " with the parser" if parser else "", directory)
    parent = os.path.dirname(directory)
    try:
        os.makedirs(parent, exist_ok=True)
        new = tempfile.mkdtemp(prefix="." + os.path.basename(directory) + ".new-", dir=parent)
    except OSError as error:
        raise Failure("cannot write beside %s: %s" % (directory, error.strerror)) from error
    try:
        # mkdtemp's folder is private; the data directory is made as any other
        # would be, so that other users (a cluster's workers) can read it.
        mask = os.umask(0)
        os.umask(mask)
        os.chmod(new, 0o777 & ~mask)
        for name, folders in ARCHIVES + ((PARSER_ARCHIVE,) if parser else ()):
            fetch(source, name, folders, new, progress)
        files = FILES + (PARSER_FILES if parser else ())
        gone = datadir.missing(new, files)
        if gone:
            raise Failure("the archives lack %s" % ", ".join(gone))
        for name, version in MARKERS + ((PARSER_MARKER,) if parser else ()):
            with open(os.path.join(new, name), "w", encoding="utf-8") as marker:
                marker.write(version + "\n")
        check(new, parser)
        replace(directory, new)
    except OSError as error:
        raise Failure("%s: %s" % (getattr(error, "filename", None) or directory, error.strerror or error)) from error
    finally:
        shutil.rmtree(new, ignore_errors=True)
    size = sum(datadir.file_size(directory, name) for name in files)
    return "libpostal's data %s installed in %s: %d files, %.1f MB, checked by expanding%s an address" % (
        RELEASE, directory, len(files), size / 1e6, " and parsing" if parser else "")
