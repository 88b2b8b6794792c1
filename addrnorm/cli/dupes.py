"""The dupes command: each record's near-duplicate keys and each distinct
value's expansions made by libpostal in the workers, then the model
(addrnorm.dedupe) learned from the records, the pairs scored and clustered,
and each record written with its cluster and the cluster's size.  Records
wait on disk for the writing, as JSON lines."""
import array
import contextlib
import json
import tempfile
import threading
from typing import Dict

from addrnorm.cli.errors import InputError, OutputError
from addrnorm.cli.places import Keys, read_places
from addrnorm.cli.progress import REDRAW, Progress, count
from addrnorm.cli.run import Run
from addrnorm.cli.workers import processed
from addrnorm.cli.writers import RecordWriter
from addrnorm.dedupe import available, features
from addrnorm.dedupe.errors import RefusedInput
from addrnorm.dedupe.fields import LABEL_KINDS, fields_of, parsed_fields_of

# Cluster sizes told apart in the summary; larger ones are counted together.
SIZES_SHOWN = 4


def command_dupes(options, out):
    missing = available()
    if missing:
        raise InputError("dupes: " + missing)
    from addrnorm.dedupe.deduplication import Deduplication

    run = Run(options)
    trained = _load_model(options.model) if options.model else None
    source, records, header, job = read_places(options)
    mapping, lat, lon, keywords = job[:4]
    # JSON Lines name their fields record by record: every label may be one.
    columns = header if header is not None else list(mapping) + [label for label in LABEL_KINDS if label not in mapping]
    columns = [column for column in columns if column not in (lat, lon)]
    parse = tuple(options.parse or ())
    fields = parsed_fields_of(mapping, columns, parse) if parse else fields_of(mapping, columns)
    pairs_out = _open(options.pairs)
    keys = Keys(mapping, header, parse)
    try:
        with tempfile.TemporaryDirectory(prefix="addrnorm-dupes-") as folder, Store(folder) as store:
            dedupe = _refused(Deduplication, fields, options.threshold, options.max_block, options.engine,
                              options.memory_limit, options.temp_dir or folder, trained=trained,
                              explain=bool(pairs_out or options.report), phase=lambda name: phase(options.quiet, name))
            try:
                progress = Progress.reading(source, options.quiet, "hashing")
                if parse:
                    # Each one-line address parsed in the workers, which share
                    # the parser's model.
                    function, job, warm_up = (features.parsed_record_keys, (fields, keywords, lat, lon, parse),
                                              features.warm_up_parser)
                else:
                    function, job, warm_up = features.record_keys, (fields, keywords, lat, lon), features.warm_up
                for number, record, result in run.results(records, source.name, progress, function, job, warm_up):
                    parts, record_keys = result if parse else ({}, result)
                    keys.add(record, record_keys)
                    dedupe.add(dict(record, **parts) if parts else record, record_keys)
                    store.append(number, record)
                expand(dedupe, options, keywords.get("languages"))
                clusters = _refused(dedupe.run)
                if options.model_out:
                    _save(dedupe.save_model, options.model_out)
                if pairs_out is not None:
                    with phase(options.quiet, "explaining"):
                        explain(dedupe, pairs_out, store)
                if options.report:
                    with phase(options.quiet, "reporting"):
                        _save(dedupe.report, options.report)
                writer = RecordWriter(out, options.format, header, ("cluster", "cluster_size"), options.csv_style)
                sizes = write(store, clusters, options, writer, run, source.name)
                writer.close()
            finally:
                dedupe.close()
    finally:
        if pairs_out is not None:
            pairs_out.close()
    run.summary(count(len(clusters), "record"), count(keys.count, "key"),
                count(dedupe.compared, "pair compared", "pairs compared"),
                count(dedupe.matched, "pair matched", "pairs matched"), describe_clusters(sizes))
    keys.warn(run)
    if dedupe.learned == 0:
        run.warn("the records are too few, or too alike, to learn the model's m probabilities from: Splink's "
                 "starting values were used; give a model learned on more records with --model")
    return run


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


def expand(dedupe, options, languages):
    """Each distinct value's expansions and root forms, in the workers."""
    progress = Progress(options.quiet, "expanding", noun="value")
    try:
        for number, _, forms, error in processed(dedupe.values_to_expand(), features.value_forms, languages,
                                                 options.jobs, features.warm_up):
            progress.advance()
            if error is not None:
                raise InputError("expanding a value: %s" % error)
            dedupe.add_forms(number, forms)
    finally:
        progress.close()


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


@contextlib.contextmanager
def phase(quiet, name):
    """A stage that counts nothing: its name and the time it has taken, on a
    terminal."""
    progress = Progress(quiet, name, noun="second")
    if progress.bar is None:
        yield
        return
    done = threading.Event()

    bar = progress.bar

    def tick():
        while not done.wait(REDRAW):
            bar.refresh()

    ticker = threading.Thread(target=tick, daemon=True)
    ticker.start()
    try:
        yield
    finally:
        done.set()
        ticker.join()
        progress.bar.set_postfix_str("done", refresh=False)
        progress.bar.close()
        progress.bar = None


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
