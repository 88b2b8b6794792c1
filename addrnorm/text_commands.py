"""The addrnorm command's language and tokens: each address's most probable
languages, and its tokens with their types, read and written as expand reads
and writes addresses (arguments, -i FILE or standard input; text, jsonl or
csv; a blank line kept, with nothing found)."""
import json

import addrnorm
from addrnorm.commands import address_lines, language_list
from addrnorm.progress import Run, count
from addrnorm.records import InputError


def add_commands(commands, add_common):
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


def add_addresses(parser):
    parser.add_argument("addresses", nargs="*",
                        help="addresses, or a FILE of them one per line (an argument alone that is a file); "
                             "none, or - alone: standard input")
    parser.add_argument("-i", "--input", help="a file of addresses, one per line; - for standard input "
                                              "(default: standard input when no address is given)")
    parser.add_argument("--format", choices=["text", "jsonl", "csv"],
                        help="text: a line per input (language) or a line per token and a blank line (tokens); "
                             "jsonl: an object per input with its line number; csv: line, input and the result "
                             "as JSON (default: text)")


# The calls per address, in this process or in forked workers.

def guess_one(address, top):
    if not address.strip():
        return []
    return [[code, probability] for code, probability in (addrnorm.classify_language(address) or ())[:top]]


def tokens_one(address, job):
    normalize, whitespace, languages = job
    if not address.strip():
        return []
    if normalize:
        found = addrnorm.normalized_tokens(address, whitespace=whitespace, languages=languages) or ()
        return [[token, kind.name if hasattr(kind, "name") else kind] for token, kind in found]
    found = addrnorm.tokenize(address, whitespace=whitespace, offsets=True) or ()
    return [[address[start:end], kind.name if hasattr(kind, "name") else kind, start, end]
            for start, end, kind in found]


def warm_up():
    addrnorm.tokenize("")


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


def command_language(options, out):
    if options.top < 1:
        raise InputError("--top takes a whole number of at least 1")
    if options.languages or options.delimiter:
        raise InputError("--languages and --delimiter do not go with language, which guesses the languages "
                         "of lines of text")
    run = Run(options)
    name, records, progress = address_lines(options, "guessing")
    writer = ResultWriter(out, options.format, "languages",
                          lambda guesses: ", ".join("%s %.4f" % (code, p) for code, p in guesses) + "\n",
                          options.csv_style)
    unknown = 0
    for number, address, guesses in run.results(records, name, progress, guess_one, options.top, warm_up, blank=""):
        writer.write(number, address, guesses)
        unknown += bool(address.strip()) and not guesses
    counts = [count(run.records, "address", "addresses")]
    if unknown:
        counts.append(count(unknown, "address without a guess", "addresses without a guess"))
    run.summary(*counts)
    return run


def command_tokens(options, out):
    if options.delimiter:
        raise InputError("--delimiter does not go with tokens, which reads lines of text")
    languages = language_list(options.languages) if options.languages else None
    if languages and not options.normalize:
        raise InputError("--languages goes with --normalize: the tokenizer itself takes no languages")
    run = Run(options)
    name, records, progress = address_lines(options, "tokenizing")
    writer = ResultWriter(out, options.format, "tokens",
                          lambda tokens: "".join("%s\t%s\n" % tuple(token[:2]) for token in tokens) + "\n",
                          options.csv_style)
    total = 0
    for number, address, tokens in run.results(records, name, progress, tokens_one,
                                               (options.normalize, options.whitespace, languages), warm_up,
                                               blank=""):
        writer.write(number, address, tokens)
        total += len(tokens)
    run.summary(count(run.records, "address", "addresses"), count(total, "token"))
    return run
