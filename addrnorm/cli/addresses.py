"""Where the commands that read an address a line (expand, parse, language,
tokens) find their addresses: the arguments, a file or standard input; and
the --languages they are given."""
import os
import sys

from addrnorm.cli.errors import InputError
from addrnorm.cli.progress import Progress
from addrnorm.cli.readers import lone_surrogate, text_records
from addrnorm.cli.sources import open_input
from addrnorm.errors import BadRecord
from addrnorm.languages import KNOWN, check_languages, unknown_message

# The endings of the files the commands read: an argument ending so names a
# file, never an address.
FILE_ENDINGS = (".txt", ".csv", ".tsv", ".tab", ".jsonl", ".ndjson", ".json")


def input_path(options):
    """The file to read, or None when the arguments are addresses.  A lone
    argument that is a file is read, as hash FILE and dupes FILE read it (-i
    FILE reads it too); "-" alone is standard input.  A lone argument that
    ends as such files do (.txt, .csv, .jsonl ..., with or without .gz) and
    is no file is an error, not an address; any other argument, or several,
    are addresses."""
    arguments = options.addresses
    if arguments and options.input:
        raise InputError("addresses and -i FILE: give one or the other")
    if not arguments:
        return options.input or "-"
    if len(arguments) == 1:
        path = arguments[0]
        if path == "-" or os.path.isfile(path):
            return path
        base = path[:-3] if path.endswith(".gz") else path
        if base.lower().endswith(FILE_ENDINGS):
            raise InputError("%s: no such file (a lone argument ending in %s is read as a file; give an address "
                             "as text)" % (path, base[base.rindex("."):]))
    return None


def address_lines(options, phase):
    """(source name, numbered addresses, progress) of a command that reads
    an address a line: from the arguments, or from a file (see input_path)
    or standard input."""
    if getattr(options, "input_format", None) or options.delimiter:
        raise InputError("--input-format and --delimiter go with --column: without it each line is an address")
    path = input_path(options)
    if path is None:
        records = [(n, argument_address(address)) for n, address in enumerate(options.addresses, 1)]
        return "<arguments>", records, Progress(options.quiet, phase, len(records))
    source = open_input(path, options.encoding)
    return source.name, text_records(source), Progress.reading(source, options.quiet, phase)


def argument_address(text):
    """An address given as an argument: None when blank; a bad record when
    it holds bytes the file system's encoding could not decode (which the
    interpreter keeps as lone surrogates, text libpostal cannot take)."""
    if lone_surrogate(text) is not None:
        return BadRecord("bytes that are not %s" % sys.getfilesystemencoding())
    return text if text.strip() else None


def split_list(text):
    return [item.strip() for item in text.split(",") if item.strip()]


def language_list(text):
    """--languages, checked once: a code that is not one stops the run before
    the first record, instead of refusing every record."""
    codes = split_list(text)
    try:
        check_languages(codes)
    except ValueError as error:
        raise InputError("--%s" % error) from error
    # A code libpostal has no dictionary for is a mistake on a command line
    # ("gb" for British English), which a run should not go through with.
    unknown = [code for code in codes if code not in KNOWN]
    if unknown:
        raise InputError("--languages: " + unknown_message(unknown))
    return codes
