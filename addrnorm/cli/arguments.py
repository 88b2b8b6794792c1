"""The command line's shared pieces: argument types (a delimiter, an
encoding, a whole number in range, a probability), the option groups that
several commands take, and the output format the options choose."""
import argparse
import codecs
import os

from addrnorm.cli.errors import InputError
from addrnorm.cli.writers import CsvStyle
from addrnorm.dedupe.model import DEFAULT_MAX_BLOCK, DEFAULT_THRESHOLD
from addrnorm.options import FLAG_DEFAULTS, GEOHASH_LENGTH, GEOHASH_PRECISION, HASH_FLAGS


class Switch(argparse.Action):
    """--FLAG and --no-FLAG, one line in --help: on, off, or left out for
    libpostal's default."""

    def __init__(self, option_strings, dest, default=None, help=None):
        negative = ["--no-" + option[2:] for option in option_strings]
        super().__init__(option_strings + negative, dest, nargs=0, default=default, help=help)

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
        raise argparse.ArgumentTypeError("no encoding %r" % text) from None
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
                             "(default: DuckDB's, 80%% of the memory); on Spark, the driver's memory where "
                             "the command starts it (default: Spark's, 1GB)")
    engine.add_argument("--temp-dir", metavar="DIR",
                        help="where DuckDB spills what does not fit in memory (default: a temporary folder)")


def add_address_input(parser):
    """Where a command that reads an address a line finds them: the
    arguments, a FILE or standard input (addrnorm.cli.addresses)."""
    parser.add_argument("addresses", nargs="*",
                        help="addresses, or a FILE of them one per line (an argument alone that is a file); "
                             "none, or - alone: standard input")
    parser.add_argument("-i", "--input", help="a file of addresses, one per line; - for standard input "
                                              "(default: standard input when no address is given)")


def add_parse(parser, parts):
    """--parse of hash and dupes; parts: what becomes of the parsed parts."""
    parser.add_argument("--parse", action="append", metavar="COLUMN",
                        help="a column holding a one-line address: libpostal's parser splits it into labelled "
                             "parts%s (a column of the record under the same label wins); repeatable; loads the "
                             "parser, 2 GB (default: none)" % parts)


def add_addresses(parser):
    add_address_input(parser)
    parser.add_argument("--format", choices=["text", "jsonl", "csv"],
                        help="text: a line per input (language) or a line per token and a blank line (tokens); "
                             "jsonl: an object per input with its line number; csv: line, input and the result "
                             "as JSON (default: text)")
