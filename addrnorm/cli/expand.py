"""The addrnorm command's expand: every normalized form of each address (a
line each, or one field of each record with --column)."""
from addrnorm import AddressComponent
from addrnorm.cli.addresses import address_lines, input_path, language_list, split_list
from addrnorm.cli.calls import expand_field, expand_one, warm_up_expand
from addrnorm.cli.errors import InputError
from addrnorm.cli.progress import Progress, count
from addrnorm.cli.readers import blank, column_records
from addrnorm.cli.run import Run
from addrnorm.cli.writers import ExpansionWriter, RecordWriter
from addrnorm.options import EXPAND_FLAGS


def command_expand(options, out):
    run = Run(options)
    keywords = expand_keywords(options)
    if options.column:
        return expand_column(options, out, run, keywords)
    name, records, progress = address_lines(options, "expanding")
    writer = ExpansionWriter(out, options.format or "text", options.csv_style)
    expansions = 0
    # A blank line is written too, as an input without expansions: the
    # output keeps a place for every line.
    for number, address, result in run.results(records, name, progress, expand_one, keywords, warm_up_expand,
                                               blank=""):
        writer.write(number, address, result)
        expansions += len(result or ())
    run.summary(count(run.records, "address", "addresses"), count(expansions, "expansion"))
    return run


def expand_column(options, out, run, keywords):
    """--column: one field of each record expanded, the record written through."""
    source, records, header = column_records(input_path(options), options)
    writer = RecordWriter(out, options.format or "csv", header, "expansions", options.csv_style)
    expansions = blanks = 0
    progress = Progress.reading(source, options.quiet, "expanding")
    for number, record, result in run.results(records, source.name, progress, expand_field,
                                              (options.column, keywords), warm_up_expand):
        run.write(writer, source.name, number, record, result)
        expansions += len(result or ())
        blanks += blank(record.get(options.column))
    writer.close()
    run.summary(count(run.records, "record"), count(expansions, "expansion"),
                count(blanks, "blank address", "blank addresses"))
    return run


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
                    name, ", ".join(member.lower() for member in AddressComponent.__members__))) from None
        keywords["address_components"] = int(mask)
    if options.root:
        keywords["root"] = 1
    return keywords
