"""The addrnorm command's record commands, expand, parse, hash and dupes:
what each reads, hands to libpostal and writes, and what it says at the end."""
import math
import os
import sys

from addrnorm import AddressComponent
from addrnorm.calls import (expand_field, expand_one, hash_one, parse_field, parse_one, warm_up_expand, warm_up_hash,
                            warm_up_parse, warm_up_parsed_hash)
from addrnorm.languages import KNOWN, check_languages, unknown_message
from addrnorm.options import EXPAND_FLAGS, HASH_FLAGS, LABELS
from addrnorm.parsing import LABELS as PARSER_LABELS, check_codes
from addrnorm.progress import Progress, Run, count
from addrnorm.readers import lone_surrogate, read_records, text_records
from addrnorm.records import BadRecord, InputError
from addrnorm.sources import open_input
from addrnorm.values import Refused, checked_record, read_columns, unread_message
from addrnorm.writers import ExpansionWriter, ParsedWriter, RecordWriter

# Separators a header of one column may hide, suggested for --delimiter.
SEPARATORS = (";", "\t", "|")


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


def command_expand(options, out):
    run = Run(options)
    keywords = expand_keywords(options)
    if options.column:
        return expand_column(options, out, run, keywords)
    name, records, progress = address_lines(options, "expanding")
    writer = ExpansionWriter(out, options.format or "text", options.csv_style)
    expansions = 0
    # A blank line is written too, as an input without expansions: the
    # output keeps a place for every line.
    for number, address, result in run.results(records, name, progress, expand_one, keywords, warm_up_expand,
                                               blank=""):
        writer.write(number, address, result)
        expansions += len(result or ())
    run.summary(count(run.records, "address", "addresses"), count(expansions, "expansion"))
    return run


def expand_column(options, out, run, keywords):
    """--column: one field of each record expanded, the record written through."""
    path = input_path(options)
    if path is None:
        raise InputError("--column reads records from FILE, -i FILE or standard input, not addresses")
    source, records, header = read_records(path, options.input_format, options.delimiter, options.encoding)
    if header is not None and options.column not in header:
        raise InputError("--column: %s has no column %r (its columns: %s)%s" % (
            source.name, options.column, ", ".join(header), separator_hint(header)))
    writer = RecordWriter(out, options.format or "csv", header, "expansions", options.csv_style)
    expansions = blank = 0
    progress = Progress.reading(source, options.quiet, "expanding")
    for number, record, result in run.results(records, source.name, progress, expand_field,
                                              (options.column, keywords), warm_up_expand):
        run.write(writer, source.name, number, record, result)
        expansions += len(result or ())
        value = record.get(options.column)
        blank += value is None or not str(value).strip()
    writer.close()
    run.summary(count(run.records, "record"), count(expansions, "expansion"),
                count(blank, "blank address", "blank addresses"))
    return run


def command_parse(options, out):
    run = Run(options)
    try:
        codes = (options.language, check_codes(options.language, options.country))
    except ValueError as error:
        raise InputError("--%s" % error)
    if options.column:
        return parse_column(options, out, run, codes)
    name, records, progress = address_lines(options, "parsing")
    writer = ParsedWriter(out, options.format, PARSER_LABELS, style=options.csv_style)
    parts = 0
    # A blank line is written too, with no parts, so the output keeps a
    # place for every line.
    for number, address, result in run.results(records, name, progress, parse_one, codes, warm_up_parse, blank=""):
        writer.write(number, address, result)
        parts += len(result)
    writer.close()
    run.summary(count(run.records, "address", "addresses"), count(parts, "labelled part"))
    return run


