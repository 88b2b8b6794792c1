"""The addrnorm command's hash: the near-duplicate keys of each place record."""
from addrnorm.cli.calls import hash_one, warm_up_hash, warm_up_parsed_hash
from addrnorm.cli.places import Keys, read_places
from addrnorm.cli.progress import Progress, count
from addrnorm.cli.run import Run
from addrnorm.cli.writers import RecordWriter


def command_hash(options, out):
    run = Run(options)
    source, records, header, job = read_places(options)
    writer = RecordWriter(out, options.format, header, "keys", options.csv_style)
    keys = Keys(job[0], header, job[4] if len(job) > 4 else ())
    progress = Progress.reading(source, options.quiet, "hashing")
    warm_up = warm_up_parsed_hash if len(job) > 4 else warm_up_hash
    for number, record, result in run.results(records, source.name, progress, hash_one, job, warm_up):
        keys.add(record, result)
        run.write(writer, source.name, number, record, result)
    writer.close()
    run.summary(count(run.records, "record"), count(keys.count, "key"),
                count(keys.keyless, "record without keys", "records without keys"))
    keys.warn(run)
    return run
