"""One de-duplication run, as a pipeline: records in, then libpostal's
features, the model (learned from the records, or given), the scored pairs,
and clusters of the pairs whose match probability reaches the threshold.
The command (addrnorm dupes) and find_duplicates both run it; each stage is
a method, called once, in order."""
import contextlib
import logging
from typing import Any

from addrnorm.dedupe import features, model, training
from addrnorm.dedupe.engine import engine as make_engine
from addrnorm.dedupe.errors import RefusedInput


@contextlib.contextmanager
def _quiet_splink():
    """Splink's own warnings (a level that the input never reaches, a
    default that was kept) concern its tuning, which this run does for the
    user; they would only clutter standard error."""
    logger = logging.getLogger("splink")
    level = logger.level
    logger.setLevel(logging.ERROR)
    try:
        yield
    finally:
        logger.setLevel(level)


def _no_phase(name):
    return contextlib.nullcontext()


class Deduplication:
    def __init__(self, fields, threshold=model.DEFAULT_THRESHOLD, max_block=model.DEFAULT_MAX_BLOCK,
                 engine="duckdb", memory_limit=None, temp_dir=None, trained=None, explain=False, phase=None,
                 libpostal=True):
        """fields: the compared fields (addrnorm.dedupe.fields); trained: a
        saved model (its JSON as a dict, or a path) applied instead of
        learning one; explain: keep what each pair's explanation needs;
        phase(name): a context manager around each stage, for progress;
        libpostal=False: the model without libpostal's levels and keys."""
        if not 0.0 < threshold < 1.0:
            raise RefusedInput("the threshold is a match probability between 0 and 1, not %r" % (threshold,))
        if max_block < 2:
            raise RefusedInput("the largest block must hold at least 2 records, not %r" % (max_block,))
        self.fields, self.threshold, self.max_block = fields, threshold, max_block
        self.engine_options = (engine, memory_limit, temp_dir)
        self.trained, self.explain, self.libpostal = trained, explain, libpostal
        self.phase = phase or _no_phase
        # The feature tables, until the engine has loaded them.
        self.records: Any = features.Records(fields)
        self.forms: Any = features.Forms()
        # Set by run(): the engine, Splink's linker and its tables.
        self.engine: Any = None
        self.linker: Any = None
        self.predictions: Any = None
        self.clustered: Any = None
        self.compared = self.matched = 0
        # Sessions of expectation maximisation that learned m (None: the
        # model was given).
        self.learned = None

    # Stage 1, a record at a time: its values and keys (record_keys).
    def add(self, record, keys):
        self.records.add(record, keys)

    # Stage 2: the expansions of each distinct value (value_forms).
    def values_to_expand(self):
        return self.records.values_to_expand()

    def add_forms(self, number, forms):
        self.forms.add(number, forms)

    # Stages 3 to 5.
    def run(self):
        """Blocks, learns (or takes) the model, scores the pairs and clusters
        them; returns the cluster number of each record, from 1 in order
        of first appearance."""
        from splink import Linker

        with _quiet_splink():
            if self.records.count < 2:
                # Nothing to compare: each record is a cluster of its own.
                return list(range(1, self.records.count + 1))
            filled = [field for field in self.fields if self.records.filled[field.name]]
            if not filled:
                raise RefusedInput("no record has a value in a field with one of libpostal's labels (%s)" % (
                    ", ".join(field.column for field in self.fields) or "none"))
            self.fields = filled
            with self.phase("blocking"):
                self.engine = make_engine(*self.engine_options)
                table = self.engine.load(self.records.table(), self.forms.table(), self.fields, self.max_block)
                self.records = self.forms = None
            if self.trained is not None:
                try:
                    settings = model.saved_settings(self.trained, self.fields, self.explain)
                except ValueError as error:
                    # A model that is none, or one of other fields: the
                    # user's to mend, whatever error saved_settings gives.
                    raise RefusedInput(str(error)) from error
                # A saved model may hold an m of 0 that its training learned.
                training.tolerate_learned_zeros()
                self.linker = Linker(table, settings, log_level=None)
            else:
                with self.phase("training"):
                    count = self.engine.count("SELECT count(*) FROM records")
                    together = training.where_goes_together(self.fields, self.engine)
                    self.linker = Linker(table, model.settings(self.fields, self.explain, self.libpostal, together),
                                         log_level=None)
                    self.learned = training.train(self.linker, self.fields, self.engine.pair_counts, count,
                                                  together, self.engine.row)
            with self.phase("scoring"):
                # Every pair blocking brings is scored and kept, so that the
                # pairs compared are counted, and explained when asked.
                self.predictions = self.linker.inference.predict()
                self.compared = self.engine.count("SELECT count(*) FROM %s" % self.predictions.physical_name)
            with self.phase("clustering"):
                clustered = self.clustered = self.linker.clustering.cluster_pairwise_predictions_at_threshold(
                    self.predictions, self.threshold)
                self.matched = self.engine.count("SELECT count(*) FROM %s WHERE match_probability >= %r" % (
                    self.predictions.physical_name, self.threshold))
                return self.engine.clusters(clustered)

    def pairs(self, columns):
        """The scored pairs' columns named, a row at a time (explain=True)."""
        return self.engine.rows(self.predictions, columns)

    def report(self, path):
        """Splink's two dashboards in one HTML file: the comparison viewer
        (the pairs by the levels their fields fell into, with examples and
        their weights) and the cluster studio (clusters drawn as graphs of
        their scored pairs)."""
        from addrnorm.dedupe.report import write_report

        write_report(self.linker, self.predictions, self.clustered, path)

    def model(self):
        """The trained model, as Splink's JSON settings (a dict)."""
        return self.linker.misc.save_model_to_json()

    def save_model(self, path):
        self.linker.misc.save_model_to_json(path, overwrite=True)

    def close(self):
        if self.engine is not None:
            self.engine.close()
            self.engine = None
