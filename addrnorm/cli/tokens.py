"""The addrnorm command's tokens: each address's tokens with their types
(libpostal's tokenizer, or its normalized tokens), read and written as
expand reads and writes addresses (arguments, -i FILE or standard input;
text, jsonl or csv; a blank line kept, with nothing found)."""
from addrnorm.cli.addresses import address_lines, language_list
from addrnorm.cli.calls import tokens_one, warm_up_text
from addrnorm.cli.errors import InputError
from addrnorm.cli.progress import count
from addrnorm.cli.run import Run
from addrnorm.cli.writers import ResultWriter


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
                                               (options.normalize, options.whitespace, languages), warm_up_text,
                                               blank=""):
        writer.write(number, address, tokens)
        total += len(tokens)
    run.summary(count(run.records, "address", "addresses"), count(total, "token"))
    return run
