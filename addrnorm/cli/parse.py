"""The addrnorm command's parse: the labelled parts of each one-line address
(a line each, or one field of each record with --column)."""
from addrnorm.cli.addresses import address_lines, input_path
from addrnorm.cli.calls import parse_field, parse_one, warm_up_parse
from addrnorm.cli.errors import InputError
from addrnorm.cli.progress import Progress, count
from addrnorm.cli.readers import blank, column_records
from addrnorm.cli.run import Run
from addrnorm.cli.writers import ParsedWriter
from addrnorm.parsing import LABELS as PARSER_LABELS, check_codes


def command_parse(options, out):
    run = Run(options)
    try:
        codes = (options.language, check_codes(options.language, options.country))
    except ValueError as error:
        raise InputError("--%s" % error) from error
    if options.column:
        return parse_column(options, out, run, codes)
    name, records, progress = address_lines(options, "parsing")
    writer = ParsedWriter(out, options.format, PARSER_LABELS, style=options.csv_style)
    parts = 0
    # A blank line is written too, with no parts, so the output keeps a
    # place for every line.
    for number, address, result in run.results(records, name, progress, parse_one, codes, warm_up_parse, blank=""):
        writer.write(number, address, result)
        parts += len(result)
    writer.close()
    run.summary(count(run.records, "address", "addresses"), count(parts, "labelled part"))
    return run


def parse_column(options, out, run, codes):
    """--column: one field of each record parsed, the record written through."""
    source, records, header = column_records(input_path(options), options)
    writer = ParsedWriter(out, options.format, PARSER_LABELS, header, records=True, style=options.csv_style)
    parts = blanks = 0
    progress = Progress.reading(source, options.quiet, "parsing")
    for number, record, result in run.results(records, source.name, progress, parse_field, (options.column, codes),
                                              warm_up_parse):
        run.write(writer, source.name, number, record, result)
        parts += len(result)
        blanks += blank(record.get(options.column))
    writer.close()
    run.summary(count(run.records, "record"), count(parts, "labelled part"),
                count(blanks, "blank address", "blank addresses"))
    return run
