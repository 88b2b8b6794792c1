"""The addrnorm command: expand addresses, hash place records and group
candidate duplicates, from files or standard input, in input order; fetch
libpostal's data (addrnorm data).

Exit status: 0 all records done, 1 some records skipped (--skip-bad),
2 a usage or input error.
"""
import argparse
import csv
import io
import json
import multiprocessing
import os
import sys
import tempfile

import addrnorm
from addrnorm import AddressComponent, data
from addrnorm.blocking import Clusters
from addrnorm.library_messages import LibraryMessages

EXPAND_FLAGS = (
    "latin_ascii", "transliterate", "strip_accents", "decompose", "lowercase", "trim_string",
    "replace_word_hyphens", "delete_word_hyphens", "replace_numeric_hyphens", "delete_numeric_hyphens",
    "split_alpha_from_numeric", "delete_final_periods", "delete_acronym_periods", "drop_english_possessives",
    "delete_apostrophes", "expand_numex", "roman_numerals",
)
HASH_FLAGS = (
    "with_name", "with_address", "with_unit", "with_city_or_equivalent", "with_small_containing_boundaries",
    "with_postal_code", "with_latlon", "name_and_address_keys", "name_only_keys", "address_only_keys",
)
# Records go to the workers in chunks: large enough that the crossing costs
# little, small enough that order is kept with little held back.
CHUNK = 256


class InputError(Exception):
    """A problem with the input as a whole: the run stops with status 2."""


class BadRecord(Exception):
    """One record that cannot be used; skippable with --skip-bad."""


# Reading.

def open_input(path):
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
    for number, text, size in decoded_lines(stream):
        if undecodable(text):
            yield number, BadRecord("bytes that are not UTF-8"), size
        elif text.strip():
            yield number, text, size
        else:
            yield number, None, size


def csv_records(stream, name):
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


# The work done per record, in this process or in forked workers.

_job = None  # (function, options), set before the workers are forked


def run_chunk(chunk):
    function, options = _job
    results = []
    for number, item in chunk:
        try:
            results.append((number, item, function(item, options), None))
        except BadRecord as error:
            results.append((number, item, None, str(error)))
        except (TypeError, ValueError) as error:
            results.append((number, item, None, "refused: %s" % error))
    return results


def expand_one(address, options):
    return addrnorm.expand_address(address, **options)


def hash_one(record, options):
    mapping, lat_column, lon_column, keywords = options
    labels, values = [], []
    for column, value in record.items():
        if column in (lat_column, lon_column):
            continue
        label = mapping.get(column, column)
        if label and value not in (None, ""):
            labels.append(label)
            values.append(value if isinstance(value, str) else str(value))
    call = dict(keywords)
    if lat_column and lon_column:
        try:
            call["latitude"] = float(record[lat_column])
            call["longitude"] = float(record[lon_column])
        except (KeyError, TypeError, ValueError):
            raise BadRecord("no usable %s/%s coordinates" % (lat_column, lon_column))
        call.setdefault("with_latlon", 1)
    return addrnorm.near_dupe_hashes(labels, values, **call)


def processed(items, function, options, jobs):
    """Yields (line, item, result, error) in input order."""
    global _job
    _job = (function, options)
    chunks = _chunks(items)
    if jobs <= 1:
        for chunk in chunks:
            for result in run_chunk(chunk):
                yield result
        return
    # libpostal is set up here, before the fork, so the workers share its data.
    if function is expand_one:
        addrnorm.expand_address("")
    else:
        addrnorm.near_dupe_hashes(["city"], ["x"])
    with multiprocessing.get_context("fork").Pool(jobs) as pool:
        for results in pool.imap(run_chunk, chunks):
            for result in results:
                yield result


def _chunks(items):
    chunk = []
    for item in items:
        chunk.append(item)
        if len(chunk) == CHUNK:
            yield chunk
            chunk = []
    if chunk:
        yield chunk


# Progress, on standard error when it is a terminal.

class Progress:
    def __init__(self, total_bytes, quiet):
        self.bar = None
        if not quiet and sys.stderr.isatty():
            from tqdm import tqdm
            try:
                # A terminal that reports no size (a bare pty) gets 80 columns.
                columns = os.get_terminal_size(sys.stderr.fileno()).columns or 80
            except OSError:
                columns = 80
            self.bar = tqdm(total=total_bytes, unit="B", unit_scale=True, file=sys.stderr, ncols=columns,
                            desc="addrnorm")
        self.records = 0

    def advance(self, size):
        self.records += 1
        if self.bar is not None:
            self.bar.update(size)
            if self.records % 1000 == 0:
                self.bar.set_postfix(records=self.records, refresh=False)

    def close(self):
        if self.bar is not None:
            self.bar.set_postfix(records=self.records)
            self.bar.close()


# Commands.

