"""The command's readers and writers, on in-memory streams: which line each
record is numbered by, and which lines are blank, bad or refused."""
import gzip
import io
import json

import pytest

from addrnorm.cli.readers import MAX_RECORD_LINES, csv_records, input_format, jsonl_records, read_records, text_records
from addrnorm.cli.errors import InputError
from addrnorm.errors import BadRecord
from addrnorm.cli.sources import Source
from addrnorm.cli.writers import CsvStyle, ExpansionWriter, RecordWriter


def source(data, name="in", encoding="utf-8"):
    return Source(io.BytesIO(data), name, encoding)


class Bad:
    """Stands for a BadRecord whose message starts with the given text (the
    rest of a JSON parser's message may vary between Python versions)."""

    def __init__(self, message):
        self.message = message

    def __eq__(self, other):
        return isinstance(other, Bad) and (other.message.startswith(self.message)
                                           or self.message.startswith(other.message))

    def __repr__(self):
        return "Bad(%r)" % self.message


def read(records):
    """(line, record) pairs, a BadRecord as Bad."""
    return [(number, Bad(str(record)) if isinstance(record, BadRecord) else record) for number, record in records]


NOT_UTF8 = Bad("bytes that are not UTF-8")

TEXT = [
    ("lines", b"Main St\nRue X\n", [(1, "Main St"), (2, "Rue X")]),
    ("no final newline", b"Main St\nRue X", [(1, "Main St"), (2, "Rue X")]),
    ("blank lines are None", b"a\n\n  \n\t\nb\n", [(1, "a"), (2, None), (3, None), (4, None), (5, "b")]),
    ("CRLF", b"a\r\nb\r\n", [(1, "a"), (2, "b")]),
    ("inner spaces kept", b"  781  Franklin Ave \n", [(1, "  781  Franklin Ave ")]),
    ("bad UTF-8 refuses its line only", b"a\n\xff\xfe x\nStra\xc3\x9fe\n\xc3\n",
     [(1, "a"), (2, NOT_UTF8), (3, "Straße"), (4, NOT_UTF8)]),
    ("empty", b"", []),
]


@pytest.mark.parametrize("data, expected", [row[1:] for row in TEXT], ids=[row[0] for row in TEXT])
def test_text_records(data, expected):
    assert read(text_records(source(data))) == expected


CSV = [
    ("rows", b"city,road\nX,R1\nY,R2\n", [(1, ["city", "road"]), (2, {"city": "X", "road": "R1"}),
                                           (3, {"city": "Y", "road": "R2"})]),
    ("CRLF", b"city,road\r\nX,R1\r\n", [(1, ["city", "road"]), (2, {"city": "X", "road": "R1"})]),
    ("blank lines are not records", b"city\n\nX\n\n", [(1, ["city"]), (2, None), (3, {"city": "X"}), (4, None)]),
    ("ragged rows", b"city,road\nX\nY,R,extra\nZ,R\n",
     [(1, ["city", "road"]), (2, Bad("1 columns where the header has 2")),
      (3, Bad("3 columns where the header has 2")), (4, {"city": "Z", "road": "R"})]),
    ("a quoted newline: numbered by the line the row ends on", b'name,city\n"Joe\'s\nDiner",X\nY,Z\n',
     [(1, ["name", "city"]), (3, {"name": "Joe's\nDiner", "city": "X"}), (4, {"name": "Y", "city": "Z"})]),
    ("quoted commas and quotes", b'a,b\n"1,2","say ""hi"""\n', [(1, ["a", "b"]), (2, {"a": "1,2", "b": 'say "hi"'})]),
    ("bad UTF-8", b"city\nX\n\xc3\nY\n", [(1, ["city"]), (2, {"city": "X"}), (3, NOT_UTF8), (4, {"city": "Y"})]),
    ("a field over the csv module's limit", b"a,b\n1,\"" + b"w" * 131073 + b"\"\n5,6\n",
     [(1, ["a", "b"]), (2, Bad("CSV: field larger than field limit")), (3, {"a": "5", "b": "6"})]),
    ("header only", b"city,road\n", [(1, ["city", "road"])]),
    ("a byte-order mark is not part of the header", b"\xef\xbb\xbfname,city\nX,Y\n",
     [(1, ["name", "city"]), (2, {"name": "X", "city": "Y"})]),
    # A quote left open: refused at the line it opens on, the lines after
    # it read again, not swallowed into one field.
    ("a quote open to the end", b'a,b\n1,2\n3,"4\n5,6\n7,8\n',
     [(1, ["a", "b"]), (2, {"a": "1", "b": "2"}), (3, Bad("a quoted field is not closed before the end")),
      (4, {"a": "5", "b": "6"}), (5, {"a": "7", "b": "8"})]),
    ("a quote open over too many lines", b'a,b\n"1,2\n' + b"3,4\n" * MAX_RECORD_LINES + b'"5",6\n',
     [(1, ["a", "b"]), (2, Bad("a quoted field is not closed within %d lines" % MAX_RECORD_LINES))]
     + [(n, {"a": "3", "b": "4"}) for n in range(3, 3 + MAX_RECORD_LINES)]
     + [(3 + MAX_RECORD_LINES, {"a": "5", "b": "6"})]),
    ("a field on the most lines a record may take", b'a,b\n"' + b"x\n" * (MAX_RECORD_LINES - 1) + b'",1\n',
     [(1, ["a", "b"]), (1 + MAX_RECORD_LINES, {"a": "x\n" * (MAX_RECORD_LINES - 1), "b": "1"})]),
    ("a refused record over lines: the lines after its first read again",
     b'a,b\n"x\n' + b"w" * 131073 + b'",1\n2,3\n',
     [(1, ["a", "b"]), (2, Bad("CSV: field larger than field limit")), (3, Bad("CSV: field larger than field limit")),
      (4, {"a": "2", "b": "3"})]),
]


