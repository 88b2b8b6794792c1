"""Writing the addrnorm command's output: expansions as text, JSON Lines or
CSV, records with an added field as JSON Lines or CSV, to an Output that
replaces its target only when the run succeeds."""
import csv
import errno
import io
import json
import os
import stat
import sys
import tempfile

from addrnorm.cli.errors import OutputError


def _group(out, items):
    for item in items or ():
        out.write(item + "\n")
    out.write("\n")


def _cell(value):
    """A value in one CSV cell: text as itself, None as an empty cell, any
    other value (a list, a JSON record's number, object or boolean) as JSON."""
    if isinstance(value, str):
        return value
    return "" if value is None else json.dumps(value, ensure_ascii=False)


class CsvStyle:
    """How CSV output is written: its field separator, and whether a
    byte-order mark comes first (which spreadsheets take for UTF-8)."""

    def __init__(self, delimiter=",", bom=False):
        self.delimiter, self.bom = delimiter, bom

    def writer(self, out):
        """A csv writer on out, the mark written first when asked for."""
        if self.bom:
            out.write("\ufeff")
        return csv.writer(out, delimiter=self.delimiter, lineterminator="\n")


PLAIN = CsvStyle()


class ExpansionWriter:
    """Each input's expansions, with the line it came from so that they join
    back: text, the expansions a line each and a blank line after them (a
    group per input, an empty one for a blank line); jsonl, an object per
    input; csv, a row per input with the expansions as a JSON list."""

    def __init__(self, out, form, style=PLAIN):
        self.out, self.form = out, form
        self.csv = None
        if form == "csv":
            self.csv = style.writer(out)
            self.csv.writerow(["line", "input", "expansions"])

    def write(self, number, address, expansions):
        if self.form == "jsonl":
            self.out.write(json.dumps({"line": number, "input": address, "expansions": expansions},
                                      ensure_ascii=False) + "\n")
        elif self.csv is not None:
            self.csv.writerow([number, address, _cell(expansions)])
        else:
            _group(self.out, expansions)


class RecordWriter:
    """Writes a record with an added field (or, when field is a tuple of
    names, several: value is then a tuple as long), as JSON Lines or CSV; as
    text, only the field (a list a line each, and a blank line).

    As CSV without a header (records from JSON Lines), the columns are every
    field any record has, in the order they first come, known only at the
    end: the rows wait in a temporary file until close."""

    def __init__(self, out, form, header, field, style=PLAIN):
        self.out, self.form, self.style = out, form, style
        self.fields = field if isinstance(field, tuple) else (field,)
        self.csv = None
        self.header = header
        self.rows = None
        if form == "csv" and header is None:
            self.columns = {}
            self.rows = tempfile.TemporaryFile("w+", encoding="utf-8")

    def write(self, number, record, value):
        values = value if len(self.fields) > 1 else (value,)
        if self.form == "jsonl":
            line = {"line": number, "record": record}
            line.update(zip(self.fields, values))
            self.out.write(json.dumps(line, ensure_ascii=False) + "\n")
            return
        if self.form == "text":
            _group(self.out, value)
            return
        if self.rows is not None:
            self.columns.update(dict.fromkeys(record))
            self.rows.write(json.dumps([record, list(values)], ensure_ascii=False) + "\n")
            return
        if self.csv is None:
            self.csv = self.style.writer(self.out)
            self.csv.writerow(list(self.header) + list(self.fields))
        self._row(record, values)

    def _row(self, record, values):
        assert self.csv is not None  # made with the header, before any row
        self.csv.writerow([_cell(record.get(column)) for column in self.header] + [_cell(item) for item in values])

    def close(self):
        """The rows that waited for their columns, written."""
        if self.rows is None:
            return
        try:
            self.header = [column for column in self.columns if column not in self.fields]
            self.csv = self.style.writer(self.out)
            self.csv.writerow(self.header + list(self.fields))
            self.rows.seek(0)
            for line in self.rows:
                record, values = json.loads(line)
                self._row(record, values)
        finally:
            self.rows.close()
            self.rows = None


