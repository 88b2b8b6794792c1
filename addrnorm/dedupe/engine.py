"""Where the model runs: DuckDB in this process (the default), or Spark.

An engine turns the feature tables (see addrnorm.dedupe.features) into the
model's input, one row a record, and hands results back.  Besides each
field's value, expansions and root forms, a row holds what blocking reads:
the near-duplicate keys that some other record shares, and each field's
value where no more than max_block records share it (NULL elsewhere: a
value that common brings pairs by the square of its count and tells
little).  So each blocking rule brings at most about max_block pairs a
record, whatever the size of the input.
"""
import os
import re
import shutil
import tempfile

from addrnorm.dedupe.errors import RefusedInput


def model_input_sql(fields, max_block, records="records_in", forms="forms"):
    """The SELECT that makes the model's input from the two feature tables
    (Spark SQL and DuckDB both read it)."""
    cap = int(max_block)
    columns = ["r.unique_id"]
    joins = []
    for index, field in enumerate(fields):
        alias = "v%d" % index
        columns += ["r.{0}".format(field.written),
                    "{0}.x AS {1}".format(alias, field.expansions),
                    "{0}.r AS {1}".format(alias, field.roots),
                    "CASE WHEN count(r.{0}) OVER (PARTITION BY r.{0}) BETWEEN 2 AND {1} THEN r.{0} END AS {0}__b"
                    .format(field.written, cap)]
        joins.append("LEFT JOIN {0} AS {1} ON {1}.id = r.{2}__id".format(forms, alias, field.name))
    return """
        WITH exploded AS (SELECT unique_id, explode(keys) AS key FROM {records}),
             shared AS (SELECT key FROM exploded GROUP BY key HAVING count(*) BETWEEN 2 AND {cap}),
             kept AS (SELECT e.unique_id, collect_list(e.key) AS keys
                      FROM exploded AS e JOIN shared AS s ON e.key = s.key GROUP BY e.unique_id)
        SELECT {columns}, coalesce(k.keys, CAST(array() AS ARRAY<BIGINT>)) AS keys
        FROM {records} AS r LEFT JOIN kept AS k ON k.unique_id = r.unique_id
        {joins}""".format(records=records, cap=cap, columns=", ".join(columns), joins="\n        ".join(joins))


def pair_count_sql(names):
    columns = ", ".join(names)
    present = " AND ".join("%s IS NOT NULL" % name for name in names)
    return ("SELECT coalesce(sum(n * (n - 1) / 2), 0) FROM (SELECT count(*) AS n FROM records WHERE %s GROUP BY %s) "
            "AS g" % (present, columns))


def pair_counts(engine, groups):
    """The pairs that agree exactly on every column of each group."""
    return [int(engine.count(pair_count_sql(group))) for group in groups]


def same_street_sql(street, area, names):
    """The pairs on one street (its value where blocking keeps it) whose
    names all differ, and how many of them share the area field's value."""
    differ = " AND ".join("coalesce(l.{0} <> r.{0}, true)".format(field.written) for field in names)
    return ("SELECT count(*), sum(CASE WHEN l.{a} = r.{a} THEN 1 ELSE 0 END) FROM records AS l JOIN records AS r "
            "ON l.{s}__b = r.{s}__b AND l.unique_id < r.unique_id WHERE {d}").format(
                a=area.written, s=street.written, d=differ)


def kin_sql(name, others, street, number):
    """Of the pairs whose other names plainly differ (more than two edits
    apart and another first letter: no typo or initial of one name, so
    two people), those at one address (the street's value where blocking
    keeps it, and the house number) and how many of them share the name;
    then the same of those on one street at other numbers."""
    shared = "CASE WHEN {0} THEN 1 ELSE 0 END".format(_shared(name))
    return ("SELECT sum(CASE WHEN l.{h} = r.{h} THEN 1 ELSE 0 END), sum(CASE WHEN l.{h} = r.{h} THEN {s} ELSE 0 END), "
            "sum(CASE WHEN l.{h} <> r.{h} THEN 1 ELSE 0 END), sum(CASE WHEN l.{h} <> r.{h} THEN {s} ELSE 0 END) "
            "FROM records AS l JOIN records AS r ON l.{t}__b = r.{t}__b AND l.unique_id < r.unique_id "
            "WHERE {d}").format(h=number.written, s=shared, t=street.written, d=_plainly_differ(others))


