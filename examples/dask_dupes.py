"""Near-duplicate blocking on Dask.

With the processes scheduler each worker process sets libpostal up once, on
its first call, and hashes whole partitions of the bag.

    python examples/dask_dupes.py
"""
from addrnorm.blocking import Clusters


def hash_partition(rows):
    """(record id, {label: value}) rows to (key, record id) pairs."""
    from addrnorm import near_dupe_hashes

    pairs = []
    for record_id, record in rows:
        labels, values = zip(*record.items()) if record else ((), ())
        pairs.extend((key, record_id) for key in near_dupe_hashes(labels, values, address_only_keys=1) or ())
    return pairs


def blocks_and_clusters(records, partitions=4, scheduler="processes"):
    import dask.bag

    bag = dask.bag.from_sequence(list(enumerate(records)), npartitions=partitions)
    grouped = bag.map_partitions(hash_partition).foldby(
        lambda pair: pair[0], lambda ids, pair: ids + [pair[1]], [], lambda a, b: a + b, [])
    blocks = {key: sorted(ids) for key, ids in grouped.compute(scheduler=scheduler) if len(ids) > 1}
    return blocks, Clusters.from_blocks(len(records), blocks.values()).numbered()


if __name__ == "__main__":
    sample = [{"house": "Whole Foods", "road": "Franklin Ave", "house_number": "781", "postcode": "11216"},
              {"house": "Whole Foods Market", "road": "Franklin Avenue", "house_number": "781",
               "postcode": "11216"}]
    print(blocks_and_clusters(sample))
