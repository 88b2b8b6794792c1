"""``addrnorm data``: fetch libpostal's data files for the modules
(addrnorm.data.download), and tell what a data directory holds.  Exit
status: 0 done, 1 a failed download or check, 2 an unreachable source or a
usage error.
"""
import os
import signal
import sys

from addrnorm import datadir
from addrnorm.data.archives import Failure
from addrnorm.data.download import UPSTREAM, download
from addrnorm.datadir import FILES, MARKERS, PARSER_FILES, PARSER_MARKER, RELEASE


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
