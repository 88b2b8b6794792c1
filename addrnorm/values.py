"""What a field's value is, wherever a record's fields reach libpostal: the
command's records (CSV, JSON Lines), find_duplicates' records (a pandas
DataFrame's rows), near_dupe_hashes' and the classifiers' values.

One policy for them all: a str is itself; an int is its decimal text, and a
float with an integral value is written without ".0" (JSON's 12.0 and
pandas' float column give the same postcode as 12); None, NaN and pandas'
missing values are missing fields; anything else (a list, a dict, a
boolean, bytes) is refused with a TypeError that names it, as no text of it
would be what the data meant (a dict became the road "a 1" and true a
postcode).
"""
import decimal
import numbers
import warnings
from typing import Any, Dict, List

from addrnorm.options import LABELS

# The labels of which libpostal makes keys: a name, or an address (a street,
# a house number, a PO box).  The places (a postcode, a city ...) only
# qualify them.
KEY_LABELS = ("house", "road", "house_number", "po_box")

_LABELS = frozenset(LABELS)

# Numbers with a decimal text: ints, floats (numpy's too), decimals; not
# complex numbers.
_NUMBERS: tuple = (numbers.Real, decimal.Decimal)


class Refused(TypeError):
    """A value no policy makes text of."""


class LabelWarning(UserWarning):
    """Records whose labels libpostal does not read, which give no key.  The
    command says it in its own words, at the end of a run."""


def field_text(value):
    """The text of one field's value, None when it is missing; Refused (a
    TypeError) for a value that is not text, a number or missing."""
    if type(value) is str:
        return value
    if value is None or _pandas_missing(value):
        return None
    if isinstance(value, str):
        return str(value)
    if isinstance(value, bool) or type(value).__name__ in ("bool", "bool_") or not isinstance(value, _NUMBERS):
        raise Refused("%s is not a field's value; give text, a number or None" % _described(value))
    if value != value:  # NaN: a float column's missing value
        return None
    if isinstance(value, numbers.Integral):
        return str(int(value))
    try:
        if value == int(value):
            return str(int(value))
    except OverflowError:  # the infinities
        pass
    return str(value)


def _pandas_missing(value):
    # pandas.NA and pandas.NaT, without importing pandas.
    kind = type(value)
    return kind.__name__ in ("NAType", "NaTType") and kind.__module__.startswith("pandas")


def _described(value):
    text = repr(value)
    if len(text) > 40:
        text = text[:37] + "..."
    return "a %s (%s)" % (type(value).__name__, text)


def read_columns(columns, mapping=None, parse=(), coordinates=()):
    """The columns of a record whose values reach libpostal: those whose
    label (through mapping, "" dropping one) is one of libpostal's, the
    one-line addresses to parse and the coordinates."""
    mapping = mapping or {}
    return [column for column in columns
            if mapping.get(column, column) in _LABELS or column in parse or column in coordinates]


def checked_record(record, columns):
    """The record with the value of each of columns (that it has) made text or
    None; Refused naming the field of the first value refused."""
    checked = None
    for column in columns:
        if column in record:
            value = record[column]
            if type(value) is str:
                continue
            try:
                text = field_text(value)
            except Refused as error:
                raise Refused("field %r: %s" % (column, error)) from None
            if checked is None:
                checked = dict(record)
            checked[column] = text
    return record if checked is None else checked


def record_values(records, mapping=None, parse=()):
    """find_duplicates' records, each a dict whose fields that reach
    libpostal are text or None; a TypeError names the record (its index)
    and the field refused.  Warns, as the command does, when no field of any
    record is one of libpostal's labels, or none is a name or an address."""
    mapping = mapping or {}
    checked: List[Dict[str, Any]] = []
    columns: Dict[str, None] = {}
    for index, record in enumerate(records):
        if not hasattr(record, "keys"):
            raise TypeError("records[%d] is a %s, not a mapping of fields to values" % (index, type(record).__name__))
        record = dict(record)
        for column in record:
            if column not in columns:
                columns[column] = None
        try:
            checked.append(checked_record(record, read_columns(record, mapping, parse)))
        except Refused as error:
            raise TypeError("records[%d], %s" % (index, error)) from None
    warn_unread(list(columns), mapping, parse, "find_duplicates", stacklevel=4)
    return checked


def unread_message(labels, parse=()):
    """Why records labelled so give no key, or None when they may."""
    if parse:
        return None
    known = [label for label in labels if label in _LABELS]
    if not known:
        return ("no field is one of libpostal's labels, so no record gives a key: libpostal reads only fields "
                "labelled %s" % ", ".join(LABELS))
    if not any(label in KEY_LABELS for label in known):
        return ("%s alone give%s no key: libpostal makes its keys of a name (house) or an address (road, "
                "house_number, po_box), which the place qualifies; give a name or an address too"
                % (" and ".join(known), "s" if len(known) == 1 else ""))
    return None


def warn_unread(columns, mapping, parse, who, stacklevel=3):
    labels = [(mapping or {}).get(column, column) for column in columns]
    message = unread_message(labels, parse)
    if message:
        warnings.warn("%s: %s" % (who, message), LabelWarning, stacklevel=stacklevel)


def call_values(labels, values, who):
    """near_dupe_hashes' (and is_toponym_duplicate's) labels and values under
    the policy, as lists: a missing value leaves its label out; a TypeError
    names a value refused by its index and label."""
    if not isinstance(values, (list, tuple)) or not isinstance(labels, (list, tuple)) or len(labels) != len(values):
        return None
    kept_labels, kept_values = [], []
    for index, (label, value) in enumerate(zip(labels, values)):
        try:
            text = field_text(value)
        except Refused as error:
            raise TypeError("%s: values[%d] (label %r): %s" % (who, index, label, error)) from None
        if text is not None:
            kept_labels.append(label)
            kept_values.append(text)
    return kept_labels, kept_values


def warn_unknown_labels(labels, who):
    """A record that gave no key, with labels libpostal does not read (which
    it ignores, silently): say so."""
    try:
        if _LABELS.issuperset(labels):
            return
        unknown = sorted(set(label for label in labels if label not in _LABELS))
    except TypeError:  # labels that are not str: the extension refuses them
        return
    warnings.warn("%s: libpostal reads no label %s and ignores its value; it reads %s" % (
        who, ", ".join(map(repr, unknown)), ", ".join(LABELS)), LabelWarning, stacklevel=3)


def argument_text(value, name, who):
    """A classifier's value under the policy: text or a number; a missing
    value, which has nothing to compare, and anything else are TypeErrors
    naming the argument and the type given."""
    try:
        text = field_text(value)
    except Refused:
        text = None
    if text is None:
        raise TypeError("%s: %s must be a str or a number, not %s" % (
            who, name, "None (a missing value, nothing to compare)" if value is None else _described(value)))
    return text
