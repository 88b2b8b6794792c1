"""The addrnorm command's language: each address's most probable languages,
libpostal's guess, read and written as expand reads and writes addresses
(arguments, -i FILE or standard input; text, jsonl or csv; a blank line
kept, with nothing found)."""
from addrnorm.cli.addresses import address_lines
from addrnorm.cli.calls import guess_one, warm_up_text
from addrnorm.cli.errors import InputError
from addrnorm.cli.progress import count
from addrnorm.cli.run import Run
from addrnorm.cli.writers import ResultWriter


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
    for number, address, guesses in run.results(records, name, progress, guess_one, options.top, warm_up_text,
                                                blank=""):
        writer.write(number, address, guesses)
        unknown += bool(address.strip()) and not guesses
    counts = [count(run.records, "address", "addresses")]
    if unknown:
        counts.append(count(unknown, "address without a guess", "addresses without a guess"))
    run.summary(*counts)
    return run
