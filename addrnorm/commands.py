"""The addrnorm command's record commands, expand, parse, hash and dupes:
what each reads, hands to libpostal and writes, and what it says at the end."""
from addrnorm import AddressComponent
from addrnorm.calls import (expand_field, expand_one, hash_one, parse_field, parse_one, warm_up_expand, warm_up_hash,
                            warm_up_parse, warm_up_parsed_hash)
from addrnorm.languages import check_languages
from addrnorm.options import EXPAND_FLAGS, HASH_FLAGS, LABELS
from addrnorm.parsing import LABELS as PARSER_LABELS, check_codes
from addrnorm.progress import Progress, Run, count
from addrnorm.readers import read_records, text_records
from addrnorm.records import InputError
from addrnorm.sources import open_input
from addrnorm.writers import ExpansionWriter, ParsedWriter, RecordWriter

# Separators a header of one column may hide, suggested for --delimiter.
SEPARATORS = (";", "\t", "|")


def address_lines(options, phase):
    """(source name, numbered addresses, progress) of a command that reads
    an address a line: from the arguments, or from -i FILE or standard
    input ("-" alone reads standard input, as it does for hash and dupes)."""
    if getattr(options, "input_format", None) or options.delimiter:
        raise InputError("--input-format and --delimiter go with --column: without it each line is an address")
    if options.addresses and options.addresses != ["-"]:
        if options.input:
            raise InputError("addresses and -i FILE: give one or the other")
        records = [(n, address if address.strip() else None) for n, address in enumerate(options.addresses, 1)]
        return "<arguments>", records, Progress(options.quiet, phase, len(records))
    source = open_input(options.input or "-", options.encoding)
    return source.name, text_records(source), Progress.reading(source, options.quiet, phase)


def command_expand(options, out):
    run = Run(options)
    keywords = expand_keywords(options)
    if options.column:
        return expand_column(options, out, run, keywords)
    name, records, progress = address_lines(options, "expanding")
    writer = ExpansionWriter(out, options.format or "text")
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
    if options.addresses:
        raise InputError("--column reads records from -i FILE or standard input, not addresses")
    source, records, header = read_records(options.input or "-", options.input_format, options.delimiter,
                                           options.encoding)
    if header is not None and options.column not in header:
        raise InputError("--column: %s has no column %r (its columns: %s)" % (
            source.name, options.column, ", ".join(header)))
    writer = RecordWriter(out, options.format or "csv", header, "expansions")
    expansions = blank = 0
    progress = Progress.reading(source, options.quiet, "expanding")
    for number, record, result in run.results(records, source.name, progress, expand_field,
                                              (options.column, keywords), warm_up_expand):
        run.write(writer, source.name, number, record, result)
        expansions += len(result or ())
        value = record.get(options.column)
        blank += value is None or not str(value).strip()
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
    writer = ParsedWriter(out, options.format, PARSER_LABELS)
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
    if options.addresses:
        raise InputError("--column reads records from -i FILE or standard input, not addresses")
    source, records, header = read_records(options.input or "-", options.input_format, options.delimiter,
                                           options.encoding)
    if header is not None and options.column not in header:
        raise InputError("--column: %s has no column %r (its columns: %s)" % (
            source.name, options.column, ", ".join(header)))
    writer = ParsedWriter(out, options.format, PARSER_LABELS, header, records=True)
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

    def __init__(self, mapping, header):
        self.mapping, self.count, self.keyless = mapping, 0, 0
        # JSON Lines have no header to check a mapping against before the run.
        self.seen = set() if header is None and mapping else None

    def add(self, record, keys):
        self.count += len(keys or ())
        self.keyless += not keys
        if self.seen is not None:
            self.seen.update(record)

    def warn(self, run):
        if self.seen is not None:
            for column in sorted(set(self.mapping) - self.seen):
                run.warn("--map: no record has a field %r" % column)
        if run.records and not self.count:
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
    # The columns to parse go with the calls' options, as their fifth item.
    return source, records, header, job + (parse,) if parse else job


def command_hash(options, out):
    run = Run(options)
    source, records, header, job = read_places(options)
    writer = RecordWriter(out, options.format, header, "keys")
    keys = Keys(job[0], header)
    progress = Progress.reading(source, options.quiet, "hashing")
    warm_up = warm_up_parsed_hash if len(job) > 4 else warm_up_hash
    for number, record, result in run.results(records, source.name, progress, hash_one, job, warm_up):
        keys.add(record, result)
        run.write(writer, source.name, number, record, result)
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
                raise InputError("%s: %s has no column %r (its columns: %s)" % (
                    option, name, column, ", ".join(header)))
    if parse or any(mapping.get(column, column) in LABELS for column in header if column not in (lat, lon)):
        return
    hint = ""
    if len(header) == 1:
        hint = "".join("; the header is one column: if the file is separated by %r, give --delimiter %r" % (
            separator, separator) for separator in SEPARATORS if separator in header[0])
    raise InputError("%s: no column is one of libpostal's labels, so no record would give a key (columns: %s)%s; "
                     "name them with --map COLUMN=LABEL, LABEL one of: %s" % (
                         name, ", ".join(header), hint, ", ".join(LABELS)))