def kin_area_sql(name, others, area, street):
    """The same as kin_sql, of the pairs in one area (the postcode's value
    where blocking keeps it) on other streets."""
    return ("SELECT count(*), sum(CASE WHEN {n} THEN 1 ELSE 0 END) FROM records AS l JOIN records AS r "
            "ON l.{a}__b = r.{a}__b AND l.unique_id < r.unique_id WHERE coalesce(l.{t} <> r.{t}, true) AND {d}").format(
                n=_shared(name), a=area.written, t=street.written, d=_plainly_differ(others))


def _shared(name):
    """The name as the kin comparison takes it shared: as written, or a
    keystroke apart (one of the two written with a typo)."""
    return "coalesce(levenshtein(l.{0}, r.{0}) <= 1, false)".format(name.written)


def _plainly_differ(names):
    return " AND ".join("coalesce(levenshtein(l.{0}, r.{0}) > 2 AND substr(l.{0}, 1, 1) <> substr(r.{0}, 1, 1), "
                        "false)".format(field.written) for field in names)


FIRST_APPEARANCE_SQL = """
    SELECT unique_id, dense_rank() OVER (ORDER BY first) AS cluster
    FROM (SELECT unique_id, min(unique_id) OVER (PARTITION BY cluster_id) AS first FROM {clusters}) AS c"""


class DuckDB:
    """DuckDB, in-process; memory_limit ("4GB") and temp_dir (where it spills
    what does not fit in it) are DuckDB's own settings."""

    name = "duckdb"

    def __init__(self, memory_limit=None, temp_dir=None):
        import duckdb
        from splink import DuckDBAPI

        self.connection = duckdb.connect()
        if memory_limit:
            self.run("SET memory_limit = '%s'" % memory_limit.replace("'", ""))
        if temp_dir:
            os.makedirs(temp_dir, exist_ok=True)
            self.run("SET temp_directory = '%s'" % temp_dir.replace("'", "''"))
        self.run("SET preserve_insertion_order = false")
        self.api = DuckDBAPI(connection=self.connection)

    def run(self, sql):
        """The rows of one statement, all fetched: DuckDB takes no other
        statement on the connection while a result is pending."""
        return self.connection.execute(sql).fetchall()

    def load(self, records, forms, fields, max_block):
        """The model's input, registered with Splink, from the Arrow tables
        (the records' may be a dataset of Parquet files)."""
        files = getattr(records, "files", None)
        if files:
            # Read by DuckDB itself, whose reader keeps to its memory limit:
            # Arrow's scanner, reading ahead, would not.
            self.run("CREATE VIEW records_in AS SELECT * FROM read_parquet([%s])" % ", ".join(
                "'%s'" % path.replace("'", "''") for path in files))
        else:
            self.connection.register("records_in", records)
        self.connection.register("forms", forms)
        sql = model_input_sql(fields, max_block).replace("explode(", "unnest(").replace(
            "collect_list(", "list(").replace("CAST(array() AS ARRAY<BIGINT>)", "[]::BIGINT[]")
        self.run("CREATE TABLE records AS " + sql)
        if files:
            self.run("DROP VIEW records_in")
        else:
            self.connection.unregister("records_in")
        self.connection.unregister("forms")
        return self.api.register("records", dataset_display_name="records")

    def count(self, sql):
        return self.run(sql)[0][0]

    def row(self, sql):
        return tuple(self.run(sql)[0])

    def pair_counts(self, groups):
        return pair_counts(self, groups)

    def clusters(self, clustered):
        """The cluster number of each record, from 1 in order of first
        appearance, as a list by record."""
        sql = FIRST_APPEARANCE_SQL.format(clusters=clustered.physical_name)
        return [row[0] for row in self.connection.execute(
            "SELECT cluster FROM (%s) AS n ORDER BY unique_id" % sql).fetchall()]

    def rows(self, table, columns, batch=4096):
        """The rows of a Splink table, as tuples of the columns named, a
        batch at a time."""
        result = self.connection.execute("SELECT %s FROM %s" % (", ".join(columns), table.physical_name))
        while True:
            rows = result.fetchmany(batch)
            if not rows:
                return
            yield from rows

    def close(self):
        self.connection.close()


