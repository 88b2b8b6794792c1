"""The addrnorm command: expand and parse addresses, hash place records and
group duplicates, from files or standard input, in input order; guess
addresses' languages and list their tokens; fetch libpostal's data
(addrnorm data).

Exit status: 0 all records done, 1 some records skipped (--skip-bad) or a
fault in addrnorm itself (its traceback, then one line saying so),
2 a usage or input error (libpostal not set up too), 3 an output error (a
full disk, no permission), 130 interrupted (Ctrl-C), 141 the reader of the
output went away (| head), 143 terminated (SIGTERM).  Every output is opened,
or its place checked, before the work; the output files are replaced only
with status 0 or 1, otherwise left as they were (but standard output,
devices and pipes are written as the run goes).
"""
import argparse
import codecs
import os
import signal
import sys
import traceback
import warnings

import addrnorm
from addrnorm import calls, data, text_commands
from addrnorm.commands import command_expand, command_hash, command_parse
from addrnorm.library_messages import LibraryMessages
from addrnorm.dedupe.model import DEFAULT_MAX_BLOCK, DEFAULT_THRESHOLD
from addrnorm.languages import UnknownLanguageWarning
from addrnorm.options import EXPAND_FLAGS, FLAG_DEFAULTS, GEOHASH_LENGTH, GEOHASH_PRECISION, HASH_FLAGS
from addrnorm.parallel import stop_workers
from addrnorm.records import InputError, OutputError, Terminated, WorkerLost
from addrnorm.stopping import Stops
from addrnorm.values import LabelWarning
from addrnorm.writers import CsvStyle, Output, check_writable


class Switch(argparse.Action):
    """--FLAG and --no-FLAG, one line in --help: on, off, or left out for
    libpostal's default."""

    def __init__(self, option_strings, dest, default=None, help=None):
        negative = ["--no-" + option[2:] for option in option_strings]
        super(Switch, self).__init__(option_strings + negative, dest, nargs=0, default=default, help=help)

    def __call__(self, parser, namespace, values, option_string=None):
        setattr(namespace, self.dest, 0 if option_string.startswith("--no-") else 1)


def add_switches(parser, names, what):
    group = parser.add_argument_group(what, "each on or off; left out, libpostal's default, shown")
    for name in names:
        group.add_argument("--" + name.replace("_", "-"), dest=name, action=Switch,
                           help="(default: %s)" % ("on" if FLAG_DEFAULTS[name] else "off"))


def delimiter(text):
    """--delimiter: one character; \\t or "tab" for a tab, as a shell passes
    a tab with difficulty."""
    text = "\t" if text in ("\\t", "tab") else text
    if len(text) != 1:
        raise argparse.ArgumentTypeError("one character, or \\t for a tab, not %r" % text)
    return text


def encoding(text):
    try:
        codecs.lookup(text)
    except LookupError:
        raise argparse.ArgumentTypeError("no encoding %r" % text)
    return text


def add_input(parser):
    parser.add_argument("--encoding", type=encoding, default="utf-8",
                        help="the input's encoding, any Python knows: latin-1, cp1252, utf-16 ... (default: utf-8; "
                             "a byte-order mark is dropped); gzip-compressed input, told by its first bytes, is "
                             "decompressed as it is read")
    parser.add_argument("--delimiter", type=delimiter, metavar="CHAR",
                        help="the CSV input's field separator, one character; \\t or tab for a tab "
                             "(default: a tab for FILE.tsv and FILE.tab, with or without .gz, else a comma)")


def whole_number(low, high=None):
    """An argparse type: a whole number from low to high (no bound when None)."""
    def check(text):
        try:
            value = int(text)
        except ValueError:
            value = None
        if value is None or value < low or (high is not None and value > high):
            raise argparse.ArgumentTypeError("a whole number %s, not %r" % (
                "from %d to %d" % (low, high) if high is not None else "of at least %d" % low, text))
        return value
    return check


def add_common(parser, languages=True):
    parser.add_argument("-o", "--output", default="-",
                        help="where to write; its ending chooses the format unless --format does: .csv, .tsv, "
                             ".jsonl, .txt (default: -, standard output)")
    add_csv_output(parser)
    parser.add_argument("-j", "--jobs", type=whole_number(1), default=1, help="worker processes (default: 1)")
    parser.add_argument("-q", "--quiet", action="store_true",
                        help="no progress and no summary; warnings still shown (default: off)")
    parser.add_argument("--skip-bad", action="store_true",
                        help="skip records that cannot be used, list the first few at the end, exit 1 "
                             "(default: off, a bad record stops the run with status 2)")
    parser.add_argument("--bad-records", metavar="FILE",
                        help="as --skip-bad, and list every skipped record in FILE, a line each: "
                             "file, line number, reason, separated by tabs (default: none)")
    if languages:
        parser.add_argument("--languages", help="language codes, comma-separated: en,fr (default: libpostal guesses)")
    add_input(parser)


