"""Near-duplicate blocking on Apache Spark: which records share a key.

Each executor's Python worker sets libpostal up once, the first time it calls
a function (the workers are reused between tasks, so that is once per worker
process, not per record or per task), and hashes whole partitions.

    spark-submit examples/spark_dupes.py     # or run it with pyspark installed
"""
import os


def hash_partition(rows):
    """(record id, {label: value}) rows to (key, record id) pairs."""
    from addrnorm import near_dupe_hashes  # imported on the executor

    for record_id, record in rows:
        labels, values = zip(*record.items()) if record else ((), ())
        for key in near_dupe_hashes(labels, values, address_only_keys=1) or ():
            yield key, record_id


def blocks(spark, records, partitions=4):
    """{key: sorted record ids} for keys shared by several records: the
    blocks whose pairs a de-duplication compares (addrnorm dupes --engine
    spark runs the whole model on Spark)."""
    # The executors unpickle hash_partition by its module: ship this file.
    spark.sparkContext.addPyFile(os.path.abspath(__file__))
    pairs = spark.sparkContext.parallelize(list(enumerate(records)), partitions).mapPartitions(hash_partition)
    return dict(pairs.groupByKey().mapValues(sorted).filter(lambda block: len(block[1]) > 1).collect())


if __name__ == "__main__":
    from pyspark.sql import SparkSession

    spark = SparkSession.builder.master("local[2]").appName("addrnorm").getOrCreate()
    sample = [{"house": "Whole Foods", "road": "Franklin Ave", "house_number": "781", "postcode": "11216"},
              {"house": "Whole Foods Market", "road": "Franklin Avenue", "house_number": "781",
               "postcode": "11216"}]
    print(blocks(spark, sample))
    spark.stop()
