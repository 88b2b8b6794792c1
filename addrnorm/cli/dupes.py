"""The dupes command, a pipeline whose stages run once each, in order: read
the records; their fields; their features (each record's near-duplicate
keys and each distinct value's expansions, made by libpostal in the
workers); the candidate pairs (blocking); the model (addrnorm.dedupe),
learned from the records or given; the clusters of the scored pairs; and
each record written with its cluster and the cluster's size.  Each stage is
handed the progress to show and the counts to keep.  Records wait on disk
for the writing, as JSON lines."""
import array
import json
import tempfile
from typing import Dict

from addrnorm.cli.errors import InputError, OutputError
from addrnorm.cli.places import Keys, read_places
from addrnorm.cli.progress import Progress, Stages, count
from addrnorm.cli.run import Run
from addrnorm.cli.workers import processed
from addrnorm.cli.writers import RecordWriter
from addrnorm.dedupe import available, features
from addrnorm.dedupe.errors import RefusedInput
from addrnorm.dedupe.fields import LABEL_KINDS, fields_of

# Cluster sizes told apart in the summary; larger ones are counted together.
SIZES_SHOWN = 4


def command_dupes(options, out):
    missing = available()
    if missing:
        raise InputError("dupes: " + missing)
    from addrnorm.dedupe.deduplication import Counts, Deduplication

    run, stages, counts = Run(options), Stages(options.quiet), Counts()
    trained = _load_model(options.model) if options.model else None
    source, records, header, job = read_places(options)
    parse = tuple(options.parse or ())
    fields = compared_fields(header, job, parse)
    keys = Keys(job[0], header, parse)
    pairs_out = _open(options.pairs)
    try:
        with tempfile.TemporaryDirectory(prefix="addrnorm-dupes-") as folder, Store(folder) as store:
            dedupe = _refused(Deduplication, fields, options.threshold, options.max_block, options.engine,
                              options.memory_limit, options.temp_dir or folder, trained=trained,
                              explain=bool(pairs_out or options.report))
            try:
                table = keyed(records, source, fields, job, run, keys, store, folder)
                forms = expanded(table, options, job[3].get("languages"))
                _refused(dedupe.candidates, table, forms, stages)
                # The engine holds the features now.
                table.close()
                del table, forms
                _refused(dedupe.learn_model, stages, counts)
                clusters = dedupe.clusters(stages, counts)
                sizes = write_all(dedupe, clusters, store, pairs_out, options, out, header, run, stages,
                                  source.name)
            finally:
                dedupe.close()
    finally:
        if pairs_out is not None:
            pairs_out.close()
    run.summary(count(len(clusters), "record"), count(keys.count, "key"),
                count(counts.compared, "pair compared", "pairs compared"),
                count(counts.matched, "pair matched", "pairs matched"), describe_clusters(sizes))
    keys.warn(run)
    if counts.learned == 0:
        run.warn("the records are too few, or too alike, to learn the model's m probabilities from: Splink's "
                 "starting values were used; give a model learned on more records with --model")
    return run


def compared_fields(header, job, parse):
    """The fields stage: the columns compared, each under its label.  JSON
    Lines name their fields record by record: every label may be one."""
    mapping, lat, lon = job[:3]
    columns = header if header is not None else list(mapping) + [label for label in LABEL_KINDS if label not in mapping]
    return fields_of(mapping, [column for column in columns if column not in (lat, lon)], parse)


def keyed(records, source, fields, job, run, keys, store, folder):
    """The features stage, its records' side: each record's keys (and the
    parts of its one-line addresses) made in the workers, its values in the
    feature table (on disk in folder), the record itself on disk."""
    mapping, lat, lon, keywords = job[:4]
    parse = job[4] if len(job) > 4 else ()
    if parse:
        # Each one-line address parsed in the workers, which share the
        # parser's model.
        function, job, warm_up = (features.parsed_record_keys, (fields, keywords, lat, lon, parse),
                                  features.warm_up_parser)
    else:
        function, job, warm_up = features.record_keys, (fields, keywords, lat, lon), features.warm_up
    table = features.Records(fields, folder)
    progress = Progress.reading(source, run.options.quiet, "hashing")
    for number, record, result in run.results(records, source.name, progress, function, job, warm_up):
        parts, record_keys = result if parse else ({}, result)
        keys.add(record, record_keys)
        table.add(dict(record, **parts) if parts else record, record_keys)
        store.append(number, record)
    return table


def expanded(table, options, languages):
    """The features stage, its values' side: each distinct value's
    expansions and root forms, made in the workers."""
    forms = features.Forms()
    progress = Progress(options.quiet, "expanding", noun="value")
    try:
        for number, _, made, error in processed(table.values_to_expand(), features.value_forms, languages,
                                                options.jobs, features.warm_up):
            progress.advance()
            if error is not None:
                raise InputError("expanding a value: %s" % error)
            forms.add(number, made)
    finally:
        progress.close()
    return forms


