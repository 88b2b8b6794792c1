"""Near-duplicate blocking on Dask: which records share a key.

With the processes scheduler each worker process sets libpostal up once, on
its first call, and hashes whole partitions of the bag.

    python examples/dask_dupes.py
"""


def hash_partition(rows):
    """(record id, {label: value}) rows to (key, record id) pairs."""
    from addrnorm import near_dupe_hashes

    pairs = []
    for record_id, record in rows:
        labels, values = zip(*record.items()) if record else ((), ())
        pairs.extend((key, record_id) for key in near_dupe_hashes(labels, values, address_only_keys=1) or ())
    return pairs


def blocks(records, partitions=4, scheduler="processes"):
    """{key: sorted record ids} for keys shared by several records."""
    import dask.bag

    bag = dask.bag.from_sequence(list(enumerate(records)), npartitions=partitions)
    grouped = bag.map_partitions(hash_partition).foldby(
        lambda pair: pair[0], lambda ids, pair: ids + [pair[1]], [], lambda a, b: a + b, [])
    return {key: sorted(ids) for key, ids in grouped.compute(scheduler=scheduler) if len(ids) > 1}


if __name__ == "__main__":
    sample = [{"house": "Whole Foods", "road": "Franklin Ave", "house_number": "781", "postcode": "11216"},
              {"house": "Whole Foods Market", "road": "Franklin Avenue", "house_number": "781",
               "postcode": "11216"}]
    print(blocks(sample))