class ParsedWriter:
    """Each input's parse, {label: value}, with the line it came from: jsonl,
    an object per input ({"line", "input" or "record", "parsed"}), written as
    it comes; csv, a row per input with a column per label that any input
    gave, which are known only at the end, so the rows wait in a temporary
    file until close.  With a header (--column), the record's columns come
    first, and a label that is also one of them is named parsed_LABEL."""

    def __init__(self, out, form, labels, header=None, records=False, style=PLAIN):
        self.out, self.form, self.labels, self.header, self.style = out, form, labels, header, style
        self.key = "record" if records else "input"
        self.found = []
        self.rows = tempfile.TemporaryFile("w+", encoding="utf-8") if form == "csv" else None

    def write(self, number, item, parsed):
        if self.rows is None:
            self.out.write(json.dumps({"line": number, self.key: item, "parsed": parsed}, ensure_ascii=False) + "\n")
            return
        if self.key == "record":
            # Records of JSON Lines: every field any of them has is a column.
            self.header = list(self.header or ())
            self.header.extend(column for column in item if column not in self.header)
        for label in parsed:
            if label not in self.found:
                self.found.append(label)
        self.rows.write(json.dumps([number, item, parsed], ensure_ascii=False) + "\n")

    def close(self):
        if self.rows is None:
            return
        try:
            known = [label for label in self.labels if label in self.found]
            labels = known + [label for label in self.found if label not in known]
            before = list(self.header or ()) if self.key == "record" else ["line", "input"]
            names = ["parsed_" + label if label in before else label for label in labels]
            writer = self.style.writer(self.out)
            writer.writerow(before + names)
            self.rows.seek(0)
            for line in self.rows:
                number, item, parsed = json.loads(line)
                start = [_cell(item.get(column, "")) for column in before] if self.key == "record" else [number, item]
                writer.writerow(start + [parsed.get(label, "") for label in labels])
        finally:
            self.rows.close()


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
                if sys.stdout is None:
                    # Started with standard output closed (>&-).
                    raise OutputError("<stdout>: standard output is closed")
                self.stream = io.TextIOWrapper(sys.stdout.buffer, encoding="utf-8", newline="")
            elif _replaceable(path):
                self.target = os.path.realpath(path)
                folder, base = os.path.split(self.target)
                handle, self.temporary = tempfile.mkstemp(prefix="." + base + ".", suffix=".part", dir=folder)
                self.stream = open(handle, "w", encoding="utf-8", newline="")
            else:
                self.stream = open(path, "w", encoding="utf-8", newline="")
        except OSError as error:
            raise OutputError("%s: %s" % (self.name, error.strerror)) from error

    def write(self, text):
        try:
            return self.stream.write(text)
        except BrokenPipeError:
            raise
        except OSError as error:
            raise OutputError("%s: %s" % (self.name, error.strerror)) from error

    def finish(self):
        """Everything written out, and the target replaced."""
        try:
            self.stream.flush()
            temporary, target = self.temporary, self.target
            if temporary is None or target is None:
                return
            self.stream.close()
            os.chmod(temporary, _mode_for(target))
            os.replace(temporary, target)
            self.temporary = None
        except BrokenPipeError:
            raise
        except OSError as error:
            raise OutputError("%s: %s" % (self.name, error.strerror)) from error

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


def check_writable(path):
    """For an output written by path at the end of the work: a file can be
    made or replaced there (its folder exists and is writable, it is no
    folder), or OutputError now, before the work."""
    try:
        if os.path.isdir(path):
            raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR))
        if os.path.exists(path):
            if not os.access(path, os.W_OK):
                raise PermissionError(errno.EACCES, os.strerror(errno.EACCES))
            return
        folder = os.path.dirname(os.path.abspath(path))
        if not os.path.isdir(folder):
            raise FileNotFoundError(errno.ENOENT, os.strerror(errno.ENOENT))
        if not os.access(folder, os.W_OK | os.X_OK):
            raise PermissionError(errno.EACCES, os.strerror(errno.EACCES))
    except OSError as error:
        raise OutputError("%s: %s" % (path, error.strerror)) from error


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


class ResultWriter:
    """Each input's result, with the line it came from: text, a line per
    input (or a group of lines and a blank line); jsonl, an object per
    input; csv, a row per input with the result as JSON."""

    def __init__(self, out, form, field, text, style):
        self.out, self.form, self.field, self.text = out, form, field, text
        self.csv = None
        if form == "csv":
            self.csv = style.writer(out)
            self.csv.writerow(["line", "input", field])

    def write(self, number, address, result):
        if self.form == "jsonl":
            self.out.write(json.dumps({"line": number, "input": address, self.field: result},
                                      ensure_ascii=False) + "\n")
        elif self.csv is not None:
            self.csv.writerow([number, address, json.dumps(result, ensure_ascii=False)])
        else:
            self.out.write(self.text(result))
