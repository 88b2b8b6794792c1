"""libpostal's address parser, as the package publishes it: parse_address,
which splits a one-line address into labelled parts; parsed_fields, which
makes a parse a {label: value} record; and a record as labelled fields,
the one place where a record (a CSV row, a JSON line, one of
find_duplicates' mappings) becomes libpostal's labels and values, with the
parts of its one-line address columns added: labelled_fields, which the
de-duplication reads its keys and compared values from, and record_fields,
the labels and values hash --parse gives near_dupe_hashes.

Like expand_address, each is a plain Python function, so that it pickles by
name; parse_address looks the extension module up on first use, as
importing addrnorm._parser sets libpostal's parser up (seconds, and about
2 GB of memory that forked workers share).
"""
import re
import typing
from typing import Dict, Optional

from addrnorm._library import load as _load
from addrnorm.options import LABELS as HASH_LABELS
from addrnorm.values import Refused, field_text

# libpostal 1.1's parser labels, in the order of its model's classes: the
# order of the command's CSV columns.
LABELS = ("house", "category", "near", "house_number", "road", "unit", "level", "staircase", "entrance", "po_box",
          "postcode", "suburb", "city_district", "city", "island", "state_district", "state", "country_region",
          "country", "world_region")

_LANGUAGE = re.compile(r"[a-z]{2,3}")
_COUNTRY = re.compile(r"[A-Za-z]{2}")

_parse_address = None


def _bind_parser():
    global _parse_address
    _parse_address = _load("_parser").parse_address
    return _parse_address


def check_codes(language, country):
    # Codes that are not str are left to the extension function, which
    # refuses them with its own message.
    if isinstance(language, str) and _LANGUAGE.fullmatch(language) is None:
        raise ValueError("language: %r is not a language code; give an ISO 639-1 code in lower case such as \"en\""
                         % (language,))
    if isinstance(country, str):
        if _COUNTRY.fullmatch(country) is None:
            raise ValueError("country: %r is not a country code; give an ISO 3166-1 alpha-2 code such as \"us\""
                             % (country,))
        country = country.lower()
    return country


def parse_address(address, language=None, country=None):
    """The parts of a one-line address, as a list of (component, label) in
    the address's order.

    Components are libpostal's normalized text (lower case, as written
    otherwise); labels are the parser's: house (a venue's name), category,
    near, house_number, road, unit, level, staircase, entrance, po_box,
    postcode, suburb, city_district, city, island, state_district, state,
    country_region, country, world_region.  ``language`` (ISO 639-1) and
    ``country`` (ISO 3166-1 alpha-2, any case) are passed on to libpostal,
    whose 1.1 parser does not use them.  The first call loads the parser's
    model (1.9 GB on disk, about 2 GB of memory; ``addrnorm data download
    --parser`` fetches it).

    >>> parse_address("781 Franklin Ave Crown Hts Brooklyn NY 11216")
    [('781', 'house_number'), ('franklin ave', 'road'), ('crown hts', 'suburb'), ('brooklyn', 'city_district'), \
('ny', 'state'), ('11216', 'postcode')]
    """
    country = check_codes(language, country)
    function = _parse_address or _bind_parser()
    try:
        parsed = function(address, language, country)
    except TypeError:
        # None and NaN are what a missing value in a pandas column looks like.
        if address is None or isinstance(address, float):
            raise TypeError("address must be a str, not %r; to skip missing values in pandas, use "
                            "series.map(parse_address, na_action=\"ignore\")" % (address,)) from None
        raise
    # libpostal gives no parse only without its parser, which the module
    # holds for as long as it lives.
    return [] if parsed is None else parsed


def parsed_fields(parsed):
    """A parse as a record, {label: value}, in the parse's order; a label
    given twice (a road split by a house number, say) has its parts joined
    with a space, in order.

    >>> parsed_fields([('781', 'house_number'), ('franklin ave', 'road'), ('brooklyn', 'city')])
    {'house_number': '781', 'road': 'franklin ave', 'city': 'brooklyn'}
    """
    fields: Dict[str, str] = {}
    for component, label in parsed:
        fields[label] = fields[label] + " " + component if label in fields else component
    return fields


class LabelledField(typing.NamedTuple):
    """One labelled field of a record: its column (for a part of a parsed
    column, "column.label"), its label, its value as text, and the column
    parsed, for a part of one."""

    column: str
    label: str
    text: str
    part_of: Optional[str] = None


def labelled_fields(record, columns, parse=(), language=None, country=None):
    """The labelled fields of one record: each of columns ((column, label)
    pairs, in the order to read them) that has a value, then the parts of
    each column in parse (a one-line address) under the labels the parser
    gives them.  A value is text under the value policy (addrnorm.values);
    one the policy refuses is Refused, naming its field, when its label is
    one libpostal reads, and left out when not."""
    fields = []
    for column, label in columns:
        text = _field_text(column, record.get(column), label in HASH_LABELS or label in LABELS)
        if text:
            fields.append(LabelledField(column, label, text))
    for column in parse:
        text = _field_text(column, record.get(column)) or ""
        if not text.strip():
            continue
        for label, part in parsed_fields(parse_address(text, language, country)).items():
            fields.append(LabelledField("%s.%s" % (column, label), label, part, column))
    return fields


def record_fields(record, parse=(), mapping=None, skip=(), language=None, country=None):
    """(labels, values) of one record for near_dupe_hashes: each column's
    value under its label (``mapping`` {column: label} names a column's
    label, "" drops it; other columns are labelled by their names), then the
    parts of each column in ``parse`` (a one-line address) under the labels
    the parser gives them.  A label the record's own columns give wins over
    a parsed one, and an earlier parsed column over a later one; a parsed
    column is not a field itself.  Columns in ``skip`` (coordinates) are
    left out, and so are empty values."""
    mapping = mapping or {}
    columns = [(column, mapping.get(column, column)) for column in record if column not in skip and column not in parse]
    labels, values = [], []
    given = set()
    for field in labelled_fields(record, [(column, label) for column, label in columns if label], parse, language,
                                 country):
        if field.part_of is None or field.label not in given:
            given.add(field.label)
            labels.append(field.label)
            values.append(field.text)
    return labels, values


def _field_text(column, value, read=True):
    """The value policy of addrnorm.values, naming the field refused; a field
    that is not read is left out instead."""
    try:
        return field_text(value)
    except Refused as error:
        if not read:
            return None
        raise Refused("field %r: %s" % (column, error)) from None
