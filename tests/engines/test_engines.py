"""The Spark and Dask examples against the single-process result (nox -s engines)."""
import os
import sys

import pytest

from addrnorm import near_dupe_hashes

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "examples"))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "bench"))
from workload import RECORDS  # noqa: E402

# Records that repeat fields of others, so that there are clusters to find.
PLACES = [dict(fields) for fields in RECORDS[:120]] + [{"city": "Nowhere %d" % n} for n in range(20)]


def single_process():
    blocks = {}
    for number, record in enumerate(PLACES):
        labels, values = zip(*record.items())
        for key in near_dupe_hashes(labels, values, address_only_keys=1) or ():
            blocks.setdefault(key, []).append(number)
    return {key: ids for key, ids in blocks.items() if len(ids) > 1}


def test_the_reference_has_blocks_to_find():
    blocks = single_process()
    assert blocks and any(len(ids) > 2 for ids in blocks.values())


def test_spark_matches_the_single_process_result():
    pytest.importorskip("pyspark")
    from pyspark.sql import SparkSession
    import spark_dupes

    spark = (SparkSession.builder.master("local[2]").appName("addrnorm-test")
             .config("spark.ui.enabled", "false").config("spark.python.worker.reuse", "true").getOrCreate())
    try:
        assert spark_dupes.blocks(spark, PLACES, partitions=4) == single_process()
    finally:
        spark.stop()


def test_dask_matches_the_single_process_result():
    pytest.importorskip("dask")
    import dask_dupes

    assert dask_dupes.blocks(PLACES, partitions=4) == single_process()


# What the de-duplication's model compares of a generated person.
PERSONS = "given=house,surname=house,number=house_number,street=road,unit=unit,zip=postcode,town=city"


@pytest.mark.skipif(sys.version_info < (3, 10), reason="de-duplication needs Python 3.10 or newer (Splink 5)")
def test_a_model_learned_on_duckdb_clusters_alike_on_spark(tmp_path):
    """Spark runs the SQL written for it, not DuckDB's that the model was
    saved with: learned on one engine, the model applies on the other.
    The command runs in a process of its own, as Spark's driver must load
    Splink's jar when it starts."""
    import subprocess

    import dedupe_data

    with open(tmp_path / "persons.csv", "w", encoding="utf-8") as file:
        dedupe_data.generate("persons", 400, 3, file, None)
    model = str(tmp_path / "model.json")

    def dupes(name, *options):
        out = str(tmp_path / name)
        subprocess.run([sys.executable, "-m", "addrnorm", "dupes", str(tmp_path / "persons.csv"), "--map", PERSONS,
                        "-o", out, *options], check=True)
        with open(out, encoding="utf-8") as file:
            return [line.rsplit(",", 2)[1:] for line in file]

    on_duckdb = dupes("duckdb.csv", "--model-out", model)
    assert sum(1 for cluster, size in on_duckdb[1:] if size.strip() != "1") > 40
    assert dupes("spark.csv", "--engine", "spark", "--model", model) == on_duckdb
