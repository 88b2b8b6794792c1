"""The command's readers and writers, on in-memory streams: which line each
record is numbered by, and which lines are blank, bad or refused."""
import io
import json

import pytest

from addrnorm.records import (BadRecord, InputError, RecordWriter, csv_records, jsonl_records, read_records,
                              text_records, write_expansions)


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
    return [(number, Bad(str(record)) if isinstance(record, BadRecord) else record)
            for number, record, _ in records]


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
    assert read(text_records(io.BytesIO(data))) == expected


CSV = [
    ("rows", b"city,road\nX,R1\nY,R2\n", [(1, ["city", "road"]), (2, {"city": "X", "road": "R1"}),
                                           (3, {"city": "Y", "road": "R2"})]),
    ("CRLF", b"city,road\r\nX,R1\r\n", [(1, ["city", "road"]), (2, {"city": "X", "road": "R1"})]),
    ("blank lines are not records", b"city\n\nX\n\n", [(1, ["city"]), (3, {"city": "X"})]),
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
]


@pytest.mark.parametrize("data, expected", [row[1:] for row in CSV], ids=[row[0] for row in CSV])
def test_csv_records(data, expected):
    assert read(csv_records(io.BytesIO(data), "places.csv")) == expected


def test_csv_without_a_header_is_an_input_error():
    with pytest.raises(InputError, match="^places.csv: empty input, no header row$"):
        list(csv_records(io.BytesIO(b""), "places.csv"))


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
    assert read(jsonl_records(io.BytesIO(data))) == expected


@pytest.mark.parametrize("reader, data", [
    (text_records, b"a\n\n\xff\nb\r\nc"),
    (jsonl_records, b'{"a": 1}\n\n[1]\n{bad\n'),
    (lambda stream: csv_records(stream, "x.csv"), b'a,b\n1,2\n"x\ny",z\n3\n\xff,1\n'),
])
def test_the_bytes_read_add_up_to_the_input(reader, data):
    # The progress bar counts them against the file's size.
    assert sum(size for _, _, size in reader(io.BytesIO(data))) == len(data)


@pytest.mark.parametrize("name, form, header", [
    ("p.csv", None, ["city"]), ("p.jsonl", None, None), ("p.ndjson", None, None), ("p.txt", None, ["city"]),
    ("p.jsonl", "csv", ["city"]), ("p.csv", "jsonl", None),
])
def test_read_records_chooses_the_format_by_the_ending(tmp_path, name, form, header):
    path = tmp_path / name
    path.write_bytes(b"city\n" if header else b'{"city": "X"}\n')
    _, size, records, found = read_records(str(path), form)
    assert (size, found) == (path.stat().st_size, header)
    assert [record for _, record, _ in records] == ([] if header else [{"city": "X"}])


def test_read_records_names_a_missing_file():
    with pytest.raises(InputError, match="^/no/such.csv: No such file"):
        read_records("/no/such.csv")


@pytest.mark.parametrize("form, expansions, expected", [
    ("text", ["a", "b"], "a\nb\n\n"), ("text", None, "\n"), ("text", [], "\n"),
    ("jsonl", ["é"], '{"input": "x", "expansions": ["é"]}\n'), ("jsonl", None, '{"input": "x", "expansions": null}\n'),
])
def test_write_expansions(form, expansions, expected):
    out = io.StringIO()
    write_expansions(out, form, "x", expansions)
    assert out.getvalue() == expected


def test_record_writer_csv_takes_its_columns_from_the_header_or_the_first_record():
    out = io.StringIO()
    writer = RecordWriter(out, "csv", None, "keys")
    writer.write(1, {"city": "Köln", "road": "R"}, ["a", "b"])
    writer.write(2, {"city": "X"}, None)
    with pytest.raises(BadRecord, match="field 'house' is not a column"):
        writer.write(3, {"house": "H"}, [])
    assert out.getvalue() == 'city,road,keys\nKöln,R,"[""a"", ""b""]"\nX,,\n'
    out = io.StringIO()
    RecordWriter(out, "csv", ["a", "b"], "cluster").write(2, {"b": "1"}, 7)
    assert out.getvalue() == "a,b,cluster\n,1,7\n"


def test_record_writer_jsonl():
    out = io.StringIO()
    RecordWriter(out, "jsonl", ["ignored"], "cluster").write(4, {"city": "é"}, 2)
    assert out.getvalue() == '{"line": 4, "record": {"city": "é"}, "cluster": 2}\n'
    assert json.loads(out.getvalue()) == {"line": 4, "record": {"city": "é"}, "cluster": 2}