def add_csv_output(parser):
    parser.add_argument("--output-delimiter", type=delimiter, metavar="CHAR",
                        help="CSV output's field separator, one character; \\t or tab for a tab (default: a tab "
                             "for -o FILE.tsv, else a comma)")
    parser.add_argument("--bom", action="store_true",
                        help="begin CSV output with a byte-order mark, which spreadsheets take for UTF-8 "
                             "(default: off)")


# The format each command writes when neither --format nor -o's ending
# chooses one (expand --column: csv).
DEFAULT_FORMATS = {"expand": "text", "parse": "jsonl", "hash": "jsonl", "dupes": "jsonl", "language": "text",
                   "tokens": "text"}
# -o's endings, and the format each means.
ENDINGS = {".csv": "csv", ".tsv": "csv", ".tab": "csv", ".jsonl": "jsonl", ".ndjson": "jsonl", ".json": "jsonl",
           ".txt": "text"}


def output_format(options, choices):
    """--format, else the format -o's ending names (when the command writes
    it), else the command's own; and the CSV style.  --output-delimiter and
    --bom go with CSV alone."""
    form = options.format
    ending = os.path.splitext(options.output)[1].lower()
    if form is None:
        form = ENDINGS.get(ending)
        if form not in choices:
            form = "csv" if options.command == "expand" and options.column else DEFAULT_FORMATS[options.command]
    if form != "csv" and (options.output_delimiter or options.bom):
        raise InputError("--output-delimiter and --bom are for CSV output, not %s" % form)
    separator = options.output_delimiter or ("\t" if ending in (".tsv", ".tab") else ",")
    return form, CsvStyle(separator, options.bom)


def add_hash_options(parser):
    parser.add_argument("input", help="a CSV file with a header row, or JSON Lines; - for standard input")
    parser.add_argument("--input-format", choices=["csv", "jsonl"],
                        help="(default: jsonl for FILE.jsonl, .ndjson and .json, with or without .gz, else csv)")
    parser.add_argument("--format", choices=["jsonl", "csv"],
                        help="output (default: csv for -o FILE.csv or .tsv, else jsonl)")
    parser.add_argument("--map", action="append", metavar="COLUMN=LABEL",
                        help="take a column as one of libpostal's labels (house, road, house_number, postcode, "
                             "city, ...; a label it does not know is an error); an empty LABEL drops the column; "
                             "repeatable (default: column names are the labels)")
    parser.add_argument("--lat", metavar="COLUMN", help="the latitude column, with --lon (default: none)")
    parser.add_argument("--lon", metavar="COLUMN", help="the longitude column, with --lat (default: none)")
    parser.add_argument("--geohash-precision", type=whole_number(1, GEOHASH_LENGTH), metavar="N",
                        help="the length of the coordinates' geohash keys, 1 to %d (default: %d, libpostal's)"
                             % (GEOHASH_LENGTH, GEOHASH_PRECISION))
    add_switches(parser, HASH_FLAGS, "key options")


def command_dupes(options, out):
    # Splink, DuckDB and Arrow load only for the command that uses them.
    from addrnorm.dupes import command_dupes as dupes

    return dupes(options, out)


def probability(text):
    try:
        value = float(text)
    except ValueError:
        value = -1.0
    if not 0.0 < value < 1.0:
        raise argparse.ArgumentTypeError("a match probability between 0 and 1, not %r" % text)
    return value


def block_size(text):
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 2:
        raise argparse.ArgumentTypeError("a whole number of records, at least 2, not %r" % text)
    return value


