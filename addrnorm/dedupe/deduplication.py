"""One de-duplication run, as a pipeline: records in, then libpostal's
features (addrnorm.dedupe.features), the candidate pairs (blocking), the
model (learned from the records, or given), the scored pairs, and clusters
of the pairs whose match probability reaches the threshold.  The command
(addrnorm dupes) and find_duplicates both run it; each stage is a method,
called once, in order, given the progress to show and the counts to keep."""
import contextlib
import logging
from typing import Any

from addrnorm.dedupe import model, prior, training
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


class Quiet:
    """Progress that shows nothing: find_duplicates', and the default of
    each stage.  The command passes its own (addrnorm.cli.progress.Stages):
    an object with stage(name), a context manager around a stage."""

    def stage(self, name):
        return contextlib.nullcontext()


class Counts:
    """What the stages count, for a run's summary: the pairs compared and
    those matched, and the sessions of expectation maximisation that
    learned the model's m (None: a saved model was applied)."""

    def __init__(self):
        self.compared = self.matched = 0
        self.learned = None


class Deduplication:
    """The stages of a run after its features, each entered once, in order:
    candidates (blocking), learn_model (learned from the records, or
    given), clusters (the pairs scored, and clustered at the threshold).
    Each takes the progress to show and the counts to keep."""

    def __init__(self, fields, threshold=model.DEFAULT_THRESHOLD, max_block=model.DEFAULT_MAX_BLOCK,
                 engine="duckdb", memory_limit=None, temp_dir=None, trained=None, explain=False, libpostal=True):
        """fields: the compared fields (addrnorm.dedupe.fields); trained: a
        saved model (its JSON as a dict, or a path) applied instead of
        learning one; explain: keep what each pair's explanation needs;
        libpostal=False: the model without libpostal's levels and keys."""
        if not 0.0 < threshold < 1.0:
            raise RefusedInput("the threshold is a match probability between 0 and 1, not %r" % (threshold,))
        if max_block < 2:
            raise RefusedInput("the largest block must hold at least 2 records, not %r" % (max_block,))
        self.fields, self.threshold, self.max_block = fields, threshold, max_block
        self.engine_options = (engine, memory_limit, temp_dir)
        self.trained, self.explain, self.libpostal = trained, explain, libpostal
        # Records fed to the candidates: below 2, nothing is compared.
        self.count = 0
        # Set by the stages: the engine, Splink's linker and its tables.
        self.engine: Any = None
        self.table: Any = None
        self.linker: Any = None
        self.predictions: Any = None
        self.clustered: Any = None

    def candidates(self, records, forms, progress=None):
        """The feature tables (features.Records and Forms) loaded into the
        engine, and the pairs to compare: those that share a blocking key
        or value in blocks of at most max_block records."""
        progress = progress or Quiet()
        self.count = records.count
        if self.count < 2:
            # Nothing to compare: each record is a cluster of its own.
            return
        filled = [field for field in self.fields if records.filled[field.name]]
        if not filled:
            raise RefusedInput("no record has a value in a field with one of libpostal's labels (%s)" % (
                ", ".join(field.column for field in self.fields) or "none"))
        self.fields = filled
        with _quiet_splink(), progress.stage("blocking"):
            self.engine = make_engine(*self.engine_options)
            self.table = self.engine.load(records.table(), forms.table(), self.fields, self.max_block)

    def learn_model(self, progress=None, counts=None):
        """The model: the saved one given, or one learned from the records."""
        from splink import Linker

        progress, counts = progress or Quiet(), counts if counts is not None else Counts()
        if self.count < 2:
            return
        table = self.table
        with _quiet_splink():
            if self.trained is not None:
                settings = model.saved_settings(self.trained, self.fields, self.explain, self.engine.name)
                # A saved model may hold an m of 0 that its training learned.
                training.tolerate_learned_zeros()
                self.linker = Linker(table, settings, log_level=None)
            else:
                with progress.stage("training"):
                    together = training.where_goes_together(self.fields, self.engine)
                    self.linker = Linker(table, model.settings(self.fields, self.explain, self.libpostal, together),
                                         log_level=None)
                    counts.learned = training.train(self.linker, self.fields, self.engine.pair_counts, self.count,
                                                    together, self.engine.row)

    def clusters(self, progress=None, counts=None):
        """Every candidate pair scored, and the pairs whose match probability
        reaches the threshold clustered: the cluster number of each record,
        from 1 in order of first appearance."""
        progress, counts = progress or Quiet(), counts if counts is not None else Counts()
        if self.count < 2:
            return list(range(1, self.count + 1))
        with _quiet_splink():
            with progress.stage("scoring"):
                # Every pair blocking brings is scored and kept, so that the
                # pairs compared are counted, and explained when asked.
                self.predictions = self.linker.inference.predict()
                counts.compared = self.engine.count("SELECT count(*) FROM %s" % self.predictions.physical_name)
                # A model learned here takes its prior from all the pairs
                # it scored (addrnorm.dedupe.prior); a given one keeps its.
                shift = 0.0 if self.trained is not None else prior.settle(
                    self.linker, self.predictions, self.count, self.engine.row)
                if shift and self.explain:
                    # The pairs shown carry the settled prior's weights.
                    self.predictions, shift = self.linker.inference.predict(), 0.0
            with progress.stage("clustering"):
                threshold = prior.threshold_before(self.threshold, shift)
                clustered = self.clustered = self.linker.clustering.cluster_pairwise_predictions_at_threshold(
                    self.predictions, threshold)
                counts.matched = self.engine.count("SELECT count(*) FROM %s WHERE match_probability >= %r" % (
                    self.predictions.physical_name, threshold))
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
