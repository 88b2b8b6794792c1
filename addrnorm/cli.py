"""The addrnorm command: expand addresses, hash place records and group
candidate duplicates, from files or standard input, in input order; fetch
libpostal's data (addrnorm data).

Exit status: 0 all records done, 1 some records skipped (--skip-bad),
2 a usage or input error, 3 an output error (a full disk, no permission),
130 interrupted (Ctrl-C), 141 the reader of the output went away (| head).
The output file is replaced only with status 0 or 1; otherwise it is left as
it was (but standard output, devices and pipes are written as the run goes).
"""
import argparse
import json
import signal
import sys
import tempfile

import addrnorm
from addrnorm import AddressComponent, data
from addrnorm.blocking import Clusters
from addrnorm.calls import expand_one, hash_one, warm_up_expand, warm_up_hash
from addrnorm.languages import check_languages
from addrnorm.library_messages import LibraryMessages
from addrnorm.options import EXPAND_FLAGS, HASH_FLAGS
from addrnorm.progress import Progress, Run
from addrnorm.records import (InputError, Output, OutputError, RecordWriter, open_input, read_records, text_records,
                              write_expansions)


# Commands.

def command_expand(options, out):
    run = Run(options)
    keywords = expand_keywords(options)
    # "-" alone reads standard input, as it does for hash and dupes.
    if options.addresses and options.addresses != ["-"]:
        sources = [("<arguments>", None, [(n, a, 0) for n, a in enumerate(options.addresses, 1)])]
    else:
        stream, name, size = open_input(options.input or "-")
        sources = [(name, size, text_records(stream))]
    for name, size, records in sources:
        for _, address, expansions in run.results(records, name, Progress(size, options.quiet), expand_one,
                                                  keywords, warm_up_expand):
            write_expansions(out, options.format, address, expansions)
    return run.finish()


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
        keywords["languages"] = language_list(options.languages)
    if options.geohash_precision is not None:
        keywords["geohash_precision"] = options.geohash_precision
    if bool(options.lat) != bool(options.lon):
        raise InputError("--lat and --lon go together")
    return mapping, options.lat, options.lon, keywords


def command_hash(options, out):
    run = Run(options)
    job = hash_options(options)
    name, size, records, header = read_records(options.input, options.input_format)
    writer = RecordWriter(out, options.format, header, "keys")
    for number, record, keys in run.results(records, name, Progress(size, options.quiet), hash_one, job,
                                            warm_up_hash):
        run.write(writer, name, number, record, keys)
    return run.finish()


def command_dupes(options, out):
    run = Run(options)
    job = hash_options(options)
    name, size, records, header = read_records(options.input, options.input_format)
    clusters = Clusters()
    # Records wait on disk, not in memory, until their cluster is known.
    with tempfile.TemporaryFile("w+", encoding="utf-8") as spool:
        for number, record, keys in run.results(records, name, Progress(size, options.quiet), hash_one, job,
                                            warm_up_hash):
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


def language_list(text):
    """--languages, checked once: a code that is not one stops the run before
    the first record, instead of refusing every record."""
    codes = split_list(text)
    try:
        check_languages(codes)
    except ValueError as error:
        raise InputError("--%s" % error)
    return codes


def expand_keywords(options):
    keywords = {name: getattr(options, name) for name in EXPAND_FLAGS if getattr(options, name) is not None}
    if options.languages:
        keywords["languages"] = language_list(options.languages)
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
                        help="skip records that cannot be used, list the first few at the end, exit 1")
    parser.add_argument("--bad-records", metavar="FILE",
                        help="as --skip-bad, and list every skipped record in FILE, a line each: "
                             "file, line number, reason, separated by tabs")
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
    expand.add_argument("addresses", nargs="*",
                        help="addresses; none, or - alone: read them one per line from -i FILE or standard input")
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
    messages = LibraryMessages()
    out, status = None, 2
    try:
        with messages:
            out = Output(options.output)
            status = options.run(options, out)
            out.finish()
    except (InputError, addrnorm.LibpostalLoadError) as error:
        sys.stderr.write("addrnorm: %s\n" % error)
        status = 2
    except OutputError as error:
        sys.stderr.write("addrnorm: %s\n" % error)
        status = 3
    except BrokenPipeError:
        # The reader has gone (| head): what it did not read is not wanted.
        status = 128 + signal.SIGPIPE
    except KeyboardInterrupt:
        # Cleaning up is under way: a second Ctrl-C must not cut it short.
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        sys.stderr.write("addrnorm: interrupted\n")
        status = 130
    finally:
        if out is not None:
            out.discard()
        for line in messages.summary():
            sys.stderr.write(line + "\n")
    return status
