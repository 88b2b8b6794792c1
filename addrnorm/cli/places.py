"""The place records that hash and dupes read: the options that say which
columns are libpostal's labels and coordinates, checked against the header;
the records whose values libpostal would refuse made bad records before the
workers; and the keys the records gave, for the summary's warnings."""
import math
from typing import Optional, Set

from addrnorm.cli.addresses import language_list
from addrnorm.cli.errors import InputError
from addrnorm.cli.readers import read_records, separator_hint
from addrnorm.errors import BadRecord
from addrnorm.options import HASH_FLAGS, LABELS
from addrnorm.values import Refused, checked_record, read_columns, unread_message


class Keys:
    """The keys the records gave, and what a mapping reached, to say so when
    a run gives no key at all."""

    def __init__(self, mapping, header, parse=()):
        self.mapping, self.count, self.keyless, self.parse = mapping, 0, 0, parse
        self.header = header
        # JSON Lines have no header to check a mapping against before the run.
        self.seen: Optional[Set[str]] = set() if header is None else None

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


# Options.


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