class Run:
    """What one command does with its records: reads, feeds, reports."""

    def __init__(self, options):
        self.options = options
        self.skipped = []

    def bad(self, name, number, message):
        if not self.options.skip_bad:
            raise InputError("%s: line %d: %s" % (name, number, message))
        self.skipped.append("%s: line %d: %s" % (name, number, message))

    def feed(self, records, name, progress):
        """Keeps the usable records for the workers, accounting for the others."""
        for number, record, size in records:
            progress.advance(size)
            if isinstance(record, BadRecord):
                self.bad(name, number, str(record))
            elif record is not None:
                yield number, record

    def results(self, records, name, progress, function, job):
        """(line, record, result) for each usable record, in input order; the
        bad ones accounted for."""
        try:
            for number, item, result, error in processed(self.feed(records, name, progress), function, job,
                                                         self.options.jobs):
                if error is None:
                    yield number, item, result
                else:
                    self.bad(name, number, error)
        finally:
            progress.close()

    def write(self, writer, name, number, record, value):
        try:
            writer.write(number, record, value)
        except BadRecord as refused:
            self.bad(name, number, str(refused))

    def finish(self):
        if self.skipped:
            sys.stderr.write("addrnorm: skipped %d bad records:\n" % len(self.skipped))
            for line in self.skipped:
                sys.stderr.write("  %s\n" % line)
            return 1
        return 0


def command_expand(options, out):
    run = Run(options)
    keywords = expand_keywords(options)
    if options.addresses:
        sources = [("<arguments>", None, [(n, a, 0) for n, a in enumerate(options.addresses, 1)])]
    else:
        stream, name, size = open_input(options.input or "-")
        sources = [(name, size, text_records(stream))]
    for name, size, records in sources:
        for _, address, expansions in run.results(records, name, Progress(size, options.quiet), expand_one,
                                                  keywords):
            write_expansions(out, options.format, address, expansions)
    return run.finish()


def write_expansions(out, form, address, expansions):
    if form == "jsonl":
        out.write(json.dumps({"input": address, "expansions": expansions}, ensure_ascii=False) + "\n")
    else:
        for expansion in expansions or ():
            out.write(expansion + "\n")
        out.write("\n")


def hash_options(options):
    mapping = {}
    for pair in options.map or ():
        for item in pair.split(","):
            column, _, label = item.partition("=")
            if not column or not _:
                raise InputError("--map takes COLUMN=LABEL pairs, not %r" % item)
            mapping[column.strip()] = label.strip()
    keywords = {name: getattr(options, name) for name in HASH_FLAGS if getattr(options, name) is not None}
    if options.languages:
        keywords["languages"] = split_list(options.languages)
    if options.geohash_precision is not None:
        keywords["geohash_precision"] = options.geohash_precision
    if bool(options.lat) != bool(options.lon):
        raise InputError("--lat and --lon go together")
    return mapping, options.lat, options.lon, keywords


def read_records(options):
    stream, name, size = open_input(options.input)
    form = options.input_format or ("jsonl" if name.endswith((".jsonl", ".ndjson", ".json")) else "csv")
    if form == "jsonl":
        return name, size, jsonl_records(stream), None
    records = csv_records(stream, name)
    _, header, _ = next(records)
    return name, size, records, header


def command_hash(options, out):
    run = Run(options)
    job = hash_options(options)
    name, size, records, header = read_records(options)
    writer = RecordWriter(out, options.format, header, "keys")
    for number, record, keys in run.results(records, name, Progress(size, options.quiet), hash_one, job):
        run.write(writer, name, number, record, keys)
    return run.finish()


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


def command_dupes(options, out):
    run = Run(options)
    job = hash_options(options)
    name, size, records, header = read_records(options)
    clusters = Clusters()
    # Records wait on disk, not in memory, until their cluster is known.
    with tempfile.TemporaryFile("w+", encoding="utf-8") as spool:
        for number, record, keys in run.results(records, name, Progress(size, options.quiet), hash_one, job):
            clusters.add(keys)
            spool.write(json.dumps([number, record], ensure_ascii=False) + "\n")
        numbers = clusters.numbered()
        spool.seek(0)
        writer = RecordWriter(out, options.format, header, "cluster")
        sizes = {}
        for index, line in enumerate(spool):
            number, record = json.loads(line)
            sizes[numbers[index]] = sizes.get(numbers[index], 0) + 1
            run.write(writer, name, number, record, numbers[index])
    if not options.quiet:
        sys.stderr.write("addrnorm: %d records, %d keys, %d clusters, largest cluster %d\n" % (
            len(numbers), len(clusters.owner), len(sizes), max(sizes.values()) if sizes else 0))
    return run.finish()


# Options.

def split_list(text):
    return [item.strip() for item in text.split(",") if item.strip()]


