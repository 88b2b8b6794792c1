"""Reading the addrnorm command's records: text lines, CSV (any one-character
delimiter) and JSON Lines, from a Source (addrnorm.cli.sources), as (line number,
record).

A reader yields None for a blank line and a BadRecord for a record that
cannot be used, so that the caller decides whether that stops the run; every
line of the input is in one or the other or in a record.
"""
import collections
import csv
import json
from typing import Deque, Tuple

from addrnorm.cli.errors import InputError
from addrnorm.cli.sources import open_input
from addrnorm.errors import BadRecord

# A quoted CSV field may hold line breaks, but one that would run over more
# lines than this is taken for a quote left open: its record is refused at
# the line it starts on, and the lines after that are read again as records,
# rather than vanishing into one field.
MAX_RECORD_LINES = 100

# Separators a header of one column may hide, suggested for --delimiter.
SEPARATORS = (";", "\t", "|")


def undecodable(text):
    return any("\udc80" <= character <= "\udcff" for character in text)


def lone_surrogate(value):
    """The first lone surrogate in a JSON value's strings, keys included, or
    None.  JSON's \\u escapes can write one, which is no text: libpostal
    cannot take it and no output can encode it, so its record is bad, found
    here rather than in the calls (which take only BadRecord for a record's
    fault)."""
    if isinstance(value, str):
        for character in value:
            if "\ud800" <= character <= "\udfff":
                return character
        return None
    if isinstance(value, dict):
        value = [text for pair in value.items() for text in pair]
    if isinstance(value, list):
        for item in value:
            found = lone_surrogate(item)
            if found is not None:
                return found
    return None


def text_records(source):
    """One record per line, the line's text."""
    for number, text in source.lines():
        if undecodable(text):
            yield number, BadRecord("bytes that are not %s" % source.encoding)
        elif text.strip():
            yield number, text
        else:
            yield number, None


class _Lines:
    """The lines handed to the csv module, which pulls as many as a record
    takes. It keeps those of the record under way, to put back all but the
    first when the record is refused, and refuses to give a record more than
    MAX_RECORD_LINES."""

    def __init__(self, lines):
        self.lines = lines
        self.again: Deque[Tuple[int, str]] = collections.deque()
        self.taken = []
        self.ran_out = False

    def start(self):
        self.taken, self.ran_out = [], False

    def __iter__(self):
        return self

    def __next__(self):
        if self.again:
            line = self.again.popleft()
        else:
            try:
                line = next(self.lines)
            except StopIteration:
                self.ran_out = True
                raise
        if len(self.taken) == MAX_RECORD_LINES:
            self.again.appendleft(line)
            raise _TooLong()
        self.taken.append(line)
        return line[1] + "\n"

    def refuse(self):
        """The record's first line number; the lines after it are read again."""
        self.again.extendleft(reversed(self.taken[1:]))
        return self.taken[0][0]


class _TooLong(Exception):
    pass


def _rows(lines, delimiter):
    """(line number, row or BadRecord): a row numbered by the line it ends
    on, a refused one by the line it starts on."""
    reader = csv.reader(lines, delimiter=delimiter)
    while True:
        lines.start()
        try:
            row = next(reader)
        except StopIteration:
            return
        except _TooLong:
            yield lines.refuse(), BadRecord("a quoted field is not closed within %d lines" % MAX_RECORD_LINES)
            continue
        except csv.Error as error:
            yield lines.refuse(), BadRecord("CSV: %s" % error)
            continue
        if lines.ran_out:
            # A complete record ends with its line; the csv module asked for
            # more, found none and gave what it had: a quote left open.
            yield lines.refuse(), BadRecord("a quoted field is not closed before the end of the input")
        else:
            yield lines.taken[-1][0], row


def csv_records(source, delimiter=","):
    """The header row first (line 1, the list of column names), then a dict
    per row."""
    rows = _rows(_Lines(source.lines()), delimiter)
    number, header = next(rows, (1, None))
    if header is None:
        raise InputError("%s: empty input, no header row" % source.name)
    if header == []:
        raise InputError("%s: line %d is blank: the first line must be the header row" % (source.name, number))
    if isinstance(header, BadRecord):
        raise InputError("%s: line %d: %s" % (source.name, number, header))
    repeated = sorted(set(column for column in header if header.count(column) > 1))
    if repeated:
        raise InputError("%s: the header names %s more than once" % (source.name, ", ".join(map(repr, repeated))))
    yield number, header
    for number, row in rows:
        if isinstance(row, BadRecord):
            yield number, row
        elif not row:
            yield number, None
        elif any(undecodable(field) for field in row):
            yield number, BadRecord("bytes that are not %s" % source.encoding)
        elif len(row) != len(header):
            yield number, BadRecord("%d columns where the header has %d" % (len(row), len(header)))
        else:
            yield number, dict(zip(header, row))


def jsonl_records(source):
    """A dict per line, from a JSON object; its keys as strings."""
    for number, text in text_records(source):
        if text is None or isinstance(text, BadRecord):
            yield number, text
            continue
        try:
            record = json.loads(text)
        except ValueError as error:
            yield number, BadRecord("not JSON: %s" % error)
            continue
        if not isinstance(record, dict):
            yield number, BadRecord("a JSON line must be an object of fields")
        elif lone_surrogate(record) is not None:
            yield number, BadRecord("text that is not Unicode: a lone surrogate \\u%04x" % ord(lone_surrogate(record)))
        else:
            yield number, {str(key): value for key, value in record.items()}


def input_format(name, form=None, delimiter=None):
    """(form, delimiter): by the file's ending (less .gz) unless given: JSON
    Lines for .jsonl, .ndjson and .json, tab-separated for .tsv and .tab,
    else CSV with commas."""
    base = name[:-3] if name.endswith(".gz") else name
    if form is None:
        form = "jsonl" if base.endswith((".jsonl", ".ndjson", ".json")) else "csv"
    if delimiter is None:
        delimiter = "\t" if base.endswith((".tsv", ".tab")) else ","
    return form, delimiter


def read_records(path, form=None, delimiter=None, encoding="utf-8"):
    """(source, records, CSV header or None) for a file of place records."""
    source = open_input(path, encoding)
    if delimiter is not None and input_format(source.name, form)[0] == "jsonl":
        raise InputError("--delimiter is for CSV input; %s is read as JSON Lines" % source.name)
    form, delimiter = input_format(source.name, form, delimiter)
    if form == "jsonl":
        return source, jsonl_records(source), None
    records = csv_records(source, delimiter)
    _, header = next(records)
    return source, records, header


def column_records(path, options):
    """(source, records, CSV header or None) of a command's --column: the
    records of the file at path (None: the arguments were addresses, which
    hold no field), the column checked against a CSV header."""
    if path is None:
        raise InputError("--column reads records from FILE, -i FILE or standard input, not addresses")
    source, records, header = read_records(path, options.input_format, options.delimiter, options.encoding)
    if header is not None and options.column not in header:
        raise InputError("--column: %s has no column %r (its columns: %s)%s" % (
            source.name, options.column, ", ".join(header), separator_hint(header)))
    return source, records, header


def blank(value):
    """Whether a --column field holds no address."""
    return value is None or not str(value).strip()


def separator_hint(header):
    """"; the header is one column ... --delimiter ';'" when a header of one
    column holds a separator, else ""."""
    if len(header) != 1:
        return ""
    return "".join("; the header is one column: if the file is separated by %r, give --delimiter %r" % (
        separator, separator) for separator in SEPARATORS if separator in header[0])
