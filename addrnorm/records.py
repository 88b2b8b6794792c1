"""Records in and out of the addrnorm command: text lines, CSV and JSON Lines
read from a byte stream, as (line number, record, bytes read); expansions and
records with an added field written as text, JSON Lines or CSV, to an
Output that replaces its target only when the run succeeds.

A reader yields None for a blank line and a BadRecord for a record that
cannot be used, so that the caller decides whether that stops the run.
"""
import csv
import io
import json
import os
import stat
import sys
import tempfile


class InputError(Exception):
    """A problem with the input as a whole: the run stops with status 2."""


class BadRecord(Exception):
    """One record that cannot be used; skippable with --skip-bad."""


class OutputError(Exception):
    """The output cannot be written (a full disk, no permission): status 3."""


# Reading.

def open_input(path):
    """(binary stream, name for messages, size in bytes or None); "-" is
    standard input."""
    if path == "-":
        return sys.stdin.buffer, "<stdin>", None
    try:
        return open(path, "rb"), path, os.path.getsize(path)
    except OSError as error:
        raise InputError("%s: %s" % (path, error.strerror))


def decoded_lines(stream):
    """(line number, text, bytes read) per line; undecodable bytes kept as
    surrogates, so that the record they are in is refused, not the file."""
    for number, raw in enumerate(stream, 1):
        yield number, raw.decode("utf-8", "surrogateescape").rstrip("\r\n"), len(raw)


def undecodable(text):
    return any("\udc80" <= character <= "\udcff" for character in text)


def text_records(stream):
    """One record per line, the line's text."""
    for number, text, size in decoded_lines(stream):
        if undecodable(text):
            yield number, BadRecord("bytes that are not UTF-8"), size
        elif text.strip():
            yield number, text, size
        else:
            yield number, None, size


def csv_records(stream, name):
    """The header row first (line 1, the list of column names), then a dict
    per row, numbered by the line it ends on (a quoted field may span lines)."""
    sizes = []

    def lines():
        for _, text, size in decoded_lines(stream):
            sizes.append(size)
            yield text + "\n"

    reader = csv.reader(lines())
    try:
        header = next(reader)
    except StopIteration:
        raise InputError("%s: empty input, no header row" % name)
    except csv.Error as error:
        raise InputError("%s: line 1: %s" % (name, error))
    yield 1, header, sum(sizes)
    del sizes[:]
    while True:
        try:
            row = next(reader)
        except StopIteration:
            return
        except csv.Error as error:
            yield reader.line_num, BadRecord("CSV: %s" % error), sum(sizes)
            del sizes[:]
            continue
        size, number = sum(sizes), reader.line_num
        del sizes[:]
        if not row:
            continue
        if any(undecodable(field) for field in row):
            yield number, BadRecord("bytes that are not UTF-8"), size
        elif len(row) != len(header):
            yield number, BadRecord("%d columns where the header has %d" % (len(row), len(header))), size
        else:
            yield number, dict(zip(header, row)), size


def jsonl_records(stream):
    """A dict per line, from a JSON object; its keys as strings."""
    for number, text, size in text_records(stream):
        if text is None or isinstance(text, BadRecord):
            yield number, text, size
            continue
        try:
            record = json.loads(text)
        except ValueError as error:
            yield number, BadRecord("not JSON: %s" % error), size
            continue
        if not isinstance(record, dict):
            yield number, BadRecord("a JSON line must be an object of fields"), size
        else:
            yield number, {str(key): value for key, value in record.items()}, size


def read_records(path, form=None):
    """(name, size, records, CSV header or None) for a file of place records;
    without a form, JSON Lines by the file's ending, else CSV."""
    stream, name, size = open_input(path)
    form = form or ("jsonl" if name.endswith((".jsonl", ".ndjson", ".json")) else "csv")
    if form == "jsonl":
        return name, size, jsonl_records(stream), None
    records = csv_records(stream, name)
    _, header, _ = next(records)
    return name, size, records, header


# Writing.