class Spark:
    """Spark, through the session that SparkSession.builder gives (a cluster's,
    when spark-submit or the environment configures one; else local mode),
    with Splink's string-similarity functions on its classpath."""

    name = "spark"

    def __init__(self, memory_limit=None, temp_dir=None):
        from pyspark.sql import SparkSession
        from splink.backends.spark import SparkAPI, similarity_jar_location

        builder = SparkSession.builder
        if memory_limit:
            # The driver's memory, which is all of local mode's: it holds
            # only where this builder starts the driver.
            builder = builder.config("spark.driver.memory", _spark_size(memory_limit))

        # The planner's propagation of constraints works through every
        # condition of the model's levels at every step, which takes the
        # driver's memory and minutes a step: the model needs none of it.
        self.spark = (builder.appName("addrnorm dupes").config("spark.jars", similarity_jar_location())
                      .config("spark.ui.showConsoleProgress", "false").config("spark.sql.shuffle.partitions", "4")
                      .config("spark.default.parallelism", "4")
                      .config("spark.sql.constraintPropagation.enabled", "false").getOrCreate())
        self.api = SparkAPI(spark_session=self.spark, break_lineage_method="parquet")
        if not self.spark.catalog.functionExists("jaro_winkler"):
            # Splink registers them from its jar, which only a driver started
            # with it can load: not one whose JVM an earlier session began.
            raise RefusedInput("this Spark session lacks Splink's string similarity functions: start its driver "
                               "with spark.jars=%s (spark-submit --jars)" % similarity_jar_location())
        # Each intermediate table is written out as Parquet and read back,
        # which ends its lineage: a table kept in memory keeps its whole
        # plan, and clustering's iterations, each over the last, then grow
        # a plan the driver cannot hold.  They go to temp_dir (on a
        # cluster, storage every executor reaches), else to the session's
        # own checkpoint folder, else to a temporary folder of this run.
        # Made once the session is known to serve, so that a refusal leaves
        # no folder behind.
        self.own_dir = None
        if temp_dir:
            self.spark.sparkContext.setCheckpointDir(temp_dir)
        elif self.spark.sparkContext.getCheckpointDir() is None:
            self.own_dir = tempfile.mkdtemp(prefix="addrnorm-spark-")
            self.spark.sparkContext.setCheckpointDir(self.own_dir)

    def run(self, sql):
        return self.spark.sql(sql).collect()

    def count(self, sql):
        return self.run(sql)[0][0]

    def row(self, sql):
        return tuple(self.run(sql)[0])

    def load(self, records, forms, fields, max_block):
        # A table on disk is read here, in the driver: a cluster's executors
        # may not reach this machine's folders.
        if hasattr(records, "to_table"):
            records = records.to_table()
        self.spark.createDataFrame(records).createOrReplaceTempView("records_in")
        self.spark.createDataFrame(forms).createOrReplaceTempView("forms")
        table = self.spark.sql(model_input_sql(fields, max_block)).persist()
        table.createOrReplaceTempView("records")
        return self.api.register("records", dataset_display_name="records")

    def pair_counts(self, groups):
        return pair_counts(self, groups)

    def clusters(self, clustered):
        sql = FIRST_APPEARANCE_SQL.format(clusters=clustered.physical_name)
        return [row[0] for row in self.spark.sql(
            "SELECT cluster FROM (%s) AS n ORDER BY unique_id" % sql).toLocalIterator()]

    def rows(self, table, columns):
        for row in self.spark.sql("SELECT %s FROM %s" % (", ".join(columns), table.physical_name)).toLocalIterator():
            yield tuple(row)

    def close(self):
        # The session may be the caller's, or serve the next run: it stays.
        self.spark.catalog.dropTempView("records")
        if self.own_dir is not None:
            shutil.rmtree(self.own_dir, ignore_errors=True)


def _spark_size(size):
    """DuckDB's way of writing a size ("4GB", "512MiB") in Spark's ("4g")."""
    match = re.fullmatch(r"\s*(\d+)\s*([kmgt])i?b?\s*", size, re.IGNORECASE)
    if match is None:
        raise RefusedInput("a memory limit is a whole number of KB, MB, GB or TB, such as 4GB, not %r" % (size,))
    return match.group(1) + match.group(2).lower()


def engine(name, memory_limit=None, temp_dir=None):
    if name == "duckdb":
        return DuckDB(memory_limit, temp_dir)
    if name == "spark":
        return Spark(memory_limit, temp_dir)
    raise RefusedInput("no engine %r (the engines: duckdb, spark)" % (name,))
