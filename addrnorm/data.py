"""``addrnorm data``: fetch libpostal's data files for the modules, and tell
what a data directory holds.

A download streams upstream's two release archives (the base data and the
language classifier; with --parser, the address parser's model too, 1.9 GB
unpacked, which only parse_address reads) into a new directory beside the
target, refusing any member that would land outside it,
checks it by setting libpostal up from it in a child process, and only then
renames it into place: a failure at any step leaves the data already there
as it was.  Exit status: 0 done, 1 a failed download or check, 2 an
unreachable source or a usage error.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile

from addrnorm import datadir
from addrnorm.archive import Failure, fetch, scheme_of
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
    package_parent = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    env = dict(os.environ, LIBPOSTAL_DATA_DIR=folder)
    try:
        process = subprocess.run([sys.executable, "-c", CHECK_PARSER if parser else CHECK, package_parent,
                                  CHECK_PARSED_ADDRESS if parser else CHECK_ADDRESS], env=env, cwd=folder,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True,
                                 timeout=CHECK_TIMEOUT)
    except subprocess.TimeoutExpired:
        raise Failure("the check of the new data did not finish in %d s" % CHECK_TIMEOUT)
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
        raise Failure("cannot write beside %s: %s" % (directory, error.strerror))
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
        raise Failure("%s: %s" % (getattr(error, "filename", None) or directory, error.strerror or error))
    finally:
        shutil.rmtree(new, ignore_errors=True)
    size = sum(datadir.file_size(directory, name) for name in files)
    return "libpostal's data %s installed in %s: %d files, %.1f MB, checked by expanding%s an address" % (
        RELEASE, directory, len(files), size / 1e6, " and parsing" if parser else "")


def _terminated(signum, frame):
    raise Failure("interrupted by signal %d" % signum, 128 + signum)


def command_download(options):
    handler = None
    try:
        handler = signal.signal(signal.SIGTERM, _terminated)
    except ValueError:  # not the main thread: the default stays
        pass
    try:
        summary = download(options.dir or datadir.own_directory(), options.source, options.force,
                           sys.stderr.isatty(), options.parser)
    except Failure as failure:
        sys.stderr.write("addrnorm: data download: %s\n" % failure)
        if failure.status > 128:
            # Terminated by a signal, with the new folder already removed:
            # end now.  The signal may have cut a connection's objects off
            # half made, and the interpreter's teardown would print their
            # failures to finalize after the one line above.
            sys.stderr.flush()
            os._exit(failure.status)
        return failure.status
    except KeyboardInterrupt:
        sys.stderr.write("addrnorm: data download: interrupted\n")
        return 130
    finally:
        if handler is not None:
            signal.signal(signal.SIGTERM, handler)
    sys.stderr.write("addrnorm: %s\n" % summary)
    return 0


def command_info(options):
    directory, reason = (os.path.abspath(options.dir), datadir.GIVEN) if options.dir else datadir.choose()
    lines, gone = describe(directory, reason)
    try:
        sys.stdout.write("".join(line + "\n" for line in lines))
        sys.stdout.flush()
    except BrokenPipeError:  # a reader that stopped early (| head) wanted no more
        pass
    return 0 if gone == [] else 1


def describe(directory, reason):
    """The lines of `data info`, and the files missing (None: unknown)."""
    if directory is None:
        return ["directory: libpostal's compiled-in one, which cannot be found from here",
                "to fetch the data: %s" % datadir.fix_command(None, reason, False)], None
    lines = ["directory: %s (%s)" % (directory, datadir.REASONS[reason])]
    for name in FILES:
        size = datadir.file_size(directory, name)
        lines.append("  %-45s %s" % (name, "missing" if size is None else "%10d bytes (%.1f MB)" % (size, size / 1e6)))
    # The parser's files, fetched only on request: their absence is no fault.
    for name in PARSER_FILES:
        size = datadir.file_size(directory, name)
        lines.append("  %-45s %s" % (name, "missing" if size is None else "%10d bytes (%.1f MB)" % (size, size / 1e6)))
    versions = datadir.markers(directory)
    versions[PARSER_MARKER[0]] = datadir.parser_marker(directory)
    lines.append("markers: " + ", ".join("%s %s" % (name, versions[name] or "missing")
                                         for name, _ in MARKERS + (PARSER_MARKER,)))
    gone = datadir.missing(directory)
    if gone:
        lines.append("missing: " + ", ".join(gone))
        lines.append("to fetch them: %s" % datadir.fix_command(directory, reason, False))
    else:
        lines.append("complete")
    if datadir.missing(directory, PARSER_FILES):
        lines.append("parsing: not available (the parser's files are missing; '%s' fetches them, 570 MB)" %
                     datadir.fix_command(directory, reason, False, parser=True))
    else:
        lines.append("parsing: available")
    return lines, gone


def add_command(commands):
    data = commands.add_parser("data", help="fetch libpostal's data files, or show the directory in use")
    actions = data.add_subparsers(dest="action", metavar="ACTION")
    actions.required = True
    fetching = actions.add_parser("download", help="fetch libpostal's data (release %s), check it, install it" % (
        RELEASE))
    fetching.add_argument("--dir", help="where to install it (default: addrnorm's own data directory, per user)")
    fetching.add_argument("--from", dest="source", default=UPSTREAM, metavar="SOURCE",
                          help="an http(s) URL, a file:// URL or a directory holding %s/<archive> "
                               "(default: libpostal's releases, %s)" % (RELEASE, UPSTREAM))
    fetching.add_argument("--force", action="store_true", help="fetch it even when the data there is up to date")
    fetching.add_argument("--parser", action="store_true",
                          help="the address parser's model too (about 570 MB to download, 1.9 GB unpacked; needed "
                               "by parse_address and addrnorm parse) (default: off)")
    fetching.set_defaults(run=command_download)
    showing = actions.add_parser("info", help="the data directory in use and why, its files and what is missing")
    showing.add_argument("--dir", help="the directory to look at (default: the one the modules would read)")
    showing.set_defaults(run=command_info)