def expand_keywords(options):
    keywords = {name: getattr(options, name) for name in EXPAND_FLAGS if getattr(options, name) is not None}
    if options.languages:
        keywords["languages"] = split_list(options.languages)
    if options.components:
        mask = AddressComponent.NONE
        for name in split_list(options.components):
            try:
                mask |= AddressComponent[name.upper()]
            except KeyError:
                raise InputError("--components: no component %r (one of %s)" % (
                    name, ", ".join(member.lower() for member in AddressComponent.__members__)))
        keywords["address_components"] = int(mask)
    if options.root:
        keywords["root"] = 1
    return keywords


def add_switches(parser, names, what):
    group = parser.add_argument_group(what, "each on or off; left out, libpostal's default")
    for name in names:
        flag = name.replace("_", "-")
        group.add_argument("--" + flag, dest=name, action="store_const", const=1, default=None)
        group.add_argument("--no-" + flag, dest=name, action="store_const", const=0, help=argparse.SUPPRESS)


def add_common(parser):
    parser.add_argument("-o", "--output", default="-", help="where to write (default: standard output)")
    parser.add_argument("-j", "--jobs", type=int, default=1, help="worker processes (default 1)")
    parser.add_argument("-q", "--quiet", action="store_true", help="no progress and no summary")
    parser.add_argument("--skip-bad", action="store_true",
                        help="skip records that cannot be used, list them at the end, exit 1")
    parser.add_argument("--languages", help="language codes, comma-separated: en,fr")


def add_hash_options(parser):
    parser.add_argument("input", help="a CSV file with a header row, or JSON Lines; - for standard input")
    parser.add_argument("--input-format", choices=["csv", "jsonl"], help="default: by the file's ending, else csv")
    parser.add_argument("--format", choices=["jsonl", "csv"], default="jsonl", help="output (default jsonl)")
    parser.add_argument("--map", action="append", metavar="COLUMN=LABEL",
                        help="take a column as one of libpostal's labels (house, road, house_number, postcode, "
                             "city, ...): libpostal ignores other labels; an empty LABEL drops the column")
    parser.add_argument("--lat", metavar="COLUMN", help="the latitude column (with --lon)")
    parser.add_argument("--lon", metavar="COLUMN", help="the longitude column (with --lat)")
    parser.add_argument("--geohash-precision", type=int)
    add_switches(parser, HASH_FLAGS, "key options")


def build_parser():
    parser = argparse.ArgumentParser(prog="addrnorm", description=__doc__.split("\n\n")[0])
    parser.add_argument("--version", action="version", version="addrnorm " + addrnorm.__version__)
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True

    expand = commands.add_parser("expand", help="every normalized form of each address")
    expand.add_argument("addresses", nargs="*", help="addresses; none: read them one per line")
    expand.add_argument("-i", "--input", help="a file of addresses, one per line; - for standard input")
    expand.add_argument("--format", choices=["text", "jsonl"], default="text",
                        help="text: each input's expansions, a blank line after each; jsonl: one object per input")
    expand.add_argument("--components", help="address components, comma-separated: street,house_number")
    expand.add_argument("--root", action="store_true", help="root forms (libpostal_expand_address_root)")
    add_common(expand)
    add_switches(expand, EXPAND_FLAGS, "normalization options")
    expand.set_defaults(run=command_expand)

    hashing = commands.add_parser("hash", help="near-duplicate keys of each place record")
    add_hash_options(hashing)
    add_common(hashing)
    hashing.set_defaults(run=command_hash)

    dupes = commands.add_parser("dupes", help="group records that share a key into candidate clusters")
    add_hash_options(dupes)
    add_common(dupes)
    dupes.set_defaults(run=command_dupes)

    data.add_command(commands)
    return parser


def main(argv=None):
    options = build_parser().parse_args(argv)
    if options.command == "data":
        return options.run(options)
    if options.jobs < 1:
        sys.stderr.write("addrnorm: --jobs takes a whole number of at least 1\n")
        return 2
    try:
        if options.output == "-":
            out = io.TextIOWrapper(sys.stdout.buffer, encoding="utf-8", newline="", line_buffering=False)
        else:
            out = open(options.output, "w", encoding="utf-8", newline="")
    except OSError as error:
        sys.stderr.write("addrnorm: %s: %s\n" % (options.output, error.strerror))
        return 2
    messages = LibraryMessages()
    try:
        with messages:
            return options.run(options, out)
    except InputError as error:
        sys.stderr.write("addrnorm: %s\n" % error)
        return 2
    except addrnorm.LibpostalLoadError as error:
        sys.stderr.write("addrnorm: %s\n" % error)
        return 2
    except KeyboardInterrupt:
        return 130
    finally:
        for line in messages.summary():
            sys.stderr.write(line + "\n")
        try:
            out.flush()
        except BrokenPipeError:
            pass
        if options.output == "-":
            out.detach()
        else:
            out.close()