def add_dedupe_options(parser):
    group = parser.add_argument_group("de-duplication")
    group.add_argument("--threshold", type=probability, default=DEFAULT_THRESHOLD, metavar="P",
                       help="the match probability at which a pair is taken as duplicates and clustered "
                            "(default: %s: more likely the same than not)" % DEFAULT_THRESHOLD)
    group.add_argument("--max-block", type=block_size, default=DEFAULT_MAX_BLOCK, metavar="N",
                       help="records sharing one key or one value beyond which it brings no pairs to compare "
                            "(default: %d)" % DEFAULT_MAX_BLOCK)
    group.add_argument("--model", metavar="FILE",
                       help="apply a model saved by --model-out instead of learning one from the input "
                            "(default: learn one)")
    group.add_argument("--model-out", metavar="FILE", help="save the model, as JSON (default: none)")
    group.add_argument("--pairs", metavar="FILE",
                       help="write every pair compared to FILE, as JSON Lines: the input lines of both records, "
                            "the match probability and, for each field, the level it fell into and its match "
                            "weight (default: none)")
    group.add_argument("--report", metavar="FILE.html",
                       help="write Splink's dashboards of the pairs and the clusters to FILE.html (default: none)")
    group.add_argument("--only-dupes", action="store_true",
                       help="write only the records in clusters of two or more, a cluster after another "
                            "(default: every record)")
    engine = parser.add_argument_group("engine")
    engine.add_argument("--engine", choices=["duckdb", "spark"], default="duckdb",
                        help="where the model runs: DuckDB in this process, or Spark (the session that "
                             "pyspark's SparkSession.builder gives) (default: duckdb)")
    engine.add_argument("--memory-limit", metavar="SIZE",
                        help="DuckDB's memory limit, such as 4GB; beyond it, it spills to --temp-dir "
                             "(default: DuckDB's, 80%% of the memory)")
    engine.add_argument("--temp-dir", metavar="DIR",
                        help="where DuckDB spills what does not fit in memory (default: a temporary folder)")


def build_parser():
    parser = argparse.ArgumentParser(prog="addrnorm", description=__doc__.split("\n\n")[0])
    parser.add_argument("--version", action="version", version="addrnorm " + addrnorm.__version__)
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True

    expand = commands.add_parser("expand", help="every normalized form of each address")
    expand.add_argument("addresses", nargs="*",
                        help="addresses, or a FILE of them one per line (an argument alone that is a file); "
                             "none, or - alone: standard input")
    expand.add_argument("-i", "--input", help="a file of addresses, one per line; - for standard input "
                                              "(default: standard input when no address is given)")
    expand.add_argument("--format", choices=["text", "jsonl", "csv"],
                        help="text: each input's expansions, a blank line after each; jsonl: an object per input "
                             "with its line number; csv: line, input, expansions as a JSON list (default: by -o's "
                             "ending, else text; with --column, csv)")
    expand.add_argument("--column", metavar="NAME",
                        help="read records (CSV with a header, or JSON Lines) and expand their field NAME, writing "
                             "each record through with an added field expansions (default: none, a line is "
                             "an address)")
    expand.add_argument("--input-format", choices=["csv", "jsonl"],
                        help="with --column (default: jsonl for FILE.jsonl, .ndjson and .json, else csv)")
    expand.add_argument("--components", help="address components, comma-separated: street,house_number "
                                             "(default: libpostal's)")
    expand.add_argument("--root", action="store_true",
                        help="root forms, libpostal_expand_address_root (default: off)")
    add_common(expand)
    add_switches(expand, EXPAND_FLAGS, "normalization options")
    expand.set_defaults(run=command_expand)

    parsing = commands.add_parser("parse", help="the labelled parts of each one-line address (libpostal's parser: "
                                                "2 GB of memory, fetched by 'addrnorm data download --parser')")
    parsing.add_argument("addresses", nargs="*",
                         help="addresses, or a FILE of them one per line (an argument alone that is a file); "
                             "none, or - alone: standard input")
    parsing.add_argument("-i", "--input", help="a file of addresses, one per line; - for standard input "
                                               "(default: standard input when no address is given)")
    parsing.add_argument("--format", choices=["jsonl", "csv"],
                         help="jsonl: an object per input, {\"line\", \"input\", \"parsed\": {label: value}}; csv: "
                              "line, input and a column per label found (default: csv for -o FILE.csv or .tsv, "
                              "else jsonl)")
    parsing.add_argument("--column", metavar="NAME",
                         help="read records (CSV with a header, or JSON Lines) and parse their field NAME, writing "
                              "each record through with its parts (default: none, a line is an address)")
    parsing.add_argument("--input-format", choices=["csv", "jsonl"],
                         help="with --column (default: jsonl for FILE.jsonl, .ndjson and .json, else csv)")
    parsing.add_argument("--language", help="an ISO 639-1 code, passed on to libpostal, whose 1.1 parser does not "
                                            "use it (default: none)")
    parsing.add_argument("--country", help="an ISO 3166-1 alpha-2 code, passed on likewise (default: none)")
    add_common(parsing, languages=False)
    parsing.set_defaults(run=command_parse)

    hashing = commands.add_parser("hash", help="near-duplicate keys of each place record")
    add_hash_options(hashing)
    hashing.add_argument("--parse", action="append", metavar="COLUMN",
                         help="a column holding a one-line address: libpostal's parser splits it into labelled "
                              "parts that join the record's fields (a column of the record under the same label "
                              "wins); repeatable; loads the parser, 2 GB (default: none)")
    add_common(hashing)
    hashing.set_defaults(run=command_hash)

    dupes = commands.add_parser("dupes", help="group duplicate records into clusters: a probabilistic model "
                                              "learned from the records, on libpostal's expansions and keys")
    add_hash_options(dupes)
    dupes.add_argument("--parse", action="append", metavar="COLUMN",
                       help="a column holding a one-line address: libpostal's parser splits it into labelled parts, "
                            "each compared as a field of its own (a column of the record under the same label wins); "
                            "repeatable; loads the parser, 2 GB (default: none)")
    add_common(dupes)
    add_dedupe_options(dupes)
    dupes.set_defaults(run=command_dupes)

    text_commands.add_commands(commands, add_common)
    data.add_command(commands)
    return parser