@pytest.mark.parametrize("data, expected", [row[1:] for row in CSV], ids=[row[0] for row in CSV])
def test_csv_records(data, expected):
    assert read(csv_records(source(data, "places.csv"))) == expected


def test_every_line_is_a_record_blank_or_refused():
    # An open quote halfway through many lines loses none of them.
    lines = [b"a,b"] + [b"%d,x" % n for n in range(2, 5000)]
    lines[3318] = b'3319,"x'
    numbers = sorted(number for number, _ in csv_records(source(b"\n".join(lines) + b"\n")))
    assert numbers == list(range(1, 5000))


@pytest.mark.parametrize("data, message", [
    (b"", "^places.csv: empty input, no header row$"),
    (b"\ncity\n", "^places.csv: line 1 is blank"),
    (b'"city\nX\n', "^places.csv: line 1: a quoted field is not closed before the end of the input$"),
    (b"city,road,city\n", "^places.csv: the header names 'city' more than once$"),
])
def test_a_header_that_cannot_be_used_is_an_input_error(data, message):
    with pytest.raises(InputError, match=message):
        list(csv_records(source(data, "places.csv")))


@pytest.mark.parametrize("data, encoding, delimiter, expected", [
    ("city;road\nKöln;R\n".encode("latin-1"), "latin-1", ";", {"city": "Köln", "road": "R"}),
    ("city\troad\nKöln\tR\n".encode("utf-16"), "utf-16", "\t", {"city": "Köln", "road": "R"}),
    (gzip.compress("city,road\nKöln,R\n".encode("utf-8")), "utf-8", ",", {"city": "Köln", "road": "R"}),
    (gzip.compress("city|road\r\nKöln|R\r\n".encode("cp1252")), "cp1252", "|", {"city": "Köln", "road": "R"}),
])
def test_csv_in_other_encodings_delimiters_and_compressed(data, encoding, delimiter, expected):
    assert read(csv_records(source(data, encoding=encoding), delimiter))[1:] == [(2, expected)]


def test_a_truncated_compressed_input_is_an_input_error():
    data = gzip.compress(b"city\n" + b"X\n" * 1000)
    with pytest.raises(InputError, match="^in.gz: line .*gzip data: Compressed file ended"):
        list(text_records(source(data[:-20], "in.gz")))


@pytest.mark.parametrize("name, form, delimiter, expected", [
    ("a.csv", None, None, ("csv", ",")), ("a.tsv", None, None, ("csv", "\t")), ("a.tab.gz", None, None, ("csv", "\t")),
    ("a.tsv", None, ";", ("csv", ";")), ("a.jsonl.gz", None, None, ("jsonl", ",")),
    ("a.txt", "jsonl", None, ("jsonl", ",")),
])
def test_input_format_by_the_ending(name, form, delimiter, expected):
    assert input_format(name, form, delimiter) == expected


