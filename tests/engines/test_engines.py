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