def parse_arguments(parser, argv):
    """The options; an argument a command does not take is shown with that
    command's usage, not the top-level one (argparse leaves a command's
    unknown arguments to the top)."""
    options, unknown = parser.parse_known_args(argv)
    if unknown:
        command = _commands(parser).get(getattr(options, "command", None), parser)
        hint = ""
        if options.command in ("hash", "dupes") and unknown[0] in ("-i", "--input"):
            hint = " (%s reads the FILE given as its argument: addrnorm %s FILE)" % (options.command, options.command)
        command.error("unrecognized arguments: %s%s" % (" ".join(unknown), hint))
    return options


def _commands(parser):
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            return action.choices
    return {}


# The extension modules each command calls, imported (which sets libpostal
# up) before any output is opened: a set-up that fails (no data found) stops
# the run with its one line and status 2, in every mode, and leaves every
# output as it was.
SET_UP = {
    "expand": lambda options: ("_expand",),
    "parse": lambda options: ("_parser",),
    "hash": lambda options: ("_kinhash",) + (("_parser",) if options.parse else ()),
    "dupes": lambda options: ("_expand", "_kinhash") + (("_parser",) if options.parse else ()),
    "language": lambda options: ("_text",),
    "tokens": lambda options: ("_text",),
}

# Outputs that the commands write by path at the end of the work: checked
# before it, so that a path that cannot be written does not waste the run.
CHECKED_OUTPUTS = ("pairs", "report", "model_out")


def main(argv=None):
    parser = build_parser()
    options = parse_arguments(parser, argv)
    if options.command == "data":
        return options.run(options)
    options.format_choices = [action for action in _commands(parser)[options.command]._actions
                              if "--format" in action.option_strings][0].choices
    stops = Stops()
    with stops:
        try:
            return _run(options, stops)
        except Terminated:
            # Only when SIGTERM came in the instant between an error's
            # handling and the clean-up, which has been done.
            sys.stderr.write("addrnorm: terminated\n")
            return 128 + signal.SIGTERM


def _run(options, stops):
    messages = LibraryMessages()
    out = options.listing = None
    status = 2
    try:
        with messages, warnings.catch_warnings():
            # The command says these itself: at the end of a run, or as a
            # usage error.
            warnings.simplefilter("ignore", LabelWarning)
            warnings.simplefilter("ignore", UnknownLanguageWarning)
            options.format, options.csv_style = output_format(options, options.format_choices)
            calls.set_up(*SET_UP[options.command](options))
            out = Output(options.output)
            if options.bad_records:
                options.listing = Output(options.bad_records)
            for name in CHECKED_OUTPUTS:
                if getattr(options, name, None):
                    check_writable(getattr(options, name))
            run = options.run(options, out)
            status = run.finish()
            out.finish()
        # A run whose output failed has no summary to give.
        run.report()
    except addrnorm.LibpostalLoadError as error:
        sys.stderr.write("addrnorm: %s\n" % error)
        status = 2
        # Its one line names what libpostal's own messages of the failed
        # set-up name, and the fix.
        messages.messages = []
    except (InputError, WorkerLost) as error:
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
        stops.hold()
        sys.stderr.write("addrnorm: interrupted\n")
        status = 130
    except Terminated:
        sys.stderr.write("addrnorm: terminated\n")
        status = 128 + signal.SIGTERM
    except Exception as error:  # noqa: BLE001 - anything else is a fault of the code
        # Not the user's input (status 2): its traceback, then one line to
        # say so, last, where a reader looks first.
        traceback.print_exc()
        sys.stderr.write("addrnorm: internal error, a fault in addrnorm and not in the input (%s: %s); the "
                         "traceback above shows where\n" % (type(error).__name__, error))
        status = 1
    finally:
        stops.hold()
        stop_workers()
        for output in (out, options.listing):
            if output is not None:
                output.discard()
        for line in messages.summary():
            sys.stderr.write(line + "\n")
    return status