def write_all(dedupe, clusters, store, pairs_out, options, out, header, run, stages, name):
    """The write stage: the model (--model-out), the pairs (--pairs), the
    report (--report), then every record with its cluster; returns the
    number of clusters of each size."""
    if options.model_out:
        _save(dedupe.save_model, options.model_out)
    if pairs_out is not None:
        with stages.stage("explaining"):
            explain(dedupe, pairs_out, store)
    if options.report:
        with stages.stage("reporting"):
            _save(dedupe.report, options.report)
    writer = RecordWriter(out, options.format, header, ("cluster", "cluster_size"), options.csv_style)
    sizes = write(store, clusters, options, writer, run, name)
    writer.close()
    return sizes


def _load_model(path):
    try:
        with open(path, encoding="utf-8") as file:
            return json.load(file)
    except OSError as error:
        raise InputError("--model: %s: %s" % (path, error.strerror)) from error
    except ValueError as error:
        raise InputError("--model: %s is not a saved model (%s)" % (path, error)) from error


def _refused(call, *arguments, **keywords):
    """A run the records or the options cannot make (no field to compare, a
    model of other fields) is the user's input error; any other error is a
    fault of the code, with its traceback."""
    try:
        return call(*arguments, **keywords)
    except RefusedInput as error:
        raise InputError(str(error)) from error


def explain(dedupe, out, store):
    from addrnorm.dedupe.explain import Pairs

    pairs = Pairs(out, dedupe.model(), dedupe.fields, dedupe.threshold)
    pairs.write_all(dedupe.pairs(pairs.columns), store.line)


def _open(path):
    """--pairs, opened before the work, so that a path that cannot be written
    stops the run at once."""
    if not path:
        return None
    try:
        return open(path, "w", encoding="utf-8")
    except OSError as error:
        raise OutputError("%s: %s" % (path, error.strerror)) from error


def _save(save, path):
    try:
        save(path)
    except OSError as error:
        raise OutputError("%s: %s" % (path, error.strerror)) from error


class Store:
    """The records of a run on disk, a JSON line each with its offset kept, to
    be written out with their clusters, in input order or a cluster after
    another."""

    def __init__(self, folder):
        self.file = tempfile.TemporaryFile("w+b", dir=folder)
        self.offsets, self.lines = array.array("q"), array.array("q")

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.file.close()

    def append(self, number, record):
        self.offsets.append(self.file.tell())
        self.lines.append(number)
        self.file.write(json.dumps(record, ensure_ascii=False).encode("utf-8") + b"\n")

    def line(self, index):
        return self.lines[index]

    def records(self, order=None):
        """(index, line, record) in input order, or in the order given."""
        self.file.flush()
        if order is None:
            self.file.seek(0)
            for index, text in enumerate(self.file):
                yield index, self.lines[index], json.loads(text.decode("utf-8"))
            return
        for index in order:
            self.file.seek(self.offsets[index])
            yield index, self.lines[index], json.loads(self.file.readline().decode("utf-8"))


def write(store, clusters, options, writer, run, name):
    """Writes every record (or, with --only-dupes, those in clusters of two
    or more, a cluster after another) with its cluster and its size; returns
    the number of clusters of each size."""
    sizes = [0] * (max(clusters, default=0) + 1)
    for cluster in clusters:
        sizes[cluster] += 1
    order = None
    if options.only_dupes:
        order = sorted((index for index, cluster in enumerate(clusters) if sizes[cluster] > 1),
                       key=lambda index: clusters[index])
    progress = Progress(options.quiet, "writing", len(order) if order is not None else len(clusters))
    try:
        for index, number, record in store.records(order):
            cluster = clusters[index]
            run.write(writer, name, number, record, (cluster, sizes[cluster]))
            progress.advance()
    finally:
        progress.close()
    by_size: Dict[int, int] = {}
    for size in sizes[1:]:
        by_size[size] = by_size.get(size, 0) + 1
    return by_size


def describe_clusters(by_size):
    """"3 clusters of 2 or more (2: 2, 3: 1), largest 3"."""
    several = {size: number for size, number in by_size.items() if size > 1}
    if not several:
        return "no cluster of 2 or more"
    shown = ", ".join("%d: %s" % (size, format(several[size], ",")) for size in sorted(several) if size < SIZES_SHOWN)
    more = sum(number for size, number in several.items() if size >= SIZES_SHOWN)
    if more:
        shown += (", " if shown else "") + "%d or more: %s" % (SIZES_SHOWN, format(more, ","))
    return "%s of 2 or more (%s), largest %s" % (count(sum(several.values()), "cluster"), shown,
                                                 format(max(several), ","))