def parse_column(options, out, run, codes):
    """--column: one field of each record parsed, the record written through."""
    path = input_path(options)
    if path is None:
        raise InputError("--column reads records from FILE, -i FILE or standard input, not addresses")
    source, records, header = read_records(path, options.input_format, options.delimiter, options.encoding)
    if header is not None and options.column not in header:
        raise InputError("--column: %s has no column %r (its columns: %s)%s" % (
            source.name, options.column, ", ".join(header), separator_hint(header)))
    writer = ParsedWriter(out, options.format, PARSER_LABELS, header, records=True, style=options.csv_style)
    parts = blank = 0
    progress = Progress.reading(source, options.quiet, "parsing")
    for number, record, result in run.results(records, source.name, progress, parse_field, (options.column, codes),
                                              warm_up_parse):
        run.write(writer, source.name, number, record, result)
        parts += len(result)
        value = record.get(options.column)
        blank += value is None or not str(value).strip()
    writer.close()
    run.summary(count(run.records, "record"), count(parts, "labelled part"),
                count(blank, "blank address", "blank addresses"))
    return run


class Keys:
    """The keys the records gave, and what a mapping reached, to say so when
    a run gives no key at all."""

    def __init__(self, mapping, header, parse=()):
        self.mapping, self.count, self.keyless, self.parse = mapping, 0, 0, parse
        self.header = header
        # JSON Lines have no header to check a mapping against before the run.
        self.seen = set() if header is None else None

    def add(self, record, keys):
        self.count += len(keys or ())
        self.keyless += not keys
        if self.seen is not None:
            self.seen.update(record)

    def warn(self, run):
        if self.seen is not None:
            for column in sorted(set(self.mapping) - self.seen):
                run.warn("--map: no record has a field %r" % column)
        columns = self.header if self.seen is None else sorted(self.seen)
        unread = unread_message([self.mapping.get(column, column) for column in columns], self.parse)
        if run.records and unread and any(self.mapping.get(column, column) in LABELS for column in columns):
            # A postcode alone, say: name what is missing, not every label.
            run.warn(unread + " (with --map COLUMN=LABEL)")
        elif run.records and not self.count:
            run.warn("no record gave a key: libpostal reads only fields labelled %s (name yours with "
                     "--map COLUMN=LABEL)" % ", ".join(LABELS))


def read_places(options):
    """(source, records, header, the calls' options) for hash and dupes; the
    mapping checked against the header."""
    job = hash_options(options)
    mapping, lat, lon, _ = job
    parse = tuple(getattr(options, "parse", None) or ())
    source, records, header = read_records(options.input, options.input_format, options.delimiter,
                                           options.encoding)
    if header is not None:
        check_header(source.name, header, mapping, lat, lon, parse)
    else:
        # CSV's values are all text; JSON's are checked as they come.
        records = checked_records(records, mapping, parse, (lat, lon))
    if lat and lon:
        records = finite_longitudes(records, lat, lon)
    # The columns to parse go with the calls' options, as their fifth item.
    return source, records, header, job + (parse,) if parse else job


def checked_records(records, mapping, parse, coordinates):
    """The records with a value that reaches libpostal and that the value
    policy refuses (a list, a dict, a boolean) made bad records; the others
    as they were, to be written as they came."""
    for number, record in records:
        if isinstance(record, dict):
            try:
                checked_record(record, read_columns(record, mapping, parse, coordinates))
            except Refused as error:
                record = BadRecord(str(error))
        yield number, record


def finite_longitudes(records, lat, lon):
    """The records with an infinite longitude made bad records: libpostal's
    geohash has no cell for one (the call refuses it), and the calls take
    only BadRecord for a record's fault."""
    for number, record in records:
        if isinstance(record, dict) and _infinite(record.get(lon)):
            record = BadRecord("no usable %s/%s coordinates" % (lat, lon))
        yield number, record


def _infinite(value):
    try:
        return math.isinf(float(value))
    except (TypeError, ValueError):
        return False
    except OverflowError:  # a whole number beyond any float
        return True


