"""The addrnorm command's command line: each command's options, and the
function that runs it."""
import argparse

import addrnorm
from addrnorm.cli import data
from addrnorm.cli.arguments import (
    add_address_input,
    add_addresses,
    add_common,
    add_dedupe_options,
    add_hash_options,
    add_parse,
    add_switches,
)
from addrnorm.cli.expand import command_expand
from addrnorm.cli.hash import command_hash
from addrnorm.cli.language import command_language
from addrnorm.cli.parse import command_parse
from addrnorm.cli.tokens import command_tokens
from addrnorm.options import EXPAND_FLAGS


def command_dupes(options, out):
    # Splink, DuckDB and Arrow load only for the command that uses them.
    from addrnorm.cli.dupes import command_dupes as dupes

    return dupes(options, out)


def add_text_commands(commands):
    language = commands.add_parser("language", help="each address's most probable languages, libpostal's guess")
    add_addresses(language)
    language.add_argument("--top", type=int, default=3, metavar="N",
                          help="at most N languages per address, most probable first (default: 3)")
    add_common(language)
    language.set_defaults(run=command_language)

    tokens = commands.add_parser("tokens", help="each address's tokens and their types, libpostal's tokenizer")
    add_addresses(tokens)
    tokens.add_argument("--normalize", action="store_true",
                        help="libpostal's normalized tokens (lower case, Latin-ASCII, periods, hyphens and "
                             "apostrophes dropped, with its default options) instead of the text's own "
                             "(default: off)")
    tokens.add_argument("--whitespace", action="store_true", help="keep the whitespace tokens (default: off)")
    add_common(tokens)
    tokens.set_defaults(run=command_tokens)


def build_parser():
    # The package's own opening paragraph describes the command.
    from addrnorm import cli

    parser = argparse.ArgumentParser(prog="addrnorm", description=(cli.__doc__ or "").split("\n\n")[0])
    parser.add_argument("--version", action="version", version="addrnorm " + addrnorm.__version__)
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True

    expand = commands.add_parser("expand", help="every normalized form of each address")
    add_address_input(expand)
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
    add_address_input(parsing)
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
    add_parse(hashing, " that join the record's fields")
    add_common(hashing)
    hashing.set_defaults(run=command_hash)

    dupes = commands.add_parser("dupes", help="group duplicate records into clusters: a probabilistic model "
                                              "learned from the records, on libpostal's expansions and keys")
    add_hash_options(dupes)
    add_parse(dupes, ", each compared as a field of its own")
    add_common(dupes)
    add_dedupe_options(dupes)
    dupes.set_defaults(run=command_dupes)

    add_text_commands(commands)
    data.add_command(commands)
    return parser


def parse_arguments(parser, argv):
    """The options; an argument a command does not take is shown with that
    command's usage, not the top-level one (argparse leaves a command's
    unknown arguments to the top)."""
    options, unknown = parser.parse_known_args(argv)
    if unknown:
        command = commands_of(parser).get(getattr(options, "command", None), parser)
        hint = ""
        if options.command in ("hash", "dupes") and unknown[0] in ("-i", "--input"):
            hint = " (%s reads the FILE given as its argument: addrnorm %s FILE)" % (options.command, options.command)
        command.error("unrecognized arguments: %s%s" % (" ".join(unknown), hint))
    return options


def commands_of(parser):
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            return action.choices
    return {}
