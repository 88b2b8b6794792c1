"""The dupes command: records keyed over the blocking passes, candidate pairs
checked, the pairs that pass united into clusters, each record written with
its cluster and the cluster's size.  Hashing and checking run in the
workers; records wait on disk, and the keys as numbers in partitions on
disk, so memory does not grow with the keys."""
import collections
import json
import tempfile

from addrnorm.calls import key_one, warm_up_check, warm_up_hash
from addrnorm.commands import Keys, read_places
from addrnorm.dedupe import Check, Deduplication, Settings, check_pair
from addrnorm.parallel import processed
from addrnorm.passes import record_keys
from addrnorm.progress import Progress, Run, count
from addrnorm.records import InputError
from addrnorm.writers import RecordWriter

# Cluster sizes told apart in the summary; larger ones are counted together.
SIZES_SHOWN = 4


def command_dupes(options, out):
    run = Run(options)
    source, records, header, job = read_places(options)
    # The check reads the values in the languages the keys were made in.
    settings = Settings(languages=job[3].get("languages"), passes=options.passes, check=not options.no_check,
                        threshold=options.threshold, max_block=options.max_block, min_share=options.min_share)
    keys = Keys(job[0], header)
    with tempfile.TemporaryDirectory(prefix="addrnorm-dupes-") as folder:
        dedupe = Deduplication(settings, folder)
        try:
            progress = Progress.reading(source, options.quiet, "hashing")
            for number, record, (fields, call, numbers) in run.results(
                    records, source.name, progress, key_one, (job, settings.passes), warm_up_hash):
                keys.add(record, numbers)
                dedupe.add(fields, numbers, [number, record, call])
            clusters = dedupe.clusters(checked(dedupe, settings, options))
            writer = RecordWriter(out, options.format, header, ("cluster", "cluster_size"))
            sizes = write(dedupe, clusters, options, writer, run, source.name)
        finally:
            dedupe.close()
    blocks = dedupe.blocks
    summary = [count(len(clusters), "record"), count(keys.count, "key"),
               count(blocks.pair_count, "candidate pair"), count(dedupe.matched, "pair matched", "pairs matched"),
               describe_clusters(sizes)]
    if dedupe.kept_apart:
        summary.append("%s kept apart (their clusters' house numbers differ)" % count(dedupe.kept_apart, "pair"))
    if blocks.sharing_too_little:
        summary.append("%s sharing under %s of their keys" % (count(blocks.sharing_too_little, "pair"),
                                                                 format(settings.min_share, "g")))
    if blocks.skipped:
        summary.append("%s skipped (over %s records; the largest %s)" % (
            count(blocks.skipped, "block"), format(settings.max_block, ","), format(blocks.largest_skipped, ",")))
    run.summary(*summary)
    keys.warn(run)
    return run


def checked(dedupe, settings, options):
    """Yields the candidate pairs that pass the check, as (first, second)
    record indexes; each one compared written to --pairs when asked."""
    store = dedupe.store
    store.seal()
    pairs_out = open(options.pairs, "w", encoding="utf-8") if options.pairs else None
    explanations = Explanations(store, settings, pairs_out) if pairs_out else None
    progress = Progress(options.quiet, "comparing", noun="pair")
    try:
        items = enumerate(dedupe.candidate_pairs())
        jobs = options.jobs if settings.check else 1
        check = Check(store, settings, explain=pairs_out is not None)
        for _, pair, result, error in processed(items, check_pair, check, jobs, warm_up_check):
            progress.advance()
            if error is not None:
                raise InputError("comparing records %d and %d: %s" % (pair[0], pair[1], error))
            score, verdicts, passed = result
            if explanations is not None:
                explanations.write(pair, score, verdicts, passed)
            if passed:
                yield pair
    finally:
        progress.close()
        if pairs_out is not None:
            pairs_out.close()


class Explanations:
    """The lines of --pairs: the two records' input lines, the keys they
    share, each field's verdict, the score and whether the pair was united.
    The keys, kept only as numbers, are made again as str; pairs come a first
    record at a time, so the last records' keys are kept for the next pair."""

    KEPT = 4096

    def __init__(self, store, settings, out):
        self.store, self.settings, self.out = store, settings, out
        self.keys = collections.OrderedDict()

    def _keys(self, index):
        if index in self.keys:
            self.keys.move_to_end(index)
            return self.keys[index]
        fields, kept = self.store[index]
        keys = self.keys[index] = (kept[0], record_keys(list(fields), list(fields.values()), kept[2],
                                                        self.settings.passes))
        if len(self.keys) > self.KEPT:
            self.keys.popitem(last=False)
        return keys

    def write(self, pair, score, verdicts, passed):
        (first, keys1), (second, keys2) = self._keys(pair[0]), self._keys(pair[1])
        self.out.write(json.dumps({"a": first, "b": second, "keys": sorted(keys1 & keys2), "fields": verdicts,
                                   "score": None if score is None else round(score, 4), "matched": passed},
                                  ensure_ascii=False) + "\n")


def write(dedupe, clusters, options, writer, run, name):
    """Writes every record (or, with --only-dupes, those in clusters of two
    or more, a cluster after another) with its cluster and its size; returns
    the number of clusters of each size."""
    import numpy

    sizes = numpy.bincount(clusters)
    order = range(len(clusters))
    if options.only_dupes:
        several = numpy.flatnonzero(sizes[clusters] > 1)
        order = several[numpy.argsort(clusters[several], kind="stable")].tolist()
    progress = Progress(options.quiet, "writing", len(order))
    try:
        for index in order:
            _, (number, record, _) = dedupe.store[index]
            cluster = int(clusters[index])
            run.write(writer, name, number, record, (cluster, int(sizes[cluster])))
            progress.advance()
    finally:
        progress.close()
    size, number = numpy.unique(sizes[1:], return_counts=True)
    return dict(zip(size.tolist(), number.tolist()))


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