def command_hash(options, out):
    run = Run(options)
    source, records, header, job = read_places(options)
    writer = RecordWriter(out, options.format, header, "keys", options.csv_style)
    keys = Keys(job[0], header, job[4] if len(job) > 4 else ())
    progress = Progress.reading(source, options.quiet, "hashing")
    warm_up = warm_up_parsed_hash if len(job) > 4 else warm_up_hash
    for number, record, result in run.results(records, source.name, progress, hash_one, job, warm_up):
        keys.add(record, result)
        run.write(writer, source.name, number, record, result)
    writer.close()
    run.summary(count(run.records, "record"), count(keys.count, "key"),
                count(keys.keyless, "record without keys", "records without keys"))
    keys.warn(run)
    return run


# Options.

def split_list(text):
    return [item.strip() for item in text.split(",") if item.strip()]


def language_list(text):
    """--languages, checked once: a code that is not one stops the run before
    the first record, instead of refusing every record."""
    codes = split_list(text)
    try:
        check_languages(codes)
    except ValueError as error:
        raise InputError("--%s" % error)
    # A code libpostal has no dictionary for is a mistake on a command line
    # ("gb" for British English), which a run should not go through with.
    unknown = [code for code in codes if code not in KNOWN]
    if unknown:
        raise InputError("--languages: " + unknown_message(unknown))
    return codes


def expand_keywords(options):
    keywords = {name: getattr(options, name) for name in EXPAND_FLAGS if getattr(options, name) is not None}
    if options.languages:
        keywords["languages"] = language_list(options.languages)
    if options.components:
        mask = AddressComponent.NONE
        for name in split_list(options.components):
            try:
                mask |= AddressComponent[name.upper()]
            except KeyError:
                raise InputError("--components: no component %r (one of %s)" % (
                    name, ", ".join(member.lower() for member in AddressComponent.__members__)))
        keywords["address_components"] = int(mask)
    if options.root:
        keywords["root"] = 1
    return keywords


def hash_options(options):
    """(mapping, latitude column, longitude column, keywords); a label that
    libpostal does not know is refused rather than ignored."""
    mapping = {}
    for pair in options.map or ():
        for item in pair.split(","):
            column, _, label = item.partition("=")
            column, label = column.strip(), label.strip()
            if not column or not _:
                raise InputError("--map takes COLUMN=LABEL pairs, not %r" % item)
            if label and label not in LABELS:
                raise InputError("--map: %r is not a label of libpostal's; they are: %s" % (label, ", ".join(LABELS)))
            mapping[column] = label
    keywords = {name: getattr(options, name) for name in HASH_FLAGS if getattr(options, name) is not None}
    if options.languages:
        keywords["languages"] = language_list(options.languages)
    if options.geohash_precision is not None:
        keywords["geohash_precision"] = options.geohash_precision
    if bool(options.lat) != bool(options.lon):
        raise InputError("--lat and --lon go together")
    return mapping, options.lat, options.lon, keywords


def check_header(name, header, mapping, lat, lon, parse=()):
    """Every column the options name is in the header, and some column is
    one of libpostal's labels, after the mapping, or one to parse."""
    for option, columns in (("--map", mapping), ("--lat", [lat] if lat else []), ("--lon", [lon] if lon else []),
                            ("--parse", parse)):
        for column in columns:
            if column not in header:
                raise InputError("%s: %s has no column %r (its columns: %s)%s" % (
                    option, name, column, ", ".join(header), separator_hint(header)))
    if parse or any(mapping.get(column, column) in LABELS for column in header if column not in (lat, lon)):
        return
    hint = separator_hint(header)
    raise InputError("%s: no column is one of libpostal's labels, so no record would give a key (columns: %s)%s; "
                     "name them with --map COLUMN=LABEL, LABEL one of: %s" % (
                         name, ", ".join(header), hint, ", ".join(LABELS)))


def separator_hint(header):
    """"; the header is one column ... --delimiter ';'" when a header of one
    column holds a separator, else ""."""
    if len(header) != 1:
        return ""
    return "".join("; the header is one column: if the file is separated by %r, give --delimiter %r" % (
        separator, separator) for separator in SEPARATORS if separator in header[0])
