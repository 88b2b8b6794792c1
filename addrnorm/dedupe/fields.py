"""The fields of a de-duplication: each mapped column, the libpostal label it
stands for, and what follows from the label: which address components
libpostal expands its values in, and how two values are compared.

Several columns may carry one label (a person's given name and surname both
name the record): each is compared on its own, and for the near-duplicate
keys their values are joined, in column order, into the label's one value.
"""
from typing import Dict, List

from addrnorm import AddressComponent
from addrnorm.dedupe.errors import RefusedInput
from addrnorm.parsing import LABELS as PARSER_LABELS, labelled_fields
from addrnorm.values import field_text

# How a label's values are compared (see addrnorm.dedupe.model): names and
# streets by their words, numbers by their characters, places by their names.
NAME, STREET, NUMBER, PLACE = "name", "street", "number", "place"

# label: (kind, the components libpostal expands it in).  ANY is added to
# every mask, as libpostal's own duplicate classifiers do: phrases such as
# the elisions l' and d' are filed under it.
_C = AddressComponent
LABEL_KINDS = {
    "house": (NAME, _C.NAME),
    "building": (NAME, _C.NAME),
    "metro_station": (NAME, _C.NAME),
    "category": (NAME, _C.CATEGORY),
    "near": (NAME, _C.NEAR),
    "road": (STREET, _C.STREET),
    "house_number": (NUMBER, _C.HOUSE_NUMBER),
    "unit": (NUMBER, _C.UNIT),
    "level": (NUMBER, _C.LEVEL),
    "staircase": (NUMBER, _C.STAIRCASE),
    "entrance": (NUMBER, _C.ENTRANCE),
    "po_box": (NUMBER, _C.PO_BOX),
    "phone": (NUMBER, _C.NONE),
    "website": (NUMBER, _C.NONE),
    "postcode": (NUMBER, _C.POSTAL_CODE),
    "suburb": (PLACE, _C.TOPONYM),
    "city_district": (PLACE, _C.TOPONYM),
    "city": (PLACE, _C.TOPONYM),
    "island": (PLACE, _C.TOPONYM),
    "state_district": (PLACE, _C.TOPONYM),
    "state": (PLACE, _C.TOPONYM),
    "country_region": (PLACE, _C.TOPONYM),
    "country": (PLACE, _C.TOPONYM),
    "world_region": (PLACE, _C.TOPONYM),
}


class Field:
    """One compared column: its name in the input, its label, and the names
    of its columns in the feature table."""

    def __init__(self, column, label):
        if label not in LABEL_KINDS:
            raise RefusedInput("%r is not a label of libpostal's; they are: %s" % (label, ", ".join(LABEL_KINDS)))
        self.column, self.label = column, label
        self.kind, components = LABEL_KINDS[label]
        self.components = int(components | _C.ANY)
        # SQL names: the feature table's columns are the field's name with a
        # suffix, so the name must be a plain identifier whatever the input
        # column is called.
        self.name = _identifier(column)

    def __repr__(self):
        return "Field(%r, %r)" % (self.column, self.label)

    @property
    def written(self):
        """The value as written, trimmed and lower-cased."""
        return self.name

    @property
    def expansions(self):
        return self.name + "__x"

    @property
    def roots(self):
        return self.name + "__r"


def _identifier(column):
    text = "".join(character if character.isalnum() else "_" for character in column.lower())
    return ("f_" + text) if not text[:1].isalpha() else text


def fields_of(mapping, columns, parse=()):
    """The compared fields of a run, in column order: every column whose
    label (through the mapping; a column not mapped is its own label) is one
    libpostal knows.  With columns in parse, which hold one-line addresses:
    then, for each parsed column, a field "column.label" for each label of
    the parser that no other column gives (a column of the record wins over
    a part of a parsed one).  Two columns whose SQL names would clash are
    told apart."""
    fields, names = [], set()

    def add(column, label):
        field = Field(column, label)
        while field.name in names:
            field.name += "_"
        names.add(field.name)
        fields.append(field)

    for column in columns:
        label = mapping.get(column, column)
        if label in LABEL_KINDS and column not in parse:
            add(column, label)
    given = {field.label for field in fields}
    for column in parse:
        for label in PARSER_LABELS:
            if label in LABEL_KINDS and label not in given:
                add("%s.%s" % (column, label), label)
    return fields


def text_of(value):
    """A field's value as text under the value policy (addrnorm.values), its
    white space folded; None when it is missing or blank."""
    return _folded(field_text(value))


def _folded(text):
    # Values are compared as written, but for their spacing.
    if text is None:
        return None
    return " ".join(text.split()) or None


def columns_of(fields):
    """The (column, label) of each field, as labelled_fields reads them."""
    return [(field.column, field.label) for field in fields]


def written(record, fields):
    """{column: value} of each field the record gives a value, white space
    folded: its labelled fields (addrnorm.parsing.labelled_fields)."""
    values = {}
    for field in labelled_fields(record, columns_of(fields)):
        text = _folded(field.text)
        if text is not None:
            values[field.column] = text
    return values


def labelled(record, fields):
    """(labels, values) of one record for near_dupe_hashes: each label once,
    the values of its columns joined in column order."""
    joined: Dict[str, List[str]] = {}
    values = written(record, fields)
    for field in fields:
        if field.column in values:
            joined.setdefault(field.label, []).append(values[field.column])
    return list(joined), [" ".join(values) for values in joined.values()]
