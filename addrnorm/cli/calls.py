"""The libpostal calls the addrnorm command makes per record, in this process
or in forked workers, and the calls that set libpostal up before the fork."""
import addrnorm
from addrnorm.errors import BadRecord
from addrnorm.parsing import parsed_fields, record_fields
from addrnorm.values import Refused, field_text


def expand_one(address, options):
    # A blank address has nothing to expand: no call, no expansions.
    if not address.strip():
        return []
    return addrnorm.expand_address(address, **options)


def expand_field(record, job):
    """The expansions of one field of a record; a record without it is bad."""
    column, options = job
    return expand_one(_field(record, column), options)


def _field(record, column):
    """The --column field of a record as text under the value policy
    (addrnorm.values), a missing value blank; a record without the field,
    or with a value the policy refuses, is bad."""
    try:
        value = record[column]
    except KeyError:
        raise BadRecord("no field %r" % column) from None
    try:
        text = field_text(value)
    except Refused as error:
        raise BadRecord("field %r: %s" % (column, error)) from error
    return "" if text is None else text


def warm_up_expand():
    addrnorm.expand_address("")


def place_call(record, options):
    """(labels, values, keywords) of the near_dupe_hashes call for one record:
    its columns as labels through the mapping, the parts of the columns to
    parse (options' fifth item, when there is one) under the parser's labels,
    the coordinates from their columns when asked for."""
    mapping, lat_column, lon_column, keywords = options[:4]
    parse = options[4] if len(options) > 4 else ()
    labels, values = record_fields(record, parse, mapping, skip=(lat_column, lon_column))
    call = dict(keywords)
    if lat_column and lon_column:
        if record.get(lat_column) in (None, "") and record.get(lon_column) in (None, ""):
            # Coordinates are optional: a record without them keeps the keys
            # its other fields give, without the geohash.
            call["with_latlon"] = 0
            return labels, values, call
        try:
            call["latitude"] = float(record[lat_column])
            call["longitude"] = float(record[lon_column])
        except (KeyError, TypeError, ValueError, OverflowError):
            raise BadRecord("no usable %s/%s coordinates" % (lat_column, lon_column)) from None
        call.setdefault("with_latlon", 1)
    return labels, values, call


def hash_one(record, options):
    labels, values, call = place_call(record, options)
    return addrnorm.near_dupe_hashes(labels, values, **call)


def warm_up_hash():
    addrnorm.near_dupe_hashes(["city"], ["x"])


def warm_up_parsed_hash():
    # The parser's model too, before the fork: the workers share it.
    warm_up_hash()
    addrnorm.parse_address("x")


def parse_one(address, codes):
    """{label: value} of one address; a blank one has no parts."""
    if not address.strip():
        return {}
    return parsed_fields(addrnorm.parse_address(address, *codes))


def parse_field(record, job):
    """{label: value} of one field of a record; a record without it is bad."""
    column, codes = job
    return parse_one(_field(record, column), codes)


def warm_up_parse():
    addrnorm.parse_address("x")


def set_up(*modules):
    """libpostal set up, by importing the extension modules a command calls
    (without a call): LibpostalLoadError when it cannot be."""
    for name in modules:
        addrnorm._load(name)


def guess_one(address, top):
    if not address.strip():
        return []
    return [[code, probability] for code, probability in (addrnorm.classify_language(address) or ())[:top]]


def tokens_one(address, job):
    normalize, whitespace, languages = job
    if not address.strip():
        return []
    if normalize:
        normalized = addrnorm.normalized_tokens(address, whitespace=whitespace, languages=languages) or ()
        return [[token, kind.name if hasattr(kind, "name") else kind] for token, kind in normalized]
    spans = addrnorm.tokenize(address, whitespace=whitespace, offsets=True) or ()
    return [[address[start:end], kind.name if hasattr(kind, "name") else kind, start, end]
            for start, end, kind in spans]


def warm_up_text():
    addrnorm.tokenize("")