JSONL = [
    ("objects", b'{"city": "X", "n": 1}\n{"road": null, "t": [1]}\n',
     [(1, {"city": "X", "n": 1}), (2, {"road": None, "t": [1]})]),
    ("blank lines are None", b'{"a": "x"}\n\n  \n{"a": "y"}', [(1, {"a": "x"}), (2, None), (3, None), (4, {"a": "y"})]),
    ("bad JSON", b'{"city": \n{bad\n{"a": "x"}\n',
     [(1, Bad("not JSON: Expecting value")), (2, Bad("not JSON: Expecting property name")), (3, {"a": "x"})]),
    ("not an object", b'[1]\n"s"\n3\nnull\n', [(number, Bad("a JSON line must be an object of fields"))
                                                for number in (1, 2, 3, 4)]),
    ("bad UTF-8", b'{"a": "\xff"}\n{"a": "\xc3\xa9"}\n', [(1, NOT_UTF8), (2, {"a": "é"})]),
]


@pytest.mark.parametrize("data, expected", [row[1:] for row in JSONL], ids=[row[0] for row in JSONL])
def test_jsonl_records(data, expected):
    assert read(jsonl_records(source(data))) == expected


def test_the_position_reaches_the_size_of_the_file(tmp_path):
    # The progress bar measures it against the file's size, compressed or not.
    for name, data in (("a.txt", b"x\n" * 100000), ("a.txt.gz", gzip.compress(b"x\n" * 100000))):
        (tmp_path / name).write_bytes(data)
        read = Source(open(str(tmp_path / name), "rb"), name)
        assert read.size == len(data)
        assert sum(1 for _ in read.lines()) == 100000
        assert read.position() == len(data)


@pytest.mark.parametrize("name, form, header", [
    ("p.csv", None, ["city"]), ("p.jsonl", None, None), ("p.ndjson", None, None), ("p.txt", None, ["city"]),
    ("p.jsonl", "csv", ["city"]), ("p.csv", "jsonl", None),
])
def test_read_records_chooses_the_format_by_the_ending(tmp_path, name, form, header):
    path = tmp_path / name
    path.write_bytes(b"city\n" if header else b'{"city": "X"}\n')
    read, records, found = read_records(str(path), form)
    assert (read.size, found) == (path.stat().st_size, header)
    assert [record for _, record in records] == ([] if header else [{"city": "X"}])


def test_read_records_names_a_missing_file():
    with pytest.raises(InputError, match="^/no/such.csv: No such file"):
        read_records("/no/such.csv")


@pytest.mark.parametrize("form, expansions, expected", [
    ("text", ["a", "b"], "a\nb\n\n"), ("text", None, "\n"), ("text", [], "\n"),
    ("jsonl", ["é"], '{"line": 7, "input": "x, y", "expansions": ["é"]}\n'),
    ("jsonl", None, '{"line": 7, "input": "x, y", "expansions": null}\n'),
    ("csv", ["a", 'b "c"'], 'line,input,expansions\n7,"x, y","[""a"", ""b \\""c\\""""]"\n'),
    ("csv", None, 'line,input,expansions\n7,"x, y",\n'),
])
def test_expansion_writer(form, expansions, expected):
    out = io.StringIO()
    ExpansionWriter(out, form).write(7, "x, y", expansions)
    assert out.getvalue() == expected


def test_record_writer_csv_takes_its_columns_from_the_header_or_every_record():
    out = io.StringIO()
    writer = RecordWriter(out, "csv", None, "keys")
    writer.write(1, {"city": "Köln", "road": "R"}, ["a", "b"])
    writer.write(2, {"city": "X"}, None)
    # A later record's new field is a column too; JSON's values are JSON.
    writer.write(3, {"house": "H", "tags": {"a": [1, True]}, "zip": 12.0, "open": False}, [])
    assert out.getvalue() == "", "the columns are known at the end"
    writer.close()
    assert out.getvalue() == ('city,road,house,tags,zip,open,keys\nKöln,R,,,,,"[""a"", ""b""]"\nX,,,,,,\n'
                              ',,H,"{""a"": [1, true]}",12.0,false,[]\n')
    out = io.StringIO()
    writer = RecordWriter(out, "csv", ["a", "b"], "cluster", CsvStyle(";", bom=True))
    writer.write(2, {"b": "1"}, 7)
    writer.close()
    assert out.getvalue() == "\ufeffa;b;cluster\n;1;7\n"


def test_record_writer_jsonl():
    out = io.StringIO()
    RecordWriter(out, "jsonl", ["ignored"], "cluster").write(4, {"city": "é"}, 2)
    assert out.getvalue() == '{"line": 4, "record": {"city": "é"}, "cluster": 2}\n'
    assert json.loads(out.getvalue()) == {"line": 4, "record": {"city": "é"}, "cluster": 2}