def write_expansions(out, form, address, expansions):
    """text: the expansions a line each and a blank line; jsonl: an object."""
    if form == "jsonl":
        out.write(json.dumps({"input": address, "expansions": expansions}, ensure_ascii=False) + "\n")
    else:
        for expansion in expansions or ():
            out.write(expansion + "\n")
        out.write("\n")


class RecordWriter:
    """Writes a record with one added field, as JSON Lines or CSV."""

    def __init__(self, out, form, header, field):
        self.out, self.form, self.field = out, form, field
        self.csv = None
        self.header = header

    def write(self, number, record, value):
        if self.form == "jsonl":
            self.out.write(json.dumps({"line": number, "record": record, self.field: value},
                                      ensure_ascii=False) + "\n")
            return
        if self.csv is None:
            self.header = self.header or list(record)
            self.csv = csv.writer(self.out, lineterminator="\n")
            self.csv.writerow(list(self.header) + [self.field])
        for column in record:
            if column not in self.header:
                raise BadRecord("field %r is not a column of the CSV output (its columns come from the first "
                                "record); use --format jsonl" % column)
        cell = json.dumps(value, ensure_ascii=False) if isinstance(value, list) else (
            "" if value is None else value)
        self.csv.writerow([record.get(column, "") for column in self.header] + [cell])


class Output:
    """The command's output. A regular file (or a new one) is written as a
    temporary file beside it, renamed over it by finish(): a run that fails or
    is interrupted leaves the target as it was. Standard output ("-") and
    targets that are not regular files (a device such as /dev/full, a named
    pipe) cannot be replaced that way: they are written directly. Failures
    raise OutputError, except BrokenPipeError: the reader has gone."""

    def __init__(self, path):
        self.name = "<stdout>" if path == "-" else path
        self.target = self.temporary = None
        try:
            if path == "-":
                self.stream = io.TextIOWrapper(sys.stdout.buffer, encoding="utf-8", newline="")
            elif _replaceable(path):
                self.target = os.path.realpath(path)
                folder, base = os.path.split(self.target)
                handle, self.temporary = tempfile.mkstemp(prefix="." + base + ".", suffix=".part", dir=folder)
                self.stream = io.open(handle, "w", encoding="utf-8", newline="")
            else:
                self.stream = io.open(path, "w", encoding="utf-8", newline="")
        except OSError as error:
            raise OutputError("%s: %s" % (self.name, error.strerror))

    def write(self, text):
        try:
            return self.stream.write(text)
        except BrokenPipeError:
            raise
        except OSError as error:
            raise OutputError("%s: %s" % (self.name, error.strerror))

    def finish(self):
        """Everything written out, and the target replaced."""
        try:
            self.stream.flush()
            if self.temporary is None:
                return
            self.stream.close()
            os.chmod(self.temporary, _mode_for(self.target))
            os.replace(self.temporary, self.target)
            self.temporary = None
        except BrokenPipeError:
            raise
        except OSError as error:
            raise OutputError("%s: %s" % (self.name, error.strerror))

    def discard(self):
        """Closes the stream, removing what finish() did not put in place;
        quietly, as the run has already failed or ended."""
        try:
            self.stream.flush() if self.name == "<stdout>" else self.stream.close()
        except OSError:
            if self.name == "<stdout>":
                # What is still buffered would fail again as the interpreter
                # exits ("Exception ignored ..."): it goes nowhere instead.
                null = os.open(os.devnull, os.O_WRONLY)
                os.dup2(null, sys.stdout.fileno())
                os.close(null)
        if self.name == "<stdout>":
            self.stream.detach()
        elif self.temporary is not None:
            os.unlink(self.temporary)


def _replaceable(path):
    try:
        return stat.S_ISREG(os.stat(path).st_mode)
    except FileNotFoundError:
        return True


def _mode_for(target):
    """The target's permissions if it exists, else those of a new file."""
    try:
        return stat.S_IMODE(os.stat(target).st_mode)
    except FileNotFoundError:
        umask = os.umask(0o22)
        return 0o666 & ~os.umask(umask)
